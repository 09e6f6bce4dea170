// Plug-in start: the provider chosen once per plug-in object, and the
// drivers it hands out.

#include "scriptedprovider.h"

#include "driver/rezuvedovdriver.h"
#include "driver/oledbmanager.h"

#include <QtCore/QPointer>
#include <QtSql/QSqlDriverPlugin>

#include <gtest/gtest.h>

#include <memory>

extern "C" QObject *qt_plugin_instance();

namespace {

class PluginStart : public ::testing::Test
{
protected:
    void SetUp() override { OLEDBManager::instance()->setProviderName(QString()); }
    void TearDown() override { delete qt_plugin_instance(); }

    static QString chosenProvider()
    {
        qt_plugin_instance();
        return OLEDBManager::instance()->providerName();
    }
};

TEST_F(PluginStart, PrefersMsoledbsql19ThenMsoledbsql)
{
    rztest::ScriptedProvider newest("MSOLEDBSQL19");
    rztest::ScriptedProvider older("MSOLEDBSQL");
    EXPECT_EQ(chosenProvider(), QStringLiteral("MSOLEDBSQL19"));
    // The probe creates a data source but never initialises it.
    EXPECT_EQ(newest.log.count("~DataSource"), 1);
    EXPECT_EQ(newest.log.count("Initialize"), 0);
    EXPECT_EQ(older.log.count("~DataSource"), 0);
}

TEST_F(PluginStart, FallsBackToMsoledbsqlWhenTheNewestCannotBeCreated)
{
    rztest::ScriptedProvider broken("MSOLEDBSQL19");
    broken.script.createInstance = E_FAIL;
    rztest::ScriptedProvider older("msoledbsql"); // program ids ignore case
    EXPECT_EQ(chosenProvider(), QStringLiteral("MSOLEDBSQL"));
}

TEST_F(PluginStart, NoProviderLeavesTheNameEmpty)
{
    rztest::ScriptedProvider other("SQLOLEDB");
    EXPECT_EQ(chosenProvider(), QString());
}

TEST_F(PluginStart, SecondInstanceCallDoesNotProbeAgain)
{
    rztest::ScriptedProvider newest("MSOLEDBSQL19");
    QObject *first = qt_plugin_instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(qt_plugin_instance(), first);
    EXPECT_EQ(newest.log.count("~DataSource"), 1);

    // Once the host deletes the object, the next call builds and probes anew.
    delete first;
    QObject *second = qt_plugin_instance();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(newest.log.count("~DataSource"), 2);
}

TEST_F(PluginStart, CreatesDriversForTheExactNameOnly)
{
    auto *plugin = qobject_cast<QSqlDriverPlugin *>(qt_plugin_instance());
    ASSERT_NE(plugin, nullptr);
    std::unique_ptr<QSqlDriver> driver(plugin->create(QStringLiteral("REZUVEDOV")));
    ASSERT_NE(driver, nullptr);
    EXPECT_NE(qobject_cast<REzuVEDOVDriver *>(driver.get()), nullptr);
    EXPECT_EQ(driver->parent(), nullptr);
    EXPECT_EQ(plugin->create(QStringLiteral("rezuvedov")), nullptr);
    EXPECT_EQ(plugin->create(QStringLiteral("REZUVEDOV ")), nullptr);
    EXPECT_EQ(plugin->create(QString()), nullptr);
}

TEST(DriverObject, AnswersFeaturesAndHasNoHandle)
{
    REzuVEDOVDriver driver;
    EXPECT_EQ(driver.dbmsType(), QSqlDriver::MSSqlServer);
    // Every feature but named placeholders, even ones Qt has not named yet.
    EXPECT_FALSE(driver.hasFeature(QSqlDriver::NamedPlaceholders));
    for (int f : {int(QSqlDriver::Transactions), int(QSqlDriver::LastInsertId), int(QSqlDriver::CancelQuery), 999})
        EXPECT_TRUE(driver.hasFeature(QSqlDriver::DriverFeature(f))) << f;
    EXPECT_FALSE(driver.handle().isValid());
    EXPECT_FALSE(driver.isOpen());
}

} // namespace
