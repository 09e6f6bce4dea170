// The OLE DB error object: an ordered list of records. IErrorInfo on the
// object itself describes record 0; IErrorRecords reaches every record.

#include "platform/services/errorobject.h"

#include "platform/sdk/oledb.h"
#include "platform/com/errorinfoobject.h"

#include <new>

namespace rz {
namespace {

struct StoredRecord {
    ErrorRecordText text;
    ERRORINFO basic = {};
};

class ErrorRecordsObject final : public ComObject<IErrorInfo, IErrorRecords> {
public:
    explicit ErrorRecordsObject(const std::vector<ErrorRecordText> &records)
    {
        for (const ErrorRecordText &text : records) {
            StoredRecord stored;
            stored.text = text;
            stored.basic.hrError = text.hr;
            stored.basic.dwMinor = text.minor;
            stored.basic.clsid = GUID_NULL;
            stored.basic.iid = text.iid;
            records_.push_back(std::move(stored));
        }
    }

    // IErrorInfo: the top record.
    HRESULT GetGUID(GUID *pGUID) override
    {
        if (!pGUID)
            return E_INVALIDARG;
        *pGUID = records_.empty() ? GUID_NULL : records_.front().text.iid;
        return S_OK;
    }
    HRESULT GetSource(BSTR *pBstrSource) override
    {
        return copyToBstr(records_.empty() ? std::u16string() : records_.front().text.source,
                          pBstrSource);
    }
    HRESULT GetDescription(BSTR *pBstrDescription) override
    {
        return copyToBstr(records_.empty() ? std::u16string() : records_.front().text.description,
                          pBstrDescription);
    }
    HRESULT GetHelpFile(BSTR *pBstrHelpFile) override
    {
        return copyToBstr(std::u16string(), pBstrHelpFile);
    }
    HRESULT GetHelpContext(DWORD *pdwHelpContext) override
    {
        if (!pdwHelpContext)
            return E_INVALIDARG;
        *pdwHelpContext = 0;
        return S_OK;
    }

    // IErrorRecords
    // The records are fixed when the object is made; no custom error objects.
    HRESULT AddErrorRecord(ERRORINFO *, DWORD, DISPPARAMS *, IUnknown *, DWORD) override { return E_NOTIMPL; }
    HRESULT GetBasicErrorInfo(ULONG ulRecordNum, ERRORINFO *pErrorInfo) override
    {
        if (!pErrorInfo)
            return E_INVALIDARG;
        if (ulRecordNum >= records_.size())
            return DB_E_BADRECORDNUM;
        *pErrorInfo = records_[ulRecordNum].basic;
        return S_OK;
    }
    HRESULT GetCustomErrorObject(ULONG, REFIID, IUnknown **) override { return E_NOTIMPL; }
    HRESULT GetErrorInfo(ULONG ulRecordNum, LCID, IErrorInfo **ppErrorInfo) override
    {
        if (!ppErrorInfo)
            return E_INVALIDARG;
        *ppErrorInfo = nullptr;
        if (ulRecordNum >= records_.size())
            return DB_E_BADRECORDNUM;
        const ErrorRecordText &text = records_[ulRecordNum].text;
        auto *record = new (std::nothrow) ErrorInfoObject(text.description, text.source, text.iid);
        if (!record)
            return E_OUTOFMEMORY;
        *ppErrorInfo = record;
        return S_OK;
    }
    HRESULT GetErrorParameters(ULONG ulRecordNum, DISPPARAMS *pdispparams) override
    {
        if (!pdispparams)
            return E_INVALIDARG;
        if (ulRecordNum >= records_.size())
            return DB_E_BADRECORDNUM;
        *pdispparams = DISPPARAMS{nullptr, nullptr, 0, 0};
        return S_OK;
    }
    HRESULT GetRecordCount(ULONG *pcRecords) override
    {
        if (!pcRecords)
            return E_INVALIDARG;
        *pcRecords = static_cast<ULONG>(records_.size());
        return S_OK;
    }

private:
    std::vector<StoredRecord> records_;
};

} // namespace

HRESULT createErrorObject(const std::vector<ErrorRecordText> &records, IErrorInfo **errorInfo)
{
    if (!errorInfo)
        return E_POINTER;
    *errorInfo = nullptr;
    try {
        *errorInfo = new ErrorRecordsObject(records);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT setErrorRecords(const std::vector<ErrorRecordText> &records)
{
    IErrorInfo *raw = nullptr;
    const HRESULT hr = createErrorObject(records, &raw);
    if (FAILED(hr))
        return hr;
    const auto object = ComPtr<IErrorInfo>::adopt(raw);
    return SetErrorInfo(0, object.get());
}

} // namespace rz
