#pragma once
// The data source's initialisation settings, the server address they name,
// and the ODBC connection string they become for the ODBC driver behind a
// program identifier.

#include <optional>
#include <string>
#include <string_view>

namespace rz::provider {

enum class OdbcDriverKind { FreeTds, Microsoft17, Microsoft18 };

// A server as SQL Server clients write it: "host", "host,port",
// "host\instance", optionally with a "tcp:" prefix.
struct ServerAddress {
    std::u16string host;
    std::u16string instance; // empty for the default instance
    int port = 1433;         // 0 when an instance name decides the port
};

std::optional<ServerAddress> parseServerAddress(std::u16string_view dataSource);

struct ConnectionSettings {
    std::u16string dataSource;
    std::u16string catalog;
    std::u16string userId;
    std::u16string password;
    bool integratedSecurity = false;
    std::optional<std::u16string> encrypt; // "Optional", "Mandatory", "Strict", "yes", "no", ...
    std::u16string applicationName = u"REZUVEDOV";
    std::u16string providerString;  // DBPROP_INIT_PROVIDERSTRING: "Key=value;..."
    long loginTimeoutSeconds = 0;   // 0: the client library's own
    long generalTimeoutSeconds = 0; // 0: none
};

// A setting of the provider string ("Key=value;..."): the key in any case,
// the value as written (paths keep their case) with surrounding blanks
// trimmed; empty when the key is absent.
std::u16string providerStringSetting(std::u16string_view providerString, std::u16string_view key);

// Escapes one value the way ODBC connection strings quote: in braces when it
// holds a separator, a brace or surrounding blanks.
std::u16string quoteConnectionValue(std::u16string_view value);

// driverValue is what goes after "DRIVER=": a registered name or a library path.
// Empty when the data source text cannot be read.
std::u16string buildConnectionString(const ConnectionSettings &settings, OdbcDriverKind kind,
                                     std::u16string_view driverValue);

} // namespace rz::provider
