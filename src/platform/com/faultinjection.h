#pragma once
// A countdown for tests that make the run time run out of memory on purpose:
// armed with N, the Nth allocation from then on fails as if memory were
// exhausted (task memory and BSTRs come back null, COM object creation
// answers E_OUTOFMEMORY), and the countdown is disarmed again. Disarmed,
// every allocation costs one relaxed atomic load.

namespace rz {

// Arms the countdown; 0 disarms it (and keeps what allocationFailureInjected
// says). Counts every thread's allocations.
void failAllocationAfter(long count);
// How many allocations the armed countdown still lets through before the
// failing one; 0 once it has fired or when it was never armed.
long allocationsBeforeFailure();
// Whether an allocation failed since the countdown was last armed.
bool allocationFailureInjected();

// Called by every hooked allocation: true when this one is to fail.
bool allocationMustFail();

} // namespace rz
