// Opening and closing through the scripted provider: provider choice, the
// hosts tried and their order, what each kind of failure reports, and what
// close() gives back. Listeners on 127.0.0.85/86 stand for live servers;
// nothing listens on 127.0.0.87.

#include "loopbacklistener.h"
#include "driver/oledbmanager.h"
#include "scriptedcommand.h"
#include "scriptedprovider.h"

#include "driver/rezuvedovdriver.h"

#include <QtCore/QElapsedTimer>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlQuery>

#include <gtest/gtest.h>

#include <memory>

namespace {

using rztest::ScriptedProvider;

const QString alive = QStringLiteral("127.0.0.85");
const QString otherAlive = QStringLiteral("127.0.0.86");
const QString dead = QStringLiteral("127.0.0.87");

class OpenTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OLEDBManager::instance()->setProviderName(QString());
        OLEDBManager::instance()->setLastConnectedHost(QString());
    }

    bool open(REzuVEDOVDriver &driver, const QString &host, const QString &options = QString())
    {
        return driver.open(QStringLiteral("testdb"), QStringLiteral("sa"), QStringLiteral("pw"),
                           host, 1433, options);
    }

    // Every failed open is a connection error with the driver's prefix.
    static void expectConnectionError(const REzuVEDOVDriver &driver, const QString &text)
    {
        const QSqlError error = driver.lastError();
        EXPECT_EQ(error.type(), QSqlError::ConnectionError);
        EXPECT_EQ(error.driverText(), QStringLiteral("MSSQL DB: "));
        EXPECT_EQ(error.databaseText(), text);
        EXPECT_FALSE(driver.isOpen());
    }

    rztest::LoopbackListener listener{"127.0.0.85"};
    rztest::LoopbackListener otherListener{"127.0.0.86"};
};

TEST_F(OpenTest, ASuccessfulOpenHoldsASessionUntilCloseReopenOrDestruction)
{
    ScriptedProvider provider("SQLOLEDB");
    auto driver = std::make_unique<REzuVEDOVDriver>();
    ASSERT_TRUE(open(*driver, alive));
    EXPECT_TRUE(driver->isOpen());
    EXPECT_FALSE(driver->isOpenError());
    EXPECT_EQ(OLEDBManager::instance()->lastConnectedHost(), alive);
    EXPECT_EQ(provider.log.count("CreateSession(null,IID_IOpenRowset)"), 1);
    EXPECT_EQ(provider.log.liveSessions, 1);
    EXPECT_EQ(provider.log.liveDataSources, 1);

    provider.log.calls.clear();
    driver->close();
    EXPECT_FALSE(driver->isOpen());
    EXPECT_TRUE(driver->isOpenError());
    EXPECT_EQ(provider.log.calls, (std::vector<std::string>{"~Session", "~DataSource"}));

    driver->close(); // closing a closed driver changes nothing
    EXPECT_TRUE(driver->isOpenError());

    ASSERT_TRUE(open(*driver, alive));
    EXPECT_FALSE(driver->isOpenError());

    // Opening an open driver closes it first.
    provider.log.calls.clear();
    ASSERT_TRUE(open(*driver, alive));
    ASSERT_GE(provider.log.calls.size(), 3u);
    EXPECT_EQ(provider.log.calls[0], "~Session");
    EXPECT_EQ(provider.log.calls[1], "~DataSource");
    EXPECT_EQ(provider.log.liveSessions, 1);

    // Destroying an open driver releases the data source, then the session.
    provider.log.calls.clear();
    driver.reset();
    EXPECT_EQ(provider.log.calls, (std::vector<std::string>{"~DataSource", "~Session"}));
}

TEST_F(OpenTest, TheProviderComesFromTheOptionsThenTheManagerThenTheDefault)
{
    ScriptedProvider fallback("SQLOLEDB"), chosen("MSOLEDBSQL19"), named("MSOLEDBSQL");
    {
        REzuVEDOVDriver driver;
        ASSERT_TRUE(open(driver, alive));
        EXPECT_EQ(fallback.log.count("Initialize"), 1);
    }
    OLEDBManager::instance()->setProviderName(QStringLiteral("MSOLEDBSQL19"));
    {
        REzuVEDOVDriver driver;
        ASSERT_TRUE(open(driver, alive));
        EXPECT_EQ(chosen.log.count("Initialize"), 1);
        // Chosen automatically: the exact name, so encryption is asked for.
        ASSERT_EQ(chosen.log.propertySets().size(), 2u);
        EXPECT_EQ(chosen.log.propertySets()[1].properties.size(), 1u);
    }
    {
        REzuVEDOVDriver driver;
        ASSERT_TRUE(open(driver, alive, QStringLiteral("Provider=MSOLEDBSQL")));
        EXPECT_EQ(named.log.count("Initialize"), 1);
    }
    {   // Named in the options it arrives lower-cased: no encryption property.
        REzuVEDOVDriver driver;
        ASSERT_TRUE(open(driver, alive, QStringLiteral("PROVIDER=MSOLEDBSQL19")));
        ASSERT_EQ(chosen.log.propertySets().size(), 4u);
        EXPECT_TRUE(chosen.log.propertySets()[3].properties.empty());
    }
    EXPECT_EQ(fallback.log.count("Initialize"), 1);
}

TEST_F(OpenTest, BigQueryInTheOptionsDropsTheRowsetPropertiesForTheDriversLife)
{
    ScriptedProvider provider("SQLOLEDB");
    rztest::ScriptedCommands commands(provider);
    // Two statements on a connection that is closed and opened again in
    // between; the number of property sets the commands received.
    const auto propertySetsSent = [&](const QString &name, const QString &options) {
        commands.log().calls.clear();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(new REzuVEDOVDriver, name);
            db.setHostName(alive);
            db.setConnectOptions(options);
            EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
            QSqlQuery(db).exec(QStringLiteral("SELECT 1"));
            db.close();
            EXPECT_TRUE(db.open());
            QSqlQuery(db).exec(QStringLiteral("SELECT 2"));
        }
        QSqlDatabase::removeDatabase(name);
        EXPECT_EQ(commands.log().count("Command.Execute"), 2) << options.toStdString();
        return commands.log().count("Command.SetProperties");
    };
    EXPECT_EQ(propertySetsSent(QStringLiteral("plain"), QString()), 2);
    EXPECT_EQ(propertySetsSent(QStringLiteral("big"), QStringLiteral("failover partner=x; Big Query=no")), 0);
}

TEST_F(OpenTest, AnUnknownProviderFailsWithTheSystemMessage)
{
    REzuVEDOVDriver driver;
    EXPECT_FALSE(open(driver, alive, QStringLiteral("provider=RZ.Unknown")));
    // CO_E_CLASSSTRING from CLSIDFromProgID: no data source, so no records.
    expectConnectionError(driver, QStringLiteral("Invalid class string"));
}

TEST_F(OpenTest, AFailedLoginReportsTheProvidersRecordsAndReleasesTheDataSource)
{
    ScriptedProvider provider("SQLOLEDB");
    provider.script.initialize = E_FAIL;
    provider.script.errorRecords = {"Login failed for user 'sa'.", "Second record."};
    REzuVEDOVDriver driver;
    EXPECT_FALSE(open(driver, alive));
    expectConnectionError(driver, QStringLiteral("Login failed for user 'sa'. Second record."));
    EXPECT_TRUE(driver.lastError().nativeErrorCode().isEmpty());
    EXPECT_FALSE(driver.isOpenError()); // a failed open only sets the error
    EXPECT_EQ(provider.log.liveDataSources, 0);
    EXPECT_TRUE(OLEDBManager::instance()->lastConnectedHost().isEmpty());
}

TEST_F(OpenTest, ADeadPrimaryFailsOverToItsPartnerWithinASecond)
{
    ScriptedProvider provider("SQLOLEDB");
    REzuVEDOVDriver driver;
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(open(driver, dead, QStringLiteral("Failover Partner=") + alive));
    EXPECT_LT(timer.elapsed(), 1000);
    // The dead host never reached the provider.
    EXPECT_EQ(provider.log.dataSources(), std::vector<std::string>{"127.0.0.85"});
    EXPECT_EQ(OLEDBManager::instance()->lastConnectedHost(), alive);

    // The partner that answered last time now goes first: no wait at all.
    driver.close();
    provider.log.sets.clear();
    timer.restart();
    ASSERT_TRUE(open(driver, dead, QStringLiteral("Failover Partner=") + alive));
    EXPECT_LT(timer.elapsed(), 300);
    EXPECT_EQ(provider.log.dataSources(), std::vector<std::string>{"127.0.0.85"});
}

TEST_F(OpenTest, EveryHostDeadReportsThatTheServerMightBeOffline)
{
    ScriptedProvider provider("SQLOLEDB");
    REzuVEDOVDriver driver;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(open(driver, dead, QStringLiteral("127.0.0.88")));
    const qint64 elapsed = timer.elapsed();
    EXPECT_GE(elapsed, 900);  // two probes of half a second each
    EXPECT_LT(elapsed, 1600); // and nothing more
    expectConnectionError(driver, QStringLiteral("SQL Server might be offline"));
    EXPECT_TRUE(provider.log.calls.empty());
}

TEST_F(OpenTest, APositiveInitializeCodeMovesOnWithoutAnError)
{
    ScriptedProvider provider("SQLOLEDB");
    provider.script.initialize = {DB_S_ERRORSOCCURRED, S_OK};
    provider.script.errorRecords = {"must not be read"};
    REzuVEDOVDriver driver;
    ASSERT_TRUE(open(driver, alive, otherAlive));
    EXPECT_EQ(provider.log.dataSources(), (std::vector<std::string>{"127.0.0.85", "127.0.0.86"}));
    EXPECT_EQ(driver.lastError().type(), QSqlError::NoError);
    EXPECT_EQ(OLEDBManager::instance()->lastConnectedHost(), otherAlive);
    EXPECT_EQ(provider.log.liveDataSources, 1);
}

TEST_F(OpenTest, TheLastErrorIsTheLastHostThatFailedWithAnError)
{
    ScriptedProvider provider("SQLOLEDB");
    provider.script.initialize = DB_S_ERRORSOCCURRED;
    REzuVEDOVDriver driver;
    // Dead first (error), then a positive code (no error): the error stays.
    EXPECT_FALSE(open(driver, dead, alive));
    expectConnectionError(driver, QStringLiteral("SQL Server might be offline"));

    // A positive code on every host leaves the earlier error as it was.
    REzuVEDOVDriver other;
    EXPECT_FALSE(open(other, alive, otherAlive));
    EXPECT_EQ(other.lastError().type(), QSqlError::NoError);
    EXPECT_EQ(provider.log.liveDataSources, 0);
}

TEST_F(OpenTest, AFailedHostIsFollowedByItsPartner)
{
    ScriptedProvider provider("SQLOLEDB");
    provider.script.initialize = {E_FAIL, S_OK};
    provider.script.errorRecords = {"first host refused"};
    REzuVEDOVDriver driver;
    ASSERT_TRUE(open(driver, alive, QStringLiteral("failover partner=127.0.0.86")));
    EXPECT_EQ(provider.log.dataSources(), (std::vector<std::string>{"127.0.0.85", "127.0.0.86"}));
    // The error of the first host stays: success sets no error of its own.
    EXPECT_EQ(driver.lastError().databaseText(), QStringLiteral("first host refused"));
}

TEST_F(OpenTest, ASessionThatCannotBeMadeStopsTheHostLoop)
{
    {
        ScriptedProvider provider("SQLOLEDB");
        provider.script.createSession = E_FAIL;
        provider.script.errorRecords = {"no session for you"};
        REzuVEDOVDriver driver;
        EXPECT_FALSE(open(driver, alive, otherAlive));
        EXPECT_EQ(provider.log.dataSources(), std::vector<std::string>{"127.0.0.85"});
        expectConnectionError(driver, QStringLiteral("no session for you"));
        // The data source initialised, so its host counts as last connected.
        EXPECT_EQ(OLEDBManager::instance()->lastConnectedHost(), alive);
    }
    {   // Success without a session is no better.
        ScriptedProvider provider("SQLOLEDB");
        provider.script.nullSession = true;
        REzuVEDOVDriver driver;
        EXPECT_FALSE(open(driver, alive, otherAlive));
        EXPECT_EQ(provider.log.dataSources(), std::vector<std::string>{"127.0.0.85"});
        expectConnectionError(driver, QStringLiteral("Critical Error"));
    }
    {   // Nor is a data source that cannot make sessions at all.
        ScriptedProvider provider("SQLOLEDB");
        provider.script.missingInterfaces = {IID_IDBCreateSession};
        REzuVEDOVDriver driver;
        EXPECT_FALSE(open(driver, alive, otherAlive));
        EXPECT_EQ(provider.log.dataSources(), std::vector<std::string>{"127.0.0.85"});
        EXPECT_FALSE(driver.isOpen());
    }
}

} // namespace
