#pragma once
// A plain error object: one description, source, GUID and help reference,
// readable through IErrorInfo and writable through ICreateErrorInfo. Used by
// CreateErrorInfo and for the records of rz::createErrorObject.

#include "platform/com/comobject.h"
#include "platform/sdk/oledb.h"

#include <string>

namespace rz {

class ErrorInfoObject final : public ComObject<IErrorInfo, ICreateErrorInfo> {
public:
    ErrorInfoObject() = default;
    ErrorInfoObject(std::u16string description, std::u16string source, const GUID &guid)
        : description_(std::move(description)), source_(std::move(source)), guid_(guid)
    {
    }

    // IErrorInfo
    HRESULT GetGUID(GUID *pGUID) override;
    HRESULT GetSource(BSTR *pBstrSource) override;
    HRESULT GetDescription(BSTR *pBstrDescription) override;
    HRESULT GetHelpFile(BSTR *pBstrHelpFile) override;
    HRESULT GetHelpContext(DWORD *pdwHelpContext) override;

    // ICreateErrorInfo
    HRESULT SetGUID(REFGUID rguid) override;
    HRESULT SetSource(LPOLESTR szSource) override;
    HRESULT SetDescription(LPOLESTR szDescription) override;
    HRESULT SetHelpFile(LPOLESTR szHelpFile) override;
    HRESULT SetHelpContext(DWORD dwHelpContext) override;

private:
    std::u16string description_;
    std::u16string source_;
    std::u16string helpFile_;
    GUID guid_ = GUID_NULL;
    DWORD helpContext_ = 0;
};

// A BSTR copy of text into *out (null on failure): S_OK, E_POINTER or E_OUTOFMEMORY.
HRESULT copyToBstr(const std::u16string &text, BSTR *out);

} // namespace rz
