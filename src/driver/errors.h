#pragma once
// The one shape of the errors the driver reports, and the texts that go in
// them: the provider's error records for a failed call (qOLEDBErrorText, from
// the consumer layer), or the system's message for a bare HRESULT.

#include "oledb/oledberror.h"
#include "platform/sdk/oledb.h"

#include <QtCore/QString>
#include <QtSql/QSqlError>

// QSqlError("MSSQL DB: ", text, type) with an empty native code.
QSqlError qMakeError(const QString &text, QSqlError::ErrorType type);

// The system's message text for `hr` without its trailing line break, or
// "IDispatch error #N" / "Unknown error 0xHHHHHHHH" when it has none: what
// _com_error gives.
QString qSystemMessage(HRESULT hr);
