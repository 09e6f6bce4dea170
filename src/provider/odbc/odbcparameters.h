#pragma once
// Binding parameter values to an ODBC statement and running it, long values
// sent as data at execution.

#include "provider/odbc/odbc.h"
#include "provider/odbc/odbctypes.h"
#include "provider/values/parametervalues.h"

#include <string>
#include <vector>

namespace rz::provider {

// Binds the values (in ordinal order) to a statement that has none bound, as
// `bound`, which must stay until it has run; false with diagnostics pending.
bool bindParameterValues(SQLHSTMT statement, const std::vector<ParameterValue> &values, std::vector<OdbcParameter> &bound);

// Runs the statement (SQLExecute, or SQLExecDirectW with text) and feeds
// data-at-execution values; returns the ODBC code of the execution.
SQLRETURN executeWithParameters(SQLHSTMT statement, const std::u16string *text, const std::vector<OdbcParameter> &values);

} // namespace rz::provider
