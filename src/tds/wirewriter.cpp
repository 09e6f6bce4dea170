#include "tds/wirewriter.h"

#include "tds/error.h"

namespace rz::tds {

void WireWriter::bVarchar(std::u16string_view text)
{
    if (text.size() > 0xFF)
        throw TdsError(ErrorKind::Usage, "name longer than 255 characters");
    u8(uint8_t(text.size()));
    utf16(text);
}

void WireWriter::usVarchar(std::u16string_view text)
{
    if (text.size() > 0xFFFF)
        throw TdsError(ErrorKind::Usage, "text longer than 65535 characters");
    u16le(uint16_t(text.size()));
    utf16(text);
}

std::u16string utf16FromUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = uint8_t(text[i]);
        uint32_t cp = 0xFFFD;
        const int extra = (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : 0;
        if (lead < 0x80) {
            cp = lead;
            i += 1;
        } else if (extra == 0 || i + size_t(extra) >= text.size()) {
            i += 1;
        } else {
            cp = lead & (0x3F >> extra);
            bool valid = true;
            for (int k = 1; k <= extra && valid; ++k) {
                const auto next = uint8_t(text[i + size_t(k)]);
                valid = (next & 0xC0) == 0x80;
                cp = (cp << 6) | (next & 0x3F);
            }
            static const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
            if (!valid || cp < smallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                cp = 0xFFFD;
                i += 1;
            } else {
                i += size_t(extra) + 1;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

static void appendUtf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

std::string utf8FromUtf16(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::string utf8FromUtf16Le(const uint8_t *data, size_t bytes)
{
    std::u16string units(bytes / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = char16_t(data[2 * i] | (data[2 * i + 1] << 8));
    return utf8FromUtf16(units);
}

} // namespace rz::tds
