#pragma once
// Creating and initialising an OLE DB data source: the call sequence that
// turns a provider name and property sets into an initialised object.

#include "oledb/oledberror.h"
#include "oledb/oledbpropertyset.h"
#include "platform/com/comptr.h"
#include "platform/sdk/oledb.h"

#include <QtSql/QSqlError>

// Creates the data source of the provider registered as `progId`, sets the
// property sets (when given) and initialises it. `dataSource` receives the
// object as soon as it exists, so the caller can read its error records.
HRESULT openDataSource(rz::ComPtr<IDBInitialize> &dataSource, const OLECHAR *progId,
                       DBPROPSET *sets, ULONG setCount);

// What one connection attempt gives back to open().
struct RealConnectResult
{
    QSqlError error;
    // Set whenever the provider object was created, even if it then failed.
    rz::ComPtr<IDBInitialize> dataSource;
    HRESULT hr = S_OK;
};
