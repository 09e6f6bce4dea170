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
    const std::vector<DBPROPID> login{66, 59, 284, 233, 12, 9};
    const struct
    {
        const char *db, *user, *password, *host;
        std::vector<DBPROPID> ids;
        std::vector<std::string> texts; // the integers' entries empty
    } cases[] = {
        {"Sales", "app", "p;w=d", "10.0.0.1", login, {"", "10.0.0.1", "", "Sales", "app", "p;w=d"}},
        // Empty texts go as empty strings, not as missing ones.
        {"", "u", "", "", login, {"", "", "", "", "u", ""}},
        {"Verkäufe_販売", "José", "pässwörd€", "h", login, {"", "h", "", "Verkäufe_販売", "José", "pässwörd€"}},
        // An empty user means integrated security and no password.
        {"db", "", "ignored", "h", {66, 59, 284, 233, 7}, {"", "h", "", "db", "SSPI"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.texts.back());
        ScriptedProvider provider("MSOLEDBSQL19");
        const RealConnectResult result = connect("MSOLEDBSQL19", QString::fromUtf8(c.db), QString::fromUtf8(c.user),
                                                 QString::fromUtf8(c.password), QString::fromUtf8(c.host));
        EXPECT_EQ(result.hr, S_OK);
        EXPECT_TRUE(result.dataSource);
        EXPECT_FALSE(result.error.isValid());

        ASSERT_EQ(provider.log.propertySets().size(), 2u);
        const auto &init = provider.log.propertySets()[0];
        EXPECT_TRUE(init.guid == DBPROPSET_DBINIT);
        ASSERT_EQ(idsOf(init), c.ids);
        for (size_t i = 0; i < c.ids.size(); ++i) {
            const RecordedProperty &p = init.properties[i];
            const bool integer = p.id == 66 || p.id == 284;
            EXPECT_EQ(p.type, integer ? VT_I4 : VT_BSTR) << i;
            EXPECT_EQ(p.number, integer ? 1 : 0) << i;
            EXPECT_FALSE(p.nullString) << i;
            EXPECT_EQ(p.options, DBPROPOPTIONS(DBPROPOPTIONS_REQUIRED)) << i;
            EXPECT_EQ(p.text, c.texts[i]) << i;
        }

        const auto &sqlServer = provider.log.propertySets()[1];
        EXPECT_TRUE(sqlServer.guid == DBPROPSET_SQLSERVERDBINIT);
        ASSERT_EQ(sqlServer.properties.size(), 1u);
        EXPECT_EQ(sqlServer.properties[0].id, DBPROPID(SSPROP_INIT_ENCRYPT));
        EXPECT_EQ(sqlServer.properties[0].type, VT_BSTR);
        EXPECT_EQ(sqlServer.properties[0].text, "Optional");

        EXPECT_EQ(provider.log.calls.front().rfind("SetProperties(2", 0), 0u) << provider.log.calls.front();
        EXPECT_EQ(provider.log.count("Initialize()"), 1);
    }
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
