#pragma once
// Reads one value of a given TYPE_INFO from the stream and hands it to an
// output in the form ValueKind describes. Out provides
//   void null();
//   void fixed(const void *data, size_t size);      // fixed kinds, converted
//   void beginVariable(uint64_t totalLength);       // variable kinds ...
//   void append(const uint8_t *data, size_t size);  // ... in arrival pieces
//   void endVariable();
// A template so that the calls to the row decoder's output inline; a fixed
// value is decoded by its type's reader (typeinfo.h). Nothing here allocates.

#include "tds/error.h"
#include "tds/rowlayout.h"
#include "tds/typeinfo.h"
#include "tds/wirereader.h"

#include <string>

namespace rz::tds {

namespace detail {

constexpr uint64_t kNullPlp = ~uint64_t(0);
constexpr uint32_t kMaxVariantLength = 8016;

// A fixed-size value of `length` bytes (already known not to be NULL).
template <typename Out>
void readFixed(WireReader &reader, const TypeInfo &type, uint32_t length, Out &out)
{
    alignas(8) uint8_t value[kMaxFixedValueSize];
    type.valueRule->read(reader, type, length, value);
    out.fixed(value, type.valueSize());
}

template <typename Out>
void readCounted(WireReader &reader, uint64_t length, Out &out)
{
    out.beginVariable(length);
    reader.forEachPiece(size_t(length), [&](const uint8_t *data, size_t size) { out.append(data, size); });
    out.endVariable();
}

template <typename Out>
void readPlp(WireReader &reader, Out &out)
{
    const uint64_t total = reader.u64le();
    if (total == kNullPlp) {
        out.null();
        return;
    }
    out.beginVariable(total);
    uint64_t received = 0;
    for (;;) {
        const uint32_t chunk = reader.u32le();
        if (chunk == 0)
            break;
        received += chunk;
        if (total != kUnknownLength && received > total)
            throwProtocol("PLP chunks longer than the announced total");
        reader.forEachPiece(chunk, [&](const uint8_t *data, size_t size) { out.append(data, size); });
    }
    if (total != kUnknownLength && received != total)
        throwProtocol("PLP chunks shorter than the announced total");
    out.endVariable();
}

} // namespace detail

// How the value is framed follows the type's length class; what its bytes
// mean, the row of its fixed type (typeinfo.h).
template <typename Out>
void readValue(WireReader &reader, const TypeInfo &type, Out &out)
{
    if (!type.rule)
        throwProtocol("no reader for " + type.name());
    if (type.plp) {
        detail::readPlp(reader, out);
        return;
    }
    switch (type.rule->length) {
    case LengthClass::Fixed:
        detail::readFixed(reader, type, type.maxLength, out);
        return;
    case LengthClass::Byte: {
        const uint8_t length = reader.u8();
        if (length == 0) {
            out.null();
            return;
        }
        if (length != type.maxLength && !type.rule->has(TypeRule::ShorterValues))
            throwProtocol(type.name() + " value of " + std::to_string(length) + " bytes");
        detail::readFixed(reader, type, length, out);
        return;
    }
    case LengthClass::UShort: {
        const uint16_t length = reader.u16le();
        if (length == 0xFFFF) {
            out.null();
            return;
        }
        if (length > type.maxLength)
            throwProtocol(type.name() + " value of " + std::to_string(length) + " bytes");
        detail::readCounted(reader, length, out);
        return;
    }
    case LengthClass::TextPointer: {
        const uint8_t pointerLength = reader.u8();
        if (pointerLength == 0) {
            out.null();
            return;
        }
        reader.skip(pointerLength);
        reader.skip(8);   // timestamp
        detail::readCounted(reader, reader.u32le(), out);
        return;
    }
    case LengthClass::Long: {
        const uint32_t length = reader.u32le();
        if (length == 0) {
            out.null();
            return;
        }
        if (length > detail::kMaxVariantLength)
            throwProtocol("sql_variant of " + std::to_string(length) + " bytes");
        detail::readCounted(reader, length, out);
        return;
    }
    }
    throwProtocol("no reader for " + type.name());
}

// An output that drops the value (rows nobody asked for).
struct DiscardValue {
    void null() {}
    void fixed(const void *, size_t) {}
    void beginVariable(uint64_t) {}
    void append(const uint8_t *, size_t) {}
    void endVariable() {}
};

} // namespace rz::tds
