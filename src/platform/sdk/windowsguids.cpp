// On Windows: the OLE DB identifiers that the SDK's headers declare and no
// import library defines (CLSID_OLEDB_CONVERSIONLIBRARY, the DBGUID and
// DBPROPSET values), defined by the headers themselves as the SDK asks, with
// DBINITCONSTANTS in one source file. Elsewhere platform/sdk/guids.cpp
// defines the project's own.
#ifdef _WIN32
#define DBINITCONSTANTS
#include "platform/sdk/oledb.h"
#endif
