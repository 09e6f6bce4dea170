#pragma once
// Exact decimal values between the ODBC driver's text form ("-123.4500")
// and OLE DB's binary forms (DB_NUMERIC, currency as a scaled 64-bit integer).

#include "platform/oledb.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rz::provider {

// Digits with an optional sign and decimal point, scaled to `scale` places
// (extra places are cut off). Fails on any other text or on overflow.
std::optional<DB_NUMERIC> numericFromText(std::string_view text, BYTE precision, BYTE scale);
std::optional<std::int64_t> currencyFromText(std::string_view text);

std::string textFromNumeric(const DB_NUMERIC &value);
std::string textFromCurrency(std::int64_t scaled);

} // namespace rz::provider
