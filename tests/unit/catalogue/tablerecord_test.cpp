// A table's record comes from the column descriptions of the table opened on
// the session: no SQL, no row read, lengths only for fixed-length columns.

#include "scriptedprovider.h"
#include "scriptedrowset.h"

#include "loopbacklistener.h"
#include "driver/rezuvedovdriver.h"
#include "qtcompat/oletext.h"
#include "qtcompat/qtcompat.h"

#include <QtSql/QSqlField>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr DBCOLUMNFLAGS fixed = DBCOLUMNFLAGS_ISFIXEDLENGTH;
constexpr DBLENGTH unlimited = ~DBLENGTH(0);

class TableRecord : public ::testing::Test
{
protected:
    void SetUp() override
    {
        provider.script.onOpenRowset = [this](IUnknown *, DBID *table, DBID *, REFIID iid, ULONG,
                                              DBPROPSET *, IUnknown **rowset) -> HRESULT {
            opened.push_back(table && table->eKind == DBKIND_NAME && table->uName.pwszName
                                 ? rz::fromOleText(table->uName.pwszName)
                                 : QStringLiteral("<no name>"));
            *rowset = nullptr;
            if (!tableExists)
                return DB_E_NOTABLE;
            return rztest::createScriptedRowset(statement, iid, rowset);
        };
        statement->rowset.columns = {
            {"id", DBTYPE_I4, 4, fixed},
            {"code", DBTYPE_WSTR, 10, fixed},
            {"name", DBTYPE_WSTR, 50, DBCOLUMNFLAGS_ISNULLABLE},
            {"notes", DBTYPE_WSTR, unlimited, DBCOLUMNFLAGS_ISLONG},
            {"image", DBTYPE_BYTES, unlimited, DBCOLUMNFLAGS_ISLONG},
            {"price", DBTYPE_NUMERIC, 19, fixed, 10, 2},
            {"tag", DBTYPE_STR, 3, fixed},
        };
        statement->rowset.rows = {{rztest::cell<qint32>(1), rztest::wideText(u"a"),
                                   rztest::nullCell(), rztest::nullCell(), rztest::nullCell(),
                                   rztest::nullCell(), rztest::narrowText("x")}};
    }

    bool open()
    {
        return driver.open(QStringLiteral("testdb"), QStringLiteral("sa"), QStringLiteral("pw"),
                           QStringLiteral("127.0.0.70"), 1433, QStringLiteral("Provider=RZ.Catalogue"));
    }

    rztest::LoopbackListener listener{"127.0.0.70"};
    rztest::ScriptedProvider provider{"RZ.Catalogue"};
    std::shared_ptr<rztest::StatementState> statement = std::make_shared<rztest::StatementState>();
    bool tableExists = true;
    QStringList opened;
    REzuVEDOVDriver driver;
};

TEST_F(TableRecord, FieldsFollowTheColumnsWithReportedTypesAndFixedLengths)
{
    ASSERT_TRUE(open());
    const QSqlRecord record = driver.record(QStringLiteral("dbo.T"));
    ASSERT_EQ(record.count(), 7);

    struct Expected { const char *name; QMetaType::Type type; int typeId; int length; };
    const Expected expected[] = {
        {"id", QMetaType::Int, DBTYPE_I4, 4},
        {"code", QMetaType::QString, DBTYPE_WSTR, 22},
        {"name", QMetaType::QString, DBTYPE_WSTR, -1},
        // Long columns are bound as streams yet keep their reported type.
        {"notes", QMetaType::QString, DBTYPE_WSTR, -1},
        {"image", QMetaType::QByteArray, DBTYPE_BYTES, -1},
        {"price", QMetaType::LongLong, DBTYPE_NUMERIC, 19},
        {"tag", QMetaType::QString, DBTYPE_STR, 4},
    };
    for (int i = 0; i < record.count(); ++i) {
        const QSqlField field = record.field(i);
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(field.name(), QLatin1String(expected[i].name));
        EXPECT_EQ(rz::typeId(field), expected[i].type);
        EXPECT_EQ(field.typeID(), expected[i].typeId);
        EXPECT_EQ(field.length(), expected[i].length);
    }
    EXPECT_EQ(record.field(QStringLiteral("price")).precision(), 10);

    // The name goes to the provider whole, and no row is read.
    EXPECT_EQ(opened, QStringList{QStringLiteral("dbo.T")});
    EXPECT_EQ(statement->log.count("Rowset.GetNextRows"), 0);
    EXPECT_EQ(statement->log.liveRowsets, 0);
    EXPECT_EQ(statement->log.liveAccessors, 0);
}

TEST_F(TableRecord, ClosedDriverAsksNothing)
{
    EXPECT_TRUE(driver.record(QStringLiteral("T")).isEmpty());
    ASSERT_TRUE(open());
    driver.close();
    EXPECT_TRUE(driver.record(QStringLiteral("T")).isEmpty());
    EXPECT_TRUE(driver.tables(QSql::AllTables).isEmpty());
    EXPECT_TRUE(driver.primaryIndex(QStringLiteral("T")).isEmpty());
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(provider.log.count("CreateCommand"), 0);
}

TEST_F(TableRecord, AnUnknownTableOrABindingFailureGivesAnEmptyRecordAndNoError)
{
    ASSERT_TRUE(open());
    statement->rowset.createAccessor = E_FAIL;
    EXPECT_TRUE(driver.record(QStringLiteral("T")).isEmpty());
    EXPECT_EQ(statement->log.liveRowsets, 0);

    tableExists = false;
    const QSqlError before = driver.lastError();
    EXPECT_TRUE(driver.record(QStringLiteral("missing")).isEmpty());
    EXPECT_EQ(driver.lastError().type(), before.type());
    EXPECT_EQ(driver.lastError().databaseText(), before.databaseText());
}

} // namespace
