#include "provider/odbc/odbcresultstream.h"

#include "provider/odbc/odbccall.h"
#include "provider/odbc/odbcconnection.h"
#include "provider/values/codepage.h"

#include <algorithm>
#include <cstring>

namespace rz::provider {

namespace {

constexpr size_t kBlockBytes = 256 * 1024; // rows per block: as many as fit, at most kMaxBlockRows
constexpr size_t kMaxBlockRows = 256;
constexpr SQLLEN kLongChunk = 64 * 1024;

} // namespace

OdbcResultStream::OdbcResultStream(const std::shared_ptr<OdbcConnection> &connection, StatementHandle statement)
    : ResultStream(connection), statement_(std::move(statement)), owner_(connection)
{
}

OdbcResultStream::~OdbcResultStream() { close(); }

bool OdbcResultStream::describeCurrentResult()
{
    resetDescription();
    boundData_ = nullptr;
    if (detached_ || !statement_)
        return true;
    const SQLHSTMT stmt = statement_.get();
    SQLFreeStmt(stmt, SQL_UNBIND);
    SQLSMALLINT count = 0;
    if (!odbcSucceeded(odbcCall(SQLNumResultCols(stmt, &count), statement_)))
        return false;
    SQLLEN rows = -1;
    if (odbcSucceeded(SQLRowCount(stmt, &rows)))
        affectedRows_ = rows;
    columns_.resize(size_t(std::max<SQLSMALLINT>(count, 0)));
    odbcColumns_.assign(columns_.size(), OdbcColumn{});
    size_t offset = 0;
    for (SQLSMALLINT i = 0; i < count; ++i) {
        ColumnDescription &column = columns_[size_t(i)];
        SQLWCHAR name[256] = {};
        SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
        SQLULEN size = 0;
        if (!odbcSucceeded(odbcCall(SQLDescribeColW(stmt, SQLUSMALLINT(i + 1), name, 256, &nameLength, &sqlType,
                                                    &size, &digits, &nullable),
                                    statement_)))
            return false;
        SQLWCHAR typeName[128] = {};
        SQLSMALLINT typeNameBytes = 0;
        SQLColAttributeW(stmt, SQLUSMALLINT(i + 1), SQL_DESC_TYPE_NAME, typeName, sizeof typeName, &typeNameBytes,
                         nullptr);
        column.name.assign(reinterpret_cast<const char16_t *>(name), size_t(std::clamp<SQLSMALLINT>(nameLength, 0, 255)));
        odbcColumns_[size_t(i)] = odbcColumn(sqlType, size, digits, reinterpret_cast<const char16_t *>(typeName));
        const OdbcColumn &fetch = odbcColumns_[size_t(i)];
        column.type = fetch.type;
        column.nullable = nullable != SQL_NO_NULLS;
        if (column.type.isLong)
            column.longIndex = int(longColumnCount_++);
        else
            offset = placeInRecord(column, offset, std::max(size_t(fetch.fetchBytes), fetch.type.valueBytes));
    }
    rowSize_ = std::max<size_t>(offset, 8);
    blockRows_ = longColumnCount_ ? 1 : std::clamp<size_t>(kBlockBytes / rowSize_, 1, kMaxBlockRows);
    if (count > 0) {
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(rowSize_), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(blockRows_), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &rowsFetched_, 0);
        blockCursor_ = true;
    }
    return true;
}

bool OdbcResultStream::bindBlock(unsigned char *data)
{
    const SQLHSTMT stmt = statement_.get();
    for (size_t i = 0; i < columns_.size(); ++i) {
        const ColumnDescription &c = columns_[i];
        const OdbcColumn &fetch = odbcColumns_[i];
        // The indicator goes where the record keeps the value's length; toRecordForm turns it into that.
        if (!odbcSucceeded(odbcCall(SQLBindCol(stmt, SQLUSMALLINT(i + 1), fetch.cType, data + c.valueOffset,
                                               fetch.fetchBytes, reinterpret_cast<SQLLEN *>(data + c.lengthOffset)),
                                    statement_)))
            return false;
    }
    boundData_ = data;
    return true;
}

bool OdbcResultStream::readLongRow(RowBlock &block)
{
    const SQLHSTMT stmt = statement_.get();
    unsigned char *row = block.data.get();
    block.longValues.assign(longColumnCount_, nullptr);
    std::unique_ptr<unsigned char[]> chunk;
    for (size_t i = 0; i < columns_.size(); ++i) {
        const ColumnDescription &c = columns_[i];
        const OdbcColumn &fetch = odbcColumns_[i];
        const auto columnNumber = SQLUSMALLINT(i + 1);
        if (c.longIndex < 0) {
            SQLLEN indicator = 0;
            const SQLRETURN rc = odbcCall(SQLGetData(stmt, columnNumber, fetch.cType, row + c.valueOffset,
                                                     fetch.fetchBytes, &indicator),
                                          statement_);
            if (rc == SQL_NO_DATA)
                indicator = SQL_NULL_DATA;
            else if (!odbcSucceeded(rc))
                return false;
            std::memcpy(row + c.lengthOffset, &indicator, sizeof indicator);
            if (!toRecordForm(fetch, c, row))
                return false;
            continue;
        }
        if (!chunk)
            chunk.reset(new unsigned char[kLongChunk]);
        const SQLLEN terminator = fetch.cType == SQL_C_CHAR ? 1 : fetch.cType == SQL_C_WCHAR ? 2 : 0;
        auto value = std::make_shared<std::string>();
        bool isNull = false;
        for (bool first = true;; first = false) {
            SQLLEN indicator = 0;
            const SQLRETURN rc = odbcCall(SQLGetData(stmt, columnNumber, fetch.cType, chunk.get(), kLongChunk, &indicator),
                                          statement_);
            if (rc == SQL_NO_DATA)
                break;
            if (!odbcSucceeded(rc))
                return false;
            if (indicator == SQL_NULL_DATA) {
                isNull = true;
                break;
            }
            const bool cut = indicator == SQL_NO_TOTAL || indicator > kLongChunk - terminator;
            if (first && indicator != SQL_NO_TOTAL && indicator > 0)
                value->reserve(size_t(indicator));
            const SQLLEN got = cut ? kLongChunk - terminator : indicator;
            value->append(reinterpret_cast<const char *>(chunk.get()), size_t(got));
            if (!cut)
                break;
        }
        if (!isNull && c.type.form == FetchForm::CodePageText)
            *value = codePageFromUtf8(*value);
        if (!isNull)
            block.longValues[size_t(c.longIndex)] = std::move(value);
    }
    return true;
}

ResultStream::Fetch OdbcResultStream::fetchFromWire(std::shared_ptr<RowBlock> &block)
{
    prepareBlock(block, blockRows_);
    block->longValues.clear();
    if (longColumnCount_ == 0 && boundData_ != block->data.get() && !bindBlock(block->data.get()))
        return Fetch::Failed;
    rowsFetched_ = 0;
    const SQLRETURN rc = odbcCall(SQLFetch(statement_.get()), statement_);
    if (rc == SQL_NO_DATA) {
        wireDone_ = true;
        return Fetch::End;
    }
    if (!odbcSucceeded(rc))
        return Fetch::Failed;
    if (longColumnCount_) {
        if (!readLongRow(*block))
            return Fetch::Failed;
        block->rowCount = 1;
    } else {
        block->rowCount = std::min<size_t>(rowsFetched_, blockRows_);
        for (size_t row = 0; row < block->rowCount; ++row) {
            unsigned char *record = block->data.get() + row * rowSize_;
            for (size_t i = 0; i < columns_.size(); ++i)
                if (!toRecordForm(odbcColumns_[i], columns_[i], record))
                    return Fetch::Failed;
        }
    }
    return block->rowCount ? Fetch::Rows : Fetch::End;
}

ResultStream::Next OdbcResultStream::advanceOnWire()
{
    const SQLRETURN rc = odbcCall(SQLMoreResults(statement_.get()), statement_);
    if (rc == SQL_NO_DATA)
        return Next::End;
    if (!odbcSucceeded(rc))
        return Next::Failed;
    return describeCurrentResult() ? Next::Result : Next::Failed;
}

void OdbcResultStream::closeWire()
{
    if (!statement_)
        return;
    const SQLHSTMT stmt = statement_.get();
    SQLFreeStmt(stmt, SQL_CLOSE);
    // Only a handle that goes back to its connection needs cleaning for the next statement.
    if (const std::shared_ptr<OdbcConnection> owner = owner_.lock()) {
        SQLFreeStmt(stmt, SQL_UNBIND);
        SQLFreeStmt(stmt, SQL_RESET_PARAMS);
        if (blockCursor_) {
            SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
            SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN(1)), 0);
            SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
        }
        owner->recycleStatement(std::move(statement_));
    }
    statement_.reset();
}

} // namespace rz::provider
