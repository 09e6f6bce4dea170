#pragma once
// The client's half of an integrated login: SPNEGO tokens with the Kerberos
// mechanism, made by the system's GSSAPI library (MIT Kerberos,
// libgssapi_krb5.so.2) from the user's default ticket cache. The library is
// loaded when the first integrated login needs it, so everything else works
// on a machine without Kerberos.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rz::tds {

class SecurityContext {
public:
    virtual ~SecurityContext() = default;
    // The next token for the server, made from the server's last token
    // (none for the first). Empty once nothing more needs to go to the
    // server. Throws TdsError(Authentication) with what went wrong, also when
    // the work (which may ask the KDC for a service ticket) takes longer than
    // `timeout`.
    virtual std::vector<uint8_t> step(const std::vector<uint8_t> &serverToken, std::chrono::milliseconds timeout) = 0;
    // Both sides are authenticated.
    virtual bool complete() const = 0;
};

// SQL Server's service principal for a server as the client names it:
// MSSQLSvc/<host>:<port>, in the default realm.
std::string sqlServerPrincipal(const std::string &host, uint16_t port);

// A Kerberos context for `servicePrincipal` on the library named
// `library`. Throws TdsError(Authentication) when the library cannot be loaded.
std::unique_ptr<SecurityContext> makeKerberosContext(const std::string &servicePrincipal,
                                                     const std::string &library = "libgssapi_krb5.so.2");

} // namespace rz::tds
