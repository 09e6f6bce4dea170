#pragma once
// OLE DB text is UTF-16 on every system, and the project keeps it as char16_t
// (std::u16string). OLECHAR is char16_t off Windows and wchar_t on Windows,
// where it is two bytes of UTF-16 as well: these casts pass the same
// characters between the two spellings.

#include "platform/sdk/oledb.h"

namespace rz {

inline const char16_t *asUtf16(const OLECHAR *text) { return reinterpret_cast<const char16_t *>(text); }
inline const OLECHAR *asOleStr(const char16_t *text) { return reinterpret_cast<const OLECHAR *>(text); }
inline OLECHAR *asOleStr(char16_t *text) { return reinterpret_cast<OLECHAR *>(text); }

} // namespace rz
