#include "platform/com/faultinjection.h"

#include <atomic>

namespace rz {

namespace {

std::atomic<long> countdown{0};
std::atomic<bool> injected{false};

} // namespace

void failAllocationAfter(long count)
{
    if (count > 0)
        injected.store(false, std::memory_order_relaxed);
    countdown.store(count > 0 ? count : 0, std::memory_order_relaxed);
}

long allocationsBeforeFailure()
{
    const long left = countdown.load(std::memory_order_relaxed);
    return left > 0 ? left - 1 : 0;
}

bool allocationFailureInjected()
{
    return injected.load(std::memory_order_relaxed);
}

bool allocationMustFail()
{
    long left = countdown.load(std::memory_order_relaxed);
    while (left > 0) {
        if (countdown.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
            if (left != 1)
                return false;
            injected.store(true, std::memory_order_relaxed);
            return true;
        }
    }
    return false;
}

} // namespace rz
