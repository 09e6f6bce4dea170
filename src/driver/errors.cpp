#include "driver/errors.h"

#include "platform/comptr.h"

#include <cstdio>

namespace {

const char criticalError[] = "Critical Error";

QString fromOleString(const OLECHAR *text, int length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text), length);
}

// Frees a BSTR handed out by an error object.
struct BstrHolder
{
    BSTR value = nullptr;
    ~BstrHolder() { SysFreeString(value); }
};

QString descriptionOf(IErrorInfo *record)
{
    if (!record)
        return QString();
    BstrHolder description;
    if (FAILED(record->GetDescription(&description.value)) || !description.value)
        return QString();
    return fromOleString(description.value, int(SysStringLen(description.value)));
}

} // namespace

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

QSqlError qMakeError(const QString &text, QSqlError::ErrorType type)
{
    return QSqlError(QStringLiteral("MSSQL DB: "), text, type, QString());
}

QString qSystemMessage(HRESULT hr)
{
    LPWSTR buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length > 0 && buffer) {
        int size = int(length);
        if (size >= 2 && buffer[size - 1] == u'\n') {
            --size;
            if (buffer[size - 1] == u'\r')
                --size;
        }
        const QString text = fromOleString(buffer, size);
        LocalFree(buffer);
        return text;
    }
    if (buffer)
        LocalFree(buffer);

    // The codes in the interface-specific range carry no system text; they are
    // named by their offset, as COM's own error class does.
    const quint32 code = quint32(hr);
    char fallback[32];
    if (code >= 0x80040201u && code <= 0x8004FFFFu)
        std::snprintf(fallback, sizeof fallback, "IDispatch error #%d", int(code - 0x80040200u));
    else
        std::snprintf(fallback, sizeof fallback, "Unknown error 0x%0X", unsigned(code));
    return QString::fromLatin1(fallback);
}
