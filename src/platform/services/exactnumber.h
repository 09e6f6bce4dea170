#pragma once
// An exact decimal number (sign, magnitude below 10^38, scale): the common
// ground of the data conversion library's numeric conversions, so that
// integers, DB_NUMERIC, DECIMAL and CY convert into each other without
// passing through floating point.

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
ExactNumber fromUnsigned(unsigned long long value);
ExactNumber fromNumeric(const DB_NUMERIC &value);
ExactNumber fromDecimal(const DECIMAL &value);
ExactNumber fromCurrency(const CY &value);
// A double written with 15 significant digits, as COM's decimal conversions
// do; false for infinities, NaN and values beyond 38 digits.
bool fromDouble(double value, ExactNumber *out);
// Decimal text: optional blanks, sign, digits with one optional point, an
// optional exponent; false when the text is not a number or too large.
bool fromText(const std::string &text, ExactNumber *out);

// Changes the scale, rounding half away from zero when digits are dropped;
// false when the result does not fit 38 digits.
bool rescale(ExactNumber &value, int scale);

// DB_NUMERIC with the given precision; false when the value needs more digits.
bool toNumeric(const ExactNumber &value, BYTE precision, DB_NUMERIC *out);
double toDouble(const ExactNumber &value);
// The integer part rounded half away from zero; false when it does not fit.
bool toSigned(const ExactNumber &value, long long minimum, long long maximum, long long *out);
// As above for unsigned types; *negative tells a sign mismatch from an overflow.
bool toUnsigned(const ExactNumber &value, unsigned long long maximum, unsigned long long *out,
                bool *negative);
std::string toText(const ExactNumber &value);

} // namespace rz
