#include "provider/odbc/odbctypes.h"

#include "common/bytes.h"
#include "provider/diagnostics/diagnostics.h"
#include "provider/values/datetimevalues.h"
#include "provider/values/decimaltext.h"
#include "provider/values/recordforms.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace rz::provider {

namespace {

using Edge = OdbcColumn::Edge;

std::string lowerAscii(std::u16string_view text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 128 ? char(std::tolower(int(c))) : '?';
    return out;
}

OdbcColumn fetched(const SqlServerType &type, SQLSMALLINT cType, SQLLEN bytes, Edge edge)
{
    return OdbcColumn{type, cType, bytes, edge};
}

// Declared lengths beyond 8000 are the unlimited types'.
int declaredBytes(SQLULEN length, int bytesPerCharacter)
{
    return length > 8000 ? -1 : int(length) * bytesPerCharacter;
}

// Narrow text comes in the connection's client character set, UTF-8, where
// a code-page character may take up to three bytes; long text is turned
// back into the column's own bytes when it is read.
OdbcColumn narrowText(SQLULEN characters, bool fixedLength)
{
    SqlServerType t = typeOfServerTypeName(fixedLength ? u"char" : u"varchar", declaredBytes(characters, 1), 0, 0);
    if (t.isLong)
        return fetched(t, SQL_C_CHAR, 0, Edge::Variable);
    t.form = FetchForm::Utf8Text;
    t.valueBytes = size_t(t.size) * 3;
    return fetched(t, SQL_C_CHAR, SQLLEN(t.valueBytes + 1), Edge::Variable);
}

OdbcColumn wideText(SQLULEN characters, bool fixedLength = false)
{
    const SqlServerType t = typeOfServerTypeName(fixedLength ? u"nchar" : u"nvarchar", declaredBytes(characters, 2), 0, 0);
    return fetched(t, SQL_C_WCHAR, t.isLong ? 0 : SQLLEN(t.valueBytes + 2), Edge::Variable);
}

OdbcColumn bytes(SQLULEN length, bool fixedLength)
{
    const SqlServerType t = typeOfServerTypeName(fixedLength ? u"binary" : u"varbinary", declaredBytes(length, 1), 0, 0);
    return fetched(t, SQL_C_BINARY, SQLLEN(t.valueBytes), Edge::Variable);
}

OdbcColumn fixed(std::u16string_view name, SQLSMALLINT cType)
{
    const SqlServerType t = typeOfServerTypeName(name, 0, 0, 0);
    return fetched(t, cType, SQLLEN(t.valueBytes), Edge::Fixed);
}

// "hh:mm:ss[.fffffff]"
bool ticksFromText(const std::string &text, std::int64_t &ticks)
{
    unsigned h = 0, m = 0, s = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%u:%u:%u%n", &h, &m, &s, &used) != 3)
        return false;
    std::uint32_t nanoseconds = 0;
    if (text[size_t(used)] == '.') {
        int places = 0;
        for (size_t i = size_t(used) + 1; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && places < 9; ++i, ++places)
            nanoseconds = nanoseconds * 10 + std::uint32_t(text[i] - '0');
        for (; places < 9; ++places)
            nanoseconds *= 10;
    }
    ticks = ticksFromTime(h, m, s, nanoseconds);
    return true;
}

// The driver writes decimals and money as plain "[-]digits[.digits]": those
// of up to 18 digits with no more fraction digits than `scale` are read here
// as a scaled integer, sparing the general parser on every fetched row.
bool scaledFromPlainText(std::string_view text, int scale, std::int64_t &scaled)
{
    const bool negative = !text.empty() && text.front() == '-';
    std::int64_t magnitude = 0;
    int digits = 0, fraction = -1;
    for (size_t i = negative ? 1 : 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && fraction < 0) {
            fraction = 0;
            continue;
        }
        if (c < '0' || c > '9' || ++digits > 18)
            return false;
        magnitude = magnitude * 10 + (c - '0');
        fraction += fraction >= 0;
    }
    fraction = std::max(fraction, 0);
    if (digits == 0 || fraction > scale || digits - fraction + scale > 18)
        return false;
    for (; fraction < scale; ++fraction)
        magnitude *= 10;
    scaled = negative ? -magnitude : magnitude;
    return true;
}

// A decimal's or money's or time's text, SQL_C_CHAR with its terminator.
bool fromText(const OdbcColumn &column, unsigned char *value, SQLLEN indicator)
{
    const SQLLEN room = column.fetchBytes - 1;
    const std::string_view text(reinterpret_cast<const char *>(value),
                                size_t(indicator == SQL_NO_TOTAL || indicator > room ? room : std::max<SQLLEN>(indicator, 0)));
    std::int64_t scaled = 0;
    switch (column.edge) {
    case Edge::Money: {
        if (scaledFromPlainText(text, 4, scaled)) {
            rz::storeUnaligned(value, scaled);
            return true;
        }
        const auto units = currencyFromText(text);
        if (!units)
            return false;
        rz::storeUnaligned(value, *units);
        return true;
    }
    case Edge::Decimal: {
        if (scaledFromPlainText(text, column.type.scale, scaled)) {
            const uint64_t magnitude = scaled < 0 ? 0 - uint64_t(scaled) : uint64_t(scaled);
            rz::storeUnaligned(value, decimalFromInteger(magnitude, scaled < 0, column.type.precision, column.type.scale));
            return true;
        }
        const auto n = numericFromText(text, column.type.precision, column.type.scale);
        if (!n)
            return false;
        rz::storeUnaligned(value, decimalFromNumeric(*n, column.type.precision, column.type.scale));
        return true;
    }
    default: {
        std::int64_t ticks = 0;
        if (!ticksFromText(std::string(text), ticks))
            return false;
        rz::storeUnaligned(value, ticks);
        return true;
    }
    }
}

} // namespace

OdbcColumn odbcColumn(SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT decimalDigits, std::u16string_view typeName)
{
    const std::string name = lowerAscii(typeName);
    if (name == "money" || name == "smallmoney")
        return fetched(typeOfServerTypeName(u"money", 0, 0, 0), SQL_C_CHAR, 48, Edge::Money);
    if (name == "datetimeoffset" || sqlType == SQL_SS_TIMESTAMPOFFSET_TYPE)
        return wideText(34);
    if (name == "sql_variant" || sqlType == SQL_SS_VARIANT_TYPE)
        return wideText(8000);
    if (name == "xml" || sqlType == SQL_SS_XML_TYPE)
        return wideText(0);
    if (name == "time" || sqlType == SQL_SS_TIME2_TYPE)
        return fetched(typeOfServerTypeName(u"time", 0, 0, 0), SQL_C_CHAR, 32, Edge::Time);

    switch (sqlType) {
    case SQL_INTEGER: return fixed(u"int", SQL_C_SLONG);
    case SQL_SMALLINT: return fixed(u"smallint", SQL_C_SSHORT);
    case SQL_TINYINT: return fixed(u"tinyint", SQL_C_UTINYINT);
    case SQL_BIGINT: return fixed(u"bigint", SQL_C_SBIGINT);
    case SQL_BIT: return fixed(u"bit", SQL_C_BIT);
    case SQL_REAL: return fixed(u"real", SQL_C_FLOAT);
    case SQL_FLOAT:
    case SQL_DOUBLE: return fixed(u"float", SQL_C_DOUBLE);
    case SQL_GUID: return fixed(u"uniqueidentifier", SQL_C_GUID);
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return fetched(typeOfServerTypeName(u"decimal", 0, int(std::min<SQLULEN>(columnSize, 38)), decimalDigits),
                       SQL_C_CHAR, 48, Edge::Decimal);
    case SQL_CHAR: return narrowText(columnSize, true);
    case SQL_VARCHAR: return narrowText(columnSize, false);
    case SQL_LONGVARCHAR: return narrowText(0, false);
    case SQL_WCHAR: return wideText(columnSize, true);
    case SQL_WVARCHAR: return wideText(columnSize);
    case SQL_WLONGVARCHAR: return wideText(0);
    case SQL_BINARY: return bytes(columnSize, true);
    case SQL_VARBINARY: return bytes(columnSize, false);
    case SQL_LONGVARBINARY: return bytes(0, false);
    case SQL_TYPE_DATE: return fetched(typeOfServerTypeName(u"date", 0, 0, 0), SQL_C_TYPE_DATE, 6, Edge::Date);
    case SQL_TYPE_TIMESTAMP: {
        // datetime reports 3 fraction digits, smalldatetime 0, datetime2 up to 7.
        SqlServerType t = typeOfServerTypeName(u"datetime2", 0, 0, decimalDigits);
        t.precision = BYTE(columnSize ? columnSize : 23);
        t.scale = BYTE(decimalDigits < 0 ? 0 : decimalDigits);
        return fetched(t, SQL_C_TYPE_TIMESTAMP, 16, Edge::Timestamp);
    }
    default: break;
    }
    // Anything else the provider does not know travels as text.
    return wideText(columnSize && columnSize <= 4000 ? columnSize : 4000);
}

bool convertDriverForm(const OdbcColumn &column, unsigned char *value, SQLLEN indicator)
{
    switch (column.edge) {
    case Edge::Timestamp: {
        const auto ts = rz::loadUnaligned<SQL_TIMESTAMP_STRUCT>(value);
        rz::tds::DateTimeValue dt;
        dt.days = daysFromDate(ts.year, ts.month, ts.day);
        dt.ticks = ticksFromTime(ts.hour, ts.minute, ts.second, ts.fraction);
        rz::storeUnaligned(value, dt);
        return true;
    }
    case Edge::Date: {
        const auto d = rz::loadUnaligned<SQL_DATE_STRUCT>(value);
        rz::storeUnaligned(value, daysFromDate(d.year, d.month, d.day));
        return true;
    }
    default:
        if (fromText(column, value, indicator))
            return true;
        addPendingDiagnostic(u"HY000", u"The ODBC driver sent a value the provider cannot read as its column's type.");
        return false;
    }
}

OdbcParameter odbcParameter(const ParameterValue &p)
{
    OdbcParameter o;
    o.inputOutput = !p.output ? SQL_PARAM_INPUT : p.input ? SQL_PARAM_INPUT_OUTPUT : SQL_PARAM_OUTPUT;
    o.value = &p.bytes;
    o.atExecution = p.atExecution;
    const auto as = [&](SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits = 0) {
        o.cType = cType;
        o.sqlType = sqlType;
        o.columnSize = size;
        o.decimalDigits = digits;
    };
    switch (p.type) {
    case DBTYPE_I1: as(SQL_C_STINYINT, SQL_SMALLINT, 5); break;
    case DBTYPE_I2: as(SQL_C_SSHORT, SQL_SMALLINT, 5); break;
    case DBTYPE_I4: as(SQL_C_SLONG, SQL_INTEGER, 10); break;
    case DBTYPE_I8: as(SQL_C_SBIGINT, SQL_BIGINT, 19); break;
    case DBTYPE_UI1: as(SQL_C_UTINYINT, SQL_TINYINT, 3); break;
    case DBTYPE_UI8: as(SQL_C_UBIGINT, SQL_BIGINT, 19); break;
    case DBTYPE_BOOL:
        as(SQL_C_BIT, SQL_BIT, 1);
        if (!p.isNull()) {
            o.converted.assign(1, rz::loadUnaligned<VARIANT_BOOL>(reinterpret_cast<const unsigned char *>(p.bytes.data())) ? 1 : 0);
            o.value = nullptr;
        }
        break;
    case DBTYPE_R4: as(SQL_C_FLOAT, SQL_REAL, 7); break;
    case DBTYPE_R8: as(SQL_C_DOUBLE, SQL_FLOAT, 15); break;
    case DBTYPE_NUMERIC:
        // Decimals travel as their text.
        as(SQL_C_CHAR, SQL_DECIMAL, p.precision, p.scale);
        if (!p.isNull()) {
            o.converted = textFromNumeric(rz::loadUnaligned<DB_NUMERIC>(reinterpret_cast<const unsigned char *>(p.bytes.data())));
            o.value = nullptr;
        }
        break;
    case DBTYPE_DBTIMESTAMP:
        // Size and digits of datetime make the driver send datetime (1/300 s).
        if (p.dateTime)
            as(SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3);
        else
            as(SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 27, 7);
        break;
    case DBTYPE_DBDATE: as(SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10); break;
    case DBTYPE_DBTIME: as(SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8); break;
    case DBTYPE_GUID: as(SQL_C_GUID, SQL_GUID, 36); break;
    case DBTYPE_BYTES:
        as(SQL_C_BINARY, p.isLong ? SQL_LONGVARBINARY : SQL_VARBINARY, std::max<SQLULEN>(p.bytes.size(), 1));
        break;
    default:
        as(SQL_C_WCHAR, p.isLong ? SQL_WLONGVARCHAR : SQL_WVARCHAR, std::max<SQLULEN>(p.bytes.size() / 2, 1));
        break;
    }
    // The driver writes an output value back into the buffer: one of our own.
    if (p.output && o.value) {
        o.converted = *o.value;
        o.value = nullptr;
    }
    switch (p.state) {
    case ParameterValue::State::Value:
        o.indicator = SQLLEN(o.bytes().size());
        break;
    case ParameterValue::State::Null:
    case ParameterValue::State::Default:
        o.indicator = p.state == ParameterValue::State::Null ? SQL_NULL_DATA : SQL_DEFAULT_PARAM;
        // A NULL goes with the server's type; only these need its size.
        if (p.type != DBTYPE_DBTIMESTAMP && p.type != DBTYPE_DBDATE && p.type != DBTYPE_NUMERIC)
            o.columnSize = 1;
        break;
    }
    return o;
}

} // namespace rz::provider
