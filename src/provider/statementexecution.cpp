#include "provider/statementexecution.h"

#include "provider/errors.h"

namespace rz::provider {

HRESULT executeStatement(const std::shared_ptr<OdbcConnection> &connection, const std::u16string &text,
                         std::vector<ParameterValue> *parameters, long queryTimeoutSeconds,
                         std::shared_ptr<ResultStream> &stream)
{
    stream.reset();
    connection->makeIdle();
    StatementHandle statement = connection->newStatement();
    if (!statement)
        return E_FAIL;
    if (queryTimeoutSeconds > 0)
        SQLSetStmtAttr(statement.get(), SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(SQLULEN(queryTimeoutSeconds)), 0);
    std::vector<ParameterValue> none;
    std::vector<ParameterValue> &values = parameters ? *parameters : none;
    if (!values.empty() && !bindParameterValues(statement.get(), values))
        return E_FAIL;
    const SQLRETURN rc = executeWithParameters(statement.get(), &text, values);
    // SQL_NO_DATA: a searched UPDATE or DELETE that touched no row.
    if (!odbcSucceeded(rc) && rc != SQL_NO_DATA)
        return executionFailureCode();
    auto fresh = std::make_shared<ResultStream>(connection, std::move(statement));
    if (!fresh->describeCurrentResult())
        return executionFailureCode();
    fresh->becomeActive();
    stream = std::move(fresh);
    return S_OK;
}

} // namespace rz::provider
