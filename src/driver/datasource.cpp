#include "driver/datasource.h"

#include "driver/rezuvedovdriver.h"
#include "platform/com/ownedmemory.h"
#include "qtcompat/oletext.h"

HRESULT openDataSource(rz::ComPtr<IDBInitialize> &dataSource, const OLECHAR *progId,
                       DBPROPSET *sets, ULONG setCount)
{
    CLSID clsid;
    {
        const rz::Bstr name(progId);
        if (!name)
            throwHResult(E_OUTOFMEMORY);
        const HRESULT hr = CLSIDFromProgID(name.get(), &clsid);
        if (FAILED(hr))
            return hr;
    }

    rz::ComPtr<IDataInitialize> services;
    HRESULT hr = CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IDataInitialize, services.putVoid());
    if (FAILED(hr))
        return hr;

    hr = services->CreateDBInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, nullptr,
                                    IID_IDBInitialize, dataSource.putUnknown());
    if (FAILED(hr))
        return hr;

    if (sets) {
        rz::ComPtr<IDBProperties> properties;
        hr = dataSource.query(IID_IDBProperties, properties);
        if (FAILED(hr))
            return hr;
        hr = properties->SetProperties(setCount, sets);
        if (FAILED(hr))
            return hr;
    }
    return dataSource->Initialize();
}

namespace {

// utf16() of a null QString is still a valid empty string; the provider
// gets an empty BSTR for it, never a missing value.
const OLECHAR *oleText(const QString &text)
{
    const OLECHAR *chars = rz::oleText(text);
    return chars ? chars : OLESTR("");
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

    addIntegerProperty(init, DBPROP_INIT_TIMEOUT, 1);
    addStringProperty(init, DBPROP_INIT_DATASOURCE, oleText(host));
    addIntegerProperty(init, DBPROP_INIT_GENERALTIMEOUT, 1);
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
        addStringProperty(init, DBPROP_AUTH_INTEGRATED, OLESTR("SSPI"));
    }

    result.hr = openDataSource(result.dataSource, oleText(provider), sets, 2);
    return result;
}
