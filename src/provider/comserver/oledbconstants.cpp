// The OLE DB GUIDs and DBIDs (DBPROPSET_*, DBGUID_*, DB_NULLID) that the SDK
// defines in the one translation unit that asks for them; MinGW's import
// libraries do not carry them.

#define DBINITCONSTANTS
#include "platform/sdk/oledb.h"
