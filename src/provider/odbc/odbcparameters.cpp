#include "provider/odbc/odbcparameters.h"

#include "provider/odbc/odbccall.h"

#include <algorithm>

namespace rz::provider {

namespace {

constexpr size_t kPutChunk = 64 * 1024;

} // namespace

bool bindParameterValues(SQLHSTMT statement, const std::vector<ParameterValue> &values, std::vector<OdbcParameter> &bound)
{
    bound.clear();
    bound.reserve(values.size());
    for (const ParameterValue &value : values)
        bound.push_back(odbcParameter(value));
    for (size_t i = 0; i < bound.size(); ++i) {
        OdbcParameter &p = bound[i];
        SQLPOINTER buffer = p.bytes().empty() ? nullptr : const_cast<char *>(p.bytes().data());
        SQLLEN bufferLength = SQLLEN(p.bytes().size());
        if (p.atExecution) {
            // The token SQLParamData hands back is the value's index plus one.
            buffer = reinterpret_cast<SQLPOINTER>(i + 1);
            bufferLength = 0;
            p.indicator = SQL_LEN_DATA_AT_EXEC(SQLLEN(p.bytes().size()));
        }
        // ODBC refuses a null buffer even for a value of length 0.
        if (!buffer) {
            static char empty[2] = {0, 0};
            buffer = empty;
        }
        const SQLRETURN rc = odbcCall(SQLBindParameter(statement, SQLUSMALLINT(values[i].ordinal), p.inputOutput, p.cType,
                                                       p.sqlType, p.columnSize, p.decimalDigits, buffer, bufferLength,
                                                       &p.indicator),
                                      SQL_HANDLE_STMT, statement);
        if (!odbcSucceeded(rc))
            return false;
    }
    return true;
}

SQLRETURN executeWithParameters(SQLHSTMT statement, const std::u16string *text, const std::vector<OdbcParameter> &values)
{
    SQLRETURN rc = text ? SQLExecDirectW(statement, reinterpret_cast<SQLWCHAR *>(const_cast<char16_t *>(text->c_str())),
                                         SQLINTEGER(text->size()))
                        : SQLExecute(statement);
    while (rc == SQL_NEED_DATA) {
        SQLPOINTER token = nullptr;
        rc = SQLParamData(statement, &token);
        if (rc != SQL_NEED_DATA)
            break;
        const size_t index = reinterpret_cast<size_t>(token) - 1;
        if (index >= values.size()) {
            SQLCancel(statement);
            addPendingDiagnostic(u"HY000", u"The ODBC driver asked for an unknown parameter.");
            return SQL_ERROR;
        }
        const std::string &bytes = values[index].bytes();
        for (size_t done = 0; done < bytes.size();) {
            size_t n = std::min(kPutChunk, bytes.size() - done);
            const SQLRETURN put = SQLPutData(statement, const_cast<char *>(bytes.data() + done), SQLLEN(n));
            if (!odbcSucceeded(put))
                return odbcCall(put, SQL_HANDLE_STMT, statement);
            done += n;
        }
    }
    return odbcCall(rc, SQL_HANDLE_STMT, statement);
}

} // namespace rz::provider
