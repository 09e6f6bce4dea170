// BSTR: a 4-byte byte count, the UTF-16 characters, and a terminating NUL
// character; the pointer handed out points at the first character.

#include "platform/com/comruntime.h"
#include "platform/com/faultinjection.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t kPrefix = sizeof(ULONG);

// Room for the prefix, byteCount bytes and a two-byte NUL (a byte-length
// string of odd length still ends in a whole NUL character).
BSTR allocateBytes(const void *bytes, UINT byteCount)
{
    if (byteCount > std::numeric_limits<UINT>::max() - kPrefix - 2)
        return nullptr;
    if (rz::allocationMustFail())
        return nullptr;
    auto *block = static_cast<unsigned char *>(std::malloc(kPrefix + byteCount + 2));
    if (!block)
        return nullptr;
    const ULONG prefix = byteCount;
    std::memcpy(block, &prefix, kPrefix);
    if (bytes)
        std::memcpy(block + kPrefix, bytes, byteCount);
    else
        std::memset(block + kPrefix, 0, byteCount);
    block[kPrefix + byteCount] = 0;
    block[kPrefix + byteCount + 1] = 0;
    return reinterpret_cast<BSTR>(block + kPrefix);
}

unsigned char *blockOf(BSTR bstr)
{
    return reinterpret_cast<unsigned char *>(bstr) - kPrefix;
}

std::size_t length(const OLECHAR *psz)
{
    std::size_t n = 0;
    while (psz[n])
        ++n;
    return n;
}

} // namespace

BSTR SysAllocString(const OLECHAR *psz)
{
    if (!psz)
        return nullptr;
    const std::size_t chars = length(psz);
    if (chars > std::numeric_limits<UINT>::max() / sizeof(OLECHAR))
        return nullptr;
    return allocateBytes(psz, static_cast<UINT>(chars * sizeof(OLECHAR)));
}

BSTR SysAllocStringLen(const OLECHAR *strIn, UINT ui)
{
    if (ui > std::numeric_limits<UINT>::max() / sizeof(OLECHAR))
        return nullptr;
    return allocateBytes(strIn, static_cast<UINT>(ui * sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len)
{
    return allocateBytes(psz, len);
}

void SysFreeString(BSTR bstrString)
{
    if (bstrString)
        std::free(blockOf(bstrString));
}

UINT SysStringByteLen(BSTR bstr)
{
    if (!bstr)
        return 0;
    ULONG prefix;
    std::memcpy(&prefix, blockOf(bstr), kPrefix);
    return prefix;
}

UINT SysStringLen(BSTR pbstr)
{
    return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}
