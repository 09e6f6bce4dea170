#include "provider/values/recordforms.h"

#include "common/bytes.h"
#include "provider/values/codepage.h"
#include "provider/values/decimaltext.h"

#include <cstdio>
#include <cstring>

namespace rz::provider {

namespace {

using u128 = unsigned __int128;

u128 magnitude(const rz::tds::DecimalValue &v) { return (u128(v.high) << 64) | v.low; }

// Howard Hinnant's civil_from_days, counted from 0001-01-01.
void civilFromDays(std::int32_t days, int &year, unsigned &month, unsigned &day)
{
    std::int64_t z = std::int64_t(days) - 719162 + 719468; // days since 1970-01-01, then since 0000-03-01
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = int(std::int64_t(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

} // namespace

DB_NUMERIC numericFromDecimal(const rz::tds::DecimalValue &value)
{
    DB_NUMERIC n{};
    n.precision = value.precision;
    n.scale = value.scale;
    n.sign = value.negative ? 0 : 1;
    for (int i = 0; i < 8; ++i) {
        n.val[i] = BYTE(value.low >> (8 * i));
        n.val[8 + i] = BYTE(value.high >> (8 * i));
    }
    return n;
}

std::string textFromDecimal(const rz::tds::DecimalValue &value) { return textFromNumeric(numericFromDecimal(value)); }

double doubleFromDecimal(const rz::tds::DecimalValue &value)
{
    long double x = (long double)(value.high) * 18446744073709551616.0L + (long double)(value.low);
    for (int i = 0; i < value.scale; ++i)
        x /= 10;
    return double(value.negative ? -x : x);
}

bool integerFromDecimal(const rz::tds::DecimalValue &value, std::int64_t &out)
{
    u128 m = magnitude(value);
    for (int i = 0; i < value.scale; ++i)
        m /= 10;
    const u128 limit = u128(INT64_MAX) + (value.negative ? 1 : 0);
    if (m > limit)
        return false;
    out = value.negative ? (m == limit ? INT64_MIN : -std::int64_t(m)) : std::int64_t(m);
    return true;
}

DBDATE dateFromDays(std::int32_t days)
{
    int year;
    unsigned month, day;
    civilFromDays(days, year, month, day);
    return DBDATE{SHORT(year), USHORT(month), USHORT(day)};
}

DBTIME timeFromTicks(std::int64_t ticks)
{
    const std::int64_t seconds = ticks / 10000000;
    return DBTIME{USHORT(seconds / 3600), USHORT(seconds / 60 % 60), USHORT(seconds % 60)};
}

DBTIMESTAMP timestampFromParts(std::int32_t days, std::int64_t ticks)
{
    const DBDATE d = dateFromDays(days);
    const DBTIME t = timeFromTicks(ticks);
    DBTIMESTAMP ts{};
    ts.year = d.year;
    ts.month = d.month;
    ts.day = d.day;
    ts.hour = t.hour;
    ts.minute = t.minute;
    ts.second = t.second;
    ts.fraction = ULONG((ticks % 10000000) * 100);
    return ts;
}

std::string textFromDays(std::int32_t days)
{
    const DBDATE d = dateFromDays(days);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u", int(d.year), unsigned(d.month), unsigned(d.day));
    return buffer;
}

std::string textFromTicks(std::int64_t ticks, int scale)
{
    const DBTIME t = timeFromTicks(ticks);
    char buffer[40];
    int n = std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", unsigned(t.hour), unsigned(t.minute), unsigned(t.second));
    if (scale > 0 && scale <= 7) {
        char fraction[16];
        std::snprintf(fraction, sizeof fraction, "%07lld", static_cast<long long>(ticks % 10000000));
        std::snprintf(buffer + n, sizeof buffer - size_t(n), ".%.*s", scale, fraction);
    }
    return buffer;
}

std::string textFromDateTime(std::int32_t days, std::int64_t ticks, int scale)
{
    return textFromDays(days) + " " + textFromTicks(ticks, scale);
}

std::string textFromDateTimeOffset(std::int32_t days, std::int64_t ticks, std::int16_t offsetMinutes, int scale)
{
    std::int64_t local = ticks + std::int64_t(offsetMinutes) * 600000000;
    std::int32_t localDays = days;
    while (local < 0) {
        local += rz::tds::kTicksPerDay;
        --localDays;
    }
    while (local >= rz::tds::kTicksPerDay) {
        local -= rz::tds::kTicksPerDay;
        ++localDays;
    }
    const int magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char zone[16];
    std::snprintf(zone, sizeof zone, " %c%02d:%02d", offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return textFromDateTime(localDays, local, scale) + zone;
}

std::string textFromVariant(std::string_view bytes)
{
    namespace wt = rz::tds::wiretype;
    if (bytes.size() < 2)
        return {};
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const uint8_t base = p[0];
    const size_t propBytes = p[1];
    if (2 + propBytes > bytes.size())
        return {};
    const unsigned char *props = p + 2;
    const unsigned char *data = props + propBytes;
    const size_t size = bytes.size() - 2 - propBytes;
    auto le = [&](size_t n) {
        uint64_t v = 0;
        for (size_t i = 0; i < n && i < size; ++i)
            v |= uint64_t(data[i]) << (8 * i);
        return v;
    };
    char buffer[64];
    switch (base) {
    case wt::Int1: return std::to_string(unsigned(le(1)));
    case wt::Int2: return std::to_string(int16_t(le(2)));
    case wt::Int4: return std::to_string(int32_t(le(4)));
    case wt::Int8: return std::to_string(int64_t(le(8)));
    case wt::Bit: return le(1) ? "1" : "0";
    case wt::Flt4: case wt::Flt8: {
        double x;
        if (base == wt::Flt4) {
            const uint32_t bits = uint32_t(le(4));
            float f;
            std::memcpy(&f, &bits, 4);
            x = f;
        } else {
            const uint64_t bits = le(8);
            std::memcpy(&x, &bits, 8);
        }
        std::snprintf(buffer, sizeof buffer, "%.*g", base == wt::Flt4 ? 9 : 17, x);
        return buffer;
    }
    case wt::Money4: return textFromCurrency(int32_t(le(4)));
    case wt::Money: return textFromCurrency(int64_t((le(4) << 32) | (le(8) >> 32)));
    case wt::DecimalN: case wt::NumericN: {
        if (propBytes < 2 || size < 1)
            return {};
        rz::tds::DecimalValue d;
        d.precision = props[0];
        d.scale = props[1];
        d.negative = data[0] == 0;
        for (size_t i = 1; i < size && i <= 16; ++i) {
            if (i <= 8)
                d.low |= uint64_t(data[i]) << (8 * (i - 1));
            else
                d.high |= uint64_t(data[i]) << (8 * (i - 9));
        }
        return textFromDecimal(d);
    }
    case wt::BigVarChar: case wt::BigChar:
        return utf8FromCodePage(std::string_view(reinterpret_cast<const char *>(data), size));
    case wt::NVarChar: case wt::NChar: {
        std::u16string text(size / 2, u'\0');
        std::memcpy(text.data(), data, text.size() * 2);
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            char32_t c = text[i];
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size())
                c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
            if (c < 0x80) {
                out += char(c);
            } else if (c < 0x800) {
                out += char(0xC0 | (c >> 6));
                out += char(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                out += char(0xE0 | (c >> 12));
                out += char(0x80 | ((c >> 6) & 0x3F));
                out += char(0x80 | (c & 0x3F));
            } else {
                out += char(0xF0 | (c >> 18));
                out += char(0x80 | ((c >> 12) & 0x3F));
                out += char(0x80 | ((c >> 6) & 0x3F));
                out += char(0x80 | (c & 0x3F));
            }
        }
        return out;
    }
    case wt::BigVarBinary: case wt::BigBinary: {
        std::string out;
        for (size_t i = 0; i < size; ++i)
            appendHexByte(out, data[i]);
        return out;
    }
    case wt::Guid: {
        if (size < 16)
            return {};
        const GUID g = loadUnaligned<GUID>(data);
        std::snprintf(buffer, sizeof buffer, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", unsigned(g.Data1),
                      unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                      g.Data4[5], g.Data4[6], g.Data4[7]);
        return buffer;
    }
    case wt::DateN: return textFromDays(int32_t(le(3)));
    case wt::DateTim4:
        return textFromDateTime(rz::tds::kDaysTo1900 + int32_t(le(2)), int64_t(le(4) >> 16) * 600000000, 0);
    case wt::DateTime: {
        const auto fraction = uint32_t(le(8) >> 32);
        return textFromDateTime(rz::tds::kDaysTo1900 + int32_t(uint32_t(le(4))), rz::tds::ticksFromDateTimeFraction(fraction), 3);
    }
    case wt::TimeN: case wt::DateTime2N: case wt::DateTimeOffsetN: {
        if (propBytes < 1)
            return {};
        const int scale = props[0] > 7 ? 7 : props[0];
        const int timeLength = rz::tds::timeLengthForScale(uint8_t(scale));
        int64_t ticks = int64_t(le(size_t(timeLength)));
        for (int i = scale; i < 7; ++i)
            ticks *= 10;
        if (base == wt::TimeN)
            return textFromTicks(ticks, scale);
        int32_t days = 0;
        for (int i = 0; i < 3 && size_t(timeLength + i) < size; ++i)
            days |= int32_t(data[timeLength + i]) << (8 * i);
        if (base == wt::DateTime2N)
            return textFromDateTime(days, ticks, scale);
        int16_t offset = 0;
        if (size_t(timeLength + 4) < size)
            offset = int16_t(data[timeLength + 3] | (data[timeLength + 4] << 8));
        return textFromDateTimeOffset(days, ticks, offset, scale);
    }
    default:
        return {};
    }
}

rz::tds::DecimalValue decimalFromNumeric(const DB_NUMERIC &value, BYTE precision, BYTE scale)
{
    rz::tds::DecimalValue d;
    for (int b = 7; b >= 0; --b) {
        d.low = (d.low << 8) | value.val[b];
        d.high = (d.high << 8) | value.val[b + 8];
    }
    d.precision = precision;
    d.scale = scale;
    d.negative = !value.sign && (d.low || d.high); // no negative zero on the wire
    return d;
}

rz::tds::DecimalValue decimalFromInteger(std::uint64_t magnitude, bool negative, BYTE precision, BYTE scale)
{
    rz::tds::DecimalValue d;
    d.low = magnitude;
    d.precision = precision;
    d.scale = scale;
    d.negative = negative && magnitude != 0;
    return d;
}

} // namespace rz::provider
