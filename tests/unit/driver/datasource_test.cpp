// Data source initialisation: the property-set container, the exact
// properties sent to the provider, and what a connection attempt hands back.

#include "driver/datasource.h"
#include "scriptedprovider.h"
#include "testdriver.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using rztest::RecordedProperty;
using rztest::ScriptedProvider;

std::vector<DBPROPID> idsOf(const rztest::RecordedPropertySet &set)
{
    std::vector<DBPROPID> ids;
    for (const RecordedProperty &p : set.properties)
        ids.push_back(p.id);
    return ids;
}

TEST(PropertySet, AddedEntriesStartRequiredWithNullColumnAndEmptyValue)
{
    OLEDBPropertySet set(DBPROPSET_DBINIT);
    EXPECT_TRUE(set.guidPropertySet == DBPROPSET_DBINIT);
    EXPECT_EQ(set.cProperties, 0u);

    ASSERT_TRUE(addProperty(set, DBPROPOPTIONS_OPTIONAL));
    EXPECT_EQ(set.cProperties, 0u); // the caller counts the entry once filled
    const DBPROP &entry = set.rgProperties[0];
    EXPECT_EQ(entry.dwOptions, DWORD(DBPROPOPTIONS_OPTIONAL));
    EXPECT_EQ(entry.vValue.vt, VT_EMPTY);
    EXPECT_EQ(entry.colid.eKind, DB_NULLID.eKind);
    EXPECT_TRUE(entry.colid.uGuid.guid == DB_NULLID.uGuid.guid);
}

TEST(PropertySet, StringPropertiesHoldTheirOwnCopies)
{
    OLEDBPropertySet set(DBPROPSET_DBINIT);
    std::u16string host = u"10.0.0.1";
    ASSERT_TRUE(addStringProperty(set, DBPROP_INIT_DATASOURCE, reinterpret_cast<const OLECHAR *>(host.c_str())));
    ASSERT_TRUE(addStringProperty(set, DBPROP_INIT_CATALOG, reinterpret_cast<const OLECHAR *>(u"")));
    host[0] = u'9';
    ASSERT_EQ(set.cProperties, 2u);
    EXPECT_EQ(set.rgProperties[0].dwPropertyID, DBPROPID(DBPROP_INIT_DATASOURCE));
    EXPECT_EQ(set.rgProperties[0].vValue.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(set.rgProperties[0].vValue.bstrVal)), u"10.0.0.1");
    // An empty text is still sent, as an empty string rather than a missing one.
    ASSERT_NE(set.rgProperties[1].vValue.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(set.rgProperties[1].vValue.bstrVal), 0u);

    EXPECT_FALSE(addStringProperty(set, DBPROP_AUTH_USERID, nullptr));
    EXPECT_EQ(set.cProperties, 2u);
}

TEST(PropertySet, RefusesToGrowPastThirtyTwoBits)
{
    OLEDBPropertySet set(DBPROPSET_DBINIT);
    ASSERT_TRUE(addStringProperty(set, DBPROP_INIT_CATALOG, reinterpret_cast<const OLECHAR *>(u"db")));
    DBPROP *const array = set.rgProperties;
    const ULONG filled = set.cProperties;

    set.cProperties = 0xFFFFFFFFu;
    EXPECT_FALSE(addProperty(set, DBPROPOPTIONS_REQUIRED));
    EXPECT_EQ(set.rgProperties, array);
    // One more entry would need more than 4 GB of array.
    set.cProperties = ULONG(0xFFFFFFFFull / sizeof(DBPROP));
    EXPECT_FALSE(addProperty(set, DBPROPOPTIONS_REQUIRED));
    EXPECT_EQ(set.rgProperties, array);

    set.cProperties = filled;
}

TEST(ConnectAttempt, SendsTheLoginPropertiesInTheirOrder)
{
    ScriptedProvider provider("MSOLEDBSQL19");
    rztest::TestDriver driver;
    const RealConnectResult result = driver.realConnect(
        QStringLiteral("Sales"), QStringLiteral("app"), QStringLiteral("p;w=d"),
        QStringLiteral("10.0.0.1"), QStringLiteral("MSOLEDBSQL19"));
    EXPECT_EQ(result.hr, S_OK);
    EXPECT_TRUE(result.dataSource);
    EXPECT_FALSE(result.error.isValid());

    ASSERT_EQ(provider.log.propertySets().size(), 2u);
    const auto &init = provider.log.propertySets()[0];
    EXPECT_TRUE(init.guid == DBPROPSET_DBINIT);
    ASSERT_EQ(idsOf(init), (std::vector<DBPROPID>{66, 59, 284, 233, 12, 9}));
    const std::vector<VARTYPE> types{VT_I4, VT_BSTR, VT_I4, VT_BSTR, VT_BSTR, VT_BSTR};
    for (size_t i = 0; i < types.size(); ++i) {
        EXPECT_EQ(init.properties[i].type, types[i]) << i;
        EXPECT_EQ(init.properties[i].options, DBPROPOPTIONS(DBPROPOPTIONS_REQUIRED)) << i;
    }
    EXPECT_EQ(init.properties[0].number, 1);
    EXPECT_EQ(init.properties[1].text, "10.0.0.1");
    EXPECT_EQ(init.properties[2].number, 1);
    EXPECT_EQ(init.properties[3].text, "Sales");
    EXPECT_EQ(init.properties[4].text, "app");
    EXPECT_EQ(init.properties[5].text, "p;w=d");

    const auto &sqlServer = provider.log.propertySets()[1];
    EXPECT_TRUE(sqlServer.guid == DBPROPSET_SQLSERVERDBINIT);
    ASSERT_EQ(sqlServer.properties.size(), 1u);
    EXPECT_EQ(sqlServer.properties[0].id, DBPROPID(SSPROP_INIT_ENCRYPT));
    EXPECT_EQ(sqlServer.properties[0].type, VT_BSTR);
    EXPECT_EQ(sqlServer.properties[0].text, "Optional");

    EXPECT_EQ(provider.log.calls.front().rfind("SetProperties(2", 0), 0u) << provider.log.calls.front();
    EXPECT_EQ(provider.log.count("Initialize()"), 1);
}

TEST(ConnectAttempt, EncryptionIsAskedOnlyOfTheExactNewestProviderName)
{
    for (const char *name : {"MSOLEDBSQL", "SQLOLEDB", "msoledbsql19"}) {
        ScriptedProvider provider(name);
        rztest::TestDriver driver;
        const RealConnectResult result = driver.realConnect(
            QStringLiteral("db"), QStringLiteral("u"), QStringLiteral("p"),
            QStringLiteral("h"), QString::fromLatin1(name));
        EXPECT_EQ(result.hr, S_OK) << name;
        // The second set still goes to the provider, empty.
        ASSERT_EQ(provider.log.propertySets().size(), 2u) << name;
        EXPECT_TRUE(provider.log.propertySets()[1].guid == DBPROPSET_SQLSERVERDBINIT);
        EXPECT_TRUE(provider.log.propertySets()[1].properties.empty()) << name;
    }
}

TEST(ConnectAttempt, AnEmptyUserMeansIntegratedSecurityAndNoPassword)
{
    ScriptedProvider provider("MSOLEDBSQL");
    rztest::TestDriver driver;
    driver.realConnect(QStringLiteral("db"), QString(), QStringLiteral("ignored"),
                       QStringLiteral("h"), QStringLiteral("MSOLEDBSQL"));
    ASSERT_EQ(provider.log.propertySets().size(), 2u);
    const auto &init = provider.log.propertySets()[0];
    ASSERT_EQ(idsOf(init), (std::vector<DBPROPID>{66, 59, 284, 233, 7}));
    EXPECT_EQ(init.properties[4].type, VT_BSTR);
    EXPECT_EQ(init.properties[4].text, "SSPI");
}

TEST(ConnectAttempt, EmptyTextsAreSentAsEmptyStrings)
{
    ScriptedProvider provider("MSOLEDBSQL");
    rztest::TestDriver driver;
    driver.realConnect(QString(), QStringLiteral("u"), QString(), QString(), QStringLiteral("MSOLEDBSQL"));
    ASSERT_EQ(provider.log.propertySets().size(), 2u);
    const auto &init = provider.log.propertySets()[0];
    ASSERT_EQ(idsOf(init), (std::vector<DBPROPID>{66, 59, 284, 233, 12, 9}));
    for (size_t i : {1, 3, 5}) {
        EXPECT_EQ(init.properties[i].type, VT_BSTR) << i;
        EXPECT_FALSE(init.properties[i].nullString) << i;
        EXPECT_EQ(init.properties[i].text, "") << i;
    }
}

TEST(ConnectAttempt, UnicodeTextsReachTheProviderIntact)
{
    ScriptedProvider provider("MSOLEDBSQL");
    rztest::TestDriver driver;
    driver.realConnect(QString::fromUtf8("Verkäufe_販売"), QString::fromUtf8("José"),
                       QString::fromUtf8("pässwörd€"), QStringLiteral("10.0.0.1"),
                       QStringLiteral("MSOLEDBSQL"));
    ASSERT_EQ(provider.log.propertySets().size(), 2u);
    const auto &init = provider.log.propertySets()[0];
    ASSERT_EQ(init.properties.size(), 6u);
    EXPECT_EQ(init.properties[3].text, "Verkäufe_販売");
    EXPECT_EQ(init.properties[4].text, "José");
    EXPECT_EQ(init.properties[5].text, "pässwörd€");
}

TEST(ConnectAttempt, TheDataSourceComesBackWheneverItWasCreated)
{
    {   // Initialize fails: the object is there for its error records.
        ScriptedProvider provider("MSOLEDBSQL");
        provider.script.initialize = E_FAIL;
        rztest::TestDriver driver;
        const RealConnectResult result = driver.realConnect(
            QStringLiteral("db"), QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("h"),
            QStringLiteral("MSOLEDBSQL"));
        EXPECT_EQ(result.hr, E_FAIL);
        EXPECT_TRUE(result.dataSource);
        EXPECT_EQ(provider.log.liveDataSources, 1);
    }
    {   // SetProperties fails: the data source is never initialised.
        ScriptedProvider provider("MSOLEDBSQL");
        provider.script.setProperties = DB_E_ERRORSOCCURRED;
        rztest::TestDriver driver;
        const RealConnectResult result = driver.realConnect(
            QStringLiteral("db"), QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("h"),
            QStringLiteral("MSOLEDBSQL"));
        EXPECT_EQ(result.hr, DB_E_ERRORSOCCURRED);
        EXPECT_TRUE(result.dataSource);
        EXPECT_EQ(provider.log.count("Initialize"), 0);
    }
    {   // A positive Initialize code comes back as it is.
        ScriptedProvider provider("MSOLEDBSQL");
        provider.script.initialize = DB_S_ERRORSOCCURRED;
        rztest::TestDriver driver;
        const RealConnectResult result = driver.realConnect(
            QStringLiteral("db"), QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("h"),
            QStringLiteral("MSOLEDBSQL"));
        EXPECT_EQ(result.hr, DB_S_ERRORSOCCURRED);
        EXPECT_TRUE(result.dataSource);
    }
}

TEST(ConnectAttempt, NoDataSourceWhenTheProviderCannotBeMade)
{
    {
        rztest::TestDriver driver;
        const RealConnectResult result = driver.realConnect(
            QStringLiteral("db"), QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("h"),
            QStringLiteral("RZ.NoSuchProvider"));
        EXPECT_LT(result.hr, 0);
        EXPECT_FALSE(result.dataSource);
    }
    {
        ScriptedProvider provider("MSOLEDBSQL");
        provider.script.createInstance = E_OUTOFMEMORY;
        rztest::TestDriver driver;
        const RealConnectResult result = driver.realConnect(
            QStringLiteral("db"), QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("h"),
            QStringLiteral("MSOLEDBSQL"));
        EXPECT_LT(result.hr, 0);
        EXPECT_FALSE(result.dataSource);
        EXPECT_TRUE(provider.log.propertySets().empty());
    }
}

} // namespace
