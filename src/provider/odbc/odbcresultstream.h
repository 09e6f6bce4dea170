#pragma once
// The ODBC backend's result stream: the statement handle's results, fetched
// with block cursors (SQL_ATTR_ROW_ARRAY_SIZE) into row blocks, long columns
// with SQLGetData one row at a time. Each fetched row is turned into the
// row record's forms where it lies (odbctypes.h).

#include "provider/odbc/odbchandle.h"
#include "provider/odbc/odbctypes.h"
#include "provider/resultstream.h"

namespace rz::provider {

class OdbcConnection;

class OdbcResultStream final : public ResultStream {
public:
    OdbcResultStream(const std::shared_ptr<OdbcConnection> &connection, StatementHandle statement);
    ~OdbcResultStream() override;

    // Reads the column descriptions of the current result and prepares the
    // fetch; false (diagnostics pending) when the driver fails.
    bool describeCurrentResult();

protected:
    Fetch fetchFromWire(std::shared_ptr<RowBlock> &block) override;
    Next advanceOnWire() override;
    void closeWire() override;
    bool wireOpen() const override { return bool(statement_); }

private:
    bool bindBlock(unsigned char *data);
    bool readLongRow(RowBlock &block);

    StatementHandle statement_;
    std::weak_ptr<OdbcConnection> owner_; // takes the statement handle back for its next statement
    bool blockCursor_ = false;            // the statement's row-array attributes point into this stream
    std::vector<OdbcColumn> odbcColumns_; // how each of columns_ is fetched
    size_t blockRows_ = 1;
    SQLULEN rowsFetched_ = 0;
    unsigned char *boundData_ = nullptr;
};

} // namespace rz::provider
