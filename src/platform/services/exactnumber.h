#pragma once
// An exact decimal number (sign, magnitude below 10^38, scale): what the data
// conversion library and the providers' decimal text convert through, so that
// integers, DB_NUMERIC and CY meet without passing through floating point.

#include "platform/sdk/oledb.h"

#include <string>

namespace rz {

using uint128 = unsigned __int128;

struct ExactNumber {
    bool negative = false;
    uint128 magnitude = 0;
    int scale = 0; // digits after the decimal point, 0..38
};

// 10^n for n in 0..38.
uint128 powerOfTen(int n);
// Number of decimal digits of the magnitude (1 for zero).
int digitCount(uint128 magnitude);

ExactNumber fromSigned(long long value);
ExactNumber fromNumeric(const DB_NUMERIC &value);
ExactNumber fromCurrency(const CY &value);
// Decimal text: optional blanks, sign, digits with one optional point, an
// optional exponent; false when the text is not a number or too large.
bool fromText(const std::string &text, ExactNumber *out);

// Changes the scale, rounding half away from zero when digits are dropped;
// false when the result does not fit 38 digits.
bool rescale(ExactNumber &value, int scale);

// DB_NUMERIC with the given precision; false when the value needs more digits.
bool toNumeric(const ExactNumber &value, BYTE precision, DB_NUMERIC *out);
double toDouble(const ExactNumber &value);
std::string toText(const ExactNumber &value);

} // namespace rz
