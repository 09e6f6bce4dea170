#pragma once
// The ODBC headers, made to stand beside the platform's Windows types:
// unixODBC's sqltypes.h would otherwise declare its own WCHAR, ULONG and
// BOOL. With the platform's WCHAR (char16_t) SQLWCHAR is UTF-16 as well,
// which is what unixODBC's wide functions take.

#include "platform/sdk/oledb.h"

#ifdef _WIN32
// Windows' own ODBC headers. The Windows provider has no ODBC backend; the
// value forms it shares with that backend use their types and constants only.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#else

#ifndef ALREADY_HAVE_WINDOWS_TYPE
#define ALREADY_HAVE_WINDOWS_TYPE 1
#endif
#ifndef SQL_API
#define SQL_API
#endif
#ifndef FAR
#define FAR
#endif
#ifndef CALLBACK
#define CALLBACK
#endif

// What sqltypes.h leaves to windows.h once ALREADY_HAVE_WINDOWS_TYPE is set.
typedef signed char SCHAR;
typedef SCHAR SQLSCHAR;
typedef int SDWORD;
typedef unsigned int UDWORD;
typedef signed short int SWORD;
typedef unsigned short int UWORD;
typedef signed int SLONG;
typedef signed short SSHORT;
typedef double SDOUBLE;
typedef double LDOUBLE;
typedef float SFLOAT;
typedef void *PTR;
typedef signed short RETCODE;
typedef void *SQLHWND;
typedef WCHAR *LPTSTR;
typedef DWORD *LPDWORD;
typedef void *HINSTANCE;

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

static_assert(sizeof(SQLWCHAR) == 2, "ODBC wide strings must be UTF-16");
#endif
