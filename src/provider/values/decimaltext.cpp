#include "provider/values/decimaltext.h"

#include "platform/services/exactnumber.h"

namespace rz::provider {

namespace {

std::optional<ExactNumber> scaled(std::string_view text, int scale)
{
    ExactNumber n;
    if (!fromText(std::string(text), &n) || !rescale(n, scale))
        return std::nullopt;
    return n;
}

} // namespace

std::optional<DB_NUMERIC> numericFromText(std::string_view text, BYTE precision, BYTE scale)
{
    const auto n = scaled(text, scale);
    DB_NUMERIC out;
    if (!n || !toNumeric(*n, DB_NUMERIC_MAXPRECISION, &out))
        return std::nullopt;
    out.precision = precision;
    return out;
}

std::optional<std::int64_t> currencyFromText(std::string_view text)
{
    const auto n = scaled(text, 4);
    if (!n)
        return std::nullopt;
    const uint128 max = uint128(INT64_MAX);
    if (n->magnitude > max + (n->negative ? 1 : 0))
        return std::nullopt;
    if (n->negative)
        return n->magnitude == max + 1 ? INT64_MIN : -std::int64_t(n->magnitude);
    return std::int64_t(n->magnitude);
}

std::string textFromNumeric(const DB_NUMERIC &value) { return toText(fromNumeric(value)); }

std::string textFromCurrency(std::int64_t scaled)
{
    CY cy;
    cy.int64 = scaled;
    return toText(fromCurrency(cy));
}

} // namespace rz::provider
