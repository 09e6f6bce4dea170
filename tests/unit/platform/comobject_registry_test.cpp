// The COM object base and the class registry: QueryInterface over the
// listed interfaces and their bases, lifetime, case-insensitive program
// identifiers, and registrations that hide and restore one another.

#include "testobjects.h"

#include "platform/com/classregistry.h"
#include "platform/com/faultinjection.h"
#include "platform/sdk/oledb.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using rz::ComPtr;
using rz::test::Tracked;

class Command final : public rz::ComObject<ICommandText, IColumnsInfo> {
public:
    HRESULT Cancel() override { return E_NOTIMPL; }
    HRESULT Execute(IUnknown *, REFIID, DBPARAMS *, DBROWCOUNT *, IUnknown **) override { return E_NOTIMPL; }
    HRESULT GetDBSession(REFIID, IUnknown **) override { return E_NOTIMPL; }
    HRESULT GetCommandText(GUID *, LPOLESTR *) override { return E_NOTIMPL; }
    HRESULT SetCommandText(REFGUID, LPCOLESTR) override { return S_FALSE; }
    HRESULT GetColumnInfo(DBORDINAL *, DBCOLUMNINFO **, OLECHAR **) override { return E_NOTIMPL; }
    HRESULT MapColumnIDs(DBORDINAL, const DBID[], DBORDINAL[]) override { return E_NOTIMPL; }
};

TEST(ComObject, answersForEachListedInterfaceAndTheInterfacesItDerivesFrom)
{
    auto command = ComPtr<ICommandText>::adopt(new Command);
    ComPtr<ICommand> base;
    ComPtr<IColumnsInfo> columns;
    ComPtr<IUnknown> unknownA, unknownB;
    EXPECT_EQ(command.query(IID_ICommand, base), S_OK);
    EXPECT_EQ(command.query(IID_IColumnsInfo, columns), S_OK);
    // One identity whichever interface is asked.
    EXPECT_EQ(base.query(IID_IUnknown, unknownA), S_OK);
    EXPECT_EQ(columns.query(IID_IUnknown, unknownB), S_OK);
    EXPECT_EQ(unknownA.get(), unknownB.get());
    // The derived interface reached through its base is the same object.
    ComPtr<ICommandText> again;
    ASSERT_EQ(base.query(IID_ICommandText, again), S_OK);
    EXPECT_EQ(again->SetCommandText(DBGUID_DEFAULT, u"x"), S_FALSE);

    ComPtr<IRowset> rowset;
    EXPECT_EQ(command.query(IID_IRowset, rowset), E_NOINTERFACE);
    EXPECT_FALSE(rowset);
    void *out = reinterpret_cast<void *>(1);
    EXPECT_EQ(command->QueryInterface(IID_IAccessor, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(command->QueryInterface(IID_ICommand, nullptr), E_POINTER);
}

TEST(ComObject, countsReferencesFromManyThreads)
{
    int alive = 0;
    auto *object = new Tracked(&alive);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([object] {
            for (int i = 0; i < 10000; ++i) {
                object->AddRef();
                object->Release();
            }
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(object->references(), 1u);
    object->Release();
    EXPECT_EQ(alive, 0);
}

// A class whose objects remember which registration made them.
struct Maker {
    int tag;
    int *lastTag;
    HRESULT operator()(IUnknown *outer, REFIID iid, void **object) const
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        *lastTag = tag;
        static int alive = 0;
        auto *made = new Tracked(&alive);
        const HRESULT hr = made->QueryInterface(iid, object);
        made->Release();
        return hr;
    }
};

const CLSID kFirst = {0x1b2c3d4e, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};
const CLSID kSecond = {0x1b2c3d4e, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}};

TEST(ClassRegistry, findsProgramIdentifiersWhateverTheirCase)
{
    int lastTag = 0;
    rz::ScopedClassRegistration reg("Rz.Test.Provider", kFirst, Maker{1, &lastTag});
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(CLSIDFromProgID(u"rz.test.PROVIDER", &clsid), S_OK);
    EXPECT_EQ(clsid, kFirst);

    ComPtr<ISequentialStream> stream;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISequentialStream,
                               stream.putVoid()),
              S_OK);
    EXPECT_TRUE(stream);
    EXPECT_EQ(lastTag, 1);
}

TEST(ClassRegistry, answersUnknownNamesAndClassesAsWindowsDoes)
{
    CLSID clsid = kFirst;
    EXPECT_EQ(CLSIDFromProgID(u"No.Such.Class", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(clsid, GUID_NULL);
    EXPECT_EQ(CLSIDFromProgID(u"SQLOLEDB\u00e9", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);

    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(CoCreateInstance(kSecond, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoCreateInstance(kSecond, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
              E_POINTER);
}

TEST(ClassRegistry, aLaterRegistrationHidesAnEarlierOneUntilItIsRemoved)
{
    int lastTag = 0;
    const auto original = rz::registerClass("MSOLEDBSQL", kFirst, Maker{1, &lastTag});
    CLSID clsid;
    {
        rz::ScopedClassRegistration standIn("msoledbsql", kSecond, Maker{2, &lastTag});
        ASSERT_EQ(CLSIDFromProgID(u"MSOLEDBSQL", &clsid), S_OK);
        EXPECT_EQ(clsid, kSecond);
    }
    ASSERT_EQ(CLSIDFromProgID(u"MSOLEDBSQL", &clsid), S_OK);
    EXPECT_EQ(clsid, kFirst);

    // The same CLSID registered again: creation goes to the newest factory.
    {
        rz::ScopedClassRegistration standIn("SQLOLEDB", kFirst, Maker{3, &lastTag});
        ComPtr<IUnknown> object;
        ASSERT_EQ(CoCreateInstance(kFirst, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid()), S_OK);
        EXPECT_EQ(lastTag, 3);
    }
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(kFirst, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid()), S_OK);
    EXPECT_EQ(lastTag, 1);

    EXPECT_TRUE(rz::unregisterClassById(original));
    EXPECT_FALSE(rz::unregisterClassById(original));
    EXPECT_EQ(CLSIDFromProgID(u"MSOLEDBSQL", &clsid), CO_E_CLASSSTRING);
}

TEST(ClassRegistry, theRuntimesOwnClassesRefuseOtherInterfacesAggregationAndOtherContexts)
{
    // Creating them is the service components' and the conversion library's tests.
    ComPtr<IDataConvert> wrong;
    EXPECT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDataConvert, wrong.putVoid()),
              E_NOINTERFACE);
    int alive = 0;
    auto *outer = new Tracked(&alive);
    EXPECT_EQ(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, outer->identity(),
                               CLSCTX_INPROC_SERVER, IID_IUnknown, wrong.putVoid()),
              CLASS_E_NOAGGREGATION);
    outer->Release();
    ComPtr<IDataInitialize> services;
    EXPECT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_IDataInitialize, services.putVoid()),
              REGDB_E_CLASSNOTREG);
}

TEST(AllocationCountdown, failsTheNthAllocationOfAnyKindOnceAndThenDisarms)
{
    // Task memory, a BSTR, then an object: the third one fails.
    rz::failAllocationAfter(3);
    void *block = CoTaskMemAlloc(16);
    ASSERT_NE(block, nullptr);
    BSTR text = SysAllocString(u"text");
    ASSERT_NE(text, nullptr);
    EXPECT_FALSE(rz::allocationFailureInjected());
    rz::ComPtr<IDataInitialize> services;
    EXPECT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                               services.putVoid()),
              E_OUTOFMEMORY);
    EXPECT_TRUE(rz::allocationFailureInjected());
    EXPECT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                               services.putVoid()),
              S_OK)
        << "only one allocation fails";

    // A growth that fails leaves the block as it was.
    rz::failAllocationAfter(1);
    EXPECT_EQ(CoTaskMemRealloc(block, 64), nullptr);
    BSTR more = SysAllocStringLen(nullptr, 4);
    EXPECT_NE(more, nullptr) << "disarmed after the failure";
    SysFreeString(more);
    rz::failAllocationAfter(1);
    EXPECT_EQ(SysAllocStringLen(nullptr, 4), nullptr);
    rz::failAllocationAfter(0);
    EXPECT_TRUE(rz::allocationFailureInjected()) << "disarming keeps the answer";
    CoTaskMemFree(block);
    SysFreeString(text);
}

TEST(Apartment, firstInitialisationSucceedsLaterOnesReportAlreadyDone)
{
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
    }).join();
}

} // namespace
