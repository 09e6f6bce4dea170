// CoCreateInstance and CLSIDFromProgID over the class registry, and the
// apartment calls, which have nothing to set up here but keep Windows'
// answers (S_OK the first time on a thread, S_FALSE after, and
// RPC_E_CHANGED_MODE for a different concurrency model).

#include "platform/com/classregistry.h"
#include "platform/com/comruntime.h"

#include <string>

namespace {

struct Apartment {
    int initCount = 0;
    DWORD model = 0;
};

Apartment &threadApartment()
{
    thread_local Apartment apartment;
    return apartment;
}

} // namespace

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit)
{
    Apartment &apartment = threadApartment();
    const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    if (apartment.initCount > 0) {
        if (apartment.model != model)
            return RPC_E_CHANGED_MODE;
        ++apartment.initCount;
        return S_FALSE;
    }
    apartment.model = model;
    apartment.initCount = 1;
    return S_OK;
}

HRESULT CoInitialize(LPVOID pvReserved)
{
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize()
{
    Apartment &apartment = threadApartment();
    if (apartment.initCount > 0)
        --apartment.initCount;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID *ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    // Every class here lives in the process.
    if (!(dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)))
        return REGDB_E_CLASSNOTREG;
    return rz::createInstance(rclsid, pUnkOuter, riid, ppv);
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid)
{
    if (!lpszProgID || !lpclsid)
        return E_INVALIDARG;
    // Program identifiers are ASCII; any other character cannot name a class.
    *lpclsid = CLSID_NULL;
    std::string name;
    for (const OLECHAR *p = lpszProgID; *p; ++p) {
        if (*p > 0x7f)
            return CO_E_CLASSSTRING;
        name.push_back(static_cast<char>(*p));
    }
    if (!rz::findClass(name, lpclsid))
        return CO_E_CLASSSTRING;
    return S_OK;
}
