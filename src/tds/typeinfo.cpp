#include "tds/typeinfo.h"

#include "tds/error.h"
#include "tds/wirereader.h"

namespace rz::tds {

namespace {

void readCollation(WireReader &reader, TypeInfo &info)
{
    reader.read(info.collation.bytes.data(), info.collation.bytes.size());
}

ValueKind integerKind(uint32_t length)
{
    switch (length) {
    case 1:
        return ValueKind::UInt8;
    case 2:
        return ValueKind::Int16;
    case 4:
        return ValueKind::Int32;
    case 8:
        return ValueKind::Int64;
    }
    throwProtocol("integer of " + std::to_string(length) + " bytes");
}

void requireLength(const TypeInfo &info, uint32_t a, uint32_t b)
{
    if (info.maxLength != a && info.maxLength != b)
        throwProtocol("type 0x" + std::to_string(info.type) + " with length " + std::to_string(info.maxLength));
}

} // namespace

int timeLengthForScale(uint8_t scale)
{
    return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

size_t valueSizeOf(ValueKind kind)
{
    switch (kind) {
    case ValueKind::UInt8:
    case ValueKind::Bit:
        return 1;
    case ValueKind::Int16:
        return 2;
    case ValueKind::Int32:
    case ValueKind::Float32:
    case ValueKind::Date:
        return 4;
    case ValueKind::Int64:
    case ValueKind::Float64:
    case ValueKind::Money:
    case ValueKind::Time:
        return 8;
    case ValueKind::Decimal:
        return sizeof(DecimalValue);
    case ValueKind::DateTime:
    case ValueKind::DateTimeOffset:
        return sizeof(DateTimeValue);
    case ValueKind::Guid:
        return 16;
    case ValueKind::Bytes:
    case ValueKind::Utf16:
        return 0;
    }
    return 0;
}

size_t TypeInfo::valueSize() const
{
    return valueSizeOf(kind);
}

TypeInfo readTypeInfo(WireReader &reader)
{
    using namespace wiretype;
    TypeInfo info;
    info.type = reader.u8();
    switch (info.type) {
    case Int1:
        info.maxLength = 1;
        info.kind = ValueKind::UInt8;
        break;
    case Bit:
        info.maxLength = 1;
        info.kind = ValueKind::Bit;
        break;
    case Int2:
        info.maxLength = 2;
        info.kind = ValueKind::Int16;
        break;
    case Int4:
        info.maxLength = 4;
        info.kind = ValueKind::Int32;
        break;
    case Int8:
        info.maxLength = 8;
        info.kind = ValueKind::Int64;
        break;
    case Flt4:
        info.maxLength = 4;
        info.kind = ValueKind::Float32;
        break;
    case Flt8:
        info.maxLength = 8;
        info.kind = ValueKind::Float64;
        break;
    case Money:
    case DateTime:
        info.maxLength = 8;
        info.kind = info.type == Money ? ValueKind::Money : ValueKind::DateTime;
        break;
    case Money4:
    case DateTim4:
        info.maxLength = 4;
        info.kind = info.type == Money4 ? ValueKind::Money : ValueKind::DateTime;
        break;
    case IntN:
        info.maxLength = reader.u8();
        info.kind = integerKind(info.maxLength);
        break;
    case BitN:
        info.maxLength = reader.u8();
        requireLength(info, 1, 1);
        info.kind = ValueKind::Bit;
        break;
    case FltN:
        info.maxLength = reader.u8();
        requireLength(info, 4, 8);
        info.kind = info.maxLength == 4 ? ValueKind::Float32 : ValueKind::Float64;
        break;
    case MoneyN:
        info.maxLength = reader.u8();
        requireLength(info, 4, 8);
        info.kind = ValueKind::Money;
        break;
    case DateTimeN:
        info.maxLength = reader.u8();
        requireLength(info, 4, 8);
        info.kind = ValueKind::DateTime;
        break;
    case Guid:
        info.maxLength = reader.u8();
        requireLength(info, 16, 16);
        info.kind = ValueKind::Guid;
        break;
    case Decimal:
    case Numeric:
    case DecimalN:
    case NumericN:
        info.maxLength = reader.u8();
        info.precision = reader.u8();
        info.scale = reader.u8();
        if (info.maxLength < 2 || info.maxLength > 17 || info.precision < 1 || info.precision > 38 ||
            info.scale > info.precision)
            throwProtocol("decimal type with length " + std::to_string(info.maxLength) + ", precision " +
                          std::to_string(info.precision) + ", scale " + std::to_string(info.scale));
        info.kind = ValueKind::Decimal;
        break;
    case DateN:
        info.maxLength = 3;
        info.kind = ValueKind::Date;
        break;
    case TimeN:
    case DateTime2N:
    case DateTimeOffsetN:
        info.scale = reader.u8();
        if (info.scale > 7)
            throwProtocol("time scale " + std::to_string(info.scale));
        info.maxLength = uint32_t(timeLengthForScale(info.scale) + (info.type == TimeN ? 0 : info.type == DateTime2N ? 3 : 5));
        info.kind = info.type == TimeN ? ValueKind::Time
                    : info.type == DateTime2N ? ValueKind::DateTime : ValueKind::DateTimeOffset;
        break;
    case BigVarChar:
    case BigChar:
    case NVarChar:
    case NChar:
        info.maxLength = reader.u16le();
        readCollation(reader, info);
        info.plp = info.maxLength == 0xFFFF;
        info.kind = info.type == NVarChar || info.type == NChar ? ValueKind::Utf16 : ValueKind::Bytes;
        if (info.plp && (info.type == BigChar || info.type == NChar))
            throwProtocol("fixed-length character type of unlimited length");
        break;
    case BigVarBinary:
    case BigBinary:
        info.maxLength = reader.u16le();
        info.plp = info.maxLength == 0xFFFF;
        info.kind = ValueKind::Bytes;
        if (info.plp && info.type == BigBinary)
            throwProtocol("binary of unlimited length");
        break;
    case Text:
    case NText:
        info.maxLength = reader.u32le();
        readCollation(reader, info);
        info.kind = info.type == NText ? ValueKind::Utf16 : ValueKind::Bytes;
        break;
    case Image:
        info.maxLength = reader.u32le();
        info.kind = ValueKind::Bytes;
        break;
    case Variant:
        info.maxLength = reader.u32le();
        info.kind = ValueKind::Bytes;
        break;
    case Xml: {
        const uint8_t schemaPresent = reader.u8();
        if (schemaPresent) {
            reader.skip(size_t(reader.u8()) * 2);   // database
            reader.skip(size_t(reader.u8()) * 2);   // owning schema
            reader.skip(size_t(reader.u16le()) * 2);   // schema collection
        }
        info.maxLength = 0xFFFF;
        info.plp = true;
        info.kind = ValueKind::Utf16;
        break;
    }
    default:
        throwProtocol("unknown data type 0x" + [](uint8_t t) {
            static const char digits[] = "0123456789ABCDEF";
            return std::string{digits[t >> 4], digits[t & 15]};
        }(info.type));
    }
    return info;
}

std::string TypeInfo::name() const
{
    using namespace wiretype;
    auto sized = [&](const char *base, uint32_t units) {
        return std::string(base) + "(" + (plp ? std::string("max") : std::to_string(units)) + ")";
    };
    switch (type) {
    case Int1:
    case Int2:
    case Int4:
    case Int8:
    case IntN:
        return kind == ValueKind::UInt8 ? "tinyint" : kind == ValueKind::Int16 ? "smallint"
               : kind == ValueKind::Int32 ? "int" : "bigint";
    case Bit:
    case BitN:
        return "bit";
    case Flt4:
    case Flt8:
    case FltN:
        return kind == ValueKind::Float32 ? "real" : "float";
    case Money:
    case Money4:
    case MoneyN:
        return maxLength == 4 ? "smallmoney" : "money";
    case DateTime:
    case DateTim4:
    case DateTimeN:
        return maxLength == 4 ? "smalldatetime" : "datetime";
    case Guid:
        return "uniqueidentifier";
    case Decimal:
    case DecimalN:
    case Numeric:
    case NumericN:
        return std::string(type == Decimal || type == DecimalN ? "decimal(" : "numeric(") + std::to_string(precision) +
               "," + std::to_string(scale) + ")";
    case DateN:
        return "date";
    case TimeN:
        return "time(" + std::to_string(scale) + ")";
    case DateTime2N:
        return "datetime2(" + std::to_string(scale) + ")";
    case DateTimeOffsetN:
        return "datetimeoffset(" + std::to_string(scale) + ")";
    case BigVarChar:
        return sized("varchar", maxLength);
    case BigChar:
        return sized("char", maxLength);
    case NVarChar:
        return sized("nvarchar", maxLength / 2);
    case NChar:
        return sized("nchar", maxLength / 2);
    case BigVarBinary:
        return sized("varbinary", maxLength);
    case BigBinary:
        return sized("binary", maxLength);
    case Text:
        return "text";
    case NText:
        return "ntext";
    case Image:
        return "image";
    case Variant:
        return "sql_variant";
    case Xml:
        return "xml";
    }
    return "unknown";
}

} // namespace rz::tds
