#include "driver/errors.h"
#include "qtcompat/oletext.h"

QSqlError qMakeError(const QString &text, QSqlError::ErrorType type)
{
    return QSqlError(QStringLiteral("MSSQL DB: "), text, type, QString());
}

QString qSystemMessage(HRESULT hr)
{
    const _com_error error(hr);
    return rz::fromOleText(error.ErrorMessage());
}
