#pragma once
// Exact decimal values between text ("-123.4500") and OLE DB's binary forms
// (DB_NUMERIC, currency as a scaled 64-bit integer), on the platform's one
// decimal engine (platform/services/exactnumber.h).

#include "platform/sdk/oledb.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rz::provider {

// Decimal text scaled to `scale` places; extra places are rounded half away
// from zero, as SQL Server rounds a value stored with fewer places. Fails on
// text that is not a number and on values beyond 38 digits.
std::optional<DB_NUMERIC> numericFromText(std::string_view text, BYTE precision, BYTE scale);
std::optional<std::int64_t> currencyFromText(std::string_view text);

std::string textFromNumeric(const DB_NUMERIC &value);
std::string textFromCurrency(std::int64_t scaled);

} // namespace rz::provider
