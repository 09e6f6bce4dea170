#include "provider/tdsvalues.h"

#include "provider/decimaltext.h"

#include <cstdio>

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

// Windows-1252's characters 0x80..0x9F; the rest is Latin-1. Undefined ones map to themselves.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t fromCodePage(unsigned char c) { return c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : char16_t(c); }

} // namespace

DB_NUMERIC numericFromDecimal(const rz::tds::DecimalValue &value)
{
    DB_NUMERIC n{};
    n.precision = value.precision;
    n.scale = value.scale;
    n.sign = value.negative ? 0 : 1;
    u128 m = magnitude(value);
    for (int i = 0; i < 16; ++i, m >>= 8)
        n.val[i] = BYTE(m & 0xFF);
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

std::u16string utf16FromCodePage(std::string_view bytes)
{
    std::u16string out(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        out[i] = fromCodePage(static_cast<unsigned char>(bytes[i]));
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
