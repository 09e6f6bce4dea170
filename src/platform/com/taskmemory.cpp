// COM task memory on the C heap: what a provider hands out with
// CoTaskMemAlloc the consumer gives back with CoTaskMemFree, and the reverse.

#include "platform/com/comruntime.h"
#include "platform/com/faultinjection.h"

#include <cstdlib>

LPVOID CoTaskMemAlloc(SIZE_T cb)
{
    if (rz::allocationMustFail())
        return nullptr;
    // A zero-byte request still yields a distinct block, as IMalloc::Alloc does.
    return std::malloc(cb ? cb : 1);
}

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb)
{
    if (!pv)
        return CoTaskMemAlloc(cb);
    if (cb == 0) {
        // Windows frees the block and returns null for a zero size.
        std::free(pv);
        return nullptr;
    }
    // A failed growth leaves the block as it was, as on Windows.
    if (rz::allocationMustFail())
        return nullptr;
    return std::realloc(pv, cb);
}

void CoTaskMemFree(LPVOID pv)
{
    std::free(pv);
}
