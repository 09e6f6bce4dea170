// Bound as numbers: the integers, BOOL, R4, R8, CY and NUMERIC.

#include "provider/values/recordforms.h"
#include "provider/values/conversionfamilies.h"
#include "provider/values/decimaltext.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace rz::provider::conversion {

std::int64_t asInteger(const FetchedValue &v, bool &ok)
{
    ok = true;
    switch (v.type->form) {
    case FetchForm::Int16: { std::int16_t x; std::memcpy(&x, v.data, 2); return x; }
    case FetchForm::Int32: { std::int32_t x; std::memcpy(&x, v.data, 4); return x; }
    case FetchForm::UInt8: return *static_cast<const unsigned char *>(v.data);
    case FetchForm::Int64: { std::int64_t x; std::memcpy(&x, v.data, 8); return x; }
    case FetchForm::Bit: return *static_cast<const unsigned char *>(v.data) ? 1 : 0;
    case FetchForm::Float32: { float x; std::memcpy(&x, v.data, 4); return std::int64_t(x); }
    case FetchForm::Float64: { double x; std::memcpy(&x, v.data, 8); return std::int64_t(x); }
    case FetchForm::MoneyUnits: return valueAs<std::int64_t>(v) / 10000;
    case FetchForm::DecimalParts: {
        std::int64_t x = 0;
        ok = integerFromDecimal(valueAs<rz::tds::DecimalValue>(v), x);
        return x;
    }
    case FetchForm::CodePageText:
    case FetchForm::Utf8Text: {
        const auto n = numericFromText(rawBytes(v), 38, 0);
        if (!n) break;
        std::int64_t x = 0;
        for (int i = 7; i >= 0; --i) x = (x << 8) | n->val[i];
        return n->sign ? x : -x;
    }
    default: break;
    }
    ok = false;
    return 0;
}

double asDouble(const FetchedValue &v, bool &ok)
{
    ok = true;
    switch (v.type->form) {
    case FetchForm::Float32: { float x; std::memcpy(&x, v.data, 4); return x; }
    case FetchForm::Float64: { double x; std::memcpy(&x, v.data, 8); return x; }
    case FetchForm::MoneyUnits: return double(valueAs<std::int64_t>(v)) / 10000.0;
    case FetchForm::DecimalParts: return doubleFromDecimal(valueAs<rz::tds::DecimalValue>(v));
    case FetchForm::CodePageText:
    case FetchForm::Utf8Text: {
        const std::string text(rawBytes(v));
        char *end = nullptr;
        const double x = std::strtod(text.c_str(), &end);
        ok = end && end != text.c_str();
        return x;
    }
    default: break;
    }
    return double(asInteger(v, ok));
}

bool isNumericForm(FetchForm f)
{
    switch (f) {
    case FetchForm::Int16: case FetchForm::Int32: case FetchForm::UInt8: case FetchForm::Int64:
    case FetchForm::Bit: case FetchForm::Float32: case FetchForm::Float64:
    case FetchForm::MoneyUnits: case FetchForm::DecimalParts:
        return true;
    default:
        return false;
    }
}

namespace {

template <class T>
void storeInteger(Parts &p, const FetchedValue &v)
{
    bool ok;
    const std::int64_t x = asInteger(v, ok);
    if (!ok) { p.status = DBSTATUS_E_CANTCONVERTVALUE; return; }
    if (x < std::int64_t(std::numeric_limits<T>::min()) || (x > 0 && std::uint64_t(x) > std::uint64_t(std::numeric_limits<T>::max()))) {
        p.status = DBSTATUS_E_DATAOVERFLOW;
        return;
    }
    store(p, T(x));
}

void storeCurrency(const FetchedValue &v, Parts &p)
{
    const SqlServerType &type = *v.type;
    std::optional<std::int64_t> scaled;
    if (type.form == FetchForm::MoneyUnits)
        scaled = valueAs<std::int64_t>(v);
    else if (type.form == FetchForm::DecimalParts)
        scaled = currencyFromText(textFromDecimal(valueAs<rz::tds::DecimalValue>(v)));
    else if (type.form == FetchForm::Utf8Text || type.form == FetchForm::CodePageText)
        scaled = currencyFromText(rawBytes(v));
    else if (type.form == FetchForm::Float32 || type.form == FetchForm::Float64) {
        bool ok;
        const double x = asDouble(v, ok) * 10000.0;
        if (ok && std::fabs(x) < 9.2e18) scaled = std::int64_t(std::llround(x));
    } else {
        bool ok;
        const std::int64_t x = asInteger(v, ok);
        if (ok && x < INT64_MAX / 10000 && x > INT64_MIN / 10000) scaled = x * 10000;
    }
    if (!scaled) {
        p.status = DBSTATUS_E_DATAOVERFLOW;
        return;
    }
    CY cy;
    cy.int64 = *scaled;
    store(p, cy);
}

void storeNumeric(const FetchedValue &v, const DBBINDING &b, Parts &p)
{
    const SqlServerType &type = *v.type;
    std::optional<DB_NUMERIC> n;
    if (type.form == FetchForm::DecimalParts)
        n = numericFromDecimal(valueAs<rz::tds::DecimalValue>(v));
    else if (type.form == FetchForm::MoneyUnits)
        n = numericFromText(textFromCurrency(valueAs<std::int64_t>(v)), 19, 4);
    else if (type.form == FetchForm::Utf8Text || type.form == FetchForm::CodePageText)
        n = numericFromText(rawBytes(v), b.bPrecision ? b.bPrecision : 38, b.bScale);
    else if (type.form == FetchForm::Float32 || type.form == FetchForm::Float64) {
        bool ok;
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", int(b.bScale), asDouble(v, ok));
        n = numericFromText(text, b.bPrecision ? b.bPrecision : 38, b.bScale);
    } else
        n = numericFromText(asText(v), 19, 0);
    if (!n) p.status = DBSTATUS_E_DATAOVERFLOW;
    else store(p, *n);
}

} // namespace

void writeNumber(const FetchedValue &v, const DBBINDING &b, DBTYPE target, Parts &p)
{
    switch (target) {
    case DBTYPE_I1: storeInteger<std::int8_t>(p, v); return;
    case DBTYPE_I2: storeInteger<std::int16_t>(p, v); return;
    case DBTYPE_I4: storeInteger<std::int32_t>(p, v); return;
    case DBTYPE_I8: storeInteger<std::int64_t>(p, v); return;
    case DBTYPE_UI1: storeInteger<std::uint8_t>(p, v); return;
    case DBTYPE_UI2: storeInteger<std::uint16_t>(p, v); return;
    case DBTYPE_UI4: storeInteger<std::uint32_t>(p, v); return;
    case DBTYPE_UI8: storeInteger<std::uint64_t>(p, v); return;
    case DBTYPE_BOOL: {
        bool ok;
        const std::int64_t x = asInteger(v, ok);
        if (!ok) p.status = DBSTATUS_E_CANTCONVERTVALUE;
        else store(p, VARIANT_BOOL(x ? VARIANT_TRUE : VARIANT_FALSE));
        return;
    }
    case DBTYPE_R4: case DBTYPE_R8: {
        bool ok;
        const double x = asDouble(v, ok);
        if (!ok) p.status = DBSTATUS_E_CANTCONVERTVALUE;
        else if (target == DBTYPE_R4) store(p, float(x));
        else store(p, x);
        return;
    }
    case DBTYPE_CY: storeCurrency(v, p); return;
    case DBTYPE_NUMERIC: storeNumeric(v, b, p); return;
    default:
        p.status = DBSTATUS_E_CANTCONVERTVALUE;
        return;
    }
}

} // namespace rz::provider::conversion
