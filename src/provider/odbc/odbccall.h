#pragma once
// The one funnel for ODBC calls: every call's return code passes through
// odbcCall(), which adds the diagnostic records of a failure to the calling
// thread's pending diagnostics (diagnostics.h).

#include "provider/diagnostics/diagnostics.h"
#include "provider/odbc/odbchandle.h"

#include <string>
#include <string_view>
#include <vector>

namespace rz::provider {

// Returns rc unchanged. On SQL_ERROR and SQL_INVALID_HANDLE the handle's
// diagnostic records are appended to the thread's pending list.
SQLRETURN odbcCall(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle);

template <SQLSMALLINT T>
SQLRETURN odbcCall(SQLRETURN rc, const OdbcHandle<T> &handle)
{
    return odbcCall(rc, T, handle.get());
}

// True for SQL_SUCCESS and SQL_SUCCESS_WITH_INFO.
inline bool odbcSucceeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Reads every diagnostic record of a handle (SQLGetDiagRecW).
std::vector<Diagnostic> readDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

} // namespace rz::provider
