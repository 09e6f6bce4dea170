// The plug-in as any Qt program sees it through QT_PLUGIN_PATH.

#include "driver_under_test.h"

#include <QtCore/QCborArray>
#include <QtCore/QCborMap>
#include <QtCore/QCborValue>
#include <QtCore/QLibrary>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlDriver>

#include <gtest/gtest.h>

namespace {

TEST(PluginLoading, QtListsTheDriverUnderItsExactName)
{
    EXPECT_TRUE(QSqlDatabase::drivers().contains(QStringLiteral("REZUVEDOV")));

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("REZUVEDOV"), QStringLiteral("exact"));
    ASSERT_TRUE(db.isValid());
    EXPECT_FALSE(db.isOpen());

    for (const QString &name : {QStringLiteral("rezuvedov"), QStringLiteral("REZUVEDOV ")}) {
        QSqlDatabase other = QSqlDatabase::addDatabase(name, QStringLiteral("other"));
        EXPECT_FALSE(other.isValid()) << name.toStdString();
    }
}

TEST(PluginLoading, FeaturesAreAllButNamedPlaceholders)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("REZUVEDOV"), QStringLiteral("features"));
    ASSERT_TRUE(db.isValid());
    const QSqlDriver *driver = db.driver();
    EXPECT_FALSE(driver->hasFeature(QSqlDriver::NamedPlaceholders));
    for (int f = QSqlDriver::Transactions; f <= QSqlDriver::CancelQuery + 1; ++f) {
        if (f != QSqlDriver::NamedPlaceholders) {
            EXPECT_TRUE(driver->hasFeature(QSqlDriver::DriverFeature(f))) << f;
        }
    }
    EXPECT_FALSE(driver->handle().isValid());
}

TEST(PluginLoading, MetadataBlockIsWhatMocEmits)
{
    QLibrary library(rztest::pluginPath());
    ASSERT_TRUE(library.load()) << library.errorString().toStdString();
    using QueryMetadata = const char *(*)();
    auto query = reinterpret_cast<QueryMetadata>(library.resolve("qt_plugin_query_metadata"));
    ASSERT_NE(query, nullptr);
    ASSERT_NE(library.resolve("qt_plugin_instance"), nullptr);

    const auto *blob = reinterpret_cast<const unsigned char *>(query());
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(blob), 12), QByteArray("QTMETADATA !"));
    EXPECT_EQ(blob[12], 0);
    EXPECT_EQ(blob[13], QT_VERSION_MAJOR);
    EXPECT_EQ(blob[14], QT_VERSION_MINOR);
    EXPECT_EQ(blob[15], 0);
    EXPECT_EQ(blob[16], 0xBF);
    EXPECT_EQ(blob[17], 2);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(blob) + 20, 44),
              QByteArray("org.qt-project.Qt.QSqlDriverFactoryInterface"));
    EXPECT_EQ(blob[64], 3);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(blob) + 66, 21),
              QByteArray("REzuVEDOVDriverPlugin"));
    EXPECT_EQ(blob[87], 4);
    EXPECT_EQ(blob[105], 0xFF);

    const QCborMap map = QCborValue::fromCbor(
        QByteArray(reinterpret_cast<const char *>(blob) + 16, 106 - 16)).toMap();
    EXPECT_EQ(map.value(4).toMap().value(QStringLiteral("Keys")).toArray().at(0).toString(),
              QStringLiteral("REZUVEDOV"));
}

} // namespace
