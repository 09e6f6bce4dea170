// Logging in: the data source's properties, its login and what a failed
// login reports.

#include "liveserver.h"

#include "platform/com/classregistry.h"
#include "platform/com/faultinjection.h"

#include <chrono>

using namespace providertest;

TEST(Registration, TdsProviderIsAlwaysCreatableOdbcOnesOnlyWithTheirDriver)
{
    auto source = createDataSource("sqloledb");
    ASSERT_TRUE(source) << "program identifiers match whatever their case";
    // These machines have Debian's tdsodbc: FreeTDS over ODBC stays reachable by its own name.
    EXPECT_TRUE(createDataSource("RZFREETDS"));

    // Microsoft's ODBC drivers are not installed here: their names exist but cannot be created.
    CLSID clsid;
    if (SUCCEEDED(CLSIDFromProgID(u"MSOLEDBSQL19", &clsid))) {
        rz::ComPtr<IDBInitialize> other;
        const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, other.putVoid());
        if (FAILED(hr)) {
            EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
        }
    }
}

TEST(DataSourceProperties, UnknownPropertiesAreReportedPerPropertyAndWholeSetFailsOnlyWhenNothingWasSet)
{
    auto source = createDataSource();
    ASSERT_TRUE(source);
    rz::ComPtr<IDBProperties> properties;
    ASSERT_EQ(source.query(IID_IDBProperties, properties), S_OK);

    DBPROP props[2] = {textProperty(DBPROP_INIT_CATALOG, "testdb"), i4Property(0x7777, 0)}; // no such property
    DBPROPSET set{props, 2, DBPROPSET_DBINIT};
    EXPECT_EQ(properties->SetProperties(1, &set), DB_S_ERRORSOCCURRED);
    EXPECT_EQ(props[0].dwStatus, DBPROPSTATUS_OK);
    EXPECT_EQ(props[1].dwStatus, DBPROPSTATUS_NOTSUPPORTED);

    DBPROPSET onlyUnknown{&props[1], 1, DBPROPSET_DBINIT};
    EXPECT_EQ(properties->SetProperties(1, &onlyUnknown), DB_E_ERRORSOCCURRED);

    // A value of the wrong type is refused, not stored.
    DBPROP wrongType = textProperty(DBPROP_INIT_TIMEOUT, "5");
    DBPROPSET wrong{&wrongType, 1, DBPROPSET_DBINIT};
    EXPECT_EQ(properties->SetProperties(1, &wrong), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(wrongType.dwStatus, DBPROPSTATUS_BADVALUE);

    DBPROPID ids[] = {DBPROP_INIT_CATALOG, DBPROP_INIT_TIMEOUT};
    DBPROPIDSET idSet{ids, 2, DBPROPSET_DBINIT};
    ULONG count = 0;
    DBPROPSET *got = nullptr;
    ASSERT_EQ(properties->GetProperties(1, &idSet, &count, &got), S_OK);
    ASSERT_EQ(count, 1u);
    ASSERT_EQ(got[0].cProperties, 2u);
    EXPECT_EQ(u8(got[0].rgProperties[0].vValue.bstrVal), "testdb");
    EXPECT_EQ(got[0].rgProperties[1].vValue.vt, VT_I4) << "the default login time-out stays an I4";
    for (ULONG i = 0; i < got[0].cProperties; ++i)
        VariantClear(&got[0].rgProperties[i].vValue);
    CoTaskMemFree(got[0].rgProperties);
    CoTaskMemFree(got);
    VariantClear(&props[0].vValue);
    VariantClear(&wrongType.vValue);
}

TEST(Login, RefusedLoginsGiveTheServersTextWithoutTheDriversPrefixes)
{
    REQUIRE_SERVER();
    Login bad = mainLogin();
    bad.password = "wrong";
    HRESULT hr = S_OK;
    EXPECT_FALSE(openSession(bad, &hr));
    EXPECT_EQ(hr, DB_SEC_E_AUTH_FAILED);
    EXPECT_EQ(errorText(), "Login failed for user 'sa'.");

    Login login = mainLogin();
    login.database = "nosuchdb";
    EXPECT_FALSE(openSession(login, &hr));
    EXPECT_TRUE(FAILED(hr));
    const std::string text = errorText();
    EXPECT_NE(text.find("nosuchdb"), std::string::npos) << text;
    EXPECT_EQ(text.find("[FreeTDS]"), std::string::npos) << text;
}

TEST(Login, BadServerTextFailsBeforeAnyConnection)
{
    Login login = loginAt("127.0.0.20,notaport");
    HRESULT hr = S_OK;
    EXPECT_FALSE(openSession(login, &hr));
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_NE(errorText().find("host,port"), std::string::npos);
}

TEST(Login, HungServerCostsAboutTheLoginTimeout)
{
    TestServer hung("127.0.0.21", {"--hang"});
    ASSERT_TRUE(hung.running());
    Login login = loginAt("127.0.0.21");
    login.loginTimeout = 1;
    const auto start = std::chrono::steady_clock::now();
    HRESULT hr = S_OK;
    EXPECT_FALSE(openSession(login, &hr));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(FAILED(hr));
    EXPECT_LT(seconds, 4.0);
    EXPECT_GE(seconds, 0.9);
    EXPECT_FALSE(errorText().empty());
}

TEST(Login, ANamedInstanceIsReachedByItsPortAndRefusedWithoutOne)
{
    REQUIRE_SERVER();
    if (!testingTdsBackend())
        GTEST_SKIP() << "FreeTDS asks the SQL Server Browser for named instances itself";
    Login withPort = mainLogin();
    withPort.host = std::string(kMainAddress) + "\\SQLEXPRESS,1433";
    HRESULT hr = S_OK;
    EXPECT_TRUE(openSession(withPort, &hr)) << std::hex << hr << " " << errorText();

    Login withoutPort = mainLogin();
    withoutPort.host = std::string(kMainAddress) + "\\SQLEXPRESS";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(openSession(withoutPort, &hr));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
    EXPECT_NE(errorText().find("needs its port"), std::string::npos) << errorText();
}

TEST(Login, AnOdbcEnvironmentThatCannotBeMadeFailsCleanlyAndIsTriedAgain)
{
    if (testingTdsBackend())
        GTEST_SKIP() << "only the ODBC backend has an ODBC environment";
    REQUIRE_SERVER();
    // This process has no ODBC environment yet: the first creation and login
    // make it. Fail each of their allocations in turn, the environment's among
    // them; each attempt fails cleanly, and nothing learnt from a failure stays.
    long attempts = 0;
    for (long n = 1; n < 2000; ++n, ++attempts) {
        rz::failAllocationAfter(n);
        HRESULT hr = S_OK;
        auto session = openSession(mainLogin(), &hr);
        const bool injected = rz::allocationFailureInjected();
        rz::failAllocationAfter(0);
        if (!injected)
            break;
        EXPECT_TRUE(FAILED(hr) || session) << n;
    }
    EXPECT_GT(attempts, 0);
    HRESULT hr = S_OK;
    EXPECT_TRUE(openSession(mainLogin(), &hr)) << std::hex << hr << " " << errorText();
}
