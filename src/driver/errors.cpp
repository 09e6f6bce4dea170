#include "driver/errors.h"

QSqlError qMakeError(const QString &text, QSqlError::ErrorType type)
{
    return QSqlError(QStringLiteral("MSSQL DB: "), text, type, QString());
}

QString qSystemMessage(HRESULT hr)
{
    const _com_error error(hr);
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(error.ErrorMessage()));
}
