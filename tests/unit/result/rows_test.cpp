// Reading rows: values of every column type, NULLs, long values in 64 KB
// chunks, the per-row cache, and the five moves with their end and failure
// cases.

#include "resultfixture.h"

#include <QtCore/QDateTime>
#include <QtCore/QUuid>
#include <QtSql/QSqlError>

#include <cmath>

namespace {

using namespace rztest;

DB_NUMERIC numeric(unsigned value, BYTE precision, BYTE scale, bool positive = true)
{
    DB_NUMERIC n = {};
    n.precision = precision;
    n.scale = scale;
    n.sign = positive ? 1 : 0;
    for (int i = 0; i < 4; ++i)
        n.val[i] = BYTE(value >> (8 * i));
    return n;
}

class Rows : public ResultTest
{
protected:
    void useAllTypes()
    {
        rowset().columns = {
            {"b", DBTYPE_BOOL, 2},          {"s", DBTYPE_I2, 2},
            {"i", DBTYPE_I4, 4},            {"t", DBTYPE_UI1, 1},
            {"u", DBTYPE_UI4, 4},           {"big", DBTYPE_I8, 8},
            {"ubig", DBTYPE_UI8, 8},        {"money", DBTYPE_CY, 8},
            {"dec", DBTYPE_NUMERIC, 19, 0, 10, 2}, {"r", DBTYPE_R4, 4},
            {"f", DBTYPE_R8, 8},            {"name", DBTYPE_WSTR, 10},
            {"code", DBTYPE_STR, 5},        {"d", DBTYPE_DBDATE, 6},
            {"tm", DBTYPE_DBTIME, 6},       {"ts", DBTYPE_DBTIMESTAMP, 16},
            {"g", DBTYPE_GUID, 16},         {"bin", DBTYPE_BYTES, 4},
            {"longtext", DBTYPE_WSTR, ~DBLENGTH(0), DBCOLUMNFLAGS_ISLONG},
            {"longbin", DBTYPE_BYTES, ~DBLENGTH(0), DBCOLUMNFLAGS_ISLONG},
            {"longascii", DBTYPE_STR, 2147483647, DBCOLUMNFLAGS_ISLONG}};
        const DBDATE date = {2020, 1, 2};
        const DBTIME time = {7, 8, 9};
        const DBTIMESTAMP stamp = {2020, 5, 6, 7, 8, 9, 123456789};
        std::vector<Cell> values = {
            cell<qint16>(-1), cell<qint16>(-2), cell<qint32>(123456), cell<quint8>(200),
            cell<quint32>(4000000000u), cell<qint64>(qint64(1) << 40), cell<quint64>(~quint64(0)),
            cell<qint64>(123400), cell(numeric(1234, 10, 2)), cell<float>(1.5f), cell<double>(2.25),
            wideText(u"h\u00e9llo"), narrowText("abc"), cell(date), cell(time), cell(stamp),
            narrowText(std::string("0123456789abcdef")), narrowText(std::string("\x00\x01\x02", 3)),
            wideText(std::u16string(70000, u'x')), narrowText(std::string(65536, '\x7f')),
            narrowText("plain")};
        rowset().rows = {values, std::vector<Cell>(values.size(), nullCell())};
    }
};

TEST_F(Rows, EveryColumnTypeGivesItsValue)
{
    useAllTypes();
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT * FROM everything"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0), QVariant(true));
    EXPECT_EQ(q.value(1), QVariant(-2));
    EXPECT_EQ(q.value(2), QVariant(123456));
    EXPECT_EQ(q.value(3), QVariant(200));
    EXPECT_EQ(q.value(4), QVariant(4000000000u));
    EXPECT_EQ(q.value(5), QVariant(qlonglong(1) << 40));
    EXPECT_EQ(q.value(6), QVariant(~qulonglong(0)));
    EXPECT_EQ(q.value(7), QVariant(qlonglong(123400))) << "money as its scaled integer";
    EXPECT_EQ(q.value(8).userType(), int(QMetaType::Double)) << "a decimal gives a double";
    EXPECT_DOUBLE_EQ(q.value(8).toDouble(), 12.34);
    EXPECT_EQ(q.value(9).userType(), int(QMetaType::Float));
    EXPECT_EQ(q.value(9).toFloat(), 1.5f);
    EXPECT_EQ(q.value(10), QVariant(2.25));
    EXPECT_EQ(q.value(11), QVariant(QString("h\u00e9llo")));
    EXPECT_EQ(q.value(12), QVariant(QString("abc")));
    EXPECT_EQ(q.value(13), QVariant(QDateTime(QDate(2020, 1, 2), QTime(0, 0), Qt::LocalTime)));
    EXPECT_EQ(q.value(14), QVariant(QTime(7, 8, 9)));
    EXPECT_EQ(q.value(15), QVariant(QDateTime(QDate(2020, 5, 6), QTime(7, 8, 9, 123), Qt::LocalTime)));
    EXPECT_EQ(q.value(16), QVariant(QByteArray("0123456789abcdef"))) << "a GUID gives its bytes";
    EXPECT_EQ(q.value(17), QVariant(QByteArray("\x00\x01\x02", 3))) << "as many bytes as the length part says";
    const QVariant longText = q.value(18);
    EXPECT_EQ(longText.userType(), int(QMetaType::QString));
    EXPECT_EQ(longText.toString(), QString(70000, QChar('x')));
    EXPECT_EQ(q.value(19), QVariant(QByteArray(65536, '\x7f')));
    EXPECT_EQ(q.value(20), QVariant(QByteArray("plain"))) << "long single-byte text stays bytes";
    for (int i = 0; i < 21; ++i)
        EXPECT_FALSE(result->isNull(i)) << i;

    // 70,000 characters: two full chunks and a short one; 65,536 bytes: a
    // full chunk and a read that gives nothing; then one short read.
    EXPECT_EQ(log().streamReads, std::vector<ULONG>(6, 65536));
}

TEST_F(Rows, NullColumnsGiveNullValuesOfTheFieldType)
{
    useAllTypes();
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT * FROM everything"));
    ASSERT_TRUE(q.seek(1));
    EXPECT_EQ(q.value(0), QVariant(false)) << "a NULL bit is false";
    const int nullOfType[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 13, 14, 15};
    const QMetaType::Type types[] = {QMetaType::Int, QMetaType::Int, QMetaType::Int, QMetaType::UInt,
                                    QMetaType::LongLong, QMetaType::ULongLong, QMetaType::LongLong,
                                    QMetaType::LongLong, QMetaType::Double, QMetaType::Double,
                                    QMetaType::QDateTime, QMetaType::QTime, QMetaType::QDateTime};
    for (size_t k = 0; k < sizeof nullOfType / sizeof *nullOfType; ++k) {
        const QVariant v = q.value(nullOfType[k]);
        EXPECT_TRUE(v.isNull()) << nullOfType[k];
        EXPECT_EQ(v.userType(), types[k]) << nullOfType[k];
    }
    EXPECT_TRUE(q.value(11).toString().isNull());
    EXPECT_EQ(q.value(11).userType(), QMetaType::QString);
    EXPECT_TRUE(q.value(16).isNull());
    EXPECT_EQ(q.value(18), QVariant(QString(""))) << "a NULL long text is an empty string";
    EXPECT_EQ(q.value(19), QVariant(QByteArray())) << "a NULL long binary is an empty byte array";
    EXPECT_FALSE(result->isNull(18));
}

TEST_F(Rows, EarlyYearsBecomeTheEpoch)
{
    rowset().columns = {{"ts", DBTYPE_DBTIMESTAMP, 16}, {"d", DBTYPE_DBDATE, 6}};
    const DBTIMESTAMP stamp = {1969, 12, 31, 23, 59, 59, 0};
    const DBDATE date = {1900, 1, 1};
    rowset().rows = {{cell(stamp), cell(date)}};
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT ts, d"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toDateTime(), QDateTime::fromSecsSinceEpoch(0));
    EXPECT_EQ(q.value(1).toDateTime(), QDateTime::fromSecsSinceEpoch(0));
}

TEST_F(Rows, ValuesAreConvertedInOrderOncePerRow)
{
    useAllTypes();
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT * FROM everything"));
    ASSERT_TRUE(q.next());
    // Asking for the last column reads every long column before it.
    EXPECT_EQ(q.value(20).toByteArray(), QByteArray("plain"));
    const size_t reads = log().streamReads.size();
    EXPECT_EQ(reads, 6u);
    const int getData = log().count("Rowset.GetData");
    EXPECT_EQ(q.value(18).toString().size(), 70000) << "a consumed stream still has its value";
    EXPECT_EQ(q.value(2).toInt(), 123456);
    EXPECT_EQ(log().streamReads.size(), reads);
    // fetch(at()) keeps the row and its values.
    EXPECT_TRUE(q.seek(0));
    EXPECT_EQ(log().count("Rowset.GetData"), getData);
    EXPECT_EQ(q.value(18).toString().size(), 70000);
    // The storage objects of a row are let go when the cursor moves on.
    EXPECT_EQ(log().liveStreams, 3);
    ASSERT_TRUE(q.next());
    EXPECT_EQ(log().liveStreams, 0) << "the NULL row holds no stream";
    EXPECT_TRUE(q.value(18).toString().isEmpty());
}

TEST_F(Rows, OutOfRangeColumnsWarnAndGiveNothing)
{
    static QStringList messages;
    messages.clear();
    QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
        messages << text;
    });
    rowset().rows = {{cell<qint32>(1)}};
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT id"));
    ASSERT_TRUE(q.next());
    EXPECT_FALSE(result->data(-1).isValid());
    EXPECT_FALSE(result->data(1).isValid());
    qInstallMessageHandler(previous);
    EXPECT_EQ(messages, QStringList({"QLEDBResult::data: column -1 out of range",
                                     "QLEDBResult::data: column 1 out of range"}));
    EXPECT_EQ(q.value(0).toInt(), 1);
}

TEST_F(Rows, AStreamThatFailsHalfWayOrAnswersSFalseGivesTheBytesBeforeIt)
{
    rowset().columns = {{"t", DBTYPE_WSTR, ~DBLENGTH(0), DBCOLUMNFLAGS_ISLONG},
                        {"b", DBTYPE_BYTES, ~DBLENGTH(0), DBCOLUMNFLAGS_ISLONG}};
    rowset().rows = {{wideText(std::u16string(70000, u'y')), narrowText(std::string(70000, 'z'))}};
    rowset().streamFailsAfter = 2 * 65536;
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT t, b"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), QString(65536, QChar('y')));
    EXPECT_FALSE(q.lastError().isValid());

    // A short read answered S_FALSE ends the value, bytes and all.
    rowset().streamFailsAfter = -1;
    rowset().shortReadIsFalse = true;
    QSqlQuery again = query();
    ASSERT_TRUE(again.exec("SELECT t, b"));
    ASSERT_TRUE(again.next());
    EXPECT_EQ(again.value(1).toByteArray().size(), 65536);
}

class Moves : public ResultTest
{
protected:
    void SetUp() override
    {
        ResultTest::SetUp();
        for (int i = 0; i < 10; ++i)
            rowset().rows.push_back({cell<qint32>(i)});
    }
};

TEST_F(Moves, EveryMoveLandsOnItsRowAndKeepsAtInStep)
{
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT id"));
    ASSERT_TRUE(q.next());
    ASSERT_TRUE(q.next());
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.at(), 2);
    EXPECT_EQ(q.value(0).toInt(), 2);
    ASSERT_TRUE(q.previous());
    EXPECT_EQ(q.at(), 1);
    EXPECT_EQ(q.value(0).toInt(), 1);
    ASSERT_TRUE(q.last());
    EXPECT_EQ(q.at(), 9);
    EXPECT_EQ(q.value(0).toInt(), 9);
    ASSERT_TRUE(q.previous());
    EXPECT_EQ(q.value(0).toInt(), 8);
    ASSERT_TRUE(q.first());
    EXPECT_EQ(q.at(), 0);
    EXPECT_EQ(q.value(0).toInt(), 0);
    ASSERT_TRUE(q.seek(5));
    EXPECT_EQ(q.value(0).toInt(), 5);
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.at(), 6);
    EXPECT_EQ(q.value(0).toInt(), 6);
    ASSERT_TRUE(q.seek(3));
    EXPECT_EQ(q.value(0).toInt(), 3);
    EXPECT_EQ(log().liveRows, 1) << "one row handle at a time";
}

TEST_F(Moves, TheEndsAreNoErrors)
{
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT id"));
    ASSERT_TRUE(q.first());
    EXPECT_FALSE(q.previous());
    EXPECT_EQ(q.at(), int(QSql::BeforeFirstRow));
    ASSERT_TRUE(q.last());
    EXPECT_FALSE(q.next());
    EXPECT_EQ(q.at(), int(QSql::AfterLastRow));
    EXPECT_FALSE(q.lastError().isValid());
    EXPECT_EQ(log().liveRows, 0);

    rowset().rows.clear();
    QSqlQuery empty = query();
    ASSERT_TRUE(empty.exec("SELECT id"));
    EXPECT_FALSE(empty.first());
    EXPECT_EQ(empty.at(), int(QSql::BeforeFirstRow));
    EXPECT_FALSE(empty.last());
    EXPECT_EQ(empty.at(), int(QSql::AfterLastRow));
    EXPECT_FALSE(empty.lastError().isValid());
}

TEST_F(Moves, SeekingPastTheLastRowIsAFetchError)
{
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT id"));
    EXPECT_FALSE(q.seek(10));
    EXPECT_EQ(q.lastError().type(), QSqlError::TransactionError);
    EXPECT_EQ(q.lastError().driverText(), "MSSQL DB: ");
    EXPECT_EQ(q.lastError().databaseText(), "Critical Error");

    rowset().errorRecords = {"The row is out of range."};
    EXPECT_FALSE(q.seek(25));
    EXPECT_EQ(q.lastError().databaseText(), "The row is out of range.");
    EXPECT_EQ(log().liveRows, 0);
}

TEST_F(Moves, AFailedMoveKeepsThePositionAndHoldsNoRow)
{
    rowset().errorRecords = {"Connection dropped."};
    rowset().getNextRows = {S_OK, E_FAIL};
    QSqlQuery q = query();
    ASSERT_TRUE(q.exec("SELECT id"));
    ASSERT_TRUE(q.next());
    // QSqlQuery moves itself past the end after any failed next(); the
    // result keeps the position it had.
    EXPECT_FALSE(result->fetchNext());
    EXPECT_EQ(result->at(), 0);
    EXPECT_EQ(q.lastError().type(), QSqlError::TransactionError);
    EXPECT_EQ(q.lastError().databaseText(), "Connection dropped.");
    EXPECT_EQ(log().liveRows, 0);

    // A row that cannot be read is released at once.
    rowset().getNextRows = S_OK;
    rowset().getData = {S_OK, DB_E_CANTCONVERTVALUE};
    QSqlQuery q2 = query();
    ASSERT_TRUE(q2.exec("SELECT id"));
    ASSERT_TRUE(q2.next());
    EXPECT_FALSE(result->fetchNext());
    EXPECT_EQ(result->at(), 0);
    EXPECT_EQ(log().liveRows, 0);

    // The same in last(): a restart that fails, a read that fails.
    rowset().getData = {DB_E_CANTCONVERTVALUE, S_OK};
    EXPECT_FALSE(q2.last());
    EXPECT_EQ(q2.lastError().type(), QSqlError::TransactionError);
    EXPECT_EQ(log().liveRows, 0);
    rowset().restartPosition = DB_E_CANNOTRESTART;
    EXPECT_FALSE(q2.last());
    EXPECT_EQ(q2.lastError().databaseText(), "Connection dropped.");
}

TEST_F(Moves, AForwardOnlySeekStepsOnAndHoldsTheRowItNames)
{
    rowset().scrollable = false;
    QSqlQuery q = query();
    q.setForwardOnly(true);
    ASSERT_TRUE(q.exec("SELECT id"));
    ASSERT_TRUE(q.next());
    const int restarts = log().count("Rowset.RestartPosition");
    ASSERT_TRUE(q.seek(4));
    EXPECT_EQ(q.at(), 4);
    EXPECT_EQ(q.value(0).toInt(), 4);
    EXPECT_EQ(log().count("Rowset.RestartPosition"), restarts) << "no restart on the way";
    EXPECT_FALSE(q.seek(12));
    EXPECT_EQ(q.at(), int(QSql::AfterLastRow));
}

TEST_F(Moves, LastWithoutARowCountCountsTheRows)
{
    for (const bool refusesScrolling : {true, false}) {
        rowset().missingInterfaces.clear();
        rowset().getApproximatePosition = S_OK;
        if (refusesScrolling)
            rowset().missingInterfaces = {IID_IRowsetScroll};
        else
            rowset().getApproximatePosition = E_FAIL;
        QSqlQuery q = query();
        ASSERT_TRUE(q.exec("SELECT id"));
        ASSERT_TRUE(q.last());
        EXPECT_EQ(q.at(), 9) << refusesScrolling;
        EXPECT_EQ(q.value(0).toInt(), 9);
        ASSERT_TRUE(q.previous());
        EXPECT_EQ(q.value(0).toInt(), 8);
    }
}

} // namespace
