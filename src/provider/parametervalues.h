#pragma once
// One execution's parameter values: read from the consumer's buffer through
// a parameter accessor, held in ODBC form, bound to a statement and sent
// (long values as data at execution).

#include "platform/oledb.h"
#include "provider/odbchandle.h"
#include "provider/sqltypes.h"

#include <string>
#include <vector>

namespace rz::provider {

struct ParameterValue {
    DBORDINAL ordinal = 0;
    SQLSMALLINT inputOutput = SQL_PARAM_INPUT;
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLSMALLINT sqlType = SQL_WVARCHAR;
    SQLULEN columnSize = 0;
    SQLSMALLINT decimalDigits = 0;
    std::string bytes;           // the value in cType's form (text without terminator)
    SQLLEN indicator = 0;        // SQL_NULL_DATA, a byte length, or data at execution
    bool atExecution = false;    // sent with SQLPutData
};

// Reads every binding's value from `data`. `described` gives the server's
// types by ordinal - 1 (may be shorter or empty). On failure returns
// DB_E_ERRORSOCCURRED or E_FAIL with a pending diagnostic describing the bad
// value; a date or time that is no valid value also gets the status
// DBSTATUS_E_CANTCONVERTVALUE in `data` when its binding has a status part.
HRESULT readParameterValues(const std::vector<DBBINDING> &bindings, BYTE *data,
                            const std::vector<SqlServerType> &described, std::vector<ParameterValue> &out);

// Binds the values (in ordinal order) to the statement; false with diagnostics pending.
bool bindParameterValues(SQLHSTMT statement, std::vector<ParameterValue> &values);

// Runs the statement (SQLExecute, or SQLExecDirectW with text) and feeds
// data-at-execution values; returns the ODBC code of the execution.
SQLRETURN executeWithParameters(SQLHSTMT statement, const std::u16string *text, std::vector<ParameterValue> &values);

} // namespace rz::provider
