// Bound as text and bytes: WSTR, STR, BSTR, BYTES, and GUID's bytes; and
// every form's text, which the other families fall back on.

#include "common/bytes.h"
#include "provider/values/recordforms.h"
#include "provider/values/codepage.h"
#include "provider/values/conversionfamilies.h"
#include "provider/values/decimaltext.h"

#include <algorithm>
#include <cstdio>

namespace rz::provider::conversion {

std::string asText(const FetchedValue &v)
{
    char buffer[80];
    switch (v.type->form) {
    case FetchForm::Int16: case FetchForm::Int32: case FetchForm::UInt8: case FetchForm::Int64: {
        bool ok;
        return std::to_string(asInteger(v, ok));
    }
    case FetchForm::Bit:
        return *static_cast<const unsigned char *>(v.data) ? "1" : "0";
    case FetchForm::Float32: case FetchForm::Float64: {
        bool ok;
        std::snprintf(buffer, sizeof buffer, "%.*g", v.type->form == FetchForm::Float32 ? 9 : 17, asDouble(v, ok));
        return buffer;
    }
    case FetchForm::MoneyUnits:
        return textFromCurrency(valueAs<std::int64_t>(v));
    case FetchForm::DecimalParts:
        return textFromDecimal(valueAs<rz::tds::DecimalValue>(v));
    case FetchForm::DateDays:
        return textFromDays(valueAs<std::int32_t>(v));
    case FetchForm::TimeTicks:
        return textFromTicks(valueAs<std::int64_t>(v), v.type->scale);
    case FetchForm::DateTimeOffsetParts: {
        const auto dt = valueAs<rz::tds::DateTimeValue>(v);
        // Text columns have no scale of their own: the places come from the wire type.
        return textFromDateTimeOffset(dt.days, dt.ticks, dt.offsetMinutes, std::min<int>(v.type->fractionDigits, 7));
    }
    case FetchForm::CodePageText:
        return utf8FromCodePage(rawBytes(v));
    case FetchForm::VariantBytes:
        return textFromVariant(rawBytes(v));
    case FetchForm::DateTimeParts: {
        const auto dt = valueAs<rz::tds::DateTimeValue>(v);
        const DBTIMESTAMP t = timestampFromParts(dt.days, dt.ticks);
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02u:%02u:%02u", int(t.year), t.month, t.day, t.hour,
                      t.minute, t.second);
        std::string out(buffer);
        if (t.fraction) {
            std::snprintf(buffer, sizeof buffer, ".%09u", unsigned(t.fraction));
            out += buffer;
            while (out.back() == '0') out.pop_back();
        }
        return out;
    }
    case FetchForm::Guid: {
        const GUID g = loadUnaligned<GUID>(v.data);
        std::snprintf(buffer, sizeof buffer, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", unsigned(g.Data1),
                      unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                      g.Data4[5], g.Data4[6], g.Data4[7]);
        return buffer;
    }
    case FetchForm::Binary: {
        std::string out;
        for (unsigned char c : rawBytes(v))
            appendHexByte(out, c);
        return out;
    }
    case FetchForm::Utf16Text: {
        // Only reached for a narrow binding of wide text: keep what fits in 8 bits.
        const auto raw = rawBytes(v);
        std::string out;
        for (size_t i = 0; i + 1 < raw.size(); i += 2) {
            char16_t c;
            std::memcpy(&c, raw.data() + i, 2);
            out += c < 256 ? char(c) : '?';
        }
        return out;
    }
    default:
        return std::string(rawBytes(v));
    }
}

std::u16string asWideText(const FetchedValue &v)
{
    if (v.type->form == FetchForm::CodePageText)
        return utf16FromCodePage(rawBytes(v));
    if (v.type->form == FetchForm::Utf16Text) {
        const auto raw = rawBytes(v);
        std::u16string out(raw.size() / 2, u'\0');
        std::memcpy(out.data(), raw.data(), out.size() * 2);
        return out;
    }
    const std::string narrow = asText(v);
    std::u16string out;
    out.reserve(narrow.size());
    // Narrow text from the driver is UTF-8.
    for (size_t i = 0; i < narrow.size();) {
        const unsigned char c = static_cast<unsigned char>(narrow[i]);
        char32_t cp = c;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra) cp = c & (0x3F >> extra);
        ++i;
        for (; extra > 0 && i < narrow.size(); --extra, ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(narrow[i]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

void copyBytes(Parts &p, const DBBINDING &b, const void *src, size_t bytes, size_t terminatorBytes)
{
    p.length = bytes;
    if (!p.value)
        return;
    size_t room = b.cbMaxLen >= terminatorBytes ? size_t(b.cbMaxLen) - terminatorBytes : 0;
    if (terminatorBytes == 2)
        room &= ~size_t(1);
    size_t n = bytes;
    if (n > room) {
        n = room;
        p.status = DBSTATUS_S_TRUNCATED;
    }
    if (n)
        std::memcpy(p.value, src, n);
    if (terminatorBytes && b.cbMaxLen >= terminatorBytes)
        std::memset(p.value + n, 0, terminatorBytes);
}

void writeText(const FetchedValue &v, const DBBINDING &b, DBTYPE target, Parts &p)
{
    std::string_view bytes;
    if (textInPlace(v, target, bytes)) {
        copyBytes(p, b, bytes.data(), bytes.size(), target == DBTYPE_WSTR ? 2 : target == DBTYPE_STR ? 1 : 0);
        return;
    }
    switch (target) {
    case DBTYPE_WSTR: {
        if (v.type->form == FetchForm::CodePageText) {
            // Widened straight into the consumer's buffer, one character per byte.
            const auto raw = rawBytes(v);
            p.length = raw.size() * 2;
            if (p.value) {
                const size_t room = b.cbMaxLen >= 2 ? (size_t(b.cbMaxLen) - 2) / 2 : 0;
                const size_t n = std::min(room, raw.size());
                if (n < raw.size())
                    p.status = DBSTATUS_S_TRUNCATED;
                for (size_t i = 0; i < n; ++i) {
                    const char16_t c = utf16FromCodePageChar(static_cast<unsigned char>(raw[i]));
                    std::memcpy(p.value + i * 2, &c, 2);
                }
                if (b.cbMaxLen >= 2)
                    std::memset(p.value + n * 2, 0, 2);
            }
        } else {
            const std::u16string text = asWideText(v);
            copyBytes(p, b, text.data(), text.size() * 2, 2);
        }
        return;
    }
    case DBTYPE_STR: {
        const std::string text = asText(v);
        copyBytes(p, b, text.data(), text.size(), 1);
        return;
    }
    case DBTYPE_BSTR: {
        const std::u16string text = asWideText(v);
        BSTR s = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.data()), UINT(text.size()));
        store(p, s);
        return;
    }
    case DBTYPE_GUID: {
        const GUID g = loadUnaligned<GUID>(v.data);
        store(p, g);
        return;
    }
    default:
        p.status = DBSTATUS_E_CANTCONVERTVALUE;
        return;
    }
}

} // namespace rz::provider::conversion
