#include "provider/values/codepage.h"

namespace rz::provider {

namespace {

// Windows-1252's characters 0x80..0x9F; the rest is Latin-1. Undefined ones map to themselves.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t fromCodePage(unsigned char c) { return c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : char16_t(c); }

} // namespace

char16_t utf16FromCodePageChar(unsigned char c) { return fromCodePage(c); }

std::u16string utf16FromCodePage(std::string_view bytes)
{
    std::u16string out(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        out[i] = fromCodePage(static_cast<unsigned char>(bytes[i]));
    return out;
}

std::string codePageFromUtf8(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i++]);
        int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        char32_t c = extra ? lead & (0x3F >> extra) : lead;
        for (; extra > 0 && i < utf8.size(); --extra, ++i)
            c = (c << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        char byte = '?';
        if (c < 0x80 || (c >= 0xA0 && c < 0x100)) {
            byte = char(c);
        } else {
            for (unsigned k = 0; k < 32; ++k)
                if (kCp1252High[k] == c)
                    byte = char(0x80 + k);
        }
        out += byte;
    }
    return out;
}

std::string utf8FromCodePage(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char byte : bytes) {
        const char16_t c = fromCodePage(static_cast<unsigned char>(byte));
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace rz::provider
