// FormatMessageW for FORMAT_MESSAGE_FROM_SYSTEM: the English system texts,
// as Windows words them (trailing "\r\n" included), of the HRESULTs and
// Win32 errors that the system and its providers can meet. Codes without a
// system text (the OLE DB DB_E_* codes among them) give 0, as on Windows.

#include "platform/sdk/winapi.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct SystemText {
    DWORD id;
    const char16_t *text;
};

// Win32 error codes; each is also known as HRESULT_FROM_WIN32(code).
const SystemText kWin32Texts[] = {
    {0, u"The operation completed successfully.\r\n"},
    {1, u"Incorrect function.\r\n"},
    {2, u"The system cannot find the file specified.\r\n"},
    {5, u"Access is denied.\r\n"},
    {6, u"The handle is invalid.\r\n"},
    {8, u"Not enough memory resources are available to process this command.\r\n"},
    {14, u"Not enough memory resources are available to complete this operation.\r\n"},
    {87, u"The parameter is incorrect.\r\n"},
    {122, u"The data area passed to a system call is too small.\r\n"},
    {1113, u"No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {10035, u"A non-blocking socket operation could not be completed immediately.\r\n"},
    {10036, u"A blocking operation is currently executing.\r\n"},
    {10038, u"An operation was attempted on something that is not a socket.\r\n"},
    {10049, u"The requested address is not valid in its context.\r\n"},
    {10050, u"A socket operation encountered a dead network.\r\n"},
    {10051, u"A socket operation was attempted to an unreachable network.\r\n"},
    {10054, u"An existing connection was forcibly closed by the remote host.\r\n"},
    {10060, u"A connection attempt failed because the connected party did not properly respond "
            u"after a period of time, or established connection failed because connected host "
            u"has failed to respond.\r\n"},
    {10061, u"No connection could be made because the target machine actively refused it.\r\n"},
    {10065, u"A socket operation was attempted to an unreachable host.\r\n"},
    {10093, u"Either the application has not called WSAStartup, or WSAStartup failed.\r\n"},
};

// HRESULTs of COM and structured storage.
const SystemText kHresultTexts[] = {
    {0x8000FFFF, u"Catastrophic failure\r\n"},
    {0x80004001, u"Not implemented\r\n"},
    {0x80004002, u"No such interface supported\r\n"},
    {0x80004003, u"Invalid pointer\r\n"},
    {0x80004004, u"Operation aborted\r\n"},
    {0x80004005, u"Unspecified error\r\n"},
    {0x8000000A, u"The data necessary to complete this operation is not yet available.\r\n"},
    {0x80010106, u"Cannot change thread mode after it is set.\r\n"},
    {0x80040110, u"Class does not support aggregation (or class object is remote)\r\n"},
    {0x80040111, u"ClassFactory cannot supply requested class\r\n"},
    {0x80040154, u"Class not registered\r\n"},
    {0x800401F0, u"CoInitialize has not been called.\r\n"},
    {0x800401F3, u"Invalid class string\r\n"},
    {0x80030001, u"Unable to perform requested operation.\r\n"},
    {0x80030009, u"Invalid pointer error.\r\n"},
};

const char16_t *lookup(DWORD id)
{
    for (const SystemText &entry : kHresultTexts)
        if (entry.id == id)
            return entry.text;
    DWORD win32 = id;
    if ((id & 0xFFFF0000u) == 0x80070000u)
        win32 = id & 0xFFFFu;
    for (const SystemText &entry : kWin32Texts)
        if (entry.id == win32)
            return entry.text;
    return nullptr;
}

std::size_t length(const char16_t *text)
{
    std::size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

} // namespace

DWORD FormatMessageW(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPWSTR lpBuffer, DWORD nSize,
                     va_list *)
{
    // Only the allocating form is offered: nothing here formats into a caller's buffer.
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || !(dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER)
        || !lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Only English texts exist here, so every language identifier gets them.
    const char16_t *text = lookup(dwMessageId);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const std::size_t chars = length(text);
    const std::size_t bytes = (chars + 1 > nSize ? chars + 1 : nSize) * sizeof(char16_t);
    auto *copy = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, bytes));
    if (!copy) {
        SetLastError(ERROR_OUTOFMEMORY);
        return 0;
    }
    std::memcpy(copy, text, (chars + 1) * sizeof(char16_t));
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER lpBuffer is really a LPWSTR*.
    *reinterpret_cast<LPWSTR *>(lpBuffer) = copy;
    return static_cast<DWORD>(chars);
}

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    void *block = (uFlags & LMEM_ZEROINIT) ? std::calloc(uBytes ? uBytes : 1, 1)
                                           : std::malloc(uBytes ? uBytes : 1);
    if (!block)
        SetLastError(ERROR_OUTOFMEMORY);
    return block;
}

HLOCAL LocalFree(HLOCAL hMem)
{
    std::free(hMem);
    return nullptr;
}
