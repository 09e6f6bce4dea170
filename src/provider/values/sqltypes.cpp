#include "provider/values/sqltypes.h"

#include <cctype>

namespace rz::provider {

namespace {

std::string lowerAscii(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text)
        out += c < 128 ? char(std::tolower(int(c))) : '?';
    return out;
}

SqlServerType fixed(DBTYPE dbType, DBLENGTH size, BYTE precision, FetchForm form, SQLSMALLINT cType, SQLLEN bytes)
{
    SqlServerType t;
    t.dbType = dbType;
    t.size = size;
    t.precision = precision;
    t.form = form;
    t.cType = cType;
    t.fetchBytes = bytes;
    return t;
}

// Text and binary types; length is in characters for text, bytes for binary,
// 0 or huge meaning unlimited.
SqlServerType variable(DBTYPE dbType, SQLULEN length, bool fixedLength)
{
    SqlServerType t;
    t.dbType = dbType;
    t.fixedLength = fixedLength;
    const bool unlimited = length == 0 || length > 8000;
    if (unlimited) {
        t.size = kUnlimitedLength;
        t.isLong = true;
        t.fixedLength = false;
    } else {
        t.size = length;
    }
    switch (dbType) {
    case DBTYPE_STR:
        // Long text reaches the consumer as a stream of the column's own
        // bytes (Windows-1252), as the TDS client hands it on; the driver's
        // UTF-8 is turned back when the value is read.
        t.form = unlimited ? FetchForm::CodePageText : FetchForm::Utf8Text;
        t.cType = SQL_C_CHAR;
        // A code-page character may take up to three bytes in UTF-8.
        t.fetchBytes = unlimited ? 0 : SQLLEN(length * 3 + 1);
        break;
    case DBTYPE_WSTR:
        t.form = FetchForm::Utf16Text;
        t.cType = SQL_C_WCHAR;
        t.fetchBytes = unlimited ? 0 : SQLLEN((length + 1) * 2);
        break;
    default:
        t.form = FetchForm::Binary;
        t.cType = SQL_C_BINARY;
        t.fetchBytes = unlimited ? 0 : SQLLEN(length);
        break;
    }
    return t;
}

SqlServerType textValue(DBLENGTH characters)
{
    return variable(DBTYPE_WSTR, characters, false);
}

SqlServerType decimalType(SQLULEN precision, SQLSMALLINT scale)
{
    SqlServerType t = fixed(DBTYPE_NUMERIC, 19, BYTE(precision ? precision : 18), FetchForm::NumericText, SQL_C_CHAR, 48);
    t.scale = BYTE(scale < 0 ? 0 : scale);
    return t;
}

SqlServerType moneyType()
{
    SqlServerType t = fixed(DBTYPE_CY, 8, 19, FetchForm::MoneyText, SQL_C_CHAR, 48);
    t.scale = 4;
    return t;
}

SqlServerType timestampType(BYTE precision, BYTE scale)
{
    SqlServerType t = fixed(DBTYPE_DBTIMESTAMP, 16, precision, FetchForm::Timestamp, SQL_C_TYPE_TIMESTAMP, 16);
    t.scale = scale;
    return t;
}

} // namespace

SqlServerType typeOfColumn(SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT decimalDigits,
                           std::u16string_view typeName)
{
    const std::string name = lowerAscii(typeName);
    if (name == "money" || name == "smallmoney")
        return moneyType();
    if (name == "datetimeoffset" || sqlType == SQL_SS_TIMESTAMPOFFSET_TYPE)
        return textValue(34);
    if (name == "sql_variant" || sqlType == SQL_SS_VARIANT_TYPE)
        return textValue(8000);
    if (name == "xml" || sqlType == SQL_SS_XML_TYPE)
        return variable(DBTYPE_WSTR, 0, false);
    if (name == "time" || sqlType == SQL_SS_TIME2_TYPE)
        return fixed(DBTYPE_DBTIME, 6, 0xFF, FetchForm::TimeText, SQL_C_CHAR, 32);

    switch (sqlType) {
    case SQL_INTEGER: return fixed(DBTYPE_I4, 4, 10, FetchForm::Int32, SQL_C_SLONG, 4);
    case SQL_SMALLINT: return fixed(DBTYPE_I2, 2, 5, FetchForm::Int16, SQL_C_SSHORT, 2);
    case SQL_TINYINT: return fixed(DBTYPE_UI1, 1, 3, FetchForm::UInt8, SQL_C_UTINYINT, 1);
    case SQL_BIGINT: return fixed(DBTYPE_I8, 8, 19, FetchForm::Int64, SQL_C_SBIGINT, 8);
    case SQL_BIT: return fixed(DBTYPE_BOOL, 2, 0xFF, FetchForm::Bit, SQL_C_BIT, 1);
    case SQL_REAL: return fixed(DBTYPE_R4, 4, 7, FetchForm::Float32, SQL_C_FLOAT, 4);
    case SQL_FLOAT:
    case SQL_DOUBLE: return fixed(DBTYPE_R8, 8, 15, FetchForm::Float64, SQL_C_DOUBLE, 8);
    case SQL_DECIMAL:
    case SQL_NUMERIC: return decimalType(columnSize, decimalDigits);
    case SQL_CHAR: return variable(DBTYPE_STR, columnSize, true);
    case SQL_VARCHAR: return variable(DBTYPE_STR, columnSize, false);
    case SQL_LONGVARCHAR: return variable(DBTYPE_STR, 0, false);
    case SQL_WCHAR: return variable(DBTYPE_WSTR, columnSize, true);
    case SQL_WVARCHAR: return variable(DBTYPE_WSTR, columnSize, false);
    case SQL_WLONGVARCHAR: return variable(DBTYPE_WSTR, 0, false);
    case SQL_BINARY: return variable(DBTYPE_BYTES, columnSize, true);
    case SQL_VARBINARY: return variable(DBTYPE_BYTES, columnSize, false);
    case SQL_LONGVARBINARY: return variable(DBTYPE_BYTES, 0, false);
    case SQL_TYPE_DATE: return fixed(DBTYPE_DBDATE, 6, 10, FetchForm::Date, SQL_C_TYPE_DATE, 6);
    case SQL_TYPE_TIMESTAMP:
        // datetime reports 3 fraction digits, smalldatetime 0, datetime2 up to 7.
        return timestampType(BYTE(columnSize ? columnSize : 23), BYTE(decimalDigits < 0 ? 0 : decimalDigits));
    case SQL_GUID: return fixed(DBTYPE_GUID, 16, 0xFF, FetchForm::Guid, SQL_C_GUID, 16);
    default: break;
    }
    // Anything else the provider does not know travels as text.
    return textValue(columnSize && columnSize <= 4000 ? columnSize : 4000);
}

SqlServerType typeOfServerTypeName(std::u16string_view typeName, int maxLength, int precision, int scale)
{
    std::string name = lowerAscii(typeName);
    const size_t paren = name.find('(');
    const bool isMax = name.find("(max)") != std::string::npos || maxLength == -1;
    if (paren != std::string::npos)
        name.resize(paren);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();

    const SQLULEN bytes = isMax ? 0 : SQLULEN(maxLength < 0 ? 0 : maxLength);
    if (name == "int") return typeOfColumn(SQL_INTEGER, 10, 0, {});
    if (name == "smallint") return typeOfColumn(SQL_SMALLINT, 5, 0, {});
    if (name == "tinyint") return typeOfColumn(SQL_TINYINT, 3, 0, {});
    if (name == "bigint") return typeOfColumn(SQL_BIGINT, 19, 0, {});
    if (name == "bit") return typeOfColumn(SQL_BIT, 1, 0, {});
    if (name == "real") return typeOfColumn(SQL_REAL, 7, 0, {});
    if (name == "float") return typeOfColumn(SQL_FLOAT, 15, 0, {});
    if (name == "decimal" || name == "numeric") return decimalType(SQLULEN(precision), SQLSMALLINT(scale));
    if (name == "money" || name == "smallmoney") return moneyType();
    if (name == "char") return variable(DBTYPE_STR, bytes, true);
    if (name == "varchar") return variable(DBTYPE_STR, bytes, false);
    if (name == "text") return variable(DBTYPE_STR, 0, false);
    if (name == "nchar") return variable(DBTYPE_WSTR, bytes / 2, true);
    if (name == "nvarchar" || name == "sysname") return variable(DBTYPE_WSTR, bytes / 2, false);
    if (name == "ntext" || name == "xml") return variable(DBTYPE_WSTR, 0, false);
    if (name == "binary") return variable(DBTYPE_BYTES, bytes, true);
    if (name == "varbinary") return variable(DBTYPE_BYTES, bytes, false);
    if (name == "image") return variable(DBTYPE_BYTES, 0, false);
    if (name == "timestamp" || name == "rowversion") return variable(DBTYPE_BYTES, 8, true);
    if (name == "date") return typeOfColumn(SQL_TYPE_DATE, 10, 0, {});
    if (name == "datetime") {
        SqlServerType t = timestampType(23, 3);
        t.threeHundredths = true;
        return t;
    }
    if (name == "smalldatetime") return timestampType(16, 0);
    if (name == "datetime2") {
        const int digits = scale < 0 || scale > 7 ? 7 : scale;
        return timestampType(BYTE(19 + (digits > 0 ? digits + 1 : 0)), BYTE(digits));
    }
    if (name == "time") return typeOfColumn(SQL_SS_TIME2_TYPE, 16, SQLSMALLINT(scale), u"time");
    if (name == "datetimeoffset") return textValue(34);
    if (name == "sql_variant") return textValue(8000);
    if (name == "uniqueidentifier") return typeOfColumn(SQL_GUID, 36, 0, {});
    return textValue(4000);
}

} // namespace rz::provider
