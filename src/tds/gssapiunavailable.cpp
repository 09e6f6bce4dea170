// On Windows the TDS client has no integrated login of its own: Windows
// logins go through the system's SSPI in Microsoft's providers, and this
// client is built there only to run the project's own provider under test.
// An integrated login fails with a reason instead of a missing symbol.
#include "tds/gssapi.h"

#include "tds/error.h"

namespace rz::tds {

std::string sqlServerPrincipal(const std::string &host, uint16_t port)
{
    return "MSSQLSvc/" + host + ":" + std::to_string(port);
}

std::unique_ptr<SecurityContext> makeKerberosContext(const std::string &servicePrincipal, const std::string &)
{
    throw TdsError(ErrorKind::Authentication,
                   "Integrated security for " + servicePrincipal +
                       " is not available in the Windows build of this client; use SQL Server's own provider "
                       "(provider=MSOLEDBSQL) for a Windows login");
}

} // namespace rz::tds
