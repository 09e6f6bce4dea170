// The built plug-in as a Qt program finds it through Qt's plug-in loader
// (in sqldrivers/ beside the program, as Windows deployments have it): listed,
// created, and opening through its own run time, with no server at all. What
// the driver answers is the unit tests' (they run on Windows too).

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlDriver>
#include <QtSql/QSqlError>

#include <gtest/gtest.h>

namespace {

TEST(PluginLoader, ListsAndCreatesTheDriver)
{
    EXPECT_TRUE(QSqlDatabase::drivers().contains(QStringLiteral("REZUVEDOV")))
        << QSqlDatabase::drivers().join(QLatin1Char(' ')).toStdString();
    const QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("REZUVEDOV"), QStringLiteral("loader"));
    ASSERT_NE(db.driver(), nullptr);
    EXPECT_EQ(db.driver()->dbmsType(), QSqlDriver::MSSqlServer);
}

TEST(PluginLoader, OpeningADeadAddressFailsAfterTheProbe)
{
    // A loopback address where nothing listens: the half-second probe, then
    // no attempt by the provider.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("REZUVEDOV"), QStringLiteral("dead"));
    db.setHostName(QStringLiteral("127.0.0.250"));
    db.setDatabaseName(QStringLiteral("testdb"));
    db.setUserName(QStringLiteral("sa"));
    db.setPassword(QStringLiteral("Secret123"));
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(db.open());
    EXPECT_GE(timer.elapsed(), 450);
    EXPECT_TRUE(db.lastError().text().contains(QStringLiteral("SQL Server might be offline")))
        << db.lastError().text().toStdString();
    EXPECT_EQ(db.lastError().type(), QSqlError::ConnectionError);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
