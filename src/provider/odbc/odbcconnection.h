#pragma once
// The ODBC backend's connection: one ODBC connection handle; each statement
// gets a handle of its own, transactions go through auto-commit and
// SQLEndTran.

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

private:
    // Allocates a statement handle; on failure the diagnostics are pending.
    StatementHandle newStatement();

    ConnectionHandle handle_;
    SQLULEN isolationLevel_ = SQL_TXN_READ_COMMITTED;
};

// The ODBC backend of a data source: logs in through the ODBC driver of `kind`.
std::shared_ptr<Backend> makeOdbcBackend(OdbcDriverKind kind, std::u16string driverValue);

} // namespace rz::provider
