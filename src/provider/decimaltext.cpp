#include "provider/decimaltext.h"

#include <cstring>

namespace rz::provider {

namespace {

using u128 = unsigned __int128;

struct ScaledDecimal {
    bool negative = false;
    u128 magnitude = 0;
};

// parseScaled for the common case of at most 19 digits (the scale's padding
// included), which 64 bits hold; false when the text needs the general path.
bool parseScaledShort(std::string_view text, int scale, ScaledDecimal &d)
{
    std::uint64_t magnitude = 0;
    int digits = 0;
    bool seenPoint = false, seenDigit = false;
    int fractionDigits = 0;
    for (char c : text) {
        if (c == '.') {
            if (seenPoint)
                return false;
            seenPoint = true;
            continue;
        }
        if (c < '0' || c > '9')
            return false;
        seenDigit = true;
        if (seenPoint) {
            if (fractionDigits >= scale)
                continue;
            ++fractionDigits;
        }
        if (++digits > 19)
            return false;
        magnitude = magnitude * 10 + std::uint64_t(c - '0');
    }
    if (!seenDigit || digits + (scale - fractionDigits) > 19)
        return false;
    for (; fractionDigits < scale; ++fractionDigits)
        magnitude *= 10;
    d.magnitude = magnitude;
    return true;
}

std::optional<ScaledDecimal> parseScaled(std::string_view text, int scale)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    ScaledDecimal d;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        d.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    if (parseScaledShort(text, scale, d)) {
        if (d.magnitude == 0)
            d.negative = false;
        return d;
    }
    d.magnitude = 0;
    const u128 limit = ~u128(0) / 10;
    bool seenPoint = false, seenDigit = false;
    int fractionDigits = 0;
    for (char c : text) {
        if (c == '.') {
            if (seenPoint)
                return std::nullopt;
            seenPoint = true;
            continue;
        }
        if (c < '0' || c > '9')
            return std::nullopt;
        seenDigit = true;
        if (seenPoint) {
            if (fractionDigits >= scale)
                continue; // places beyond the scale are dropped
            ++fractionDigits;
        }
        if (d.magnitude > limit)
            return std::nullopt;
        d.magnitude = d.magnitude * 10 + u128(c - '0');
    }
    if (!seenDigit)
        return std::nullopt;
    for (; fractionDigits < scale; ++fractionDigits) {
        if (d.magnitude > limit)
            return std::nullopt;
        d.magnitude *= 10;
    }
    if (d.magnitude == 0)
        d.negative = false;
    return d;
}

std::string digitsWithScale(bool negative, u128 magnitude, int scale)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    if (scale > 0) {
        if (int(digits.size()) <= scale)
            digits.insert(0, size_t(scale + 1 - int(digits.size())), '0');
        digits.insert(digits.size() - size_t(scale), 1, '.');
    }
    if (negative)
        digits.insert(digits.begin(), '-');
    return digits;
}

} // namespace

std::optional<DB_NUMERIC> numericFromText(std::string_view text, BYTE precision, BYTE scale)
{
    const auto d = parseScaled(text, scale);
    if (!d)
        return std::nullopt;
    DB_NUMERIC n;
    std::memset(&n, 0, sizeof n);
    n.precision = precision;
    n.scale = scale;
    n.sign = d->negative ? 0 : 1;
    u128 m = d->magnitude;
    for (int i = 0; i < 16; ++i) {
        n.val[i] = BYTE(m & 0xFF);
        m >>= 8;
    }
    return n;
}

std::optional<std::int64_t> currencyFromText(std::string_view text)
{
    const auto d = parseScaled(text, 4);
    if (!d)
        return std::nullopt;
    const u128 max = u128(INT64_MAX);
    if (d->magnitude > max + (d->negative ? 1 : 0))
        return std::nullopt;
    if (d->negative)
        return d->magnitude == max + 1 ? INT64_MIN : -std::int64_t(d->magnitude);
    return std::int64_t(d->magnitude);
}

std::string textFromNumeric(const DB_NUMERIC &value)
{
    u128 m = 0;
    for (int i = 15; i >= 0; --i)
        m = (m << 8) | value.val[i];
    return digitsWithScale(value.sign == 0 && m != 0, m, value.scale);
}

std::string textFromCurrency(std::int64_t scaled)
{
    const bool negative = scaled < 0;
    const u128 m = negative ? u128(-(scaled + 1)) + 1 : u128(scaled);
    return digitsWithScale(negative, m, 4);
}

} // namespace rz::provider
