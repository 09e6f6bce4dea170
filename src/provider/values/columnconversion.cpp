#include "provider/values/columnconversion.h"

#include "provider/objects/storageobject.h"
#include "provider/tds/tdsvalues.h"
#include "provider/values/decimaltext.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

namespace rz::provider {

namespace {

DBTYPE baseType(DBTYPE t) { return DBTYPE(t & ~DBTYPE_BYREF); }

// The value as raw bytes with its length (text without its terminator).
std::string_view rawBytes(const FetchedValue &v)
{
    if (v.type->isLong)
        return *v.longValue;
    const auto *p = static_cast<const char *>(v.data);
    SQLLEN length = v.indicator;
    SQLLEN room = v.type->fetchBytes;
    if (v.type->terminated && v.type->form == FetchForm::Utf8Text) room -= 1;
    if (v.type->terminated && v.type->form == FetchForm::Utf16Text) room -= 2;
    if (length == SQL_NO_TOTAL || length > room)
        length = room;
    if (length < 0)
        length = 0;
    return std::string_view(p, size_t(length));
}

template <class T>
T valueAs(const FetchedValue &v)
{
    T x;
    std::memcpy(&x, v.data, sizeof x);
    return x;
}

std::int64_t asInteger(const FetchedValue &v, bool &ok)
{
    ok = true;
    switch (v.type->form) {
    case FetchForm::Int16: { std::int16_t x; std::memcpy(&x, v.data, 2); return x; }
    case FetchForm::Int32: { std::int32_t x; std::memcpy(&x, v.data, 4); return x; }
    case FetchForm::UInt8: return *static_cast<const unsigned char *>(v.data);
    case FetchForm::Int64: { std::int64_t x; std::memcpy(&x, v.data, 8); return x; }
    case FetchForm::Bit: return *static_cast<const unsigned char *>(v.data) ? 1 : 0;
    case FetchForm::Float32: { float x; std::memcpy(&x, v.data, 4); return std::int64_t(x); }
    case FetchForm::Float64: { double x; std::memcpy(&x, v.data, 8); return std::int64_t(x); }
    case FetchForm::MoneyUnits: return valueAs<std::int64_t>(v) / 10000;
    case FetchForm::DecimalParts: {
        std::int64_t x = 0;
        ok = integerFromDecimal(valueAs<rz::tds::DecimalValue>(v), x);
        return x;
    }
    case FetchForm::MoneyText:
    case FetchForm::NumericText:
    case FetchForm::CodePageText:
    case FetchForm::Utf8Text: {
        const auto n = numericFromText(rawBytes(v), 38, 0);
        if (!n) break;
        std::int64_t x = 0;
        for (int i = 7; i >= 0; --i) x = (x << 8) | n->val[i];
        return n->sign ? x : -x;
    }
    default: break;
    }
    ok = false;
    return 0;
}

double asDouble(const FetchedValue &v, bool &ok)
{
    ok = true;
    switch (v.type->form) {
    case FetchForm::Float32: { float x; std::memcpy(&x, v.data, 4); return x; }
    case FetchForm::Float64: { double x; std::memcpy(&x, v.data, 8); return x; }
    case FetchForm::MoneyUnits: return double(valueAs<std::int64_t>(v)) / 10000.0;
    case FetchForm::DecimalParts: return doubleFromDecimal(valueAs<rz::tds::DecimalValue>(v));
    case FetchForm::MoneyText:
    case FetchForm::NumericText:
    case FetchForm::CodePageText:
    case FetchForm::Utf8Text: {
        const std::string text(rawBytes(v));
        char *end = nullptr;
        const double x = std::strtod(text.c_str(), &end);
        ok = end && end != text.c_str();
        return x;
    }
    default: break;
    }
    return double(asInteger(v, ok));
}

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
        return textFromDateTimeOffset(dt.days, dt.ticks, dt.offsetMinutes, v.type->scale > 7 ? 7 : v.type->scale);
    }
    case FetchForm::CodePageText:
        return utf8FromCodePage(rawBytes(v));
    case FetchForm::VariantBytes:
        return textFromVariant(rawBytes(v));
    case FetchForm::DateTimeParts:
    case FetchForm::Timestamp: {
        SQL_TIMESTAMP_STRUCT t;
        if (v.type->form == FetchForm::DateTimeParts) {
            const auto dt = valueAs<rz::tds::DateTimeValue>(v);
            const DBTIMESTAMP ts = timestampFromParts(dt.days, dt.ticks);
            std::memcpy(&t, &ts, sizeof t);
        } else {
            std::memcpy(&t, v.data, sizeof t);
        }
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
    case FetchForm::Date: {
        SQL_DATE_STRUCT d;
        std::memcpy(&d, v.data, sizeof d);
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u", int(d.year), d.month, d.day);
        return buffer;
    }
    case FetchForm::Guid: {
        GUID g;
        std::memcpy(&g, v.data, sizeof g);
        std::snprintf(buffer, sizeof buffer, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", unsigned(g.Data1),
                      unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                      g.Data4[5], g.Data4[6], g.Data4[7]);
        return buffer;
    }
    case FetchForm::Binary: {
        static const char hex[] = "0123456789ABCDEF";
        std::string out;
        for (unsigned char c : rawBytes(v)) {
            out += hex[c >> 4];
            out += hex[c & 15];
        }
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

struct Parts {
    BYTE *value;
    DBLENGTH length = 0;
    DBSTATUS status = DBSTATUS_S_OK;
};

// Copies bytes into a value part of maxLength bytes, adding a terminator of
// terminatorBytes; the length part keeps the full length.
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

template <class T>
void store(Parts &p, T x)
{
    p.length = sizeof(T);
    if (p.value)
        std::memcpy(p.value, &x, sizeof x);
}

bool isNumericForm(FetchForm f)
{
    switch (f) {
    case FetchForm::Int16: case FetchForm::Int32: case FetchForm::UInt8: case FetchForm::Int64:
    case FetchForm::Bit: case FetchForm::Float32: case FetchForm::Float64:
    case FetchForm::MoneyText: case FetchForm::NumericText: case FetchForm::MoneyUnits: case FetchForm::DecimalParts:
        return true;
    default:
        return false;
    }
}

template <class T>
void storeInteger(Parts &p, const FetchedValue &v)
{
    bool ok;
    const std::int64_t x = asInteger(v, ok);
    if (!ok) { p.status = DBSTATUS_E_CANTCONVERTVALUE; return; }
    if (x < std::int64_t(std::numeric_limits<T>::min()) || (x > 0 && std::uint64_t(x) > std::uint64_t(std::numeric_limits<T>::max()))) {
        p.status = DBSTATUS_E_DATAOVERFLOW;
        return;
    }
    store(p, T(x));
}

} // namespace

bool canBindColumnAs(const SqlServerType &type, DBTYPE target)
{
    target = baseType(target);
    switch (target) {
    case DBTYPE_IUNKNOWN:
        return type.isLong || type.form == FetchForm::Utf8Text || type.form == FetchForm::Utf16Text
            || type.form == FetchForm::Binary || type.form == FetchForm::CodePageText;
    case DBTYPE_WSTR: case DBTYPE_STR: case DBTYPE_BSTR:
        return true;
    case DBTYPE_BYTES:
        return !type.isLong || type.form == FetchForm::Binary;
    case DBTYPE_I1: case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_I8: case DBTYPE_UI1: case DBTYPE_UI2:
    case DBTYPE_UI4: case DBTYPE_UI8: case DBTYPE_R4: case DBTYPE_R8: case DBTYPE_BOOL: case DBTYPE_CY:
    case DBTYPE_NUMERIC:
        return !type.isLong && (isNumericForm(type.form) || type.form == FetchForm::Utf8Text
                                || type.form == FetchForm::CodePageText);
    case DBTYPE_DBTIMESTAMP: case DBTYPE_DBDATE:
        return type.form == FetchForm::Timestamp || type.form == FetchForm::Date || type.form == FetchForm::DateTimeParts
            || type.form == FetchForm::DateDays;
    case DBTYPE_DBTIME:
        return type.form == FetchForm::TimeText || type.form == FetchForm::Timestamp || type.form == FetchForm::TimeTicks
            || type.form == FetchForm::DateTimeParts;
    case DBTYPE_GUID:
        return type.form == FetchForm::Guid;
    default:
        return false;
    }
}

namespace {

// The bytes of a value whose form is already the binding's type, or 0.
size_t sameFormBytes(FetchForm form, DBTYPE target)
{
    switch (form) {
    case FetchForm::Int32: return target == DBTYPE_I4 ? 4 : 0;
    case FetchForm::Int16: return target == DBTYPE_I2 ? 2 : 0;
    case FetchForm::Int64: return target == DBTYPE_I8 ? 8 : 0;
    case FetchForm::UInt8: return target == DBTYPE_UI1 ? 1 : 0;
    case FetchForm::Float64: return target == DBTYPE_R8 ? 8 : 0;
    case FetchForm::Float32: return target == DBTYPE_R4 ? 4 : 0;
    case FetchForm::MoneyUnits: return target == DBTYPE_CY ? 8 : 0;
    case FetchForm::Guid: return target == DBTYPE_GUID ? 16 : 0;
    default: return 0;
    }
}

} // namespace

DBSTATUS writeColumnBinding(const FetchedValue &v, const DBBINDING &b, BYTE *buffer)
{
    // Most bindings ask for the column's own type: a copy, nothing to convert.
    if (const size_t bytes = sameFormBytes(v.type->form, DBTYPE(b.wType)); bytes && !v.isNull()) {
        if (b.dwPart & DBPART_VALUE)
            std::memcpy(buffer + b.obValue, v.data, bytes);
        if (b.dwPart & DBPART_LENGTH) {
            const DBLENGTH length = bytes;
            std::memcpy(buffer + b.obLength, &length, sizeof length);
        }
        const DBSTATUS ok = DBSTATUS_S_OK;
        if (b.dwPart & DBPART_STATUS)
            std::memcpy(buffer + b.obStatus, &ok, sizeof ok);
        return ok;
    }
    Parts p;
    p.value = (b.dwPart & DBPART_VALUE) ? buffer + b.obValue : nullptr;
    const DBTYPE target = baseType(b.wType);
    const SqlServerType &type = *v.type;

    if (v.isNull()) {
        p.status = DBSTATUS_S_ISNULL;
        if (p.value && target == DBTYPE_IUNKNOWN)
            std::memset(p.value, 0, sizeof(IUnknown *));
    } else {
        switch (target) {
        case DBTYPE_IUNKNOWN: {
            auto bytes = v.longValue ? v.longValue : std::make_shared<const std::string>(rawBytes(v));
            p.length = bytes->size();
            if (p.value) {
                IUnknown *object = nullptr;
                const REFIID iid = b.pObject ? b.pObject->iid : IID_ISequentialStream;
                if (FAILED(createStorageObject(std::move(bytes), iid, reinterpret_cast<void **>(&object))))
                    p.status = DBSTATUS_E_CANTCREATE;
                std::memcpy(p.value, &object, sizeof object);
            }
            break;
        }
        case DBTYPE_WSTR: {
            if (type.form == FetchForm::CodePageText) {
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
            } else if (type.form == FetchForm::Utf16Text) {
                const auto raw = rawBytes(v);
                copyBytes(p, b, raw.data(), raw.size(), 2);
            } else {
                const std::u16string text = asWideText(v);
                copyBytes(p, b, text.data(), text.size() * 2, 2);
            }
            break;
        }
        case DBTYPE_STR: {
            const auto isAscii = [](std::string_view text) {
                for (char c : text)
                    if (static_cast<unsigned char>(c) >= 0x80)
                        return false;
                return true;
            };
            if (type.form == FetchForm::Utf8Text
                || (type.form == FetchForm::CodePageText && isAscii(rawBytes(v)))) {
                // UTF-8, or code-page text that is ASCII and so UTF-8 already.
                const auto raw = rawBytes(v);
                copyBytes(p, b, raw.data(), raw.size(), 1);
            } else {
                const std::string text = asText(v);
                copyBytes(p, b, text.data(), text.size(), 1);
            }
            break;
        }
        case DBTYPE_BSTR: {
            const std::u16string text = asWideText(v);
            BSTR s = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.data()), UINT(text.size()));
            store(p, s);
            break;
        }
        case DBTYPE_BYTES: {
            if (type.form == FetchForm::Binary || type.form == FetchForm::Utf8Text || type.form == FetchForm::Utf16Text
                || type.form == FetchForm::CodePageText) {
                const auto raw = rawBytes(v);
                copyBytes(p, b, raw.data(), raw.size(), 0);
            } else {
                copyBytes(p, b, v.data, size_t(type.fetchBytes), 0);
            }
            break;
        }
        case DBTYPE_I1: storeInteger<std::int8_t>(p, v); break;
        case DBTYPE_I2: storeInteger<std::int16_t>(p, v); break;
        case DBTYPE_I4: storeInteger<std::int32_t>(p, v); break;
        case DBTYPE_I8: storeInteger<std::int64_t>(p, v); break;
        case DBTYPE_UI1: storeInteger<std::uint8_t>(p, v); break;
        case DBTYPE_UI2: storeInteger<std::uint16_t>(p, v); break;
        case DBTYPE_UI4: storeInteger<std::uint32_t>(p, v); break;
        case DBTYPE_UI8: storeInteger<std::uint64_t>(p, v); break;
        case DBTYPE_BOOL: {
            bool ok;
            const std::int64_t x = asInteger(v, ok);
            if (!ok) p.status = DBSTATUS_E_CANTCONVERTVALUE;
            else store(p, VARIANT_BOOL(x ? VARIANT_TRUE : VARIANT_FALSE));
            break;
        }
        case DBTYPE_R4: case DBTYPE_R8: {
            bool ok;
            const double x = asDouble(v, ok);
            if (!ok) p.status = DBSTATUS_E_CANTCONVERTVALUE;
            else if (target == DBTYPE_R4) store(p, float(x));
            else store(p, x);
            break;
        }
        case DBTYPE_CY: {
            std::optional<std::int64_t> scaled;
            if (type.form == FetchForm::MoneyUnits)
                scaled = valueAs<std::int64_t>(v);
            else if (type.form == FetchForm::DecimalParts)
                scaled = currencyFromText(textFromDecimal(valueAs<rz::tds::DecimalValue>(v)));
            else if (type.form == FetchForm::MoneyText || type.form == FetchForm::NumericText
                     || type.form == FetchForm::Utf8Text || type.form == FetchForm::CodePageText)
                scaled = currencyFromText(rawBytes(v));
            else if (type.form == FetchForm::Float32 || type.form == FetchForm::Float64) {
                bool ok;
                const double x = asDouble(v, ok) * 10000.0;
                if (ok && std::fabs(x) < 9.2e18) scaled = std::int64_t(std::llround(x));
            } else {
                bool ok;
                const std::int64_t x = asInteger(v, ok);
                if (ok && x < INT64_MAX / 10000 && x > INT64_MIN / 10000) scaled = x * 10000;
            }
            if (!scaled) p.status = DBSTATUS_E_DATAOVERFLOW;
            else {
                CY cy;
                cy.int64 = *scaled;
                store(p, cy);
            }
            break;
        }
        case DBTYPE_NUMERIC: {
            std::optional<DB_NUMERIC> n;
            if (type.form == FetchForm::DecimalParts)
                n = numericFromDecimal(valueAs<rz::tds::DecimalValue>(v));
            else if (type.form == FetchForm::MoneyUnits)
                n = numericFromText(textFromCurrency(valueAs<std::int64_t>(v)), 19, 4);
            else if (type.form == FetchForm::NumericText)
                n = numericFromText(rawBytes(v), type.precision, type.scale);
            else if (type.form == FetchForm::MoneyText)
                n = numericFromText(rawBytes(v), 19, 4);
            else if (type.form == FetchForm::Utf8Text || type.form == FetchForm::CodePageText)
                n = numericFromText(rawBytes(v), b.bPrecision ? b.bPrecision : 38, b.bScale);
            else if (type.form == FetchForm::Float32 || type.form == FetchForm::Float64) {
                bool ok;
                char text[64];
                std::snprintf(text, sizeof text, "%.*f", int(b.bScale), asDouble(v, ok));
                n = numericFromText(text, b.bPrecision ? b.bPrecision : 38, b.bScale);
            } else
                n = numericFromText(asText(v), 19, 0);
            if (!n) p.status = DBSTATUS_E_DATAOVERFLOW;
            else store(p, *n);
            break;
        }
        case DBTYPE_DBTIMESTAMP: {
            DBTIMESTAMP t{};
            if (type.form == FetchForm::DateTimeParts) {
                const auto dt = valueAs<rz::tds::DateTimeValue>(v);
                t = timestampFromParts(dt.days, dt.ticks);
            } else if (type.form == FetchForm::DateDays) {
                const DBDATE d = dateFromDays(valueAs<std::int32_t>(v));
                t.year = d.year; t.month = d.month; t.day = d.day;
            } else if (type.form == FetchForm::Timestamp) {
                std::memcpy(&t, v.data, sizeof t);
            } else {
                DBDATE d;
                std::memcpy(&d, v.data, sizeof d);
                t.year = d.year; t.month = d.month; t.day = d.day;
            }
            store(p, t);
            break;
        }
        case DBTYPE_DBDATE: {
            DBDATE d{};
            if (type.form == FetchForm::DateDays)
                d = dateFromDays(valueAs<std::int32_t>(v));
            else if (type.form == FetchForm::DateTimeParts)
                d = dateFromDays(valueAs<rz::tds::DateTimeValue>(v).days);
            else
                std::memcpy(&d, v.data, sizeof d); // a timestamp starts with the same three fields
            store(p, d);
            break;
        }
        case DBTYPE_DBTIME: {
            DBTIME t{};
            if (type.form == FetchForm::TimeTicks) {
                t = timeFromTicks(valueAs<std::int64_t>(v));
            } else if (type.form == FetchForm::DateTimeParts) {
                t = timeFromTicks(valueAs<rz::tds::DateTimeValue>(v).ticks);
            } else if (type.form == FetchForm::Timestamp) {
                SQL_TIMESTAMP_STRUCT ts;
                std::memcpy(&ts, v.data, sizeof ts);
                t.hour = ts.hour; t.minute = ts.minute; t.second = ts.second;
            } else {
                unsigned h = 0, m = 0, s = 0;
                const std::string text(rawBytes(v));
                if (std::sscanf(text.c_str(), "%u:%u:%u", &h, &m, &s) != 3) {
                    p.status = DBSTATUS_E_CANTCONVERTVALUE;
                    break;
                }
                t.hour = USHORT(h); t.minute = USHORT(m); t.second = USHORT(s);
            }
            store(p, t);
            break;
        }
        case DBTYPE_GUID: {
            GUID g;
            std::memcpy(&g, v.data, sizeof g);
            store(p, g);
            break;
        }
        default:
            p.status = DBSTATUS_E_CANTCONVERTVALUE;
            break;
        }
    }
    if (b.dwPart & DBPART_LENGTH)
        std::memcpy(buffer + b.obLength, &p.length, sizeof(DBLENGTH));
    if (b.dwPart & DBPART_STATUS)
        std::memcpy(buffer + b.obStatus, &p.status, sizeof(DBSTATUS));
    return p.status;
}

} // namespace rz::provider
