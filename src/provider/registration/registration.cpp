// Registers the provider's data source under the program identifiers of
// Microsoft's SQL Server providers. "SQLOLEDB", the name a connection uses
// when the probe finds neither of Microsoft's newer providers, runs on the
// provider's own TDS client and is always there. "MSOLEDBSQL19" and
// "MSOLEDBSQL" run on Microsoft's ODBC Driver 18 and 17, and "RZFREETDS" on
// FreeTDS's ODBC driver; a name whose ODBC driver is not installed cannot be
// created, so a probe for installed providers finds only what works.

#include "platform/com/classregistry.h"
#include "provider/objects/datasource.h"
#include "provider/odbc/odbcconnection.h"
#include "provider/odbc/odbcenvironment.h"
#include "provider/tds/tdsconnection.h"

#include <mutex>
#include <optional>

namespace rz::provider {

namespace {

// {EE5DE99A-4453-4C96-861C-F8832A7F59FE}
constexpr CLSID kClsidMsOleDbSql19 = {0xEE5DE99A, 0x4453, 0x4C96, {0x86, 0x1C, 0xF8, 0x83, 0x2A, 0x7F, 0x59, 0xFE}};
// {5A23DE84-1D7B-4A16-8DED-B29C09CB648D}
constexpr CLSID kClsidMsOleDbSql = {0x5A23DE84, 0x1D7B, 0x4A16, {0x8D, 0xED, 0xB2, 0x9C, 0x09, 0xCB, 0x64, 0x8D}};
// {B1D5A0E2-6C0F-4E4B-9A57-3D2C8E61F7A4}
constexpr CLSID kClsidRzFreeTds = {0xB1D5A0E2, 0x6C0F, 0x4E4B, {0x9A, 0x57, 0x3D, 0x2C, 0x8E, 0x61, 0xF7, 0xA4}};
// {0C7FF16C-38E3-11D0-97AB-00C04FC2AD98}
constexpr CLSID kClsidSqlOleDb = {0x0C7FF16C, 0x38E3, 0x11D0, {0x97, 0xAB, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98}};

// The driver lookup reads odbcinst once per kind and process (with the
// ODBC environment its caller made sure of).
std::optional<std::u16string> cachedDriver(OdbcDriverKind kind)
{
    static std::mutex mutex;
    static std::optional<std::u16string> found[3];
    static bool looked[3] = {false, false, false};
    const int k = int(kind);
    std::lock_guard<std::mutex> lock(mutex);
    if (!looked[k]) {
        found[k] = installedDriver(kind);
        looked[k] = true;
    }
    return found[k];
}

rz::ClassFactory factoryFor(OdbcDriverKind kind)
{
    return [kind](IUnknown *outer, REFIID iid, void **object) -> HRESULT {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        // Without an environment nothing can be learnt; the next creation tries again.
        if (!odbcEnvironment())
            return E_OUTOFMEMORY;
        const auto driver = cachedDriver(kind);
        if (!driver)
            return REGDB_E_CLASSNOTREG;
        return createDataSource(makeOdbcBackend(kind, *driver), outer, iid, object);
    };
}

HRESULT createTdsDataSource(IUnknown *outer, REFIID iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    return createDataSource(makeTdsBackend(), outer, iid, object);
}

struct Registrar {
    Registrar()
    {
        rz::registerClass("MSOLEDBSQL19", kClsidMsOleDbSql19, factoryFor(OdbcDriverKind::Microsoft18));
        rz::registerClass("MSOLEDBSQL", kClsidMsOleDbSql, factoryFor(OdbcDriverKind::Microsoft17));
        rz::registerClass("SQLOLEDB", kClsidSqlOleDb, createTdsDataSource);
        rz::registerClass("RZFREETDS", kClsidRzFreeTds, factoryFor(OdbcDriverKind::FreeTds));
    }
};

const Registrar registrar;

} // namespace

} // namespace rz::provider
