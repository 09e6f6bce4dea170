#pragma once
// SQL Server types as OLE DB describes them, and how each is fetched from
// ODBC. Sizes are in characters for text and in bytes otherwise; unlimited
// types report the largest DBLENGTH.

#include "platform/sdk/oledb.h"

#include "provider/odbc/odbc.h"

#include <string>
#include <string_view>

namespace rz::provider {

// SQL Server's own ODBC type codes (Microsoft's msodbcsql.h values).
constexpr SQLSMALLINT SQL_SS_VARIANT_TYPE = -150;
constexpr SQLSMALLINT SQL_SS_XML_TYPE = -152;
constexpr SQLSMALLINT SQL_SS_TIME2_TYPE = -154;
constexpr SQLSMALLINT SQL_SS_TIMESTAMPOFFSET_TYPE = -155;

constexpr DBLENGTH kUnlimitedLength = ~DBLENGTH(0);

// How a value travels from the ODBC driver into the provider's row buffer.
enum class FetchForm {
    Int16, Int32, UInt8, Int64, Bit, Float32, Float64,
    MoneyText,    // decimal text, scaled to four places
    NumericText,  // decimal text, scaled to the column's scale
    Utf8Text,     // SQL_C_CHAR (the connection's client character set is UTF-8)
    Utf16Text,    // SQL_C_WCHAR
    Binary,
    Timestamp, Date,
    TimeText,     // "hh:mm:ss[.fffffff]"
    Guid,
    // The TDS client's forms (tds/typeinfo.h), written by the token decoder.
    CodePageText,   // 8-bit text in the column's code page (Windows-1252)
    MoneyUnits,     // int64_t in units of 1/10000
    DecimalParts,   // rz::tds::DecimalValue
    DateDays,       // int32_t days since 0001-01-01
    TimeTicks,      // int64_t 100 ns ticks since midnight
    DateTimeParts,  // rz::tds::DateTimeValue
    DateTimeOffsetParts, // rz::tds::DateTimeValue, UTC with the zone's offset
    VariantBytes,   // sql_variant as it travels: base type, properties, value
};

struct SqlServerType {
    DBTYPE dbType = DBTYPE_WSTR;
    DBLENGTH size = 0;              // what IColumnsInfo / GetParameterInfo report
    BYTE precision = 0xFF;
    BYTE scale = 0xFF;
    bool fixedLength = true;
    bool isLong = false;            // unlimited: fetched with SQLGetData, not in the block
    FetchForm form = FetchForm::Utf16Text;
    SQLSMALLINT cType = SQL_C_WCHAR; // the C type for SQLBindCol / SQLGetData
    SQLLEN fetchBytes = 0;          // bytes of one value in the fetch block (0 when long)
    bool terminated = true;         // text in the block ends with a terminator the length leaves out
    BYTE fractionDigits = 7;        // time, datetime2, datetimeoffset: the places their text shows
    bool threeHundredths = false;   // datetime, whose time counts 1/300 s (datetime2(3) looks the same otherwise)
};

// A result column from SQLDescribeCol plus the driver's type name
// (SQL_DESC_TYPE_NAME), which tells money from decimal and the like.
SqlServerType typeOfColumn(SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT decimalDigits,
                           std::u16string_view typeName);

// A parameter as sp_describe_undeclared_parameters suggests it: the type name
// ("nvarchar(10)", "decimal(9,2)", "varbinary(max)"), the maximum length in
// bytes (-1 for max), precision and scale.
SqlServerType typeOfServerTypeName(std::u16string_view typeName, int maxLength, int precision, int scale);

} // namespace rz::provider
