#pragma once
// The process-wide ODBC environment and the lookup of installed ODBC drivers.

#include "provider/connectionstring.h"
#include "provider/odbc/odbchandle.h"

#include <optional>
#include <string>

namespace rz::provider {

// The shared environment (ODBC 3.8 behaviour); null when unixODBC cannot make one.
SQLHENV odbcEnvironment();

// What goes after "DRIVER=" for the ODBC driver of a kind, or nothing when
// that driver is not installed. FreeTDS is found by its registered name or
// by the library path of Debian's tdsodbc package.
std::optional<std::u16string> installedDriver(OdbcDriverKind kind);

} // namespace rz::provider
