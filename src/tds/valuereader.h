#pragma once
// Reads one value of a given TYPE_INFO from the stream and hands it to an
// output in the form ValueKind describes. Out provides
//   void null();
//   void fixed(const void *data, size_t size);      // fixed kinds, converted
//   void beginVariable(uint64_t totalLength);       // variable kinds ...
//   void append(const uint8_t *data, size_t size);  // ... in arrival pieces
//   void endVariable();
// A template so that the row decoder's calls inline; nothing here allocates.

#include "tds/error.h"
#include "tds/rowlayout.h"
#include "tds/typeinfo.h"
#include "tds/wirereader.h"

#include <cstring>

namespace rz::tds {

namespace detail {

constexpr int32_t kLastDay = 3652058;   // 9999-12-31 in days since 0001-01-01
constexpr uint64_t kNullPlp = ~uint64_t(0);
constexpr uint32_t kMaxVariantLength = 8016;

inline int64_t signExtend(uint64_t v, int bytes)
{
    const int shift = 64 - 8 * bytes;
    return int64_t(v << shift) >> shift;
}

inline int64_t scaledTicks(uint64_t units, uint8_t scale)
{
    static const int64_t factor[] = {10000000, 1000000, 100000, 10000, 1000, 100, 10, 1};
    return int64_t(units) * factor[scale];
}

inline int32_t checkedDate(uint64_t days)
{
    if (days > uint64_t(kLastDay))
        throwProtocol("date beyond 9999-12-31");
    return int32_t(days);
}

inline int64_t checkedTime(uint64_t units, uint8_t scale)
{
    const int64_t ticks = scaledTicks(units, scale);
    if (ticks >= kTicksPerDay)
        throwProtocol("time of day beyond 24 hours");
    return ticks;
}

// A fixed-size value of `length` bytes (already known not to be NULL).
template <typename Out>
void readFixed(WireReader &reader, const TypeInfo &type, uint32_t length, Out &out)
{
    switch (type.kind) {
    case ValueKind::UInt8: {
        const uint8_t v = reader.u8();
        out.fixed(&v, 1);
        return;
    }
    case ValueKind::Bit: {
        const uint8_t v = reader.u8() ? 1 : 0;
        out.fixed(&v, 1);
        return;
    }
    case ValueKind::Int16: {
        const auto v = int16_t(reader.u16le());
        out.fixed(&v, 2);
        return;
    }
    case ValueKind::Int32: {
        const auto v = int32_t(reader.u32le());
        out.fixed(&v, 4);
        return;
    }
    case ValueKind::Int64: {
        const auto v = int64_t(reader.u64le());
        out.fixed(&v, 8);
        return;
    }
    case ValueKind::Float32: {
        const uint32_t bits = reader.u32le();
        float v;
        std::memcpy(&v, &bits, 4);
        out.fixed(&v, 4);
        return;
    }
    case ValueKind::Float64: {
        const uint64_t bits = reader.u64le();
        double v;
        std::memcpy(&v, &bits, 8);
        out.fixed(&v, 8);
        return;
    }
    case ValueKind::Money: {
        int64_t v;
        if (length == 8) {
            const uint32_t high = reader.u32le();
            const uint32_t low = reader.u32le();
            v = int64_t((uint64_t(high) << 32) | low);
        } else {
            v = int32_t(reader.u32le());
        }
        out.fixed(&v, 8);
        return;
    }
    case ValueKind::Decimal: {
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
        out.fixed(&v, sizeof v);
        return;
    }
    case ValueKind::Date: {
        const int32_t days = checkedDate(reader.le(3));
        out.fixed(&days, 4);
        return;
    }
    case ValueKind::Time: {
        const int64_t ticks = checkedTime(reader.le(int(length)), type.scale);
        out.fixed(&ticks, 8);
        return;
    }
    case ValueKind::DateTime:
    case ValueKind::DateTimeOffset: {
        DateTimeValue v;
        if (type.type == wiretype::DateTime2N || type.type == wiretype::DateTimeOffsetN) {
            const int timeLength = timeLengthForScale(type.scale);
            v.ticks = checkedTime(reader.le(timeLength), type.scale);
            v.days = checkedDate(reader.le(3));
            if (type.kind == ValueKind::DateTimeOffset) {
                v.offsetMinutes = int16_t(reader.u16le());
                if (v.offsetMinutes < -840 || v.offsetMinutes > 840)
                    throwProtocol("time zone offset of " + std::to_string(v.offsetMinutes) + " minutes");
            }
        } else if (length == 8) {
            const int32_t days = int32_t(reader.u32le());
            const uint32_t fraction = reader.u32le();
            if (days < kDateTimeFirstDay || days > kDateTimeLastDay || fraction >= kDateTimeFractionsPerDay)
                throwProtocol("datetime out of range");
            v.days = kDaysTo1900 + days;
            v.ticks = ticksFromDateTimeFraction(fraction);
        } else {
            const uint16_t days = reader.u16le();
            const uint16_t minutes = reader.u16le();
            if (minutes >= 1440)
                throwProtocol("smalldatetime minutes out of range");
            v.days = kDaysTo1900 + days;
            v.ticks = int64_t(minutes) * 600000000;
        }
        out.fixed(&v, sizeof v);
        return;
    }
    case ValueKind::Guid: {
        uint8_t v[16];
        reader.read(v, 16);
        out.fixed(v, 16);
        return;
    }
    case ValueKind::Bytes:
    case ValueKind::Utf16:
        break;
    }
    throwProtocol("variable-length kind read as fixed");
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

template <typename Out>
void readValue(WireReader &reader, const TypeInfo &type, Out &out)
{
    using namespace wiretype;
    switch (type.type) {
    case Null:
        out.null();
        return;
    case Int1:
    case Bit:
    case Int2:
    case Int4:
    case Int8:
    case Flt4:
    case Flt8:
    case Money:
    case Money4:
    case DateTime:
    case DateTim4:
        detail::readFixed(reader, type, type.maxLength, out);
        return;
    case IntN:
    case BitN:
    case FltN:
    case MoneyN:
    case DateTimeN:
    case Guid:
    case DateN:
    case TimeN:
    case DateTime2N:
    case DateTimeOffsetN: {
        const uint8_t length = reader.u8();
        if (length == 0) {
            out.null();
            return;
        }
        if (length != type.maxLength)
            throwProtocol(type.name() + " value of " + std::to_string(length) + " bytes");
        detail::readFixed(reader, type, length, out);
        return;
    }
    case Decimal:
    case Numeric:
    case DecimalN:
    case NumericN: {
        const uint8_t length = reader.u8();
        if (length == 0) {
            out.null();
            return;
        }
        detail::readFixed(reader, type, length, out);
        return;
    }
    case BigVarChar:
    case BigChar:
    case NVarChar:
    case NChar:
    case BigVarBinary:
    case BigBinary:
    case Xml: {
        if (type.plp) {
            detail::readPlp(reader, out);
            return;
        }
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
    case Text:
    case NText:
    case Image: {
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
    case Variant: {
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
