#pragma once
// A plain error object: one description, source and GUID, readable through
// IErrorInfo. The records of rz::createErrorObject hand these out.

#include "platform/com/comobject.h"
#include "platform/sdk/oledb.h"

#include <string>

namespace rz {

class ErrorInfoObject final : public ComObject<IErrorInfo> {
public:
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

private:
    std::u16string description_;
    std::u16string source_;
    GUID guid_ = GUID_NULL;
};

// A BSTR copy of text into *out (null on failure): S_OK, E_POINTER or E_OUTOFMEMORY.
HRESULT copyToBstr(const std::u16string &text, BSTR *out);

} // namespace rz
