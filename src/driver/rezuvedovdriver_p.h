#pragma once
// What one connection holds: the initialised data source, the session on it,
// and whether results ask for the default rowset properties.

#include "platform/com/comptr.h"
#include "platform/sdk/oledb.h"

class REzuVEDOVDriverPrivate
{
public:
    rz::ComPtr<IDBInitialize> dataSource;
    rz::ComPtr<IOpenRowset> session;
    // Cleared for good by the "big query=" connection option.
    bool useRowsetProperties = true;
};
