#pragma once
// The diagnostics an OLE DB method gathers before it fails: one record per
// message of the server, the client library or the provider itself, kept on
// the calling thread until the method turns them into an error object (see
// errors.h). Both server backends report through this list.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rz::provider {

struct Diagnostic {
    std::u16string sqlState;   // five characters, e.g. u"28000"
    int32_t nativeError = 0;   // the server's error number when it raised one
    std::u16string message;    // the text without the "[vendor][driver]" prefixes
};

// The records gathered on this thread since the last clear.
const std::vector<Diagnostic> &pendingDiagnostics();
std::vector<Diagnostic> takePendingDiagnostics();
void clearPendingDiagnostics();
// Adds a record of the provider's own (no server message behind it).
void addPendingDiagnostic(std::u16string sqlState, std::u16string message);
void addPendingDiagnostic(Diagnostic diagnostic);

// "[FreeTDS][SQL Server]Login failed" -> "Login failed": drops every leading
// bracketed vendor or component name.
std::u16string withoutVendorPrefixes(std::u16string_view message);

// True when a SQLSTATE means the connection itself is gone (08xxx, HYT01).
bool isConnectionLost(std::u16string_view sqlState);

} // namespace rz::provider
