#include "provider/odbc/odbcenvironment.h"

#include "platform/com/faultinjection.h"
#include "provider/odbc/odbccall.h"

#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string_view>
#include <vector>

namespace rz::provider {

namespace {

constexpr const char *kFreeTdsLibrary = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";

struct RegisteredDriver {
    std::u16string name;
    std::u16string library; // the Driver= attribute
};

std::vector<RegisteredDriver> registeredDrivers()
{
    std::vector<RegisteredDriver> drivers;
    SQLHENV env = odbcEnvironment();
    if (!env)
        return drivers;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLWCHAR name[256];
        SQLWCHAR attributes[2048];
        SQLSMALLINT nameLength = 0, attributesLength = 0;
        const SQLRETURN rc = SQLDriversW(env, direction, name, 256, &nameLength, attributes, 2048, &attributesLength);
        if (!odbcSucceeded(rc))
            break;
        direction = SQL_FETCH_NEXT;
        RegisteredDriver driver;
        driver.name.assign(reinterpret_cast<const char16_t *>(name));
        // Attributes are "key=value\0key=value\0\0".
        const char16_t *p = reinterpret_cast<const char16_t *>(attributes);
        const char16_t *end = p + std::min<SQLSMALLINT>(attributesLength, 2047);
        while (p < end && *p) {
            std::u16string_view entry(p);
            if (entry.size() > 7 && (entry.substr(0, 7) == u"Driver=" || entry.substr(0, 7) == u"driver="))
                driver.library = std::u16string(entry.substr(7));
            p += entry.size() + 1;
        }
        drivers.push_back(std::move(driver));
    }
    return drivers;
}

bool endsWith(std::u16string_view text, std::u16string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

} // namespace

SQLHENV odbcEnvironment()
{
    // Made on first use and kept; a failed attempt is tried again on the next call.
    static std::mutex guard;
    static EnvironmentHandle environment;
    const std::lock_guard<std::mutex> lock(guard);
    if (!environment && !allocationMustFail()) {
        EnvironmentHandle env;
        if (odbcSucceeded(env.allocate(SQL_NULL_HANDLE))) {
            SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3_80), 0);
            environment = std::move(env);
        }
    }
    return environment.get();
}

std::optional<std::u16string> installedDriver(OdbcDriverKind kind)
{
    const auto drivers = registeredDrivers();
    switch (kind) {
    case OdbcDriverKind::Microsoft18:
    case OdbcDriverKind::Microsoft17: {
        const std::u16string_view wanted = kind == OdbcDriverKind::Microsoft18 ? u"ODBC Driver 18 for SQL Server"
                                                                               : u"ODBC Driver 17 for SQL Server";
        for (const auto &d : drivers)
            if (d.name == wanted)
                return u"{" + d.name + u"}";
        return std::nullopt;
    }
    case OdbcDriverKind::FreeTds:
        for (const auto &d : drivers)
            if (d.name == u"FreeTDS" || endsWith(d.library, u"libtdsodbc.so"))
                return u"{" + d.name + u"}";
        if (access(kFreeTdsLibrary, R_OK) == 0) {
            const std::string_view path(kFreeTdsLibrary);
            return std::u16string(path.begin(), path.end());
        }
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace rz::provider
