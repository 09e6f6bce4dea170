#pragma once
// The results of one executed statement, read from the server in blocks of
// rows. The rowset and the multiple-results object read from a stream, and
// the connection may ask it to read the rest of the current result into
// memory so that another statement can run. What is common to every backend
// (readers, rows kept in memory, moving between results) lives here; a
// backend derives and reads the wire.

#include "platform/services/alignment.h"
#include "provider/diagnostics/diagnostics.h"
#include "provider/serverconnection.h"
#include "provider/values/columnconversion.h"
#include "provider/values/sqltypes.h"

#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace rz::provider {

// A row record keeps, for each column that is not long, the value's byte
// length (uint64_t), its status and the value, each at an 8-byte boundary.
enum class CellStatus : uint32_t {
    Ok = 0,
    Null = 1,
    Truncated = 2, // the record kept the value's first valueBytes; the length is the whole one
};

struct ColumnDescription {
    std::u16string name;
    SqlServerType type;
    bool nullable = true;
    size_t lengthOffset = 0;    // in a row record (columns that are not long)
    size_t statusOffset = 0;
    size_t valueOffset = 0;
    int longIndex = -1;         // slot among the row's long values, -1 when not long
};

// Gives a column that is not long its place in a row record from `offset`
// on, with `valueRoom` bytes for the value; returns where the next column
// may start.
inline size_t placeInRecord(ColumnDescription &column, size_t offset, size_t valueRoom)
{
    column.lengthOffset = offset;
    column.statusOffset = offset + 8;
    column.valueOffset = offset + 16;
    return rz::roundUp(column.valueOffset + valueRoom, 8);
}

// Rows as the backend delivered them: rowCount records of rowSize bytes, and
// per row the long values (null for NULL).
struct RowBlock {
    std::unique_ptr<unsigned char[]> data;
    size_t capacityRows = 0;
    size_t rowCount = 0;
    std::vector<std::shared_ptr<const std::string>> longValues; // rowCount x long columns
};

// Where row `row` of a block keeps the value of `column`, for the conversions
// of columnconversion.h. rowSize and longCount are those of the result the
// block belongs to.
inline FetchedValue fetchedValue(const ColumnDescription &column, const RowBlock &block, size_t row, size_t rowSize,
                                 size_t longCount)
{
    FetchedValue value;
    value.type = &column.type;
    if (column.longIndex >= 0) {
        value.longValue = block.longValues[row * longCount + size_t(column.longIndex)];
    } else {
        const unsigned char *base = block.data.get() + row * rowSize;
        value.data = base + column.valueOffset;
        CellStatus status;
        std::memcpy(&status, base + column.statusOffset, sizeof status);
        value.null = status == CellStatus::Null;
        uint64_t length;
        std::memcpy(&length, base + column.lengthOffset, sizeof length);
        value.length = value.null ? 0 : size_t(length);
    }
    return value;
}

class ResultStream : public std::enable_shared_from_this<ResultStream> {
public:
    explicit ResultStream(std::shared_ptr<ServerConnection> connection);
    virtual ~ResultStream();
    ResultStream(const ResultStream &) = delete;
    ResultStream &operator=(const ResultStream &) = delete;

    const std::vector<ColumnDescription> &columns() const { return columns_; }
    bool hasColumns() const { return !columns_.empty(); }
    // The current result's row record size and number of long columns.
    size_t rowSize() const { return rowSize_; }
    size_t longColumnCount() const { return longColumnCount_; }
    // Results are numbered from 0 in the order the statement produced them.
    int currentResult() const { return currentResult_; }
    // The current result's affected-row count (-1 when not known).
    int64_t affectedRows() const { return affectedRows_; }

    // A rowset reads result `result`: its unread rows are kept in memory
    // when the stream has to move on (next result, another statement).
    void addReader(int result);
    void removeReader(int result);

    enum class Fetch { Rows, End, Failed };
    // The next rows of a result. `block` is reused when nobody else holds
    // it, otherwise replaced.
    Fetch nextBlock(int result, std::shared_ptr<RowBlock> &block);

    enum class Next { Result, End, Failed };
    // Moves on to the next result of the statement and describes it.
    Next nextResult();

    // Keeps what readers still need in memory and gives the connection back;
    // later results of the statement are dropped.
    void readRemainingIntoMemory();
    // Gives up whatever the statement still has (rows, results).
    void close();

    // Must be called once the statement ran, so the connection knows who holds it.
    void becomeActive();

protected:
    // What a backend does on the wire. fetchFromWire fills `block` (a fresh
    // one when it is shared or of another size) with the current result's
    // next rows and sets wireDone_ when they are all read. advanceOnWire
    // moves to the next result and describes it (End when there is none).
    // closeWire gives up the statement; wireOpen tells whether it still runs.
    virtual Fetch fetchFromWire(std::shared_ptr<RowBlock> &block) = 0;
    virtual Next advanceOnWire() = 0;
    virtual void closeWire() = 0;
    virtual bool wireOpen() const = 0;

    // Forgets the current result's description before a backend describes the next one.
    void resetDescription();
    // Makes `block` an empty block with room for `rows` records of the
    // current result: the same block when nobody else holds it and it has
    // that room, else a fresh one. Its long values are the caller's to lay out.
    void prepareBlock(std::shared_ptr<RowBlock> &block, size_t rows) const;

    std::vector<ColumnDescription> columns_;
    size_t rowSize_ = 0;
    size_t longColumnCount_ = 0;
    int64_t affectedRows_ = -1;
    bool wireDone_ = false;  // the current result's rows are all read from the wire
    bool detached_ = false;  // the statement was closed; only buffered rows remain

private:
    struct Buffered {
        std::deque<std::shared_ptr<RowBlock>> blocks;
        std::vector<Diagnostic> failure; // met while reading ahead
    };

    void bufferCurrentResult();
    void releaseConnection();

    std::shared_ptr<ServerConnection> connection_;
    int currentResult_ = 0;
    std::map<int, int> readers_;
    std::map<int, Buffered> buffered_;
};

} // namespace rz::provider
