// The service components: a data source from "Provider=NAME" or from a
// provider's CLSID, created through the class registry.

#include "platform/com/classregistry.h"
#include "platform/com/comobject.h"
#include "platform/sdk/oledb.h"

#include <gtest/gtest.h>

namespace {

using rz::ComPtr;

class FakeDataSource final : public rz::ComObject<IDBInitialize, IDBProperties> {
public:
    HRESULT Initialize() override { return S_OK; }
    HRESULT Uninitialize() override { return S_OK; }
    HRESULT GetProperties(ULONG, const DBPROPIDSET[], ULONG *, DBPROPSET **) override { return E_NOTIMPL; }
    HRESULT GetPropertyInfo(ULONG, const DBPROPIDSET[], ULONG *, DBPROPINFOSET **, OLECHAR **) override
    {
        return E_NOTIMPL;
    }
    HRESULT SetProperties(ULONG, DBPROPSET[]) override { return S_OK; }
};

const CLSID kFakeProvider = {0x5a5a0001, 0x1111, 0x4222, {0x93, 0x33, 0, 0, 0, 0, 0, 7}};

class ServiceComponentsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IDataInitialize, services.putVoid()),
                  S_OK);
    }

    HRESULT dataSource(const char16_t *initString, ComPtr<IDBInitialize> &out)
    {
        return services->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, initString,
                                       IID_IDBInitialize, reinterpret_cast<IUnknown **>(out.put()));
    }

    rz::ScopedClassRegistration provider{
        "RZTEST.PROVIDER", kFakeProvider, [this](IUnknown *outer, REFIID iid, void **object) {
            ++created;
            if (outer)
                return CLASS_E_NOAGGREGATION;
            auto *source = new FakeDataSource;
            const HRESULT hr = source->QueryInterface(iid, object);
            source->Release();
            return hr;
        }};
    ComPtr<IDataInitialize> services;
    int created = 0;
};

TEST_F(ServiceComponentsTest, theProviderKeyNamesTheClassToCreateWhateverItsCaseBlanksQuotesAndOtherKeys)
{
    for (const char16_t *text : {u"Provider=RZTEST.PROVIDER", u"  provider = rztest.provider ;Data Source=10.0.0.1",
                                 u"Data Source=x;PROVIDER=\"RZTest.Provider\";User ID=sa",
                                 u"Provider={RZTEST.PROVIDER}"}) {
        ComPtr<IDBInitialize> source;
        EXPECT_EQ(dataSource(text, source), S_OK) << std::string(text, text + std::char_traits<char16_t>::length(text));
        ComPtr<IDBProperties> properties;
        EXPECT_EQ(source.query(IID_IDBProperties, properties), S_OK);
    }
    EXPECT_EQ(created, 4);
}

TEST_F(ServiceComponentsTest, anUnknownOrMissingProviderCreatesNothing)
{
    ComPtr<IDBInitialize> source;
    EXPECT_EQ(dataSource(u"Provider=NOT.INSTALLED", source), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(source);
    EXPECT_EQ(dataSource(u"Data Source=10.0.0.1", source), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(dataSource(u"Provider=", source), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(dataSource(nullptr, source), E_INVALIDARG);
    EXPECT_EQ(created, 0);
}

TEST_F(ServiceComponentsTest, createDBInstanceUsesTheClsidDirectly)
{
    ComPtr<IDBInitialize> source;
    ASSERT_EQ(services->CreateDBInstance(kFakeProvider, nullptr, CLSCTX_INPROC_SERVER, nullptr,
                                         IID_IDBInitialize, reinterpret_cast<IUnknown **>(source.put())),
              S_OK);
    EXPECT_TRUE(source);
    EXPECT_EQ(source->Initialize(), S_OK);

    const CLSID unknown = {0x5a5a0002, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    ComPtr<IUnknown> none;
    EXPECT_EQ(services->CreateDBInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, nullptr,
                                         IID_IUnknown, none.put()),
              REGDB_E_CLASSNOTREG);
    // The provider's own answer comes back unchanged.
    EXPECT_EQ(services->CreateDBInstance(kFakeProvider, nullptr, CLSCTX_INPROC_SERVER, nullptr,
                                         IID_IRowset, none.put()),
              E_NOINTERFACE);
}

} // namespace
