// The "big query=" option: statements of that connection go to the provider
// without the default rowset properties, for the life of the driver object.

#include "loopbacklistener.h"
#include "driver/oledbmanager.h"
#include "scriptedcommand.h"

#include "driver/rezuvedovdriver.h"

#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlQuery>

#include <gtest/gtest.h>

namespace {

class BigQueryTest : public ::testing::Test
{
protected:
    void SetUp() override { OLEDBManager::instance()->setProviderName(QString()); }

    // Runs a statement on a new connection with `options`, closes and reopens
    // it and runs another; gives the property sets the commands received.
    size_t propertySetsSent(const QString &name, const QString &options)
    {
        commands.log().calls.clear();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(new REzuVEDOVDriver, name);
            db.setHostName(QStringLiteral("127.0.0.80"));
            db.setConnectOptions(options);
            EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
            QSqlQuery(db).exec(QStringLiteral("SELECT 1"));
            db.close();
            EXPECT_TRUE(db.open());
            QSqlQuery(db).exec(QStringLiteral("SELECT 2"));
        }
        QSqlDatabase::removeDatabase(name);
        EXPECT_EQ(commands.log().count("Command.Execute"), 2) << options.toStdString();
        return size_t(commands.log().count("Command.SetProperties"));
    }

    rztest::LoopbackListener listener{"127.0.0.80"};
    rztest::ScriptedProvider provider{"SQLOLEDB"};
    rztest::ScriptedCommands commands{provider};
};

TEST_F(BigQueryTest, PlainConnectionsAskForTheRowsetPropertiesBigQueryInAnyCaseAndSpacingTurnsThemOff)
{
    EXPECT_EQ(propertySetsSent(QStringLiteral("plain"), QString()), 2u);
    int run = 0;
    for (const char *options : {"big query=1", "  BIG QUERY=  ", "failover partner=x; Big Query=no"})
        EXPECT_EQ(propertySetsSent(QStringLiteral("big%1").arg(++run), QString::fromLatin1(options)), 0u) << options;
}

} // namespace
