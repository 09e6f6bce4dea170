#include "driver/providerprobe.h"

#include "platform/com/comptr.h"
#include "qtcompat/oletext.h"

bool probeProvider(const QString &name, IDataInitialize *dataInit)
{
    const QString init = QStringLiteral("Provider=%1").arg(name);
    rz::ComPtr<IUnknown> object;
    const HRESULT hr = dataInit->GetDataSource(
        nullptr, CLSCTX_INPROC_SERVER, rz::oleText(init),
        IID_IDBInitialize, object.put());
    // The object is never initialised: its existence is the whole answer.
    object.reset();
    return hr >= 0;
}

QString chooseProvider()
{
    rz::ComPtr<IDataInitialize> dataInit;
    if (FAILED(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IDataInitialize, dataInit.putVoid())))
        return QString();
    for (const QString &name : {QStringLiteral("MSOLEDBSQL19"), QStringLiteral("MSOLEDBSQL")}) {
        if (probeProvider(name, dataInit.get()))
            return name;
    }
    return QString();
}
