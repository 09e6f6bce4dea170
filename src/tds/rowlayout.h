#pragma once
// Where decoded row values go: the caller's row buffer, described column by
// column as offsets of a value, its byte length and its status. Long values
// (text/ntext/image, the (max) types, xml) go to a LongValueSink, or without
// one to a per-column area the decoder keeps and reuses from row to row.

#include "common/bytes.h"
#include "tds/tokens.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rz::tds {

constexpr size_t kNoSlot = SIZE_MAX;
// The total a PLP value announces when the server does not know it up front.
constexpr uint64_t kUnknownLength = ~uint64_t(0) - 1;

enum class ValueStatus : uint32_t {
    Ok = 0,
    Null = 1,
    Truncated = 2,   // only valueCapacity bytes were copied; the length slot has the whole length
};

struct ColumnBinding {
    size_t valueOffset = kNoSlot;    // fixed kinds: valueSize() bytes; variable kinds: up to valueCapacity
    size_t valueCapacity = 0;
    size_t lengthOffset = kNoSlot;   // uint64_t: bytes of the value
    size_t statusOffset = kNoSlot;   // uint32_t: ValueStatus
};

struct RowLayout {
    std::vector<ColumnBinding> columns;
    size_t rowSize = 0;

    // Status, length and value of each column one after the other, each at
    // an 8-byte boundary; variable values get their declared length, capped
    // at maxVariableBytes, and long values no inline room at all. For users
    // of the client without a record of their own (its tests and tools); the
    // provider lays out its row records itself (placeInRecord) and passes
    // the offsets in.
    static RowLayout packed(const std::vector<ColumnInfo> &columns, size_t maxVariableBytes = 8000);
};

class LongValueSink {
public:
    virtual ~LongValueSink() = default;
    // totalLength may be kUnknownLength.
    virtual void begin(size_t column, uint64_t totalLength) = 0;
    virtual void append(size_t column, const uint8_t *data, size_t size) = 0;
    virtual void end(size_t column) = 0;
};

struct RowTarget {
    uint8_t *row = nullptr;                // null: decode and drop the row
    const RowLayout *layout = nullptr;
    LongValueSink *longValues = nullptr;   // null: the decoder's long-value areas
};

// Reading back what the decoder wrote.
template <typename T>
T rowValue(const uint8_t *row, size_t offset)
{
    return loadUnaligned<T>(row + offset);
}
inline ValueStatus rowStatus(const uint8_t *row, const ColumnBinding &b) { return rowValue<ValueStatus>(row, b.statusOffset); }
inline uint64_t rowLength(const uint8_t *row, const ColumnBinding &b) { return rowValue<uint64_t>(row, b.lengthOffset); }

} // namespace rz::tds
