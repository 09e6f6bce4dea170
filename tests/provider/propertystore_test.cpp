// GetProperties when task memory runs out part-way through its answer.
#include "platform/com/faultinjection.h"
#include "provider/objects/propertystore.h"

#include <gtest/gtest.h>

namespace {

using rz::provider::PropertyStore;

void freeAnswer(ULONG count, DBPROPSET *sets)
{
    for (ULONG s = 0; s < count; ++s) {
        for (ULONG i = 0; i < sets[s].cProperties; ++i)
            VariantClear(&sets[s].rgProperties[i].vValue);
        CoTaskMemFree(sets[s].rgProperties);
    }
    CoTaskMemFree(sets);
}

// Each allocation of the answer fails in turn: the call either answers in
// full or fails with E_OUTOFMEMORY and hands out nothing (ASan sees leaks).
TEST(PropertyStore, AnAnswerThatRunsOutOfMemoryIsWholeOrNone)
{
    PropertyStore store;
    store.supportI4(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT, 15);
    store.supportBool(DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, false);
    store.supportBool(DBPROPSET_ROWSET, DBPROP_CANHOLDROWS, true);
    DBPROPID rowsetIds[] = {DBPROP_CANHOLDROWS};
    DBPROPIDSET some[2] = {{nullptr, 0, DBPROPSET_DBINIT}, {rowsetIds, 1, DBPROPSET_ROWSET}};

    const DBPROPIDSET *const askings[] = {nullptr, some};   // every property, then chosen ones
    for (const DBPROPIDSET *ids : askings) {
        const ULONG idSetCount = ids ? 2 : 0;
        int failures = 0;
        for (long n = 1; n < 10; ++n) {
            ULONG count = 99;
            DBPROPSET *sets = nullptr;
            rz::failAllocationAfter(n);
            HRESULT hr = store.getProperties(idSetCount, ids, &count, &sets);
            const bool injected = rz::allocationFailureInjected();
            rz::failAllocationAfter(0);
            if (!injected) {
                ASSERT_EQ(S_OK, hr);
                ASSERT_EQ(2u, count);
                freeAnswer(count, sets);
                break;
            }
            ++failures;
            ASSERT_EQ(E_OUTOFMEMORY, hr) << "allocation " << n;
            EXPECT_EQ(nullptr, sets);
        }
        EXPECT_GE(failures, 3) << "the outer array and both sets' properties can each fail";
    }
}

} // namespace
