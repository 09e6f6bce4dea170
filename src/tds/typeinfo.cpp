#include "tds/typeinfo.h"

#include "common/bytes.h"
#include "tds/error.h"
#include "tds/wirereader.h"

namespace rz::tds {

namespace {

[[noreturn]] void throwUnknownType(uint8_t code)
{
    std::string hex;
    appendHexByte(hex, code);
    throwProtocol("unknown data type 0x" + hex);
}

// The fixed type whose values a nullable form carries, by declared length.
const TypeRule &nullableForm(const TypeRule &rule, uint32_t length)
{
    for (uint8_t form : rule.forms) {
        const TypeRule *fixed = form ? findTypeRule(form) : nullptr;
        if (fixed && fixed->size == length)
            return *fixed;
    }
    throwProtocol(std::string(rule.name) + " of " + std::to_string(length) + " bytes");
}

void skipXmlSchema(WireReader &reader)
{
    const uint8_t schemaPresent = reader.u8();
    if (schemaPresent) {
        reader.skip(size_t(reader.u8()) * 2);     // database
        reader.skip(size_t(reader.u8()) * 2);     // owning schema
        reader.skip(size_t(reader.u16le()) * 2);  // schema collection
    }
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
    TypeInfo info;
    info.type = reader.u8();
    const TypeRule *rule = findTypeRule(info.type);
    if (!rule)
        throwUnknownType(info.type);
    switch (rule->info) {
    case InfoLayout::None:
        info.maxLength = rule->size;
        break;
    case InfoLayout::ByteLength:
        info.maxLength = reader.u8();
        if (rule->size && info.maxLength != rule->size)
            throwProtocol(std::string(rule->name) + " of " + std::to_string(info.maxLength) + " bytes");
        break;
    case InfoLayout::DecimalLength:
        info.maxLength = reader.u8();
        info.precision = reader.u8();
        info.scale = reader.u8();
        if (info.maxLength < 2 || info.maxLength > 17 || info.precision < 1 || info.precision > 38 ||
            info.scale > info.precision)
            throwProtocol("decimal type with length " + std::to_string(info.maxLength) + ", precision " +
                          std::to_string(info.precision) + ", scale " + std::to_string(info.scale));
        break;
    case InfoLayout::Scale:
        info.scale = reader.u8();
        if (info.scale > 7)
            throwProtocol("time scale " + std::to_string(info.scale));
        info.maxLength = uint32_t(timeLengthForScale(info.scale) + rule->size);
        break;
    case InfoLayout::UShortLength:
        info.maxLength = reader.u16le();
        info.plp = info.maxLength == 0xFFFF;
        if (info.plp && rule->has(TypeRule::NeverMax))
            throwProtocol(std::string(rule->name) + " of unlimited length");
        break;
    case InfoLayout::LongLength:
        info.maxLength = reader.u32le();
        break;
    case InfoLayout::XmlSchema:
        skipXmlSchema(reader);
        info.maxLength = 0xFFFF;
        info.plp = true;
        break;
    }
    if (rule->has(TypeRule::Collation))
        reader.read(info.collation.bytes.data(), info.collation.bytes.size());
    info.rule = rule;
    info.valueRule = rule->forms[0] ? &nullableForm(*rule, info.maxLength) : rule;
    info.kind = info.valueRule->kind;
    return info;
}

std::string TypeInfo::name() const
{
    if (!valueRule)
        return "unknown";
    const std::string base = valueRule->name;
    switch (valueRule->info) {
    case InfoLayout::DecimalLength:
        return base + "(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
    case InfoLayout::Scale:
        return base + "(" + std::to_string(scale) + ")";
    case InfoLayout::UShortLength: {
        const uint32_t units = kind == ValueKind::Utf16 ? maxLength / 2 : maxLength;
        return base + "(" + (plp ? std::string("max") : std::to_string(units)) + ")";
    }
    default:
        return base;
    }
}

} // namespace rz::tds
