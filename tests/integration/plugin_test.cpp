// The plug-in's module as Qt's plug-in loader reads it. The driver it
// creates under its exact name only is the unit plug-in test's; Qt finding
// it on QT_PLUGIN_PATH is every live test's.

#include "driver_under_test.h"

#include <QtCore/QCborArray>
#include <QtCore/QCborMap>
#include <QtCore/QCborValue>
#include <QtCore/QLibrary>
#include <QtCore/QtPlugin>

#include <gtest/gtest.h>

namespace {

// Where moc puts the plug-in's metadata: a four-byte header (metadata
// version, Qt's major and minor version, architecture requirements) after a
// 12-byte tag, then the CBOR map. Qt 5 tags it "QTMETADATA !"; Qt 6 makes it
// an ELF note whose name "qt-project!" comes just before the header.
struct MetadataBlock
{
    const unsigned char *header = nullptr;
    QByteArray tag;
    int version = 0;
    int architecture = 0;
};

MetadataBlock metadataBlock(QLibrary &library)
{
    MetadataBlock block;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    using QueryMetadata = QPluginMetaData (*)();
    auto query = reinterpret_cast<QueryMetadata>(library.resolve("qt_plugin_query_metadata_v2"));
    if (!query)
        return block;
    block.header = static_cast<const unsigned char *>(query().data);
    block.tag = QByteArray("qt-project!", 12);
    block.version = QPluginMetaData::CurrentMetaDataVersion;
    block.architecture = QPluginMetaData::archRequirements();
#else
    using QueryMetadata = const char *(*)();
    auto query = reinterpret_cast<QueryMetadata>(library.resolve("qt_plugin_query_metadata"));
    if (!query)
        return block;
    block.header = reinterpret_cast<const unsigned char *>(query()) + 12;
    block.tag = QByteArray("QTMETADATA !");
#endif
    return block;
}

TEST(PluginLoading, MetadataBlockIsWhatMocEmits)
{
    QLibrary library(rztest::pluginPath());
    ASSERT_TRUE(library.load()) << library.errorString().toStdString();
    const MetadataBlock block = metadataBlock(library);
    ASSERT_NE(block.header, nullptr);
    ASSERT_NE(library.resolve("qt_plugin_instance"), nullptr);

    const unsigned char *header = block.header;
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(header) - 12, 12), block.tag);
    EXPECT_EQ(header[0], block.version);
    EXPECT_EQ(header[1], QT_VERSION_MAJOR);
    EXPECT_EQ(header[2], QT_VERSION_MINOR);
    EXPECT_EQ(header[3], block.architecture);

    const unsigned char *cbor = header + 4;
    EXPECT_EQ(cbor[0], 0xBF);
    EXPECT_EQ(cbor[1], 2);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(cbor) + 4, 44),
              QByteArray("org.qt-project.Qt.QSqlDriverFactoryInterface"));
    EXPECT_EQ(cbor[48], 3);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(cbor) + 50, 21),
              QByteArray("REzuVEDOVDriverPlugin"));
    EXPECT_EQ(cbor[71], 4);
    EXPECT_EQ(cbor[89], 0xFF);

    const QCborMap map = QCborValue::fromCbor(QByteArray(reinterpret_cast<const char *>(cbor), 90)).toMap();
    EXPECT_EQ(map.value(4).toMap().value(QStringLiteral("Keys")).toArray().at(0).toString(),
              QStringLiteral("REZUVEDOV"));
}

} // namespace
