#pragma once
// The rows of the client cursor: every row of a forward-only rowset, read
// once through an accessor of their own (long values through their storage
// objects), then kept compactly: one record per row in large shared blocks,
// null bits, fixed-size values inline (numerics with only the value bytes
// their column's precision needs, timestamps without padding), variable
// values as a 2-byte length + bytes, long values as a 4-byte length + bytes.
// Nothing of the source is held once they are loaded.

#include "platform/sdk/oledb.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace rz {

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

    size_t rowCount() const { return rows_.size(); }
    // The source's columns without its bookmark column, in ordinal order;
    // anything neither fixed-size nor text or bytes is held as text.
    const std::vector<Column> &columns() const { return columns_; }
    // Room for a packed value unpacked.
    struct Scratch
    {
        alignas(8) BYTE bytes[24];
    };
    // Column `column` (from 0) of row `row` (from 0); a packed value is
    // unpacked into `scratch`, which must outlive the answer's use.
    Value value(size_t row, size_t column, Scratch &scratch) const;

private:
    HRESULT planColumns(IRowset *source, std::vector<DBBINDING> &bindings,
                        std::vector<DBOBJECT> &objects, DBLENGTH &rowSize);
    HRESULT storeRow(IRowset *source, HROW row, HACCESSOR accessor, std::vector<BYTE> &buffer,
                     std::string &scratch);
    BYTE *allocate(size_t bytes);

    std::vector<Column> columns_;
    std::vector<unsigned char> rowNulls_; // storeRow's scratch: which values of the row are NULL
    size_t nullBytes_ = 0;
    size_t fixedBytes_ = 0;
    size_t varColumns_ = 0;
    std::vector<unsigned char> longVar_;  // per variable column: 1 when its length takes 4 bytes
    std::vector<const BYTE *> rows_;      // one record per row; null for a row without columns
    std::vector<std::unique_ptr<BYTE[]>> blocks_;
    size_t used_ = 0;                     // of the last block
    size_t capacity_ = 0;
};

} // namespace rz
