#include "platform/services/exactnumber.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace rz {

uint128 powerOfTen(int n)
{
    uint128 p = 1;
    for (int i = 0; i < n; ++i)
        p *= 10;
    return p;
}

int digitCount(uint128 magnitude)
{
    int digits = 1;
    for (; magnitude > UINT64_MAX; ++digits) // 128-bit division only while it is needed
        magnitude /= 10;
    for (uint64_t low = static_cast<uint64_t>(magnitude); low >= 10; ++digits)
        low /= 10;
    return digits;
}

static const uint128 kLimit = powerOfTen(DB_NUMERIC_MAXPRECISION); // first value with 39 digits

ExactNumber fromSigned(long long value)
{
    ExactNumber n;
    n.negative = value < 0;
    // Negate in unsigned arithmetic: -LLONG_MIN does not fit a long long.
    const unsigned long long bits = static_cast<unsigned long long>(value);
    n.magnitude = n.negative ? 0ULL - bits : bits;
    return n;
}

ExactNumber fromNumeric(const DB_NUMERIC &value)
{
    ExactNumber n;
    // Little-endian bytes, gathered in two 64-bit halves.
    unsigned long long low = 0, high = 0;
    for (int i = 7; i >= 0; --i) {
        low = (low << 8) | value.val[i];
        high = (high << 8) | value.val[i + 8];
    }
    n.magnitude = (uint128(high) << 64) | low;
    n.scale = value.scale;
    n.negative = value.sign == 0 && n.magnitude != 0;
    return n;
}

ExactNumber fromCurrency(const CY &value)
{
    ExactNumber n = fromSigned(value.int64);
    n.scale = 4;
    return n;
}

bool fromText(const std::string &text, ExactNumber *out)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    ExactNumber n;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        n.negative = text[i] == '-';
        ++i;
    }
    uint128 magnitude = 0;
    int significant = 0;
    int fractionDigits = 0;
    int droppedIntegerDigits = 0; // integer digits beyond what 38 digits hold
    bool sawDigit = false;
    bool sawPoint = false;
    bool roundUp = false;
    bool dropping = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !sawPoint) {
            sawPoint = true;
            continue;
        }
        if (c < '0' || c > '9')
            break;
        sawDigit = true;
        if (dropping) {
            if (!sawPoint)
                ++droppedIntegerDigits;
            continue;
        }
        if (significant == DB_NUMERIC_MAXPRECISION) {
            // Further digits can only be rounded away (fraction) or overflow (integer part).
            roundUp = c >= '5';
            dropping = true;
            if (!sawPoint)
                ++droppedIntegerDigits;
            continue;
        }
        magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
        if (magnitude != 0)
            ++significant;
        if (sawPoint)
            ++fractionDigits;
    }
    if (!sawDigit)
        return false;
    int exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        char *end = nullptr;
        const long e = std::strtol(text.c_str() + i + 1, &end, 10);
        if (end == text.c_str() + i + 1 || e > 1000 || e < -1000)
            return false;
        exponent = static_cast<int>(e);
        i = static_cast<std::size_t>(end - text.c_str());
    }
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i != text.size())
        return false;
    if (roundUp)
        ++magnitude;
    int scale = fractionDigits - exponent - droppedIntegerDigits;
    // Bring the scale into 0..38: a negative scale multiplies out, a large one rounds off.
    while (scale < 0) {
        if (magnitude != 0 && magnitude >= kLimit / 10)
            return false;
        magnitude *= 10;
        ++scale;
    }
    n.magnitude = magnitude;
    n.scale = scale;
    if (scale > DB_NUMERIC_MAXPRECISION && !rescale(n, DB_NUMERIC_MAXPRECISION))
        return false;
    if (n.magnitude >= kLimit)
        return false;
    if (n.magnitude == 0)
        n.negative = false;
    *out = n;
    return true;
}

bool rescale(ExactNumber &value, int scale)
{
    if (scale == value.scale)
        return true;
    if (scale > value.scale) {
        const int shift = scale - value.scale;
        if (shift > DB_NUMERIC_MAXPRECISION)
            return value.magnitude == 0 ? (value.scale = scale, true) : false;
        const uint128 factor = powerOfTen(shift);
        if (value.magnitude > (kLimit - 1) / factor)
            return false;
        value.magnitude *= factor;
    } else {
        uint128 m = value.magnitude;
        int drop = value.scale - scale;
        bool roundUp = false;
        for (; drop > 0; --drop) {
            roundUp = (m % 10) >= 5;
            m /= 10;
        }
        value.magnitude = m + (roundUp ? 1 : 0);
        if (value.magnitude >= kLimit)
            return false;
    }
    value.scale = scale;
    if (value.magnitude == 0)
        value.negative = false;
    return true;
}

bool toNumeric(const ExactNumber &value, BYTE precision, DB_NUMERIC *out)
{
    if (value.magnitude != 0 && digitCount(value.magnitude) > precision)
        return false;
    std::memset(out, 0, sizeof *out);
    out->precision = precision;
    out->scale = static_cast<BYTE>(value.scale);
    out->sign = value.negative ? 0 : 1;
    uint128 m = value.magnitude;
    for (int i = 0; i < 16; ++i) {
        out->val[i] = static_cast<BYTE>(m & 0xff);
        m >>= 8;
    }
    return true;
}

double toDouble(const ExactNumber &value)
{
    // A magnitude below 2^53 and 10^scale up to 10^22 are both exact doubles,
    // and one IEEE division rounds their quotient correctly: the nearest
    // double, which is what reading the decimal text gives.
    static constexpr double exactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (value.magnitude < (uint128(1) << 53) && value.scale >= 0
        && value.scale < static_cast<int>(sizeof exactPowers / sizeof exactPowers[0])) {
        const double quotient =
            static_cast<double>(static_cast<unsigned long long>(value.magnitude)) / exactPowers[value.scale];
        // Zero has no sign, as in the text.
        return value.negative && value.magnitude != 0 ? -quotient : quotient;
    }
    // Otherwise through text, so that 12.34 comes back as the double nearest to 12.34.
    const std::string text = toText(value);
    return std::strtod(text.c_str(), nullptr);
}

std::string toText(const ExactNumber &value)
{
    char digits[48];
    char *const end = digits + sizeof digits;
    char *first = end;
    // From the last digit on; 128-bit division only while the magnitude needs it.
    uint128 m = value.magnitude;
    while (m > UINT64_MAX) {
        *--first = static_cast<char>('0' + static_cast<int>(m % 10));
        m /= 10;
    }
    uint64_t low = static_cast<uint64_t>(m);
    do {
        *--first = static_cast<char>('0' + static_cast<int>(low % 10));
        low /= 10;
    } while (low != 0);
    const std::ptrdiff_t count = end - first;
    std::string text;
    if (value.negative && value.magnitude != 0)
        text += '-';
    if (value.scale <= 0) {
        text.append(first, end);
    } else if (count <= value.scale) {
        text += "0.";
        text.append(static_cast<std::size_t>(value.scale - count), '0');
        text.append(first, end);
    } else {
        text.append(first, end - value.scale);
        text += '.';
        text.append(end - value.scale, end);
    }
    return text;
}

} // namespace rz
