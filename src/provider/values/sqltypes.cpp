#include "provider/values/sqltypes.h"

#include "tds/typeinfo.h"

#include <cctype>
#include <string>

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

SqlServerType fixed(DBTYPE dbType, DBLENGTH size, BYTE precision, FetchForm form, size_t bytes)
{
    SqlServerType t;
    t.dbType = dbType;
    t.size = size;
    t.precision = precision;
    t.form = form;
    t.valueBytes = bytes;
    return t;
}

// Text and binary types; length is in characters for text, bytes for binary,
// 0 or huge meaning unlimited.
SqlServerType variable(DBTYPE dbType, size_t length, bool fixedLength)
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
    const size_t bytes = unlimited ? 0 : length;
    switch (dbType) {
    case DBTYPE_STR: t.form = FetchForm::CodePageText; t.valueBytes = bytes; break;
    case DBTYPE_WSTR: t.form = FetchForm::Utf16Text; t.valueBytes = bytes * 2; break;
    default: t.form = FetchForm::Binary; t.valueBytes = bytes; break;
    }
    return t;
}

SqlServerType textValue(size_t characters) { return variable(DBTYPE_WSTR, characters, false); }

SqlServerType timestampType(BYTE precision, BYTE scale)
{
    SqlServerType t = fixed(DBTYPE_DBTIMESTAMP, 16, precision, FetchForm::DateTimeParts, sizeof(rz::tds::DateTimeValue));
    t.scale = scale;
    return t;
}

} // namespace

SqlServerType typeOfServerTypeName(std::u16string_view typeName, int maxLength, int precision, int scale)
{
    std::string name = lowerAscii(typeName);
    const size_t paren = name.find('(');
    const bool isMax = name.find("(max)") != std::string::npos || maxLength == -1;
    if (paren != std::string::npos)
        name.resize(paren);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();

    const size_t bytes = isMax ? 0 : size_t(maxLength < 0 ? 0 : maxLength);
    if (name == "int") return fixed(DBTYPE_I4, 4, 10, FetchForm::Int32, 4);
    if (name == "smallint") return fixed(DBTYPE_I2, 2, 5, FetchForm::Int16, 2);
    if (name == "tinyint") return fixed(DBTYPE_UI1, 1, 3, FetchForm::UInt8, 1);
    if (name == "bigint") return fixed(DBTYPE_I8, 8, 19, FetchForm::Int64, 8);
    if (name == "bit") return fixed(DBTYPE_BOOL, 2, 0xFF, FetchForm::Bit, 1);
    if (name == "real") return fixed(DBTYPE_R4, 4, 7, FetchForm::Float32, 4);
    if (name == "float") return fixed(DBTYPE_R8, 8, 15, FetchForm::Float64, 8);
    if (name == "decimal" || name == "numeric") {
        SqlServerType t = fixed(DBTYPE_NUMERIC, 19, BYTE(precision > 0 ? precision : 18), FetchForm::DecimalParts,
                                sizeof(rz::tds::DecimalValue));
        t.scale = BYTE(scale < 0 ? 0 : scale);
        return t;
    }
    if (name == "money" || name == "smallmoney") {
        SqlServerType t = fixed(DBTYPE_CY, 8, 19, FetchForm::MoneyUnits, 8);
        t.scale = 4;
        return t;
    }
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
    if (name == "date") return fixed(DBTYPE_DBDATE, 6, 10, FetchForm::DateDays, 4);
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
    if (name == "time") return fixed(DBTYPE_DBTIME, 6, 0xFF, FetchForm::TimeTicks, 8);
    if (name == "datetimeoffset") return textValue(34);
    if (name == "sql_variant") return textValue(8000);
    if (name == "uniqueidentifier") return fixed(DBTYPE_GUID, 16, 0xFF, FetchForm::Guid, 16);
    return textValue(4000);
}

} // namespace rz::provider
