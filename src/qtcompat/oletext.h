#pragma once
// QString and OLE text. OLE text is UTF-16 everywhere, but its character
// type is wchar_t with the Windows SDK and char16_t with the project's own
// declarations; these two conversions are the only place that knows.

#include "platform/sdk/oledb.h"

#include <QtCore/QString>

namespace rz {

// A copy of `length` characters of `text` (up to its terminator when -1).
inline QString fromOleText(const OLECHAR *text, int length = -1)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text), length);
}

// `text`'s own characters, valid while `text` is unchanged; an empty string
// (never null) for a null QString.
inline const OLECHAR *oleText(const QString &text)
{
    return reinterpret_cast<const OLECHAR *>(text.utf16());
}

} // namespace rz
