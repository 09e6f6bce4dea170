#pragma once
// SQL Server types as OLE DB describes them, and the form in which a
// backend leaves each value in a row record. Sizes are in characters for
// text and in bytes otherwise; unlimited types report the largest DBLENGTH.

#include "platform/sdk/oledb.h"

#include <cstddef>
#include <string_view>

namespace rz::provider {

constexpr DBLENGTH kUnlimitedLength = ~DBLENGTH(0);

// How a value lies in a row record: the forms the TDS client decodes into.
// Every backend writes these; a backend whose library delivers other forms
// converts at its own edge.
enum class FetchForm {
    Int16, Int32, UInt8, Int64, Float32, Float64,
    Bit,            // one byte, 0 or 1
    Guid,           // GUID
    Utf16Text,      // UTF-16 code units
    Utf8Text,       // UTF-8 (a UTF-8 collation, or a library that hands text out so)
    CodePageText,   // 8-bit text in the column's code page (Windows-1252)
    Binary,
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
    bool isLong = false;            // unlimited: kept beside the row record, not in it
    FetchForm form = FetchForm::Utf16Text;
    size_t valueBytes = 0;          // room of one value in a row record (0 when long)
    BYTE fractionDigits = 7;        // time, datetime2, datetimeoffset: the places their text shows
    bool threeHundredths = false;   // datetime, whose time counts 1/300 s (datetime2(3) looks the same otherwise)
};

// A type as SQL Server names it ("nvarchar(10)", "decimal(9,2)",
// "varbinary(max)", as sp_describe_undeclared_parameters and the TDS
// client's column descriptions give it), the maximum length in bytes (-1 for
// max), precision and scale.
SqlServerType typeOfServerTypeName(std::u16string_view typeName, int maxLength, int precision, int scale);

} // namespace rz::provider
