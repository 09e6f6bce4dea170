#include "provider/odbc/odbcconnection.h"

#include "provider/diagnostics/errors.h"
#include "provider/odbc/odbccall.h"
#include "provider/odbc/odbcenvironment.h"
#include "provider/odbc/odbcparameters.h"
#include "provider/odbc/odbcresultstream.h"

namespace rz::provider {

StatementHandle OdbcConnection::newStatement()
{
    if (spare_)
        return std::move(spare_);
    StatementHandle statement;
    odbcCall(statement.allocate(handle_.get()), handle_);
    return statement;
}

void OdbcConnection::recycleStatement(StatementHandle statement)
{
    if (!spare_)
        spare_ = std::move(statement);
}

HRESULT OdbcConnection::execute(const std::u16string &text, std::vector<ParameterValue> *parameters,
                                long timeoutSeconds, std::shared_ptr<ResultStream> &stream)
{
    stream.reset();
    makeIdle();
    StatementHandle statement = newStatement();
    if (!statement)
        return E_FAIL;
    // Set also when 0: a driver's own default (FreeTDS's Timeout=) must not apply.
    SQLSetStmtAttr(statement.get(), SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(SQLULEN(timeoutSeconds > 0 ? timeoutSeconds : 0)), 0);
    std::vector<ParameterValue> none;
    std::vector<ParameterValue> &values = parameters ? *parameters : none;
    std::vector<OdbcParameter> bound;
    if (!values.empty() && !bindParameterValues(statement.get(), values, bound))
        return E_FAIL;
    const SQLRETURN rc = executeWithParameters(statement.get(), &text, bound);
    // SQL_NO_DATA: a searched UPDATE or DELETE that touched no row.
    if (!odbcSucceeded(rc) && rc != SQL_NO_DATA)
        return executionFailureCode();
    auto fresh = std::make_shared<OdbcResultStream>(shared_from_this(), std::move(statement));
    if (!fresh->describeCurrentResult())
        return executionFailureCode();
    fresh->becomeActive();
    stream = std::move(fresh);
    return S_OK;
}

bool OdbcConnection::beginTransaction(ISOLEVEL level)
{
    SQLULEN odbcLevel = SQL_TXN_READ_COMMITTED;
    switch (level) {
    case ISOLATIONLEVEL_READUNCOMMITTED: odbcLevel = SQL_TXN_READ_UNCOMMITTED; break;
    case ISOLATIONLEVEL_REPEATABLEREAD: odbcLevel = SQL_TXN_REPEATABLE_READ; break;
    case ISOLATIONLEVEL_SERIALIZABLE: odbcLevel = SQL_TXN_SERIALIZABLE; break;
    default: break;
    }
    makeIdle();
    const SQLHDBC dbc = handle_.get();
    // Read committed is the server's default: asking for it would cost a round trip.
    if (odbcLevel != isolationLevel_) {
        if (!odbcSucceeded(odbcCall(SQLSetConnectAttr(dbc, SQL_ATTR_TXN_ISOLATION, reinterpret_cast<SQLPOINTER>(odbcLevel), 0),
                                    SQL_HANDLE_DBC, dbc)))
            return false;
        isolationLevel_ = odbcLevel;
    }
    if (!odbcSucceeded(odbcCall(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
                                SQL_HANDLE_DBC, dbc)))
        return false;
    setInTransaction(true);
    return true;
}

bool OdbcConnection::endTransaction(bool commit, bool retaining)
{
    makeIdle();
    const SQLHDBC dbc = handle_.get();
    const bool ended = odbcSucceeded(odbcCall(SQLEndTran(SQL_HANDLE_DBC, dbc, commit ? SQL_COMMIT : SQL_ROLLBACK),
                                              SQL_HANDLE_DBC, dbc));
    if (!retaining || !ended) {
        // Back to auto-commit, also when the server could not end the
        // transaction (a dropped connection ends it anyway).
        SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
        setInTransaction(false);
    }
    return ended;
}

void OdbcConnection::abandonTransaction()
{
    if (!inTransaction())
        return;
    makeIdle();
    SQLEndTran(SQL_HANDLE_DBC, handle_.get(), SQL_ROLLBACK);
    setInTransaction(false);
}

namespace {

class OdbcBackend final : public Backend {
public:
    OdbcBackend(OdbcDriverKind kind, std::u16string driverValue) : kind_(kind), driverValue_(std::move(driverValue)) {}

    std::shared_ptr<ServerConnection> connect(const ConnectionSettings &settings) override
    {
        std::u16string connectionString = buildConnectionString(settings, kind_, driverValue_);
        auto connection = login(connectionString, settings);
        if (!connection) {
            dropGenericConnectFailure();
            if (settings.integratedSecurity && kind_ == OdbcDriverKind::FreeTds) {
                // FreeTDS's own text ("Adaptive Server connection failed") does not say why.
                auto driverRecords = takePendingDiagnostics();
                addPendingDiagnostic(u"28000", u"Integrated security through FreeTDS needs a Kerberos ticket for the "
                                               u"server; the login without a user name failed.");
                for (auto &d : driverRecords)
                    addPendingDiagnostic(std::move(d));
            }
        }
        return connection;
    }

private:
    std::shared_ptr<ServerConnection> login(std::u16string &connectionString, const ConnectionSettings &settings)
    {
        SQLHENV env = odbcEnvironment();
        if (!env) {
            addPendingDiagnostic(u"IM004", u"The ODBC driver manager could not make an environment.");
            return nullptr;
        }
        ConnectionHandle dbc;
        if (!odbcSucceeded(odbcCall(dbc.allocate(env), SQL_HANDLE_ENV, env)))
            return nullptr;
        if (settings.loginTimeoutSeconds > 0)
            SQLSetConnectAttr(dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                              reinterpret_cast<SQLPOINTER>(SQLULEN(settings.loginTimeoutSeconds)), 0);
        if (settings.generalTimeoutSeconds > 0)
            SQLSetConnectAttr(dbc.get(), SQL_ATTR_CONNECTION_TIMEOUT,
                              reinterpret_cast<SQLPOINTER>(SQLULEN(settings.generalTimeoutSeconds)), 0);
        const SQLRETURN rc = odbcCall(
            SQLDriverConnectW(dbc.get(), nullptr, reinterpret_cast<SQLWCHAR *>(connectionString.data()),
                              SQLSMALLINT(connectionString.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
            dbc);
        if (!odbcSucceeded(rc))
            return nullptr;
        return std::make_shared<OdbcConnection>(std::move(dbc), settings.generalTimeoutSeconds);
    }

    OdbcDriverKind kind_;
    std::u16string driverValue_;
};

} // namespace

std::shared_ptr<Backend> makeOdbcBackend(OdbcDriverKind kind, std::u16string driverValue)
{
    return std::make_shared<OdbcBackend>(kind, std::move(driverValue));
}

} // namespace rz::provider
