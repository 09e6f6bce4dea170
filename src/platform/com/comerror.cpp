// _com_error and its message text: the system text for the HRESULT without
// the trailing line break, or the fallbacks comdef.h uses when there is none.

#include "platform/com/comerror.h"

#include "platform/sdk/oledb.h"

#include <cstdio>

namespace rz {

std::u16string systemMessage(HRESULT hr)
{
    LPWSTR buffer = nullptr;
    const DWORD chars = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (chars > 0 && buffer) {
        std::u16string text(reinterpret_cast<const char16_t *>(buffer), chars);
        LocalFree(buffer);
        if (text.size() >= 2 && text.back() == u'\n') {
            text.pop_back();
            if (text.back() == u'\r')
                text.pop_back();
        }
        return text;
    }
    char fallback[32];
    const auto code = static_cast<unsigned long>(static_cast<ULONG>(hr));
    if (code >= 0x80040201ul && code <= 0x8004FFFFul)
        std::snprintf(fallback, sizeof fallback, "IDispatch error #%d",
                      static_cast<int>(code - 0x80040200ul));
    else
        std::snprintf(fallback, sizeof fallback, "Unknown error 0x%0lX", code);
    return std::u16string(fallback, fallback + std::char_traits<char>::length(fallback));
}

} // namespace rz

#ifndef _WIN32
const WCHAR *_com_error::ErrorMessage() const
{
    if (!formatted_) {
        message_ = rz::systemMessage(hr_);
        formatted_ = true;
    }
    return message_.c_str();
}
#endif
