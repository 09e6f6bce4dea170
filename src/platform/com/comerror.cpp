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
_com_error::_com_error(HRESULT hr, IErrorInfo *perrinfo, bool fAddRef)
    : hr_(hr), errorInfo_(perrinfo)
{
    if (errorInfo_ && fAddRef)
        errorInfo_->AddRef();
}

_com_error::_com_error(const _com_error &that)
    : hr_(that.hr_), errorInfo_(that.errorInfo_), message_(that.message_), formatted_(that.formatted_)
{
    if (errorInfo_)
        errorInfo_->AddRef();
}

_com_error &_com_error::operator=(const _com_error &that)
{
    if (this != &that) {
        if (that.errorInfo_)
            that.errorInfo_->AddRef();
        IErrorInfo *old = errorInfo_;
        errorInfo_ = that.errorInfo_;
        if (old)
            old->Release();
        hr_ = that.hr_;
        message_ = that.message_;
        formatted_ = that.formatted_;
    }
    return *this;
}

_com_error::~_com_error()
{
    IErrorInfo *old = errorInfo_;
    errorInfo_ = nullptr;
    if (old)
        old->Release();
}

WORD _com_error::WCode() const
{
    return HRESULTToWCode(hr_);
}

IErrorInfo *_com_error::ErrorInfo() const
{
    if (errorInfo_)
        errorInfo_->AddRef();
    return errorInfo_;
}

const WCHAR *_com_error::ErrorMessage() const
{
    if (!formatted_) {
        message_ = rz::systemMessage(hr_);
        formatted_ = true;
    }
    return message_.c_str();
}

HRESULT _com_error::WCodeToHRESULT(WORD wCode)
{
    // Codes past 0xFE00 would leave the interface range; they all map to its last code.
    return wCode >= 0xFE00 ? static_cast<HRESULT>(0x8004FFFFu)
                           : static_cast<HRESULT>(0x80040200u + wCode);
}

WORD _com_error::HRESULTToWCode(HRESULT hr)
{
    const auto code = static_cast<ULONG>(hr);
    return (code >= 0x80040200u && code <= 0x8004FFFFu) ? static_cast<WORD>(code - 0x80040200u) : 0;
}
#endif
