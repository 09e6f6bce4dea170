#pragma once
// _com_error: the SDK's wrapper of an HRESULT whose ErrorMessage() gives the
// system text, and rz::systemMessage with the same text as a string.

#ifdef _WIN32
#include "platform/sdk/oledb.h" // the SDK's _com_error (comdef.h)
#else
#include "platform/sdk/comtypes.h"
#endif

#include <string>

namespace rz {
// What _com_error(hr).ErrorMessage() gives: the system text without its
// trailing line break, else "IDispatch error #n" for 0x80040201..0x8004FFFF,
// else "Unknown error 0x%0lX".
std::u16string systemMessage(HRESULT hr);
} // namespace rz

#ifndef _WIN32
// Only what the plug-in asks of it: the HRESULT and its message.
class _com_error {
public:
    explicit _com_error(HRESULT hr) : hr_(hr) {}
    virtual ~_com_error() = default;

    HRESULT Error() const { return hr_; }
    // Valid for the lifetime of this object.
    const WCHAR *ErrorMessage() const;

private:
    HRESULT hr_;
    mutable std::u16string message_;
    mutable bool formatted_ = false;
};
#endif
