#include "provider/tds/tdstypes.h"

#include "provider/diagnostics/diagnostics.h"
#include "provider/values/datetimevalues.h"
#include "provider/values/decimaltext.h"
#include "provider/values/recordforms.h"

#include <cstring>

namespace rz::provider {

namespace {

using rz::tds::ValueKind;

std::u16string ascii(const std::string &text) { return std::u16string(text.begin(), text.end()); }

// "nvarchar(10)" -> "nvarchar"
std::string baseName(const rz::tds::TypeInfo &type)
{
    std::string name = type.name();
    const size_t paren = name.find('(');
    if (paren != std::string::npos)
        name.resize(paren);
    return name;
}

template <class T>
T valueOf(const ParameterValue &p)
{
    T v{};
    std::memcpy(&v, p.bytes.data(), std::min(sizeof v, p.bytes.size()));
    return v;
}

std::string parameterName(size_t index) { return "@P" + std::to_string(index + 1); }

// Whether the value has at most `precision` digits (scale included).
bool fitsPrecision(const DB_NUMERIC &n, int precision)
{
    unsigned __int128 magnitude = 0, limit = 1;
    for (int i = 15; i >= 0; --i)
        magnitude = (magnitude << 8) | n.val[i];
    for (int i = 0; i < precision; ++i)
        limit *= 10;
    return magnitude < limit;
}

} // namespace

SqlServerType typeOfTdsColumn(const rz::tds::TypeInfo &type)
{
    const std::string name = baseName(type);
    const int maxLength = type.plp ? -1 : int(type.maxLength);
    SqlServerType t = typeOfServerTypeName(ascii(name), maxLength, type.precision, type.scale);
    t.fractionDigits = type.scale;
    switch (type.kind) {
    case ValueKind::UInt8: t.form = FetchForm::UInt8; break;
    case ValueKind::Int16: t.form = FetchForm::Int16; break;
    case ValueKind::Int32: t.form = FetchForm::Int32; break;
    case ValueKind::Int64: t.form = FetchForm::Int64; break;
    case ValueKind::Bit: t.form = FetchForm::Bit; break;
    case ValueKind::Float32: t.form = FetchForm::Float32; break;
    case ValueKind::Float64: t.form = FetchForm::Float64; break;
    case ValueKind::Decimal: t.form = FetchForm::DecimalParts; break;
    case ValueKind::Money: t.form = FetchForm::MoneyUnits; break;
    case ValueKind::Date: t.form = FetchForm::DateDays; break;
    case ValueKind::Time: t.form = FetchForm::TimeTicks; break;
    case ValueKind::DateTime: t.form = FetchForm::DateTimeParts; break;
    case ValueKind::DateTimeOffset: t.form = FetchForm::DateTimeOffsetParts; break;
    case ValueKind::Guid: t.form = FetchForm::Guid; break;
    case ValueKind::Utf16: t.form = FetchForm::Utf16Text; break;
    case ValueKind::Bytes:
        if (type.type == rz::tds::wiretype::BigVarChar || type.type == rz::tds::wiretype::BigChar
            || type.type == rz::tds::wiretype::Text)
            t.form = type.collation.utf8() ? FetchForm::Utf8Text : FetchForm::CodePageText;
        else if (type.type == rz::tds::wiretype::Variant)
            t.form = FetchForm::VariantBytes;
        else
            t.form = FetchForm::Binary;
        break;
    }
    t.isLong = type.isLong();
    t.valueBytes = t.isLong ? 0 : type.isVariableLength() ? type.maxLength : type.valueSize();
    return t;
}

bool tdsParameters(const std::vector<ParameterValue> &values, rz::tds::RpcParameters &out)
{
    for (size_t i = 0; i < values.size(); ++i) {
        const ParameterValue &p = values[i];
        const std::string name = parameterName(i);
        const bool output = p.output;
        const bool isNull = p.isNull();
        const auto integer = [&](auto type, int bytes) {
            using T = decltype(type);
            out.addInteger(name, isNull ? std::nullopt : std::optional<int64_t>(valueOf<T>(p)), bytes, output);
        };
        switch (p.type) {
        case DBTYPE_I1: integer(int8_t(), 2); break; // SQL Server has no signed tinyint
        case DBTYPE_I2: integer(int16_t(), 2); break;
        case DBTYPE_I4: integer(int32_t(), 4); break;
        case DBTYPE_I8: integer(int64_t(), 8); break;
        case DBTYPE_UI1: integer(uint8_t(), 1); break;
        case DBTYPE_UI8: {
            if (isNull) {
                out.addInteger(name, std::nullopt, 8, output);
                break;
            }
            const uint64_t v = valueOf<uint64_t>(p);
            if (v <= uint64_t(INT64_MAX)) {
                out.addInteger(name, int64_t(v), 8, output);
            } else {
                out.addDecimal(name, decimalFromInteger(v, false, 20, 0), 20, 0, output);
            }
            break;
        }
        case DBTYPE_BOOL:
            out.addBit(name, isNull ? std::nullopt : std::optional<bool>(valueOf<VARIANT_BOOL>(p) != 0), output);
            break;
        case DBTYPE_R4:
            out.addFloat(name, isNull ? std::nullopt : std::optional<double>(valueOf<float>(p)), 4, output);
            break;
        case DBTYPE_R8:
            out.addFloat(name, isNull ? std::nullopt : std::optional<double>(valueOf<double>(p)), 8, output);
            break;
        case DBTYPE_NUMERIC: {
            const BYTE precision = BYTE(p.precision ? std::min<BYTE>(p.precision, 38) : 38);
            const BYTE scale = std::min(p.scale, precision);
            if (isNull) {
                out.addDecimal(name, std::nullopt, precision, scale, output);
                break;
            }
            // The value's own places unless they are more than 38.
            const DB_NUMERIC value = valueOf<DB_NUMERIC>(p);
            const auto n = value.scale == scale ? std::optional<DB_NUMERIC>(value)
                                                : numericFromText(textFromNumeric(value), precision, scale);
            if (!n || !fitsPrecision(*n, precision)) {
                addPendingDiagnostic(u"22003", u"A decimal parameter's value does not fit its precision.");
                return false;
            }
            out.addDecimal(name, decimalFromNumeric(*n, precision, scale), precision, scale, output);
            break;
        }
        case DBTYPE_DBTIMESTAMP: {
            std::optional<rz::tds::DateTimeValue> v;
            if (!isNull) {
                const auto ts = valueOf<DBTIMESTAMP>(p);
                rz::tds::DateTimeValue dt;
                dt.days = daysFromDate(ts.year, ts.month, ts.day);
                dt.ticks = ticksFromTime(ts.hour, ts.minute, ts.second, ts.fraction);
                v = dt;
            }
            // A value datetime cannot hold goes as datetime2, for the server to refuse it.
            if (p.dateTime && (!v || rz::tds::fitsDateTime(*v)))
                out.addDateTime(name, v, output);
            else
                out.addDateTime2(name, v, 7, output);
            break;
        }
        case DBTYPE_DBDATE: {
            std::optional<int32_t> v;
            if (!isNull) {
                const auto d = valueOf<DBDATE>(p);
                v = daysFromDate(d.year, d.month, d.day);
            }
            out.addDate(name, v, output);
            break;
        }
        case DBTYPE_DBTIME: {
            std::optional<int64_t> v;
            if (!isNull) {
                const auto t = valueOf<DBTIME>(p);
                v = ticksFromTime(t.hour, t.minute, t.second);
            }
            out.addTime(name, v, 7, output);
            break;
        }
        case DBTYPE_GUID: {
            std::optional<std::array<uint8_t, 16>> v;
            if (!isNull) {
                std::array<uint8_t, 16> g{};
                std::memcpy(g.data(), p.bytes.data(), std::min<size_t>(16, p.bytes.size()));
                v = g;
            }
            out.addGuid(name, v, output);
            break;
        }
        case DBTYPE_BYTES: {
            std::optional<std::vector<uint8_t>> v;
            if (!isNull)
                v = std::vector<uint8_t>(p.bytes.begin(), p.bytes.end());
            out.addVarBinary(name, std::move(v), output, p.isLong);
            break;
        }
        case DBTYPE_WSTR: {
            std::u16string text(p.bytes.size() / 2, u'\0');
            std::memcpy(text.data(), p.bytes.data(), text.size() * 2);
            out.addNVarChar(name, isNull ? std::nullopt : std::optional<std::u16string_view>(text), output, p.isLong);
            break;
        }
        default:
            addPendingDiagnostic(u"07006", u"A parameter is bound with a type the provider cannot send.");
            return false;
        }
    }
    return true;
}

} // namespace rz::provider
