#pragma once
// The one header through which the system reaches COM and OLE DB.
// On Windows it is the Windows SDK; elsewhere the project's own declarations
// with the same names, values and layouts (see platform/).

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
// Windows Sockets 2 before windows.h, which would bring in version 1.
#include <winsock2.h>
#include <windows.h>
#include <oledb.h>
#include <oledberr.h>
#include <msdasc.h>
#include <msdadc.h>
#include <msdaguid.h>
#include <transact.h>
#include <comdef.h>

// The SQL Server providers' initialisation property set, when the SDK
// headers at hand do not declare it.
#ifndef SSPROP_INIT_ENCRYPT
#define SSPROP_INIT_ENCRYPT 13
#endif
#ifndef DBPROPSET_SQLSERVERDBINIT_DEFINED
#define DBPROPSET_SQLSERVERDBINIT_DEFINED
inline constexpr GUID DBPROPSET_SQLSERVERDBINIT = {
    0x5cf4ca10, 0xef21, 0x11d0, {0x97, 0xe7, 0x00, 0xc0, 0x4f, 0xc2, 0xad, 0x98}};
#endif
// The largest precision of a DB_NUMERIC, which the SDK leaves unnamed.
#ifndef DB_NUMERIC_MAXPRECISION
#define DB_NUMERIC_MAXPRECISION 38
#endif

#else

#include "platform/sdk/comtypes.h"
#include "platform/sdk/oledbtypes.h"
#include "platform/sdk/oledbinterfaces.h"
#include "platform/com/comruntime.h"
#include "platform/sdk/winapi.h"
#include "platform/com/comerror.h"

#endif
