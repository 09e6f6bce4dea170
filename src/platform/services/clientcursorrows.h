#pragma once
// The rows of the client cursor: every row of a forward-only rowset, read
// once through an accessor of their own (long values through their storage
// objects), then kept compactly: one record per row in large shared blocks,
// null bits, fixed-size values inline (numerics with only the value bytes
// their column's precision needs, timestamps without padding), variable
// values as a length + bytes (one length byte when the column's values fit
// 255 bytes, else two; four for long values). A source that offers
// IRowValueViews (rowvalueviews.h) is read without a row buffer between.
// Nothing of the source is held once they are loaded. The layout differs
// from the provider's row records (8-byte aligned length, status and value
// per column, sized for one block in flight) because these records hold a
// whole rowset for the cursor's life: every byte counts per row.

#include "common/bytes.h"
#include "platform/sdk/oledb.h"
#include "platform/services/rowvalueviews.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace rz {

// A variable value's length in its record: one, two or four bytes.
inline size_t readRecordLength(const BYTE *at, size_t lengthBytes)
{
    if (lengthBytes == 1)
        return *at;
    if (lengthBytes == 4)
        return rz::loadUnaligned<uint32_t>(at);
    return rz::loadUnaligned<uint16_t>(at);
}

class ClientCursorRows
{
public:
    struct Column
    {
        DBCOLUMNINFO info;        // as reported (name pointer unused)
        std::u16string name;
        bool hasName = false;
        enum Kind { Fixed, Variable, Long } kind = Fixed;
        DBTYPE storedType = 0;    // how the value is held
        enum Packing { Plain, Numeric, Timestamp } packing = Plain;
        size_t fixedOffset = 0;   // Fixed: offset in the row's fixed part
        size_t size = 0;          // Fixed: bytes of the value as handed out
        size_t storedSize = 0;    // Fixed: bytes of the value in the record
        size_t varIndex = 0;      // Variable/Long: position among them
        size_t lengthBytes = 0;   // Variable/Long: bytes of the length before the value
        // The source binding.
        DBTYPE sourceType = 0;
        DBLENGTH sourceMax = 0;
        DBBYTEOFFSET value = 0, length = 0, status = 0;
    };

    // One value of one row, as read back from a record.
    struct Value
    {
        bool isNull = true;
        const BYTE *data = nullptr;
        size_t size = 0;
    };

    // Reads every row of `source`; the answer is the failing call's HRESULT
    // (E_OUTOFMEMORY when a record cannot be had), else S_OK.
    HRESULT load(IRowset *source);

    size_t rowCount() const { return rowOffsets_.size(); }
    // The source's columns without its bookmark column, in ordinal order;
    // anything neither fixed-size nor text or bytes is held as text.
    const std::vector<Column> &columns() const { return columns_; }
    // Room for a packed value unpacked.
    struct Scratch
    {
        alignas(8) BYTE bytes[24];
    };

    // The values of one row (from 0), read column by column. Variable values
    // are found by walking the lengths before them, from the last one found
    // on: columns asked for in order cost one walk per row.
    class RowReader
    {
    public:
        RowReader(const ClientCursorRows &rows, size_t row);
        // Column `column` (from 0); a packed value is unpacked into
        // `scratch`, which must outlive the answer's use.
        Value value(size_t column, Scratch &scratch)
        {
            Value v;
            const Column &c = rows_.columns_[column];
            if (!record_ || (record_[column / 8] & (1u << (column % 8))))
                return v;
            v.isNull = false;
            if (c.kind == Column::Fixed) {
                const BYTE *stored = record_ + rows_.nullBytes_ + c.fixedOffset;
                if (c.packing == Column::Plain) {
                    v.data = stored;
                } else {
                    unpack(c, stored, scratch.bytes);
                    v.data = scratch.bytes;
                }
                v.size = c.size;
                return v;
            }
            if (c.varIndex < walkedIndex_) {
                walkedIndex_ = 0;
                walkedAt_ = record_ + rows_.nullBytes_ + rows_.fixedBytes_;
            }
            for (; walkedIndex_ < c.varIndex; ++walkedIndex_) {
                const size_t prefix = rows_.varLengthBytes_[walkedIndex_];
                walkedAt_ += prefix + readRecordLength(walkedAt_, prefix);
            }
            v.data = walkedAt_ + c.lengthBytes;
            v.size = readRecordLength(walkedAt_, c.lengthBytes);
            return v;
        }

    private:
        const ClientCursorRows &rows_;
        const BYTE *record_;
        size_t walkedIndex_ = 0;        // the variable value walkedAt_ points at
        const BYTE *walkedAt_ = nullptr;
    };

private:
    // One value of a row as the source handed it over.
    struct SourceValue
    {
        bool isNull = true;
        const BYTE *data = nullptr;
        size_t size = 0;
    };

    static void unpack(const Column &c, const BYTE *in, BYTE *out);
    HRESULT planColumns(IRowset *source, std::vector<DBBINDING> &bindings,
                        std::vector<DBOBJECT> &objects, DBLENGTH &rowSize);
    HRESULT readThroughGetData(IRowset *source, HROW row, HACCESSOR accessor, std::vector<BYTE> &buffer);
    bool readThroughViews(IRowValueViews *views, HROW row, HACCESSOR accessor);
    HRESULT storeRow();
    BYTE *allocate(size_t bytes);
    const BYTE *record(size_t row) const;

    std::vector<Column> columns_;
    std::vector<SourceValue> rowValues_;     // the row being stored
    std::vector<std::string> longValues_;    // its long values
    std::vector<RowValueView> views_;        // readThroughViews' answers
    size_t varValueBytes_ = 0;               // the row's variable and long values together
    size_t nullBytes_ = 0;
    size_t fixedBytes_ = 0;
    size_t varColumns_ = 0;
    std::vector<unsigned char> varLengthBytes_;  // per variable column: its lengthBytes
    size_t varLengthTotal_ = 0;                  // their sum
    bool hasLong_ = false;
    // Row r's record is at rowOffsets_[r] in block blockOf(r); a row
    // without columns has none. Blocks hold the rows from blockFirstRow_ on.
    std::vector<uint32_t> rowOffsets_;
    std::vector<size_t> blockFirstRow_;
    std::vector<std::unique_ptr<BYTE[]>> blocks_;
    size_t used_ = 0;                     // of the last block
    size_t capacity_ = 0;
};

} // namespace rz
