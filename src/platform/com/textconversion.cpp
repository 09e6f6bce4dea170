// MultiByteToWideChar, the user's locale and the thread's last error.
// CP_ACP, CP_THREAD_ACP and CP_OEMCP read UTF-8, the encoding of the Linux
// locales the system runs under; bytes that are not valid UTF-8 are read as
// Latin-1 instead, so narrow text is never refused. CP_UTF8 follows Windows:
// invalid sequences become U+FFFD, or fail with MB_ERR_INVALID_CHARS.

#include "platform/sdk/winapi.h"

#include <cstring>
#include <string>

namespace {

thread_local DWORD lastError = 0;

// Decodes UTF-8; false at the first invalid sequence when strict, otherwise
// U+FFFD stands in for each invalid byte.
bool decodeUtf8(const unsigned char *bytes, std::size_t count, bool strict, std::u16string *out)
{
    std::size_t i = 0;
    while (i < count) {
        const unsigned char lead = bytes[i];
        unsigned int codePoint = 0;
        std::size_t extra = 0;
        unsigned int minimum = 0;
        if (lead < 0x80) {
            out->push_back(lead);
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            codePoint = lead & 0x1F;
            extra = 1;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            codePoint = lead & 0x0F;
            extra = 2;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            codePoint = lead & 0x07;
            extra = 3;
            minimum = 0x10000;
        } else {
            minimum = 1; // not a lead byte
        }
        // A valid lead byte with all its continuation bytes inside the input.
        bool valid = minimum != 1 && i + extra < count;
        if (valid) {
            for (std::size_t k = 1; k <= extra; ++k) {
                const unsigned char next = bytes[i + k];
                if ((next & 0xC0) != 0x80) {
                    valid = false;
                    break;
                }
                codePoint = (codePoint << 6) | (next & 0x3F);
            }
        }
        if (valid && (codePoint < minimum || codePoint > 0x10FFFF
                      || (codePoint >= 0xD800 && codePoint <= 0xDFFF)))
            valid = false;
        if (!valid) {
            if (strict)
                return false;
            out->push_back(0xFFFD);
            ++i;
            continue;
        }
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(codePoint));
        }
        i += extra + 1;
    }
    return true;
}

void decodeLatin1(const unsigned char *bytes, std::size_t count, std::u16string *out)
{
    for (std::size_t i = 0; i < count; ++i)
        out->push_back(bytes[i]);
}

} // namespace

DWORD GetLastError()
{
    return lastError;
}

void SetLastError(DWORD dwErrCode)
{
    lastError = dwErrCode;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar)
{
    if (!lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0 || (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the string is NUL-terminated and the terminator is converted too.
    const std::size_t count = cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1
                                              : static_cast<std::size_t>(cbMultiByte);
    const auto *bytes = reinterpret_cast<const unsigned char *>(lpMultiByteStr);
    const bool strict = dwFlags & MB_ERR_INVALID_CHARS;
    std::u16string text;
    switch (CodePage) {
    case CP_UTF8:
        if (!decodeUtf8(bytes, count, strict, &text)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        break;
    case CP_ACP:
    case CP_OEMCP:
    case CP_THREAD_ACP:
        if (!decodeUtf8(bytes, count, true, &text)) {
            text.clear();
            decodeLatin1(bytes, count, &text);
        }
        break;
    case 28591: // ISO 8859-1
        decodeLatin1(bytes, count, &text);
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cchWideChar == 0)
        return static_cast<int>(text.size());
    if (text.size() > static_cast<std::size_t>(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpWideCharStr, text.data(), text.size() * sizeof(char16_t));
    return static_cast<int>(text.size());
}

LCID GetUserDefaultLCID()
{
    return MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT); // 0x0409
}

LCID GetSystemDefaultLCID()
{
    return GetUserDefaultLCID();
}
