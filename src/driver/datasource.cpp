#include "driver/datasource.h"

#include "driver/rezuvedovdriver.h"

#include <cstring>

static_assert(sizeof(OLEDBPropertySet) == sizeof(DBPROPSET),
              "property sets are passed to providers as DBPROPSET arrays");

void throwHResult(HRESULT hr)
{
    throw CAtlException(hr);
}

OLEDBPropertySet::OLEDBPropertySet(const GUID &setId) noexcept
{
    rgProperties = nullptr;
    cProperties = 0;
    guidPropertySet = setId;
}

OLEDBPropertySet::~OLEDBPropertySet()
{
    for (ULONG i = 0; i < cProperties; ++i)
        VariantClear(&rgProperties[i].vValue);
    CoTaskMemFree(rgProperties);
    rgProperties = nullptr;
    cProperties = 0;
}

bool addProperty(OLEDBPropertySet &set, DWORD options)
{
    if (set.cProperties == 0xFFFFFFFFu)
        return false;
    const unsigned long long bytes = (static_cast<unsigned long long>(set.cProperties) + 1) * sizeof(DBPROP);
    if (bytes > 0xFFFFFFFFull)
        return false;
    void *grown = CoTaskMemRealloc(set.rgProperties, static_cast<SIZE_T>(bytes));
    if (!grown)
        return false;
    set.rgProperties = static_cast<DBPROP *>(grown);

    DBPROP &prop = set.rgProperties[set.cProperties];
    std::memset(&prop, 0, sizeof prop);
    prop.dwOptions = options;
    prop.colid = DB_NULLID;
    VariantInit(&prop.vValue);
    prop.vValue.vt = VT_EMPTY;
    return true;
}

bool addStringProperty(OLEDBPropertySet &set, DBPROPID id, const OLECHAR *value, DWORD options)
{
    if (!addProperty(set, options))
        return false;
    DBPROP &prop = set.rgProperties[set.cProperties];
    prop.dwPropertyID = id;
    prop.vValue.vt = VT_BSTR;
    prop.vValue.bstrVal = value ? SysAllocString(value) : nullptr;
    if (!value)
        return false;
    if (!prop.vValue.bstrVal) {
        prop.vValue.vt = VT_EMPTY;
        throwHResult(E_OUTOFMEMORY);
    }
    ++set.cProperties;
    return true;
}

HRESULT openDataSource(IDBInitialize **dataSource, const OLECHAR *progId,
                       DBPROPSET *sets, ULONG setCount)
{
    CLSID clsid;
    {
        BSTR name = SysAllocString(progId);
        if (!name)
            throwHResult(E_OUTOFMEMORY);
        const HRESULT hr = CLSIDFromProgID(name, &clsid);
        SysFreeString(name);
        if (FAILED(hr))
            return hr;
    }

    rz::ComPtr<IDataInitialize> services;
    HRESULT hr = CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IDataInitialize, services.putVoid());
    if (FAILED(hr))
        return hr;

    if (IDBInitialize *old = *dataSource) {
        *dataSource = nullptr;
        old->Release();
    }
    hr = services->CreateDBInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, nullptr,
                                    IID_IDBInitialize, reinterpret_cast<IUnknown **>(dataSource));
    if (FAILED(hr))
        return hr;

    if (sets) {
        rz::ComPtr<IDBProperties> properties;
        hr = (*dataSource)->QueryInterface(IID_IDBProperties, properties.putVoid());
        if (FAILED(hr))
            return hr;
        hr = properties->SetProperties(setCount, sets);
        if (FAILED(hr))
            return hr;
    }
    return (*dataSource)->Initialize();
}

namespace {

const OLECHAR *oleText(const QString &text)
{
    // utf16() of a null QString is still a valid empty string; the provider
    // gets an empty BSTR for it, never a missing value.
    const ushort *chars = text.utf16();
    return chars ? reinterpret_cast<const OLECHAR *>(chars) : reinterpret_cast<const OLECHAR *>(u"");
}

void addSecondsProperty(OLEDBPropertySet &set, DBPROPID id, LONG seconds)
{
    if (!addProperty(set, DBPROPOPTIONS_REQUIRED))
        return;
    DBPROP &prop = set.rgProperties[set.cProperties];
    prop.dwPropertyID = id;
    prop.vValue.vt = VT_I4;
    prop.vValue.lVal = seconds;
    ++set.cProperties;
}

} // namespace

RealConnectResult REzuVEDOVDriver::realConnect(const QString &db, const QString &user,
                                               const QString &password, const QString &host,
                                               const QString &provider)
{
    RealConnectResult result;

    OLEDBPropertySet sets[2] = {OLEDBPropertySet(DBPROPSET_DBINIT),
                                OLEDBPropertySet(DBPROPSET_SQLSERVERDBINIT)};
    OLEDBPropertySet &init = sets[0];
    OLEDBPropertySet &sqlServer = sets[1];

    addSecondsProperty(init, DBPROP_INIT_TIMEOUT, 1);
    addStringProperty(init, DBPROP_INIT_DATASOURCE, oleText(host));
    addSecondsProperty(init, DBPROP_INIT_GENERALTIMEOUT, 1);
    addStringProperty(init, DBPROP_INIT_CATALOG, oleText(db));

    // Only the automatically chosen newest provider is asked for optional
    // encryption; a name given in the options arrives lower-cased.
    if (provider == QLatin1String("MSOLEDBSQL19")) {
        static const char optional[] = "Optional";
        OLECHAR wide[sizeof optional];
        if (MultiByteToWideChar(CP_THREAD_ACP, 0, optional, -1, wide, int(sizeof optional)) <= 0)
            throwHResult(E_OUTOFMEMORY);
        addStringProperty(sqlServer, SSPROP_INIT_ENCRYPT, wide);
    }

    if (!user.isEmpty()) {
        addStringProperty(init, DBPROP_AUTH_USERID, oleText(user));
        addStringProperty(init, DBPROP_AUTH_PASSWORD, oleText(password));
    } else {
        addStringProperty(init, DBPROP_AUTH_INTEGRATED, reinterpret_cast<const OLECHAR *>(u"SSPI"));
    }

    IDBInitialize *dataSource = nullptr;
    try {
        result.hr = openDataSource(&dataSource, oleText(provider), sets, 2);
    } catch (...) {
        if (dataSource)
            dataSource->Release();
        throw;
    }
    result.dataSource = rz::ComPtr<IDBInitialize>::adopt(dataSource);
    return result;
}
