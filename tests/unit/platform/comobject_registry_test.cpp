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

class Cursor final : public rz::ComObject<IRowsetScroll, IColumnsInfo> {
public:
    explicit Cursor(bool *destroyed) : destroyed_(destroyed) {}
    HRESULT AddRefRows(DBCOUNTITEM, const HROW[], DBREFCOUNT[], DBROWSTATUS[]) override { return E_NOTIMPL; }
    HRESULT GetData(HROW, HACCESSOR, void *) override { return E_NOTIMPL; }
    HRESULT GetNextRows(HCHAPTER, DBROWOFFSET, DBROWCOUNT, DBCOUNTITEM *, HROW **) override { return E_NOTIMPL; }
    HRESULT ReleaseRows(DBCOUNTITEM, const HROW[], DBROWOPTIONS[], DBREFCOUNT[], DBROWSTATUS[]) override { return E_NOTIMPL; }
    HRESULT RestartPosition(HCHAPTER) override { return E_NOTIMPL; }
    HRESULT Compare(HCHAPTER, DBBKMARK, const BYTE *, DBBKMARK, const BYTE *, DBCOMPARE *) override { return E_NOTIMPL; }
    HRESULT GetRowsAt(HWATCHREGION, HCHAPTER, DBBKMARK, const BYTE *, DBROWOFFSET, DBROWCOUNT, DBCOUNTITEM *, HROW **) override { return E_NOTIMPL; }
    HRESULT GetRowsByBookmark(HCHAPTER, DBCOUNTITEM, const DBBKMARK[], const BYTE *[], HROW[], DBROWSTATUS[]) override { return E_NOTIMPL; }
    HRESULT Hash(HCHAPTER, DBBKMARK, const DBBKMARK[], const BYTE *[], DBHASHVALUE[], DBROWSTATUS[]) override { return E_NOTIMPL; }
    HRESULT GetApproximatePosition(HCHAPTER, DBBKMARK, const BYTE *, DBCOUNTITEM *, DBCOUNTITEM *rows) override
    {
        *rows = 7;
        return S_OK;
    }
    HRESULT GetRowsAtRatio(HWATCHREGION, HCHAPTER, DBCOUNTITEM, DBCOUNTITEM, DBROWCOUNT, DBCOUNTITEM *, HROW **) override { return E_NOTIMPL; }
    HRESULT GetColumnInfo(DBORDINAL *, DBCOLUMNINFO **, OLECHAR **) override { return E_NOTIMPL; }
    HRESULT MapColumnIDs(DBORDINAL, const DBID[], DBORDINAL[]) override { return E_NOTIMPL; }

private:
    ~Cursor() override { *destroyed_ = true; }
    bool *destroyed_;
};

TEST(ComObject, answersForEachListedInterfaceAndTheInterfacesItDerivesFrom)
{
    bool destroyed = false;
    auto cursor = ComPtr<IRowsetScroll>::adopt(new Cursor(&destroyed));
    ComPtr<IRowset> rowset;
    ComPtr<IRowsetLocate> locate;
    ComPtr<IColumnsInfo> columns;
    ComPtr<IUnknown> unknownA, unknownB;
    EXPECT_EQ(cursor.query(IID_IRowset, rowset), S_OK);
    EXPECT_EQ(cursor.query(IID_IRowsetLocate, locate), S_OK);
    EXPECT_EQ(cursor.query(IID_IColumnsInfo, columns), S_OK);
    // One identity whichever interface is asked.
    EXPECT_EQ(rowset.query(IID_IUnknown, unknownA), S_OK);
    EXPECT_EQ(columns.query(IID_IUnknown, unknownB), S_OK);
    EXPECT_EQ(unknownA.get(), unknownB.get());
    // The scroll interface reached through IRowset is the same object.
    ComPtr<IRowsetScroll> again;
    ASSERT_EQ(rowset.query(IID_IRowsetScroll, again), S_OK);
    DBCOUNTITEM rows = 0;
    EXPECT_EQ(again->GetApproximatePosition(DB_NULL_HCHAPTER, 0, nullptr, nullptr, &rows), S_OK);
    EXPECT_EQ(rows, 7u);

    ComPtr<IRowsetChange> change;
    EXPECT_EQ(cursor.query(IID_IRowsetChange, change), E_NOINTERFACE);
    EXPECT_FALSE(change);
    void *out = reinterpret_cast<void *>(1);
    EXPECT_EQ(cursor->QueryInterface(IID_IAccessor, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(cursor->QueryInterface(IID_IRowset, nullptr), E_POINTER);
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

TEST(ClassRegistry, unregisteringByNameRemovesOnlyTheNewest)
{
    int lastTag = 0;
    rz::registerClass("MSOLEDBSQL19", kFirst, Maker{1, &lastTag});
    rz::registerClass("MSOLEDBSQL19", kSecond, Maker{2, &lastTag});
    CLSID clsid;
    EXPECT_TRUE(rz::unregisterClass("msoledbsql19"));
    ASSERT_EQ(CLSIDFromProgID(u"MSOLEDBSQL19", &clsid), S_OK);
    EXPECT_EQ(clsid, kFirst);
    EXPECT_TRUE(rz::unregisterClass("MSOLEDBSQL19"));
    EXPECT_FALSE(rz::unregisterClass("MSOLEDBSQL19"));
}

TEST(ClassRegistry, theRuntimeProvidesServiceComponentsAndTheConversionLibrary)
{
    ComPtr<IDataInitialize> services;
    EXPECT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDataInitialize, services.putVoid()),
              S_OK);
    ComPtr<IDataConvert> convert;
    EXPECT_EQ(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDataConvert, convert.putVoid()),
              S_OK);
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
