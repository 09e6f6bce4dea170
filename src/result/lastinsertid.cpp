// The identity value last inserted on the connection, read with a short
// query of its own so that the result's own statement stays untouched.

#include "result/rezuvedovresult.h"

#include "driver/rezuvedovdriver_p.h"
#include "oledb/oledbcommand.h"
#include "oledb/oledberror.h"
#include "platform/com/ownedmemory.h"
#include "result/numericconversion.h"

#include <cstring>

QVariant REzuVEDOVResult::lastInsertId() const
{
    if (!driverPrivate)
        return QVariant();
    static const OLECHAR queryText[] = OLESTR("SELECT  @@IDENTITY  AS LASTID ");

    OLEDBCommand<OLEDBAccessor> command;
    if (FAILED(command.createCommand(driverPrivate->session.get(), queryText, DBGUID_DEFAULT)))
        return QVariant();
    DBROWCOUNT count = 0;
    if (command.execute(nullptr, &count, true) != S_OK || !command.hasRowset())
        return QVariant();
    if (command.moveNext(0, true) != S_OK)
        return QVariant();

    DBSTATUS status;
    const DBSTATUS *statusPart = command.columnStatus(1);
    if (!statusPart)
        return QVariant();
    std::memcpy(&status, statusPart, sizeof status);
    if (status == DBSTATUS_S_ISNULL)
        return QVariant();

    static const char narrowName[] = "LASTID";
    const int wideLength = MultiByteToWideChar(CP_THREAD_ACP, 0, narrowName, -1, nullptr, 0);
    rz::Bstr name;
    name.reset(SysAllocStringLen(nullptr, UINT(wideLength > 0 ? wideLength : 1)));
    if (!name)
        throwHResult(E_OUTOFMEMORY);
    MultiByteToWideChar(CP_THREAD_ACP, 0, narrowName, -1, name.get(), wideLength);

    const OLEDBColumnBinding *found = command.findColumnNamed(name.get());
    if (!found)
        return QVariant();

    // Read as DB_NUMERIC whatever the reported type, but never past the
    // column's own value part.
    if (found->ulColumnSize < sizeof(DB_NUMERIC))
        return QVariant();
    DB_NUMERIC value;
    std::memcpy(&value, command.valueOf(*found), sizeof value);
    return QVariant(doubleFromNumeric(value));
}
