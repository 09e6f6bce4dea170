#pragma once
// TYPE_INFO of columns, return values and parameters, the form in which a
// value of each type is handed to the caller, and the table of type rules
// that decoding follows.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rz::tds {

class WireReader;
struct TypeInfo;

namespace wiretype {
constexpr uint8_t Null = 0x1F;
constexpr uint8_t Int1 = 0x30;
constexpr uint8_t Bit = 0x32;
constexpr uint8_t Int2 = 0x34;
constexpr uint8_t Int4 = 0x38;
constexpr uint8_t DateTim4 = 0x3A;
constexpr uint8_t Flt4 = 0x3B;
constexpr uint8_t Money = 0x3C;
constexpr uint8_t DateTime = 0x3D;
constexpr uint8_t Flt8 = 0x3E;
constexpr uint8_t Money4 = 0x7A;
constexpr uint8_t Int8 = 0x7F;
constexpr uint8_t Guid = 0x24;
constexpr uint8_t IntN = 0x26;
constexpr uint8_t BitN = 0x68;
constexpr uint8_t FltN = 0x6D;
constexpr uint8_t MoneyN = 0x6E;
constexpr uint8_t DateTimeN = 0x6F;
constexpr uint8_t Decimal = 0x37;
constexpr uint8_t Numeric = 0x3F;
constexpr uint8_t DecimalN = 0x6A;
constexpr uint8_t NumericN = 0x6C;
constexpr uint8_t DateN = 0x28;
constexpr uint8_t TimeN = 0x29;
constexpr uint8_t DateTime2N = 0x2A;
constexpr uint8_t DateTimeOffsetN = 0x2B;
constexpr uint8_t BigVarBinary = 0xA5;
constexpr uint8_t BigVarChar = 0xA7;
constexpr uint8_t BigBinary = 0xAD;
constexpr uint8_t BigChar = 0xAF;
constexpr uint8_t NVarChar = 0xE7;
constexpr uint8_t NChar = 0xEF;
constexpr uint8_t Xml = 0xF1;
constexpr uint8_t Image = 0x22;
constexpr uint8_t Text = 0x23;
constexpr uint8_t NText = 0x63;
constexpr uint8_t Variant = 0x62;
} // namespace wiretype

// How a decoded value is laid out for the caller. Fixed kinds have the size
// valueSize() gives; the variable kinds are the bytes as they arrived
// (8-bit text in the column's code page, UTF-16LE text, binary).
enum class ValueKind : uint8_t {
    UInt8,            // tinyint: uint8_t
    Int16,            // smallint: int16_t
    Int32,            // int: int32_t
    Int64,            // bigint: int64_t
    Bit,              // bit: uint8_t 0 or 1
    Float32,          // real: float
    Float64,          // float: double
    Decimal,          // decimal, numeric: DecimalValue
    Money,            // money, smallmoney: int64_t in units of 1/10000
    Date,             // date: int32_t days since 0001-01-01
    Time,             // time: int64_t 100 ns ticks since midnight
    DateTime,         // datetime, smalldatetime, datetime2: DateTimeValue
    DateTimeOffset,   // datetimeoffset: DateTimeValue, UTC with its offset
    Guid,             // uniqueidentifier: 16 bytes as on the wire (GUID memory layout)
    Bytes,            // char, varchar, text, binary, varbinary, image, sql_variant
    Utf16,            // nchar, nvarchar, ntext, xml: UTF-16LE
};

// decimal/numeric: magnitude as a 128-bit integer, value = ±magnitude / 10^scale.
struct DecimalValue {
    uint64_t low = 0;
    uint64_t high = 0;
    uint8_t precision = 0;
    uint8_t scale = 0;
    uint8_t negative = 0;
};

// Days since 0001-01-01 and 100 ns ticks since midnight; for datetimeoffset
// both are UTC and offsetMinutes is the zone the value was written in.
struct DateTimeValue {
    int64_t ticks = 0;
    int32_t days = 0;
    int16_t offsetMinutes = 0;
};

constexpr int32_t kDaysTo1900 = 693595;   // 0001-01-01 .. 1900-01-01
constexpr int64_t kTicksPerDay = 864000000000;
constexpr uint32_t kDateTimeFractionsPerDay = 300u * 86400u;
constexpr int32_t kDateTimeFirstDay = -53690;   // datetime's 1753-01-01, in days since 1900-01-01
constexpr int32_t kDateTimeLastDay = 2958463;   // 9999-12-31

// datetime's time of day (1/300 s since midnight) in 100 ns ticks, at the
// accuracy SQL Server documents and its clients show: rounded to whole
// milliseconds (.000, .003, .007). Exact ticks would read .006 for .007.
constexpr int64_t ticksFromDateTimeFraction(uint32_t threeHundredths)
{
    return (int64_t(threeHundredths) * 1000 + 150) / 300 * 10000;
}

// 100 ns ticks rounded to datetime's 1/300 s; kDateTimeFractionsPerDay when
// the value rounds up into the next day.
constexpr uint32_t dateTimeFractionFromTicks(int64_t ticks)
{
    return uint32_t((ticks * 300 + 5000000) / 10000000);
}

// Whether the value, rounded to 1/300 s, lies in datetime's range (1753-01-01
// to 9999-12-31 23:59:59.997).
constexpr bool fitsDateTime(const DateTimeValue &v)
{
    const int64_t day = int64_t(v.days) - kDaysTo1900 + (dateTimeFractionFromTicks(v.ticks) >= kDateTimeFractionsPerDay);
    return v.ticks >= 0 && v.ticks < kTicksPerDay && day >= kDateTimeFirstDay && day <= kDateTimeLastDay;
}

// The data types this client reads, one row each (MS-TDS 2.2.5.4 and
// 2.2.5.5): what TYPE_INFO carries, how a value announces its length, the
// value's size and the function that decodes a fixed value. readTypeInfo,
// TypeInfo::name and readValue follow these rows (typerules.cpp); nothing
// else decides per type code.

// What TYPE_INFO carries after the type byte (MS-TDS 2.2.5.6).
enum class InfoLayout : uint8_t {
    None,            // FIXEDLENTYPE, and date: the row's size
    ByteLength,      // BYTELEN_TYPE: one byte of length
    DecimalLength,   // a length byte, then precision and scale
    Scale,           // time, datetime2, datetimeoffset: the scale, which fixes the length
    UShortLength,    // USHORTLEN_TYPE: two bytes of length; 0xFFFF marks a PLP ((max)) type
    LongLength,      // LONGLEN_TYPE: four bytes of length
    XmlSchema,       // xml: an optional schema reference; always PLP
};

// How a value announces its length in a row (MS-TDS 2.2.5.2, TYPE_VARBYTE).
enum class LengthClass : uint8_t {
    Fixed,         // not at all: the type's size
    Byte,          // one byte, 0 for NULL
    UShort,        // two bytes, 0xFFFF for NULL; PLP chunks when the type is PLP
    TextPointer,   // a text pointer (empty for NULL) and timestamp, then four bytes (text, ntext, image)
    Long,          // four bytes, 0 for NULL (sql_variant)
};

// Decodes a fixed value of `length` wire bytes into `value`, in the layout
// of the row's ValueKind (valueSizeOf bytes); throws TdsError(Protocol) on a
// value its type cannot hold.
using FixedReader = void (*)(WireReader &reader, const TypeInfo &type, uint32_t length, uint8_t *value);

struct TypeRule {
    uint8_t code;                // wiretype::...
    const char *name;            // the SQL Server type name
    InfoLayout info;
    LengthClass length;
    // The value's bytes on the wire where the type fixes them (fixed types,
    // date, uniqueidentifier); for datetime2 and datetimeoffset the bytes
    // after the time part; 0 where TYPE_INFO says.
    uint8_t size;
    ValueKind kind;              // for nullable forms, their fixed types' rows say
    uint8_t flags;               // TypeRule::...
    FixedReader read;            // fixed kinds only
    // BYTELEN types that are the nullable form of fixed ones (INTN, FLTN,
    // MONEYN, DATETIMN, BITN): those fixed types; the declared length picks
    // one, whose row then gives the value's kind, reader and name.
    uint8_t forms[4];

    static constexpr uint8_t Collation = 1;      // TYPE_INFO ends with a collation (text)
    static constexpr uint8_t NeverMax = 2;       // char, nchar, binary: a declared length, never (max)
    static constexpr uint8_t ShorterValues = 4;  // decimal: a value may be shorter than declared
    bool has(uint8_t flag) const { return flags & flag; }
};

// The largest fixed value a reader produces.
constexpr size_t kMaxFixedValueSize = sizeof(DecimalValue);

struct Collation {
    std::array<uint8_t, 5> bytes{};
    uint32_t lcid() const { return uint32_t(bytes[0] | bytes[1] << 8 | (bytes[2] & 0x0F) << 16); }
    uint8_t sortId() const { return bytes[4]; }
    bool utf8() const { return bytes[3] & 0x04; }
};

struct TypeInfo {
    uint8_t type = 0;          // the wire type (wiretype::...)
    uint32_t maxLength = 0;    // declared byte length (variable types, INTN and the like)
    uint8_t precision = 0;
    uint8_t scale = 0;
    bool plp = false;          // (max) types: values come as partially length-prefixed chunks
    Collation collation;
    ValueKind kind = ValueKind::Bytes;
    // The type's row in the type table above, and the row its values
    // are read and named by: INT4's for an INTN of 4 bytes, the same row
    // for every type that is not a nullable form of fixed ones.
    const TypeRule *rule = nullptr;
    const TypeRule *valueRule = nullptr;

    // text/ntext/image, (max) types and xml: values that go to a long-value
    // sink or area, never into the row buffer.
    bool isLong() const { return plp || hasTextPointer(); }
    // text/ntext/image: values behind a text pointer.
    bool hasTextPointer() const { return rule && rule->length == LengthClass::TextPointer; }
    bool isVariableLength() const { return kind == ValueKind::Bytes || kind == ValueKind::Utf16; }
    // The size of a value of a fixed kind; 0 for the variable kinds.
    size_t valueSize() const;
    // "int", "nvarchar(max)", "decimal(18,4)", ... for messages and tests.
    std::string name() const;
};

size_t valueSizeOf(ValueKind kind);
// The row of a type code; null for a type this client does not know.
const TypeRule *findTypeRule(uint8_t code);
// Byte length of time(n) on the wire.
int timeLengthForScale(uint8_t scale);

// Reads TYPE_INFO; throws TdsError(Protocol) on a type this client does not know.
TypeInfo readTypeInfo(WireReader &reader);

} // namespace rz::tds
