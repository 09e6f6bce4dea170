#pragma once
// One execution's parameter values, read from the consumer's buffer through
// a parameter accessor. They are held in ODBC's vocabulary (C type, SQL
// type, size and digits, the value in the C type's form), which every
// backend reads: the ODBC backend binds them as they are (odbcparameters.h).

#include "platform/sdk/oledb.h"
#include "provider/odbc/odbc.h"
#include "provider/values/sqltypes.h"

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
    bool atExecution = false;    // a long value the consumer gave as a stream
};

// ODBC's size and digits of datetime mark a timestamp meant for a datetime
// parameter: it goes out as datetime (1/300 s), not datetime2, or .007 would
// arrive as .0070000, which SQL Server does not find equal to the stored .007.
constexpr SQLULEN kDateTimeColumnSize = 23;
constexpr SQLSMALLINT kDateTimeDigits = 3;
inline bool isDateTimeParameter(const ParameterValue &p)
{
    return p.columnSize == kDateTimeColumnSize && p.decimalDigits == kDateTimeDigits;
}

// Reads every binding's value from `data`. `described` gives the server's
// types by ordinal - 1 (may be shorter or empty). On failure returns
// DB_E_ERRORSOCCURRED or E_FAIL with a pending diagnostic describing the bad
// value; a date or time that is no valid value also gets the status
// DBSTATUS_E_CANTCONVERTVALUE in `data` when its binding has a status part.
HRESULT readParameterValues(const std::vector<DBBINDING> &bindings, BYTE *data,
                            const std::vector<SqlServerType> &described, std::vector<ParameterValue> &out);

} // namespace rz::provider
