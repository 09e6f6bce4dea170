#pragma once
// The row record's value forms, which are the TDS client's (decimal as a
// 128-bit magnitude, money in units of 1/10000, dates as days since
// 0001-01-01 and times as 100 ns ticks), turned into OLE DB's binary forms
// and into text.

#include "platform/sdk/oledb.h"
#include "tds/typeinfo.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace rz::provider {

DB_NUMERIC numericFromDecimal(const rz::tds::DecimalValue &value);
// The other way, with the precision and scale the value is to have.
rz::tds::DecimalValue decimalFromNumeric(const DB_NUMERIC &value, BYTE precision, BYTE scale);
// A magnitude that fits 64 bits, already scaled (12345 for 123.45 at scale 2).
rz::tds::DecimalValue decimalFromInteger(std::uint64_t magnitude, bool negative, BYTE precision, BYTE scale);
// value / 10^scale as text: "-123.4500" (every place of the scale).
std::string textFromDecimal(const rz::tds::DecimalValue &value);
double doubleFromDecimal(const rz::tds::DecimalValue &value);
// The whole part; false when it does not fit 64 bits.
bool integerFromDecimal(const rz::tds::DecimalValue &value, std::int64_t &out);

DBDATE dateFromDays(std::int32_t days);
DBTIME timeFromTicks(std::int64_t ticks);
DBTIMESTAMP timestampFromParts(std::int32_t days, std::int64_t ticks);
// "2020-01-02", "03:04:05.1234567" (the scale's places, none for 0),
// "2020-01-02 03:04:05.1234567", "2020-01-02 03:04:05.1234567 +02:00".
std::string textFromDays(std::int32_t days);
std::string textFromTicks(std::int64_t ticks, int scale);
std::string textFromDateTime(std::int32_t days, std::int64_t ticks, int scale);
// days and ticks are UTC; the text shows the local time of the offset's zone.
std::string textFromDateTimeOffset(std::int32_t days, std::int64_t ticks, std::int16_t offsetMinutes, int scale);

// An sql_variant value as it travels (base type, its properties, the value)
// shown as text in UTF-8: numbers and dates as SQL Server writes them,
// strings as they are, binary as hexadecimal digits. Empty for bytes that
// are no variant.
std::string textFromVariant(std::string_view bytes);

} // namespace rz::provider
