#pragma once
// The one shape of the errors the driver reports, and the texts that go in
// them: the provider's error records for a failed call, or the system's
// message for a bare HRESULT.

#include "platform/oledb.h"

#include <QtCore/QString>
#include <QtSql/QSqlError>

// The descriptions of the error records that the last failed call on
// `object` (made through `interfaceId`) left on this thread, joined by single
// blanks; "Critical Error" when there is nothing to read. Call it right after
// the failed call, before anything else touches the object.
QString qOLEDBErrorText(IUnknown *object, REFIID interfaceId);

// QSqlError("MSSQL DB: ", text, type) with an empty native code.
QSqlError qMakeError(const QString &text, QSqlError::ErrorType type);

// The system's message text for `hr` without its trailing line break, or
// "IDispatch error #N" / "Unknown error 0xHHHHHHHH" when it has none.
QString qSystemMessage(HRESULT hr);
