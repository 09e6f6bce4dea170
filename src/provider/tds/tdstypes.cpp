#include "provider/tds/tdstypes.h"

#include "provider/objects/diagnostics.h"
#include "provider/values/decimaltext.h"

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

// Days since 0001-01-01 (Howard Hinnant's days_from_civil, moved to year 1).
std::int32_t daysFromCivil(int year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = unsigned(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return std::int32_t(std::int64_t(era) * 146097 + std::int64_t(doe) - 719468 + 719162);
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
    t.terminated = false;
    t.fractionDigits = type.scale;
    t.cType = 0; // the ODBC backend's business
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
    if (type.isLong()) {
        t.isLong = true;
        t.fetchBytes = 0;
    } else {
        t.isLong = false;
        t.fetchBytes = SQLLEN(type.isVariableLength() ? type.maxLength : type.valueSize());
    }
    return t;
}

bool tdsParameters(const std::vector<ParameterValue> &values, rz::tds::RpcParameters &out)
{
    for (size_t i = 0; i < values.size(); ++i) {
        const ParameterValue &p = values[i];
        const std::string name = parameterName(i);
        const bool output = p.inputOutput != SQL_PARAM_INPUT;
        const bool isNull = p.indicator == SQL_NULL_DATA || p.indicator == SQL_DEFAULT_PARAM;
        const int integerBytes = p.sqlType == SQL_TINYINT ? 1 : p.sqlType == SQL_SMALLINT ? 2 : p.sqlType == SQL_INTEGER ? 4 : 8;
        switch (p.cType) {
        case SQL_C_STINYINT: case SQL_C_SSHORT: case SQL_C_SLONG: case SQL_C_SBIGINT: case SQL_C_UTINYINT: {
            std::optional<int64_t> v;
            if (!isNull) {
                switch (p.cType) {
                case SQL_C_STINYINT: v = valueOf<int8_t>(p); break;
                case SQL_C_SSHORT: v = valueOf<int16_t>(p); break;
                case SQL_C_SLONG: v = valueOf<int32_t>(p); break;
                case SQL_C_UTINYINT: v = valueOf<uint8_t>(p); break;
                default: v = valueOf<int64_t>(p); break;
                }
            }
            out.addInteger(name, v, integerBytes, output);
            break;
        }
        case SQL_C_UBIGINT: {
            if (isNull) {
                out.addInteger(name, std::nullopt, 8, output);
                break;
            }
            const uint64_t v = valueOf<uint64_t>(p);
            if (v <= uint64_t(INT64_MAX)) {
                out.addInteger(name, int64_t(v), 8, output);
            } else {
                rz::tds::DecimalValue d;
                d.low = v;
                d.precision = 20;
                out.addDecimal(name, d, 20, 0, output);
            }
            break;
        }
        case SQL_C_BIT:
            out.addBit(name, isNull ? std::nullopt : std::optional<bool>(valueOf<unsigned char>(p) != 0), output);
            break;
        case SQL_C_FLOAT:
            out.addFloat(name, isNull ? std::nullopt : std::optional<double>(valueOf<float>(p)), 4, output);
            break;
        case SQL_C_DOUBLE:
            out.addFloat(name, isNull ? std::nullopt : std::optional<double>(valueOf<double>(p)), 8, output);
            break;
        case SQL_C_CHAR: {
            // Decimal values travel as their text in ODBC's vocabulary.
            const BYTE precision = BYTE(p.columnSize ? std::min<SQLULEN>(p.columnSize, 38) : 38);
            const BYTE scale = BYTE(std::min<int>(p.decimalDigits, precision));
            if (isNull) {
                out.addDecimal(name, std::nullopt, precision, scale, output);
                break;
            }
            const auto n = numericFromText(p.bytes, precision, scale);
            if (!n || !fitsPrecision(*n, precision)) {
                addPendingDiagnostic(u"22003", u"A decimal parameter's value does not fit its precision.");
                return false;
            }
            rz::tds::DecimalValue d;
            for (int b = 7; b >= 0; --b) {
                d.low = (d.low << 8) | n->val[b];
                d.high = (d.high << 8) | n->val[b + 8];
            }
            d.precision = precision;
            d.scale = scale;
            d.negative = n->sign ? 0 : 1;
            out.addDecimal(name, d, precision, scale, output);
            break;
        }
        case SQL_C_TYPE_TIMESTAMP: {
            std::optional<rz::tds::DateTimeValue> v;
            if (!isNull) {
                const auto ts = valueOf<SQL_TIMESTAMP_STRUCT>(p);
                rz::tds::DateTimeValue dt;
                dt.days = daysFromCivil(ts.year, ts.month, ts.day);
                dt.ticks = (int64_t(ts.hour) * 3600 + ts.minute * 60 + ts.second) * 10000000 + ts.fraction / 100;
                v = dt;
            }
            // A value datetime cannot hold goes as datetime2, for the server to refuse it.
            if (isDateTimeParameter(p) && (!v || rz::tds::fitsDateTime(*v)))
                out.addDateTime(name, v, output);
            else
                out.addDateTime2(name, v, 7, output);
            break;
        }
        case SQL_C_TYPE_DATE: {
            std::optional<int32_t> v;
            if (!isNull) {
                const auto d = valueOf<SQL_DATE_STRUCT>(p);
                v = daysFromCivil(d.year, d.month, d.day);
            }
            out.addDate(name, v, output);
            break;
        }
        case SQL_C_TYPE_TIME: {
            std::optional<int64_t> v;
            if (!isNull) {
                const auto t = valueOf<SQL_TIME_STRUCT>(p);
                v = (int64_t(t.hour) * 3600 + t.minute * 60 + t.second) * 10000000;
            }
            out.addTime(name, v, 7, output);
            break;
        }
        case SQL_C_GUID: {
            std::optional<std::array<uint8_t, 16>> v;
            if (!isNull) {
                std::array<uint8_t, 16> g{};
                std::memcpy(g.data(), p.bytes.data(), std::min<size_t>(16, p.bytes.size()));
                v = g;
            }
            out.addGuid(name, v, output);
            break;
        }
        case SQL_C_BINARY: {
            std::optional<std::vector<uint8_t>> v;
            if (!isNull)
                v = std::vector<uint8_t>(p.bytes.begin(), p.bytes.end());
            out.addVarBinary(name, std::move(v), output, p.sqlType == SQL_LONGVARBINARY);
            break;
        }
        case SQL_C_WCHAR: {
            std::u16string text(p.bytes.size() / 2, u'\0');
            std::memcpy(text.data(), p.bytes.data(), text.size() * 2);
            out.addNVarChar(name, isNull ? std::nullopt : std::optional<std::u16string_view>(text), output,
                            p.sqlType == SQL_WLONGVARCHAR);
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
