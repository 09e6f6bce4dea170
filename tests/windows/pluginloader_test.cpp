// The built plug-in as a Qt program finds it through Qt's plug-in loader
// (in sqldrivers/ beside the program, as Windows deployments have it): listed, created, and
// answering as the driver does in the unit tests, with no server at all.

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlDriver>
#include <QtSql/QSqlError>
#include <QtSql/QSqlField>

#include <gtest/gtest.h>

namespace {

QSqlDriver *loadedDriver()
{
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("loader"), false);
    if (!db.isValid())
        db = QSqlDatabase::addDatabase(QStringLiteral("REZUVEDOV"), QStringLiteral("loader"));
    return db.driver();
}

QSqlField field(QVariant value)
{
    QSqlField f(QStringLiteral("f"), QVariant::Type(value.userType()));
    f.setValue(value);
    return f;
}

TEST(PluginLoader, ListsAndCreatesTheDriver)
{
    EXPECT_TRUE(QSqlDatabase::drivers().contains(QStringLiteral("REZUVEDOV")))
        << QSqlDatabase::drivers().join(QLatin1Char(' ')).toStdString();
    QSqlDriver *driver = loadedDriver();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->dbmsType(), QSqlDriver::MSSqlServer);
}

TEST(PluginLoader, FeaturesAreEverythingButNamedPlaceholders)
{
    QSqlDriver *driver = loadedDriver();
    for (int f = QSqlDriver::Transactions; f <= QSqlDriver::CancelQuery; ++f) {
        const auto feature = QSqlDriver::DriverFeature(f);
        EXPECT_EQ(driver->hasFeature(feature), feature != QSqlDriver::NamedPlaceholders) << f;
    }
}

TEST(PluginLoader, FormatsValuesAndEscapesIdentifiers)
{
    QSqlDriver *driver = loadedDriver();
    EXPECT_EQ(driver->formatValue(field(QStringLiteral("it's \u00e9"))), QStringLiteral("N'it''s \u00e9'"));
    EXPECT_EQ(driver->formatValue(field(QStringLiteral("  abc \t")), true), QStringLiteral("N'  abc'"));
    EXPECT_EQ(driver->formatValue(field(4000000000u)), QStringLiteral("4000000000"));
    EXPECT_EQ(driver->formatValue(field(QByteArray("A\0B\0", 4))), QStringLiteral("N'AB'"));
    EXPECT_EQ(driver->escapeIdentifier(QStringLiteral("dbo.my\"table"), QSqlDriver::TableName),
              QStringLiteral("\"dbo\".\"my\"\"table\""));
    EXPECT_EQ(driver->escapeIdentifier(QStringLiteral("\"Orders\""), QSqlDriver::FieldName),
              QStringLiteral("\"Orders\""));
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
