#include "tds/typeinfo.h"

#include "common/bytes.h"
#include "tds/error.h"
#include "tds/wirereader.h"

#include <array>
#include <iterator>

namespace rz::tds {

namespace {

constexpr int32_t kLastDay = 3652058;   // 9999-12-31 in days since 0001-01-01

int64_t scaledTicks(uint64_t units, uint8_t scale)
{
    static const int64_t factor[] = {10000000, 1000000, 100000, 10000, 1000, 100, 10, 1};
    return int64_t(units) * factor[scale];
}

int32_t checkedDate(uint64_t days)
{
    if (days > uint64_t(kLastDay))
        throwProtocol("date beyond 9999-12-31");
    return int32_t(days);
}

int64_t checkedTime(uint64_t units, uint8_t scale)
{
    const int64_t ticks = scaledTicks(units, scale);
    if (ticks >= kTicksPerDay)
        throwProtocol("time of day beyond 24 hours");
    return ticks;
}

// The readers, one per wire encoding (MS-TDS 2.2.5.5.1).

void readTinyInt(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    *value = reader.u8();
}

void readBit(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    *value = reader.u8() ? 1 : 0;
}

void readSmallInt(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    storeUnaligned(value, int16_t(reader.u16le()));
}

void readInt(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    storeUnaligned(value, int32_t(reader.u32le()));
}

void readBigInt(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    storeUnaligned(value, int64_t(reader.u64le()));
}

// IEEE 754 in the wire's byte order, which is the host's: the bits as they are.
void readReal(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    storeUnaligned(value, reader.u32le());
}

void readFloat(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    storeUnaligned(value, reader.u64le());
}

// money: the high 32 bits first.
void readMoney(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    const uint32_t high = reader.u32le();
    const uint32_t low = reader.u32le();
    storeUnaligned(value, int64_t((uint64_t(high) << 32) | low));
}

void readSmallMoney(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    storeUnaligned(value, int64_t(int32_t(reader.u32le())));
}

void readDecimal(WireReader &reader, const TypeInfo &type, uint32_t length, uint8_t *value)
{
    if (length < 1 || length > 17)
        throwProtocol("decimal value of " + std::to_string(length) + " bytes");
    DecimalValue v;
    v.precision = type.precision;
    v.scale = type.scale;
    const uint8_t sign = reader.u8();
    if (sign > 1)
        throwProtocol("decimal sign byte " + std::to_string(sign));
    v.negative = sign == 0;
    const int magnitude = int(length) - 1;
    v.low = magnitude > 0 ? reader.le(magnitude < 8 ? magnitude : 8) : 0;
    v.high = magnitude > 8 ? reader.le(magnitude - 8) : 0;
    storeUnaligned(value, v);
}

void readDate(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    storeUnaligned(value, checkedDate(reader.le(3)));
}

void readTime(WireReader &reader, const TypeInfo &type, uint32_t length, uint8_t *value)
{
    storeUnaligned(value, checkedTime(reader.le(int(length)), type.scale));
}

// datetime: days since 1900-01-01 and 1/300 s since midnight.
void readDateTime(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    const int32_t days = int32_t(reader.u32le());
    const uint32_t fraction = reader.u32le();
    if (days < kDateTimeFirstDay || days > kDateTimeLastDay || fraction >= kDateTimeFractionsPerDay)
        throwProtocol("datetime out of range");
    DateTimeValue v;
    v.days = kDaysTo1900 + days;
    v.ticks = ticksFromDateTimeFraction(fraction);
    storeUnaligned(value, v);
}

// smalldatetime: days since 1900-01-01 and minutes since midnight.
void readSmallDateTime(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    const uint16_t days = reader.u16le();
    const uint16_t minutes = reader.u16le();
    if (minutes >= 1440)
        throwProtocol("smalldatetime minutes out of range");
    DateTimeValue v;
    v.days = kDaysTo1900 + days;
    v.ticks = int64_t(minutes) * 600000000;
    storeUnaligned(value, v);
}

// datetime2 and datetimeoffset: the time part, then the date; then the offset.
DateTimeValue readScaledDateTime(WireReader &reader, const TypeInfo &type)
{
    DateTimeValue v;
    v.ticks = checkedTime(reader.le(timeLengthForScale(type.scale)), type.scale);
    v.days = checkedDate(reader.le(3));
    return v;
}

void readDateTime2(WireReader &reader, const TypeInfo &type, uint32_t, uint8_t *value)
{
    storeUnaligned(value, readScaledDateTime(reader, type));
}

void readDateTimeOffset(WireReader &reader, const TypeInfo &type, uint32_t, uint8_t *value)
{
    DateTimeValue v = readScaledDateTime(reader, type);
    v.offsetMinutes = int16_t(reader.u16le());
    if (v.offsetMinutes < -840 || v.offsetMinutes > 840)
        throwProtocol("time zone offset of " + std::to_string(v.offsetMinutes) + " minutes");
    storeUnaligned(value, v);
}

void readGuid(WireReader &reader, const TypeInfo &, uint32_t, uint8_t *value)
{
    reader.read(value, 16);
}

using namespace wiretype;
using K = ValueKind;
using I = InfoLayout;
using L = LengthClass;

constexpr uint8_t kText = TypeRule::Collation;
constexpr uint8_t kNeverMax = TypeRule::NeverMax;
constexpr uint8_t kShorter = TypeRule::ShorterValues;

// code, name, TYPE_INFO, value length, size, kind, flags, reader, forms
constexpr TypeRule kRules[] = {
    {Int1, "tinyint", I::None, L::Fixed, 1, K::UInt8, 0, readTinyInt, {}},
    {Bit, "bit", I::None, L::Fixed, 1, K::Bit, 0, readBit, {}},
    {Int2, "smallint", I::None, L::Fixed, 2, K::Int16, 0, readSmallInt, {}},
    {Int4, "int", I::None, L::Fixed, 4, K::Int32, 0, readInt, {}},
    {Int8, "bigint", I::None, L::Fixed, 8, K::Int64, 0, readBigInt, {}},
    {Flt4, "real", I::None, L::Fixed, 4, K::Float32, 0, readReal, {}},
    {Flt8, "float", I::None, L::Fixed, 8, K::Float64, 0, readFloat, {}},
    {Money, "money", I::None, L::Fixed, 8, K::Money, 0, readMoney, {}},
    {Money4, "smallmoney", I::None, L::Fixed, 4, K::Money, 0, readSmallMoney, {}},
    {DateTime, "datetime", I::None, L::Fixed, 8, K::DateTime, 0, readDateTime, {}},
    {DateTim4, "smalldatetime", I::None, L::Fixed, 4, K::DateTime, 0, readSmallDateTime, {}},

    {IntN, "intn", I::ByteLength, L::Byte, 0, K::Int32, 0, nullptr, {Int1, Int2, Int4, Int8}},
    {BitN, "bitn", I::ByteLength, L::Byte, 0, K::Bit, 0, nullptr, {Bit}},
    {FltN, "fltn", I::ByteLength, L::Byte, 0, K::Float64, 0, nullptr, {Flt4, Flt8}},
    {MoneyN, "moneyn", I::ByteLength, L::Byte, 0, K::Money, 0, nullptr, {Money4, Money}},
    {DateTimeN, "datetimn", I::ByteLength, L::Byte, 0, K::DateTime, 0, nullptr, {DateTim4, DateTime}},
    {Guid, "uniqueidentifier", I::ByteLength, L::Byte, 16, K::Guid, 0, readGuid, {}},
    {Decimal, "decimal", I::DecimalLength, L::Byte, 0, K::Decimal, kShorter, readDecimal, {}},
    {DecimalN, "decimal", I::DecimalLength, L::Byte, 0, K::Decimal, kShorter, readDecimal, {}},
    {Numeric, "numeric", I::DecimalLength, L::Byte, 0, K::Decimal, kShorter, readDecimal, {}},
    {NumericN, "numeric", I::DecimalLength, L::Byte, 0, K::Decimal, kShorter, readDecimal, {}},
    {DateN, "date", I::None, L::Byte, 3, K::Date, 0, readDate, {}},
    {TimeN, "time", I::Scale, L::Byte, 0, K::Time, 0, readTime, {}},
    {DateTime2N, "datetime2", I::Scale, L::Byte, 3, K::DateTime, 0, readDateTime2, {}},
    {DateTimeOffsetN, "datetimeoffset", I::Scale, L::Byte, 5, K::DateTimeOffset, 0, readDateTimeOffset, {}},

    {BigVarChar, "varchar", I::UShortLength, L::UShort, 0, K::Bytes, kText, nullptr, {}},
    {BigChar, "char", I::UShortLength, L::UShort, 0, K::Bytes, kText | kNeverMax, nullptr, {}},
    {NVarChar, "nvarchar", I::UShortLength, L::UShort, 0, K::Utf16, kText, nullptr, {}},
    {NChar, "nchar", I::UShortLength, L::UShort, 0, K::Utf16, kText | kNeverMax, nullptr, {}},
    {BigVarBinary, "varbinary", I::UShortLength, L::UShort, 0, K::Bytes, 0, nullptr, {}},
    {BigBinary, "binary", I::UShortLength, L::UShort, 0, K::Bytes, kNeverMax, nullptr, {}},
    {Xml, "xml", I::XmlSchema, L::UShort, 0, K::Utf16, 0, nullptr, {}},

    {Text, "text", I::LongLength, L::TextPointer, 0, K::Bytes, kText, nullptr, {}},
    {NText, "ntext", I::LongLength, L::TextPointer, 0, K::Utf16, kText, nullptr, {}},
    {Image, "image", I::LongLength, L::TextPointer, 0, K::Bytes, 0, nullptr, {}},
    {Variant, "sql_variant", I::LongLength, L::Long, 0, K::Bytes, 0, nullptr, {}},
};

constexpr uint8_t kNoRule = 0xFF;

constexpr std::array<uint8_t, 256> ruleIndex()
{
    std::array<uint8_t, 256> index{};
    for (auto &i : index)
        i = kNoRule;
    for (size_t i = 0; i < std::size(kRules); ++i)
        index[kRules[i].code] = uint8_t(i);
    return index;
}

constexpr std::array<uint8_t, 256> kRuleIndex = ruleIndex();

constexpr bool rulesAreConsistent()
{
    for (const TypeRule &rule : kRules) {
        const bool fixedKind = rule.kind != K::Bytes && rule.kind != K::Utf16;
        if (rule.forms[0] == 0 && fixedKind != (rule.read != nullptr))
            return false;   // a fixed kind needs a reader, a variable one has none
        if ((rule.length == L::Fixed || rule.length == L::Byte) && !fixedKind && !rule.forms[0])
            return false;   // values framed as fixed ones are read by a reader
        if (rule.forms[0] != 0 && (rule.read || rule.info != I::ByteLength))
            return false;   // a nullable form reads through its fixed types' rows
        for (uint8_t form : rule.forms)
            if (form && (kRuleIndex[form] == kNoRule || kRules[kRuleIndex[form]].length != L::Fixed))
                return false;
    }
    return std::size(kRules) < kNoRule;
}
static_assert(rulesAreConsistent(), "a type row contradicts itself");

} // namespace

const TypeRule *findTypeRule(uint8_t code)
{
    const uint8_t i = kRuleIndex[code];
    return i == kNoRule ? nullptr : &kRules[i];
}

} // namespace rz::tds
