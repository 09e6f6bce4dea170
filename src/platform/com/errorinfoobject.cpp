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

static std::u16string fromOleString(LPCOLESTR text)
{
    return text ? std::u16string(asUtf16(text)) : std::u16string();
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
    return copyToBstr(helpFile_, pBstrHelpFile);
}

HRESULT ErrorInfoObject::GetHelpContext(DWORD *pdwHelpContext)
{
    if (!pdwHelpContext)
        return E_INVALIDARG;
    *pdwHelpContext = helpContext_;
    return S_OK;
}

HRESULT ErrorInfoObject::SetGUID(REFGUID rguid)
{
    guid_ = rguid;
    return S_OK;
}

HRESULT ErrorInfoObject::SetSource(LPOLESTR szSource)
{
    source_ = fromOleString(szSource);
    return S_OK;
}

HRESULT ErrorInfoObject::SetDescription(LPOLESTR szDescription)
{
    description_ = fromOleString(szDescription);
    return S_OK;
}

HRESULT ErrorInfoObject::SetHelpFile(LPOLESTR szHelpFile)
{
    helpFile_ = fromOleString(szHelpFile);
    return S_OK;
}

HRESULT ErrorInfoObject::SetHelpContext(DWORD dwHelpContext)
{
    helpContext_ = dwHelpContext;
    return S_OK;
}

} // namespace rz
