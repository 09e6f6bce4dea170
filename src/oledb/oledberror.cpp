#include "oledb/oledberror.h"

#include "platform/com/comptr.h"
#include "platform/com/ownedmemory.h"
#include "qtcompat/oletext.h"

namespace {

const char criticalError[] = "Critical Error";

QString descriptionOf(IErrorInfo *record)
{
    if (!record)
        return QString();
    rz::Bstr description;
    if (FAILED(record->GetDescription(description.put())) || !description)
        return QString();
    return rz::fromOleText(description.get(), int(description.length()));
}

} // namespace

void throwHResult(HRESULT hr)
{
    throw CAtlException(hr);
}

QString qOLEDBErrorText(IUnknown *object, REFIID interfaceId)
{
    if (!object)
        return QLatin1String(criticalError);

    rz::ComPtr<ISupportErrorInfo> support;
    if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, support.putVoid())) || !support)
        return QLatin1String(criticalError);
    // S_FALSE (the interface keeps no error information) does not stop us:
    // some providers answer so and still leave records.
    if (FAILED(support->InterfaceSupportsErrorInfo(interfaceId)))
        return QLatin1String(criticalError);

    rz::ComPtr<IErrorInfo> errorInfo;
    if (GetErrorInfo(0, errorInfo.put()) != S_OK || !errorInfo)
        return QLatin1String(criticalError);

    rz::ComPtr<IErrorRecords> records;
    ULONG count = 1;
    if (SUCCEEDED(errorInfo.query(IID_IErrorRecords, records)) && records) {
        if (FAILED(records->GetRecordCount(&count)) || count == 0)
            return QLatin1String(criticalError);
    } else {
        records.reset();
    }

    const LCID locale = GetUserDefaultLCID();
    QString text;
    for (ULONG index = 0; index < count; ++index) {
        if (records) {
            rz::ComPtr<IErrorInfo> record;
            if (SUCCEEDED(records->GetErrorInfo(index, locale, record.put())))
                text += descriptionOf(record.get());
        } else {
            text += descriptionOf(errorInfo.get());
        }
        if (index + 1 < count)
            text += QLatin1Char(' ');
    }
    return text;
}
