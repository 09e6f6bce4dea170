#pragma once
// The results of one executed statement, read from ODBC in blocks of rows.
// A stream belongs to the statement handle it was made with; the rowset and
// the multiple-results object read from it, and the connection may ask it to
// read the rest of the current result into memory so that another statement
// can run.

#include "provider/odbcconnection.h"
#include "provider/odbccall.h"
#include "provider/sqltypes.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace rz::provider {

struct ColumnDescription {
    std::u16string name;
    SqlServerType type;
    bool nullable = true;
    size_t indicatorOffset = 0; // in a row record (columns that are not long)
    size_t valueOffset = 0;
    int longIndex = -1;         // slot among the row's long values, -1 when not long
};

// Rows as the driver delivered them: rowCount records of rowSize bytes, and
// per row the long values (null for NULL).
struct RowBlock {
    std::unique_ptr<unsigned char[]> data;
    size_t capacityRows = 0;
    size_t rowCount = 0;
    std::vector<std::shared_ptr<const std::string>> longValues; // rowCount x long columns
};

class ResultStream : public std::enable_shared_from_this<ResultStream> {
public:
    ResultStream(std::shared_ptr<OdbcConnection> connection, StatementHandle statement);
    ~ResultStream();
    ResultStream(const ResultStream &) = delete;
    ResultStream &operator=(const ResultStream &) = delete;

    // Reads the column descriptions of the current result and prepares the
    // fetch; false (diagnostics pending) when the driver fails.
    bool describeCurrentResult();
    const std::vector<ColumnDescription> &columns() const { return columns_; }
    bool hasColumns() const { return !columns_.empty(); }
    // The current result's row record size and number of long columns.
    size_t rowSize() const { return rowSize_; }
    size_t longColumnCount() const { return longColumnCount_; }
    // Results are numbered from 0 in the order the statement produced them.
    int currentResult() const { return currentResult_; }
    // SQLRowCount of the current result (-1 when the driver does not know).
    SQLLEN affectedRows() const { return affectedRows_; }

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

private:
    struct Buffered {
        std::deque<std::shared_ptr<RowBlock>> blocks;
        std::vector<OdbcDiagnostic> failure; // met while reading ahead
    };

    Fetch fetchFromDriver(std::shared_ptr<RowBlock> &block);
    bool bindBlock(unsigned char *data);
    bool readLongRow(RowBlock &block);
    void bufferCurrentResult();
    void releaseConnection();

    std::shared_ptr<OdbcConnection> connection_;
    StatementHandle statement_;
    std::vector<ColumnDescription> columns_;
    size_t rowSize_ = 0;
    size_t longColumnCount_ = 0;
    size_t blockRows_ = 1;
    SQLLEN affectedRows_ = -1;
    SQLULEN rowsFetched_ = 0;
    unsigned char *boundData_ = nullptr;
    int currentResult_ = 0;
    bool wireDone_ = false;  // the current result's rows are all read from the driver
    bool detached_ = false;  // the statement was closed; only buffered rows remain
    std::map<int, int> readers_;
    std::map<int, Buffered> buffered_;
};

} // namespace rz::provider
