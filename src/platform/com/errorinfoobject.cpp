#include "platform/com/errorinfoobject.h"

#include "platform/com/oletext.h"

namespace rz {

HRESULT copyToBstr(const std::u16string &text, BSTR *out)
{
    if (!out)
        return E_POINTER;
    *out = SysAllocStringLen(asOleStr(text.data()), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT ErrorInfoObject::GetGUID(GUID *pGUID)
{
    if (!pGUID)
        return E_INVALIDARG;
    *pGUID = guid_;
    return S_OK;
}

HRESULT ErrorInfoObject::GetSource(BSTR *pBstrSource)
{
    return copyToBstr(source_, pBstrSource);
}

HRESULT ErrorInfoObject::GetDescription(BSTR *pBstrDescription)
{
    return copyToBstr(description_, pBstrDescription);
}

HRESULT ErrorInfoObject::GetHelpFile(BSTR *pBstrHelpFile)
{
    return copyToBstr(std::u16string(), pBstrHelpFile);
}

HRESULT ErrorInfoObject::GetHelpContext(DWORD *pdwHelpContext)
{
    if (!pdwHelpContext)
        return E_INVALIDARG;
    *pdwHelpContext = 0;
    return S_OK;
}

} // namespace rz
