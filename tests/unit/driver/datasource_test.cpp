// Data source initialisation: the exact properties sent to the provider, and
// what a connection attempt hands back.

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

// One connection attempt through the provider registered as `provider`.
RealConnectResult connect(const char *provider, const QString &db = QStringLiteral("db"),
                          const QString &user = QStringLiteral("u"), const QString &password = QStringLiteral("p"),
                          const QString &host = QStringLiteral("h"))
{
    rztest::TestDriver driver;
    return driver.realConnect(db, user, password, host, QString::fromLatin1(provider));
}

TEST(ConnectAttempt, SendsTheLoginPropertiesInTheirOrder)
{
    ScriptedProvider provider("MSOLEDBSQL19");
    const RealConnectResult result = connect("MSOLEDBSQL19", QStringLiteral("Sales"), QStringLiteral("app"),
                                             QStringLiteral("p;w=d"), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(result.hr, S_OK);
    EXPECT_TRUE(result.dataSource);
    EXPECT_FALSE(result.error.isValid());

    ASSERT_EQ(provider.log.propertySets().size(), 2u);
    const auto &init = provider.log.propertySets()[0];
    EXPECT_TRUE(init.guid == DBPROPSET_DBINIT);
    ASSERT_EQ(idsOf(init), (std::vector<DBPROPID>{66, 59, 284, 233, 12, 9}));
    const std::vector<VARTYPE> types{VT_I4, VT_BSTR, VT_I4, VT_BSTR, VT_BSTR, VT_BSTR};
    const std::vector<std::string> texts{"", "10.0.0.1", "", "Sales", "app", "p;w=d"};
    for (size_t i = 0; i < types.size(); ++i) {
        EXPECT_EQ(init.properties[i].type, types[i]) << i;
        EXPECT_EQ(init.properties[i].options, DBPROPOPTIONS(DBPROPOPTIONS_REQUIRED)) << i;
        EXPECT_EQ(init.properties[i].text, texts[i]) << i;
    }
    EXPECT_EQ(init.properties[0].number, 1);
    EXPECT_EQ(init.properties[2].number, 1);

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
        EXPECT_EQ(connect(name).hr, S_OK) << name;
        // The second set still goes to the provider, empty.
        ASSERT_EQ(provider.log.propertySets().size(), 2u) << name;
        EXPECT_TRUE(provider.log.propertySets()[1].guid == DBPROPSET_SQLSERVERDBINIT);
        EXPECT_TRUE(provider.log.propertySets()[1].properties.empty()) << name;
    }
}

TEST(ConnectAttempt, AnEmptyUserMeansIntegratedSecurityAndNoPassword)
{
    ScriptedProvider provider("MSOLEDBSQL");
    connect("MSOLEDBSQL", QStringLiteral("db"), QString(), QStringLiteral("ignored"));
    ASSERT_EQ(provider.log.propertySets().size(), 2u);
    const auto &init = provider.log.propertySets()[0];
    ASSERT_EQ(idsOf(init), (std::vector<DBPROPID>{66, 59, 284, 233, 7}));
    EXPECT_EQ(init.properties[4].type, VT_BSTR);
    EXPECT_EQ(init.properties[4].text, "SSPI");
}

TEST(ConnectAttempt, EmptyTextsAreSentAsEmptyStringsAndUnicodeTextsIntact)
{
    ScriptedProvider provider("MSOLEDBSQL");
    connect("MSOLEDBSQL", QString(), QStringLiteral("u"), QString(), QString());
    connect("MSOLEDBSQL", QString::fromUtf8("Verkäufe_販売"), QString::fromUtf8("José"),
            QString::fromUtf8("pässwörd€"), QStringLiteral("10.0.0.1"));
    ASSERT_EQ(provider.log.propertySets().size(), 4u);
    const auto &empty = provider.log.propertySets()[0];
    ASSERT_EQ(idsOf(empty), (std::vector<DBPROPID>{66, 59, 284, 233, 12, 9}));
    for (size_t i : {1, 3, 5}) {
        EXPECT_EQ(empty.properties[i].type, VT_BSTR) << i;
        EXPECT_FALSE(empty.properties[i].nullString) << i;
        EXPECT_EQ(empty.properties[i].text, "") << i;
    }
    const auto &unicode = provider.log.propertySets()[2];
    ASSERT_EQ(unicode.properties.size(), 6u);
    EXPECT_EQ(unicode.properties[3].text, "Verkäufe_販売");
    EXPECT_EQ(unicode.properties[4].text, "José");
    EXPECT_EQ(unicode.properties[5].text, "pässwörd€");
}

TEST(ConnectAttempt, TheDataSourceComesBackWheneverItWasCreated)
{
    // A failed Initialize leaves the object there for its error records; a
    // failed SetProperties never initialises; a positive code comes back as it is.
    const struct
    {
        rztest::Answers rztest::ProviderScript::*step;
        HRESULT hr;
        int initializeCalls;
    } cases[] = {{&rztest::ProviderScript::initialize, E_FAIL, 1},
                 {&rztest::ProviderScript::setProperties, DB_E_ERRORSOCCURRED, 0},
                 {&rztest::ProviderScript::initialize, DB_S_ERRORSOCCURRED, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hr);
        ScriptedProvider provider("MSOLEDBSQL");
        provider.script.*c.step = c.hr;
        RealConnectResult result = connect("MSOLEDBSQL");
        EXPECT_EQ(result.hr, c.hr);
        EXPECT_TRUE(result.dataSource);
        EXPECT_EQ(provider.log.count("Initialize"), c.initializeCalls);
        EXPECT_EQ(provider.log.liveDataSources, 1);
        result.dataSource.reset();
        EXPECT_EQ(provider.log.liveDataSources, 0) << "the caller holds the only reference";
    }
}

TEST(ConnectAttempt, NoDataSourceWhenTheProviderCannotBeMade)
{
    const RealConnectResult unknown = connect("RZ.NoSuchProvider");
    EXPECT_LT(unknown.hr, 0);
    EXPECT_FALSE(unknown.dataSource);

    ScriptedProvider provider("MSOLEDBSQL");
    provider.script.createInstance = E_OUTOFMEMORY;
    const RealConnectResult refused = connect("MSOLEDBSQL");
    EXPECT_LT(refused.hr, 0);
    EXPECT_FALSE(refused.dataSource);
    EXPECT_TRUE(provider.log.propertySets().empty());
}

} // namespace
