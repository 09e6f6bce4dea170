// The per-thread error object of COM: SetErrorInfo replaces it, GetErrorInfo
// hands it to the caller and leaves the thread without one.

#include "platform/com/comruntime.h"
#include "platform/com/comptr.h"

namespace {

rz::ComPtr<IErrorInfo> &threadErrorObject()
{
    thread_local rz::ComPtr<IErrorInfo> current;
    return current;
}

} // namespace

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo *perrinfo)
{
    if (dwReserved != 0)
        return E_INVALIDARG;
    // Take the new reference before dropping the old one: they may be the same object.
    threadErrorObject() = rz::ComPtr<IErrorInfo>::share(perrinfo);
    return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo **pperrinfo)
{
    if (!pperrinfo)
        return E_INVALIDARG;
    *pperrinfo = nullptr;
    if (dwReserved != 0)
        return E_INVALIDARG;
    *pperrinfo = threadErrorObject().detach();
    return *pperrinfo ? S_OK : S_FALSE;
}
