#pragma once
// The ODBC backend's edge: how a column is fetched with SQLBindCol /
// SQLGetData (C type, bytes, the SQL Server type it reports) and how the
// driver's forms become the row record's; how a parameter value becomes
// what SQLBindParameter takes.

#include "provider/odbc/odbc.h"
#include "provider/resultstream.h"
#include "provider/values/parametervalues.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace rz::provider {

// SQL Server's own ODBC type codes (Microsoft's msodbcsql.h values).
constexpr SQLSMALLINT SQL_SS_VARIANT_TYPE = -150;
constexpr SQLSMALLINT SQL_SS_XML_TYPE = -152;
constexpr SQLSMALLINT SQL_SS_TIME2_TYPE = -154;
constexpr SQLSMALLINT SQL_SS_TIMESTAMPOFFSET_TYPE = -155;

struct OdbcColumn {
    // What becomes of the driver's value at the edge.
    enum class Edge {
        Fixed,      // already in the record's form
        Variable,   // text or bytes of the indicator's length, text with a terminator
        Money,      // decimal text -> units of 1/10000
        Decimal,    // decimal text -> rz::tds::DecimalValue
        Time,       // "hh:mm:ss[.fffffff]" -> ticks
        Timestamp,  // SQL_TIMESTAMP_STRUCT -> rz::tds::DateTimeValue
        Date,       // SQL_DATE_STRUCT -> days
    };
    SqlServerType type;
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLLEN fetchBytes = 0;  // room of one value in the fetch block (0 when long)
    Edge edge = Edge::Variable;
};

// A result column from SQLDescribeCol plus the driver's type name
// (SQL_DESC_TYPE_NAME), which tells money from decimal and the like.
OdbcColumn odbcColumn(SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT decimalDigits, std::u16string_view typeName);

// A value that is not NULL turned from the driver's form into the record's
// where it lies; false with a pending diagnostic when the driver's text is
// no value of the type. For the edges other than Fixed and Variable.
bool convertDriverForm(const OdbcColumn &column, unsigned char *value, SQLLEN indicator);

// The value SQLFetch or SQLGetData left in a row record (the indicator in
// the length slot, the value in the value slot, which has room for both
// forms) turned into the record's form with its length and status. False
// with a pending diagnostic when the driver's text is no value of the type.
// Inline: it runs for every value of every row.
inline bool toRecordForm(const OdbcColumn &column, const ColumnDescription &place, unsigned char *row)
{
    SQLLEN indicator;
    std::memcpy(&indicator, row + place.lengthOffset, sizeof indicator);
    CellStatus status = CellStatus::Ok;
    std::uint64_t length = column.type.valueBytes;
    if (indicator == SQL_NULL_DATA) {
        status = CellStatus::Null;
        length = 0;
    } else if (column.edge == OdbcColumn::Edge::Variable) {
        if (indicator == SQL_NO_TOTAL || indicator > SQLLEN(column.type.valueBytes))
            status = CellStatus::Truncated;
        length = indicator == SQL_NO_TOTAL ? column.type.valueBytes : std::uint64_t(indicator < 0 ? 0 : indicator);
    } else if (column.edge != OdbcColumn::Edge::Fixed
               && !convertDriverForm(column, row + place.valueOffset, indicator)) {
        return false;
    }
    std::memcpy(row + place.lengthOffset, &length, sizeof length);
    std::memcpy(row + place.statusOffset, &status, sizeof status);
    return true;
}

// One value as SQLBindParameter takes it; it and the ParameterValue it was
// made from must stay where they are until the statement has run.
struct OdbcParameter {
    SQLSMALLINT inputOutput = SQL_PARAM_INPUT;
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLSMALLINT sqlType = SQL_WVARCHAR;
    SQLULEN columnSize = 1;
    SQLSMALLINT decimalDigits = 0;
    SQLLEN indicator = 0;        // SQL_NULL_DATA, SQL_DEFAULT_PARAM or the byte length
    bool atExecution = false;
    const std::string *value = nullptr; // the ParameterValue's bytes, when ODBC takes them as they are
    std::string converted;              // else the value in the C type's form

    const std::string &bytes() const { return value ? *value : converted; }
};

OdbcParameter odbcParameter(const ParameterValue &value);

} // namespace rz::provider
