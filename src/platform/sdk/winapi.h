#pragma once
// The few Win32 functions outside COM that the system calls: system message
// texts, code-page conversion and the user's locale.

#include "platform/sdk/comtypes.h"

#include <cstdarg>

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_ENGLISH_US 0x01
#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))
#define SORT_DEFAULT 0x0
#define MAKELCID(lgid, srtid) (static_cast<DWORD>((static_cast<DWORD>(srtid) << 16) | static_cast<WORD>(lgid)))
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800

#define ERROR_SUCCESS 0L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_OUTOFMEMORY 14L

// Off Windows CP_ACP and CP_THREAD_ACP are UTF-8 (the encoding of every
// Linux locale the system is run under); a byte sequence that is not UTF-8
// is taken as Latin-1, so no input is ever refused.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
LCID GetUserDefaultLCID();
LCID GetSystemDefaultLCID();
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// Knows the system texts (English, with the trailing "\r\n") of the HRESULTs
// that COM, OLE DB consumers and Windows Sockets meet; 0 for any other code.
DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPWSTR lpBuffer, DWORD nSize, va_list *Arguments);
HLOCAL LocalFree(HLOCAL hMem);
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
