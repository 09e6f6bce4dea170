// Preparing and executing statements: the command the provider receives,
// the three ways of executing, the record, the counts and the errors.

#include "resultfixture.h"
#include "qtcompat/qtcompat.h"

#include <QtSql/QSqlError>
#include <QtSql/QSqlField>
#include <QtSql/QSqlRecord>

namespace {

using namespace rztest;

class Execution : public ResultTest
{
};

TEST_F(Execution, EveryPlainStatementAsksForTheFiveRowsetPropertiesInOrder)
{
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT id FROM t")) << q.lastError().text().toStdString();
    ASSERT_EQ(log().propertySets.size(), 1u);
    EXPECT_TRUE(log().propertySets[0].guid == DBPROPSET_ROWSET);
    const std::vector<RecordedProperty> &set = log().propertySets[0].properties;
    ASSERT_EQ(set.size(), 5u);
    const DBPROPID ids[] = {DBPROP_CLIENTCURSOR, DBPROP_IRowsetChange, DBPROP_ISequentialStream,
                            DBPROP_COMMANDTIMEOUT, DBPROP_UPDATABILITY};
    const VARTYPE types[] = {VT_I2, VT_I2, VT_I2, VT_I4, VT_I4};
    const long long values[] = {-1, -1, -1, 30, 7};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(set[i].id, ids[i]) << i;
        EXPECT_EQ(set[i].type, types[i]) << i;
        EXPECT_EQ(set[i].number, values[i]) << i;
        EXPECT_EQ(set[i].options, DWORD(DBPROPOPTIONS_REQUIRED)) << i;
    }
    EXPECT_EQ(log().count("Command.SetCommandText(DBGUID_DEFAULT,SELECT id FROM t)"), 1);
}

TEST_F(Execution, ASelectIsActiveBeforeTheFirstRowWithOneFieldPerColumn)
{
    rowset().columns = {{"id", DBTYPE_I4, 4},
                        {"name", DBTYPE_WSTR, 10},
                        {"price", DBTYPE_NUMERIC, 19, 0, 10, 2},
                        {"at", DBTYPE_DBTIMESTAMP, 16},
                        {"blob", DBTYPE_BYTES, ~DBLENGTH(0), DBCOLUMNFLAGS_ISLONG},
                        {"", DBTYPE_GUID, 16}};
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT * FROM t"));
    EXPECT_TRUE(q.isActive());
    EXPECT_TRUE(q.isSelect());
    EXPECT_EQ(q.at(), int(QSql::BeforeFirstRow));
    const QSqlRecord r = q.record();
    ASSERT_EQ(r.count(), 6);
    EXPECT_EQ(r.fieldName(0), "id");
    EXPECT_EQ(r.fieldName(1), "name");
    EXPECT_EQ(r.fieldName(5), "");
    const int typeIds[] = {DBTYPE_I4, DBTYPE_WSTR, DBTYPE_NUMERIC, DBTYPE_DBTIMESTAMP, DBTYPE_BYTES, DBTYPE_GUID};
    const QMetaType::Type types[] = {QMetaType::Int, QMetaType::QString, QMetaType::LongLong,
                                    QMetaType::QDateTime, QMetaType::QByteArray, QMetaType::QByteArray};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(r.field(i).typeID(), typeIds[i]) << "the reported type, not the bound one: " << i;
        EXPECT_EQ(rz::typeId(r.field(i)), types[i]) << i;
    }
}

TEST_F(Execution, AStatementWithoutRowsReportsItsCountInEveryWay)
{
    command().returnsRowset = false;
    command().rowsAffected = 3;
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("UPDATE t SET x = 1"));
    EXPECT_FALSE(q.isActive());
    EXPECT_FALSE(q.isSelect());
    // QSqlQuery hides the count of an inactive result; the result has it.
    EXPECT_EQ(result->numRowsAffected(), 3);
    EXPECT_TRUE(q.record().isEmpty());

    command().parameters = {{"@P1", DBTYPE_I4, 4}};
    ASSERT_TRUE(q.prepare("UPDATE t SET x = ?"));
    q.addBindValue(5);
    ASSERT_TRUE(q.exec());
    EXPECT_EQ(result->numRowsAffected(), 3) << "statements with bound values keep the count as well";

    command().rowsAffected = (DBROWCOUNT(1) << 32) + 5;
    ASSERT_TRUE(q.exec("UPDATE t SET x = 2"));
    EXPECT_EQ(result->numRowsAffected(), 5) << "the low 32 bits";
}

TEST_F(Execution, ARejectedStatementIsAStatementErrorWithTheProviderText)
{
    command().execute = DB_E_ERRORSINCOMMAND;
    command().executeRowset = DB_E_ERRORSINCOMMAND;
    command().errorRecords = {"Incorrect syntax near 'FORM'.", "Statement(s) could not be prepared."};
    QSqlQuery q = query();
    EXPECT_FALSE(q.exec("SELECT * FORM t"));
    const QSqlError e = q.lastError();
    EXPECT_EQ(e.type(), QSqlError::StatementError);
    EXPECT_EQ(e.driverText(), "MSSQL DB: ");
    EXPECT_EQ(e.databaseText(), "Incorrect syntax near 'FORM'. Statement(s) could not be prepared.");
    EXPECT_TRUE(e.nativeErrorCode().isEmpty());
    EXPECT_FALSE(q.isActive());
    // Tried for multiple results first, then for a plain rowset.
    EXPECT_EQ(log().count("Command.Execute(IID_IMultipleResults)"), 1);
    EXPECT_EQ(log().count("Command.Execute(IID_IRowset)"), 1);
}

TEST_F(Execution, AnUnspecifiedFailureIsAConnectionError)
{
    command().execute = E_FAIL;
    command().executeRowset = E_FAIL;
    command().errorRecords = {"Communication link failure"};
    QSqlQuery q = query();
    EXPECT_FALSE(q.exec("SELECT 1"));
    EXPECT_EQ(q.lastError().type(), QSqlError::ConnectionError);
    EXPECT_EQ(q.lastError().databaseText(), "Communication link failure");

    // The same error when the provider claims success but hands back nothing.
    command().execute = S_OK;
    command().multipleResultsWithoutObject = true;
    QSqlQuery q2 = query();
    EXPECT_FALSE(q2.exec("SELECT 1"));
    EXPECT_EQ(q2.lastError().type(), QSqlError::ConnectionError);
}

TEST_F(Execution, AProviderWithoutMultipleResultsStillGivesAnOpenRowset)
{
    command().missingInterfaces = {IID_IMultipleResults};
    rowset().rows = {{cell<qint32>(7)}};
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT 7"));
    EXPECT_EQ(log().count("Command.Execute("), 2);
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 7);
}

TEST_F(Execution, APrepareOrFirstResultTheProviderRefusesIsAStatementError)
{
    command().missingInterfaces = {IID_ICommandPrepare};
    QSqlQuery q = query();
    EXPECT_FALSE(q.prepare("SELECT 1"));
    EXPECT_EQ(q.lastError().type(), QSqlError::StatementError);
    EXPECT_EQ(q.lastError().databaseText(), "Critical Error");

    log().clear();
    EXPECT_FALSE(q.exec("SELECT 1")) << "reset() stops when prepare() fails";
    EXPECT_EQ(log().count("Command.Execute"), 0);

    // A positive code from Prepare is a failure too.
    command().missingInterfaces.clear();
    command().prepare = S_FALSE;
    EXPECT_FALSE(q.prepare("SELECT 1"));

    // The provider's refusal to prepare, or to give the first result.
    command().prepare = DB_E_ERRORSINCOMMAND;
    command().errorRecords = {"Invalid object name 'nowhere'."};
    EXPECT_FALSE(q.prepare("SELECT * FROM nowhere"));
    EXPECT_EQ(q.lastError().type(), QSqlError::StatementError);
    EXPECT_EQ(q.lastError().databaseText(), "Invalid object name 'nowhere'.");
    EXPECT_EQ(log().count("Command.Execute"), 0);

    command().prepare = S_OK;
    command().getResult = DB_E_ERRORSINCOMMAND;
    command().errorRecords = {"Arithmetic overflow error."};
    ASSERT_TRUE(q.prepare("SELECT 1/0"));
    EXPECT_FALSE(q.exec());
    EXPECT_EQ(q.lastError().type(), QSqlError::StatementError);
    EXPECT_EQ(q.lastError().databaseText(), "Arithmetic overflow error.");
    EXPECT_FALSE(q.isActive());
    EXPECT_EQ(log().count("Command.Execute(IID_IRowset)"), 0) << "only a failed Execute is retried";
    EXPECT_EQ(log().liveRowsets, 0);

    command().getResult = E_FAIL;
    EXPECT_FALSE(q.exec());
    EXPECT_EQ(q.lastError().type(), QSqlError::ConnectionError);
}

TEST_F(Execution, PreparedIsNotASelectUntilExecutedAndNothingPreparedIsNoError)
{
    QSqlQuery q = query();
    EXPECT_FALSE(q.exec());
    EXPECT_FALSE(q.lastError().isValid());
    ASSERT_TRUE(q.prepare("SELECT id FROM t"));
    EXPECT_FALSE(q.isSelect());
    EXPECT_FALSE(q.isActive());
    ASSERT_TRUE(q.exec());
    EXPECT_TRUE(q.isSelect());
    EXPECT_FALSE(q.result()->handle().isValid());

    log().clear();
    driver.setOpen(false);
    QSqlQuery closed = query();
    EXPECT_FALSE(result->prepare("SELECT 1"));
    EXPECT_FALSE(closed.lastError().isValid());
    EXPECT_EQ(log().count("Command.SetCommandText"), 0);
    driver.setOpen(true);
}

TEST_F(Execution, RunningAPreparedSelectAgainClosesTheFirstRowset)
{
    rowset().rows = {{cell<qint32>(1)}, {cell<qint32>(2)}};
    QSqlQuery q = query();
    ASSERT_TRUE(q.prepare("SELECT id FROM t"));
    ASSERT_TRUE(q.exec());
    ASSERT_TRUE(q.next());
    ASSERT_TRUE(q.exec());
    EXPECT_EQ(log().count("~Rowset"), 1);
    EXPECT_EQ(log().liveRowsets, 1);
    EXPECT_EQ(log().liveRows, 0) << "the row held by the first execution is released";
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);
}

TEST_F(Execution, SizeIsTheRowCountAtEveryPositionAndZeroWithoutScrolling)
{
    for (int i = 0; i < 42; ++i)
        rowset().rows.push_back({cell<qint32>(i)});
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT id FROM t"));
    EXPECT_EQ(q.size(), 42);
    while (q.next()) {
    }
    EXPECT_EQ(q.at(), int(QSql::AfterLastRow));
    EXPECT_EQ(q.size(), 42);

    rowset().getApproximatePosition = E_UNEXPECTED;
    QSqlQuery failing = query();
    ASSERT_TRUE(failing.exec("SELECT id FROM t"));
    EXPECT_EQ(failing.size(), 0) << "a count the rowset cannot give is 0";
    EXPECT_FALSE(failing.lastError().isValid());

    rowset().missingInterfaces = {IID_IRowsetScroll};
    QSqlQuery plain = query();
    ASSERT_TRUE(plain.exec("SELECT id FROM t"));
    EXPECT_EQ(plain.size(), 0);
}

} // namespace
