#pragma once
// The one funnel for ODBC calls: every call's return code passes through
// odbcCall(), which keeps the diagnostic records of a failure on the calling
// thread until the OLE DB method that made the call turns them into an error
// object (see errors.h).

#include "provider/odbchandle.h"

#include <string>
#include <string_view>
#include <vector>

namespace rz::provider {

struct OdbcDiagnostic {
    std::u16string sqlState;   // five characters, e.g. u"28000"
    SQLINTEGER nativeError = 0; // the server's error number when it raised one
    std::u16string message;    // the text without the "[vendor][driver]" prefixes
};

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

// The records gathered on this thread since the last clear.
const std::vector<OdbcDiagnostic> &pendingDiagnostics();
std::vector<OdbcDiagnostic> takePendingDiagnostics();
void clearPendingDiagnostics();
// Adds a record of the provider's own (no ODBC call behind it).
void addPendingDiagnostic(std::u16string sqlState, std::u16string message);
void addPendingDiagnostic(OdbcDiagnostic diagnostic);

// Reads every diagnostic record of a handle (SQLGetDiagRecW).
std::vector<OdbcDiagnostic> readDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

// "[FreeTDS][SQL Server]Login failed" -> "Login failed": drops every leading
// bracketed vendor or component name.
std::u16string withoutVendorPrefixes(std::u16string_view message);

// True when a SQLSTATE means the connection itself is gone (08xxx, HYT01).
bool isConnectionLost(std::u16string_view sqlState);

} // namespace rz::provider
