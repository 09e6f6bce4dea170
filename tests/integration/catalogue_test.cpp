// The catalogue against a live server: the table list, a table's record and
// its primary index, as QSqlDatabase hands them to applications.

#include "livedatabase.h"
#include "qtcompat/qtcompat.h"

#include <QtSql/QSqlField>
#include <QtSql/QSqlIndex>
#include <QtSql/QSqlRecord>

namespace {

const auto *const environment = rztest::useLiveServer(QStringLiteral("127.0.0.44"));

using CatalogueTest = rztest::LiveDatabaseTest;

TEST_F(CatalogueTest, TablesListsTablesFirstThenViews)
{
    createTable(QStringLiteral("cat_alpha"), QStringLiteral("a int"));
    createTable(QStringLiteral("cat_beta"), QStringLiteral("b int"));
    run(QStringLiteral("DROP VIEW IF EXISTS cat_view"));
    run(QStringLiteral("CREATE VIEW cat_view AS SELECT a FROM cat_alpha"));

    const QStringList tables = db.tables(QSql::Tables);
    EXPECT_TRUE(tables.contains(QStringLiteral("cat_alpha"))) << tables.join(' ').toStdString();
    EXPECT_TRUE(tables.contains(QStringLiteral("cat_beta")));
    EXPECT_FALSE(tables.contains(QStringLiteral("cat_view")));
    const QStringList views = db.tables(QSql::Views);
    EXPECT_TRUE(views.contains(QStringLiteral("cat_view"))) << views.join(' ').toStdString();
    EXPECT_FALSE(views.contains(QStringLiteral("cat_alpha")));

    EXPECT_EQ(db.tables(QSql::AllTables), tables + views);
    EXPECT_EQ(db.tables(QSql::TableType(QSql::Tables | QSql::Views)), tables + views);
    EXPECT_TRUE(db.tables(QSql::SystemTables).isEmpty());
    EXPECT_FALSE(db.lastError().isValid());
}

TEST_F(CatalogueTest, RecordDescribesColumnsInTableOrder)
{
    createTable(QStringLiteral("cat_columns"),
                QStringLiteral("nc nchar(10), i int, nv nvarchar(50), c char(5), b bit, bi bigint, "
                               "de decimal(12,3), m money, f float, r real, dt datetime, d date, "
                               "t time, vb varbinary(20), nvm nvarchar(max), vbm varbinary(max), "
                               "g uniqueidentifier, si smallint, ti tinyint"));
    const QSqlRecord record = db.record(QStringLiteral("cat_columns"));
    struct Column { const char *name; QMetaType::Type type; int typeId; int length; };
    const Column expected[] = {
        {"nc", QMetaType::QString, 130, 22},  {"i", QMetaType::Int, 3, 4},
        {"nv", QMetaType::QString, 130, -1},  {"c", QMetaType::QString, 129, 6},
        {"b", QMetaType::Bool, 11, 2},       {"bi", QMetaType::LongLong, 20, 8},
        {"de", QMetaType::LongLong, 131, 19}, {"m", QMetaType::LongLong, 6, 8},
        {"f", QMetaType::Double, 5, 8},      {"r", QMetaType::Double, 4, 4},
        {"dt", QMetaType::QDateTime, 135, 16}, {"d", QMetaType::QDateTime, 133, 6},
        {"t", QMetaType::QTime, 134, 6},      {"vb", QMetaType::QByteArray, 128, -1},
        {"nvm", QMetaType::QString, 130, -1}, {"vbm", QMetaType::QByteArray, 128, -1},
        {"g", QMetaType::QByteArray, 72, 16}, {"si", QMetaType::Int, 2, 2},
        {"ti", QMetaType::Int, 17, 1},
    };
    const int count = int(sizeof expected / sizeof *expected);
    ASSERT_EQ(record.count(), count);
    for (int i = 0; i < count; ++i) {
        const QSqlField field = record.field(i);
        EXPECT_EQ(field.name(), QString::fromLatin1(expected[i].name)) << i;
        EXPECT_EQ(rz::typeId(field), expected[i].type) << expected[i].name;
        EXPECT_EQ(field.typeID(), expected[i].typeId) << expected[i].name;
        EXPECT_EQ(field.length(), expected[i].length) << expected[i].name;
    }
    EXPECT_EQ(record.field(QStringLiteral("de")).precision(), 12);
}

TEST_F(CatalogueTest, IdentityKeyIsMarkedAsAnAutoValueAndAKeylessTableHasAnEmptyIndex)
{
    createTable(QStringLiteral("cat_people"),
                QStringLiteral("id int IDENTITY(1,1) PRIMARY KEY, name nvarchar(30)"));
    const QSqlIndex index = db.primaryIndex(QStringLiteral("cat_people"));
    ASSERT_EQ(index.count(), 1);
    EXPECT_EQ(index.cursorName(), QStringLiteral("cat_people"));
    EXPECT_EQ(index.name(), QStringLiteral("id"));
    EXPECT_EQ(index.fieldName(0), QStringLiteral("id"));
    EXPECT_EQ(rz::typeId(index.field(0)), QMetaType::Int);
    EXPECT_TRUE(index.field(0).isAutoValue());

    createTable(QStringLiteral("cat_codes"), QStringLiteral("code nvarchar(10) PRIMARY KEY, n int"));
    const QSqlIndex plain = db.primaryIndex(QStringLiteral("cat_codes"));
    ASSERT_EQ(plain.count(), 1);
    EXPECT_EQ(plain.fieldName(0), QStringLiteral("code"));
    EXPECT_FALSE(plain.field(0).isAutoValue());

    createTable(QStringLiteral("cat_heap"), QStringLiteral("a int, b int"));
    const QSqlIndex none = db.primaryIndex(QStringLiteral("cat_heap"));
    EXPECT_TRUE(none.isEmpty());
    EXPECT_TRUE(none.name().isEmpty());
    EXPECT_EQ(none.cursorName(), QStringLiteral("cat_heap"));
}

TEST_F(CatalogueTest, CompositeKeyListsItsColumnsInTheServersOrder)
{
    createTable(QStringLiteral("cat_pairs"),
                QStringLiteral("a int NOT NULL, b nvarchar(10) NOT NULL, c int, PRIMARY KEY (b, a)"));
    QStringList serverOrder;
    QSqlQuery keys(db);
    ASSERT_TRUE(keys.exec(QStringLiteral(
        "SELECT C.COLUMN_NAME FROM INFORMATION_SCHEMA.TABLE_CONSTRAINTS AS K "
        "INNER JOIN INFORMATION_SCHEMA.CONSTRAINT_COLUMN_USAGE AS C ON K.CONSTRAINT_NAME = C.CONSTRAINT_NAME "
        "WHERE K.TABLE_NAME = 'cat_pairs' AND K.CONSTRAINT_TYPE = 'PRIMARY KEY'")))
        << keys.lastError().text().toStdString();
    while (keys.next())
        serverOrder << keys.value(0).toString();
    ASSERT_EQ(serverOrder.size(), 2);

    const QSqlIndex index = db.primaryIndex(QStringLiteral("cat_pairs"));
    ASSERT_EQ(index.count(), 2);
    EXPECT_EQ(index.fieldName(0), serverOrder.at(0));
    EXPECT_EQ(index.fieldName(1), serverOrder.at(1));
    EXPECT_EQ(index.name(), serverOrder.at(1)); // named after the last key column
    EXPECT_EQ(rz::typeId(index.field(QStringLiteral("b"))), QMetaType::QString);
    EXPECT_FALSE(index.field(0).isAutoValue());
    EXPECT_FALSE(index.field(1).isAutoValue());
}

TEST_F(CatalogueTest, SchemaQualifiedNameIsLookedUpByItsShortName)
{
    run(QStringLiteral("DROP TABLE IF EXISTS Sales.Orders"));
    if (scalar(QStringLiteral("SELECT SCHEMA_ID('Sales')")).isNull())
        run(QStringLiteral("CREATE SCHEMA Sales"));
    run(QStringLiteral("CREATE TABLE Sales.Orders (OrderId int IDENTITY(1,1) PRIMARY KEY, total money)"));
    const QSqlIndex index = db.primaryIndex(QStringLiteral("Sales.Orders"));
    EXPECT_EQ(index.cursorName(), QStringLiteral("Sales.Orders"));
    ASSERT_EQ(index.count(), 1);
    EXPECT_EQ(index.fieldName(0), QStringLiteral("OrderId"));
    // The identity query names the bare table, which the server resolves in dbo.
    EXPECT_FALSE(index.field(0).isAutoValue());
    EXPECT_EQ(db.record(QStringLiteral("Sales.Orders")).count(), 2);
    EXPECT_TRUE(db.tables().contains(QStringLiteral("Orders"))); // names come bare
}

} // namespace
