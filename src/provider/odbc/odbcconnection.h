#pragma once
// The ODBC backend's connection: one ODBC connection handle; each statement
// runs on a statement handle of its own, taken back when its result stream
// closes and reused by the next statement (allocating and freeing a handle
// is about a fifth of a single-row INSERT's client work); transactions go
// through auto-commit and SQLEndTran.

#include "provider/odbc/odbchandle.h"
#include "provider/serverconnection.h"

#include <memory>

namespace rz::provider {

class OdbcConnection final : public ServerConnection, public std::enable_shared_from_this<OdbcConnection> {
public:
    OdbcConnection(ConnectionHandle handle, long generalTimeoutSeconds)
        : ServerConnection(generalTimeoutSeconds), handle_(std::move(handle))
    {
    }

    SQLHDBC handle() const { return handle_.get(); }

    HRESULT execute(const std::u16string &text, std::vector<ParameterValue> *parameters, long timeoutSeconds,
                    std::shared_ptr<ResultStream> &stream) override;
    bool beginTransaction(ISOLEVEL level) override;
    bool endTransaction(bool commit, bool retaining) override;
    void abandonTransaction() override;

    // Takes back the closed statement handle of a finished result stream:
    // no cursor, columns or parameters bound, one row per fetch.
    void recycleStatement(StatementHandle statement);

private:
    // A recycled statement handle, or a new one; on failure the diagnostics are pending.
    StatementHandle newStatement();

    ConnectionHandle handle_;
    StatementHandle spare_; // freed before the connection handle
    SQLULEN isolationLevel_ = SQL_TXN_READ_COMMITTED;
};

// The ODBC backend of a data source: logs in through the ODBC driver of `kind`.
std::shared_ptr<Backend> makeOdbcBackend(OdbcDriverKind kind, std::u16string driverValue);

} // namespace rz::provider
