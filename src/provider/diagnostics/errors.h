#pragma once
// How the provider's OLE DB methods report failure: the pending diagnostics
// (diagnostics.h) become one error object with a record per diagnostic, set
// as the thread's error object.

#include "platform/sdk/oledb.h"
#include "provider/diagnostics/diagnostics.h"

#include <string>

namespace rz::provider {

// Opens an OLE DB method: diagnostics and the error object of earlier calls
// are forgotten, so a failure is never explained by an older one.
inline void beginCall()
{
    clearPendingDiagnostics();
    SetErrorInfo(0, nullptr);
}

// Sets the thread's error object from the pending diagnostics (or, when
// there are none, from the system text for hr) and returns hr.
HRESULT reportFailure(HRESULT hr, REFIID failingInterface);

// For a failure of an inner call (the client cursor's reading of the rows)
// that has set its own error object, such as the server's message for an
// error in the middle of a result: keeps it rather than replacing it with
// the bare code; otherwise as reportFailure.
HRESULT passOnFailure(HRESULT hr, REFIID failingInterface);

// Sets an error object with one record of the provider's own and returns hr.
HRESULT reportFailure(HRESULT hr, REFIID failingInterface, std::u16string description);

// The HRESULT for a failed execution: E_FAIL when the connection is
// gone, DB_E_ERRORSINCOMMAND for errors in the statement.
HRESULT executionFailureCode();

// DB_SEC_E_AUTH_FAILED for refused logins, E_FAIL otherwise.
HRESULT loginFailureCode();

// After a failed login: when the server gave its reason, the driver's own
// "Unable to connect to data source" record adds nothing and is dropped.
void dropGenericConnectFailure();

} // namespace rz::provider
