// Every column type the server offers, written through a prepared INSERT
// with positional values and read back through QSqlQuery: the QVariant type
// and value an application sees for each, NULLs included.

#include "livedatabase.h"
#include "qtcompat/qtcompat.h"

#include <QtCore/QDateTime>
#include <QtCore/QMetaType>
#include <QtSql/QSqlField>
#include <QtSql/QSqlRecord>

namespace {

const auto *const environment = rztest::useLiveServer(QStringLiteral("127.0.0.40"));

using TypesTest = rztest::LiveDatabaseTest;

// OLE DB type codes the fields report as typeID().
enum : int {
    I2 = 2, I4 = 3, R4 = 4, R8 = 5, CY = 6, BOOL_ = 11, UI1 = 17, I8 = 20, GUID_ = 72,
    BYTES = 128, STR = 129, WSTR = 130, NUMERIC = 131, DBDATE = 133, DBTIME = 134, DBTIMESTAMP = 135
};

void expectField(const QSqlRecord &record, int index, const char *name, QMetaType::Type type, int typeId)
{
    const QSqlField field = record.field(index);
    EXPECT_EQ(field.name(), QString::fromLatin1(name)) << index;
    EXPECT_EQ(rz::typeId(field), type) << name;
    EXPECT_EQ(field.typeID(), typeId) << name;
}

// The value must have the expected QVariant type as well as its value.
void expectValue(const QSqlQuery &query, int index, const QVariant &expected)
{
    const QVariant value = query.value(index);
    EXPECT_EQ(value.userType(), expected.userType()) << "column " << index;
    EXPECT_EQ(value, expected) << "column " << index;
}

// Runs `sql` with `values` bound in order and fails the test if it is refused.
void execPrepared(QSqlDatabase db, const QString &sql, const QVariantList &values)
{
    QSqlQuery insert(db);
    ASSERT_TRUE(insert.prepare(sql)) << insert.lastError().text().toStdString();
    for (const QVariant &value : values)
        insert.addBindValue(value);
    ASSERT_TRUE(insert.exec()) << insert.lastError().text().toStdString();
}

TEST_F(TypesTest, ExactAndApproximateNumbersKeepTheirValues)
{
    createTable(QStringLiteral("numbers"),
                QStringLiteral("i int, bi bigint, si smallint, ti tinyint, b bit, de decimal(10,2), "
                               "nu numeric(18,0), mo money, sm smallmoney, f float, r real"));
    execPrepared(db, QStringLiteral("INSERT INTO numbers VALUES (?,?,?,?,?,?,?,?,?,?,?)"),
                 {-123456, qlonglong(-9000000000123LL), -1234, 200, true, 1234,
                  qlonglong(123456789012LL), qlonglong(123400), qlonglong(-56789), 3.25e10, 1.5});

    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT i, bi, si, ti, b, de, nu, mo, sm, f, r FROM numbers")));
    const QSqlRecord record = query.record();
    ASSERT_EQ(record.count(), 11);
    expectField(record, 0, "i", QMetaType::Int, I4);
    expectField(record, 1, "bi", QMetaType::LongLong, I8);
    expectField(record, 2, "si", QMetaType::Int, I2);
    expectField(record, 3, "ti", QMetaType::Int, UI1);
    expectField(record, 4, "b", QMetaType::Bool, BOOL_);
    expectField(record, 5, "de", QMetaType::LongLong, NUMERIC);
    expectField(record, 6, "nu", QMetaType::LongLong, NUMERIC);
    expectField(record, 7, "mo", QMetaType::LongLong, CY);
    expectField(record, 8, "sm", QMetaType::LongLong, CY);
    expectField(record, 9, "f", QMetaType::Double, R8);
    expectField(record, 10, "r", QMetaType::Double, R4);

    ASSERT_TRUE(query.next()) << query.lastError().text().toStdString();
    expectValue(query, 0, -123456);
    expectValue(query, 1, qlonglong(-9000000000123LL));
    expectValue(query, 2, -1234);
    expectValue(query, 3, 200);
    expectValue(query, 4, true);
    // Exact numbers arrive as doubles although the field says LongLong.
    expectValue(query, 5, 1234.0);
    expectValue(query, 6, 123456789012.0);
    // Money is the amount times 10,000, both ways.
    expectValue(query, 7, qlonglong(123400));
    expectValue(query, 8, qlonglong(-56789));
    expectValue(query, 9, 3.25e10);
    EXPECT_EQ(query.value(10).userType(), int(QMetaType::Float));
    EXPECT_FLOAT_EQ(query.value(10).toFloat(), 1.5f);
    EXPECT_FALSE(query.next());

    // What the server computes from literals reads the same way.
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT CAST(12.34 AS decimal(10,2)), CAST(12.34 AS money), "
                                          "CAST(-0.5 AS numeric(5,3)), CAST(0 AS bit)")));
    ASSERT_TRUE(query.next());
    expectValue(query, 0, 12.34);
    expectValue(query, 1, qlonglong(123400));
    expectValue(query, 2, -0.5);
    expectValue(query, 3, false);
}

TEST_F(TypesTest, TextColumnsGiveStringsAndLongSingleByteTextGivesBytes)
{
    createTable(QStringLiteral("texts"),
                QStringLiteral("c char(5), vc varchar(20), vcm varchar(max), t text, "
                               "nc nchar(10), nvc nvarchar(20), nvcm nvarchar(max), nt ntext"));
    const QString russian = QStringLiteral("Привет, мир");
    const QString japanese = QStringLiteral("日本語のテキスト");
    execPrepared(db, QStringLiteral("INSERT INTO texts VALUES (?,?,?,?,?,?,?,?)"),
                 {QStringLiteral("abc"), QStringLiteral("it's \"quoted\""), QStringLiteral("plain max"),
                  QStringLiteral("old text"), QStringLiteral("Grüße"), russian, japanese,
                  QStringLiteral("ntext ü")});

    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT c, vc, vcm, t, nc, nvc, nvcm, nt FROM texts")));
    const QSqlRecord record = query.record();
    ASSERT_EQ(record.count(), 8);
    for (int i = 0; i < 4; ++i)
        expectField(record, i, qPrintable(record.fieldName(i)), QMetaType::QString, STR);
    for (int i = 4; i < 8; ++i)
        expectField(record, i, qPrintable(record.fieldName(i)), QMetaType::QString, WSTR);

    ASSERT_TRUE(query.next()) << query.lastError().text().toStdString();
    EXPECT_EQ(query.value(0), QVariant(QStringLiteral("abc  "))); // char pads
    EXPECT_EQ(query.value(1), QVariant(QStringLiteral("it's \"quoted\"")));
    // Long single-byte text comes as the raw bytes.
    expectValue(query, 2, QByteArray("plain max"));
    expectValue(query, 3, QByteArray("old text"));
    expectValue(query, 4, QStringLiteral("Grüße     "));
    expectValue(query, 5, russian);
    expectValue(query, 6, japanese);
    expectValue(query, 7, QStringLiteral("ntext ü"));
}

TEST_F(TypesTest, BinaryColumnsGiveByteArrays)
{
    createTable(QStringLiteral("binaries"),
                QStringLiteral("b binary(4), vb varbinary(10), vbm varbinary(max), im image"));
    // Bytes bound to binary(n)/varbinary(n) need room for a terminator and
    // end at the first zero byte; binary(4) pads what it gets.
    const QByteArray shortBinary("\x01\xfe\xff", 3);
    const QByteArray three("\xca\xfe\x7f", 3);
    QByteArray big(300, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i % 251 + 1);
    execPrepared(db, QStringLiteral("INSERT INTO binaries VALUES (?,?,?,?)"),
                 {shortBinary, three, big, QByteArray("image\x00bytes", 11)});

    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT b, vb, vbm, im FROM binaries")));
    const QSqlRecord record = query.record();
    for (int i = 0; i < 4; ++i)
        expectField(record, i, qPrintable(record.fieldName(i)), QMetaType::QByteArray, BYTES);
    ASSERT_TRUE(query.next()) << query.lastError().text().toStdString();
    expectValue(query, 0, shortBinary + QByteArray(1, '\0'));
    EXPECT_EQ(query.value(1).toByteArray(), three);
    EXPECT_EQ(query.value(2).toByteArray(), big);
    // Long values travel as a stream and keep their zero bytes.
    EXPECT_EQ(query.value(3).toByteArray(), QByteArray("image\x00bytes", 11));
}

TEST_F(TypesTest, DatesAndTimesArriveAsLocalDateTimesCutToMilliseconds)
{
    createTable(QStringLiteral("moments"),
                QStringLiteral("d date, t time, dt datetime, sdt smalldatetime, dt2 datetime2"));
    const QDateTime when(QDate(2020, 5, 6), QTime(7, 8, 9, 250), Qt::LocalTime);
    execPrepared(db, QStringLiteral("INSERT INTO moments VALUES (?,?,?,?,?)"),
                 {when, QTime(13, 14, 15), when, QDateTime(QDate(2021, 2, 3), QTime(4, 5), Qt::LocalTime),
                  QDateTime(QDate(2019, 12, 31), QTime(23, 59, 58, 987), Qt::LocalTime)});
    run(QStringLiteral("INSERT INTO moments (d, dt2) VALUES ('2001-02-03', '2020-05-06 07:08:09.1239999')"));
    run(QStringLiteral("INSERT INTO moments (dt) VALUES ('1969-12-31 23:00:00')"));

    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT d, t, dt, sdt, dt2 FROM moments")));
    const QSqlRecord record = query.record();
    expectField(record, 0, "d", QMetaType::QDateTime, DBDATE);
    expectField(record, 1, "t", QMetaType::QTime, DBTIME);
    expectField(record, 2, "dt", QMetaType::QDateTime, DBTIMESTAMP);
    expectField(record, 3, "sdt", QMetaType::QDateTime, DBTIMESTAMP);
    expectField(record, 4, "dt2", QMetaType::QDateTime, DBTIMESTAMP);

    ASSERT_TRUE(query.next()) << query.lastError().text().toStdString();
    expectValue(query, 0, QDateTime(QDate(2020, 5, 6), QTime(0, 0), Qt::LocalTime));
    expectValue(query, 1, QTime(13, 14, 15));
    EXPECT_EQ(query.value(2).toDateTime(), when);
    EXPECT_EQ(query.value(2).toDateTime().timeSpec(), Qt::LocalTime);
    EXPECT_EQ(query.value(3).toDateTime(), QDateTime(QDate(2021, 2, 3), QTime(4, 5), Qt::LocalTime));
    EXPECT_EQ(query.value(4).toDateTime(),
              QDateTime(QDate(2019, 12, 31), QTime(23, 59, 58, 987), Qt::LocalTime));

    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toDateTime(), QDateTime(QDate(2001, 2, 3), QTime(0, 0), Qt::LocalTime));
    // Seven fractional digits are cut, not rounded, to milliseconds.
    EXPECT_EQ(query.value(4).toDateTime(), QDateTime(QDate(2020, 5, 6), QTime(7, 8, 9, 123), Qt::LocalTime));

    ASSERT_TRUE(query.next());
    // Anything before 1970 reads as the epoch.
    EXPECT_EQ(query.value(2).toDateTime(), QDateTime::fromSecsSinceEpoch(0));
    EXPECT_FALSE(query.next());
}

TEST_F(TypesTest, UniqueIdentifierReadsAsItsSixteenBytesInMemoryOrder)
{
    createTable(QStringLiteral("guids"), QStringLiteral("g uniqueidentifier"));
    run(QStringLiteral("INSERT INTO guids VALUES ('6F9619FF-8B86-D011-B42D-00C04FC964FF')"));
    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT g FROM guids")));
    expectField(query.record(), 0, "g", QMetaType::QByteArray, GUID_);
    ASSERT_TRUE(query.next());
    // Data1, Data2 and Data3 little-endian, then Data4 as written.
    EXPECT_EQ(query.value(0).toByteArray().toHex(), QByteArray("ff19966f868b11d0b42d00c04fc964ff"));
}

TEST_F(TypesTest, NullsOfEveryTypeReadAsTypedNullsFalseOrEmpty)
{
    createTable(QStringLiteral("nulls"),
                QStringLiteral("id int, i int, bi bigint, b bit, de decimal(10,2), mo money, f float, "
                               "r real, vc varchar(10), nvc nvarchar(10), vcm varchar(max), "
                               "nvcm nvarchar(max), vb varbinary(10), vbm varbinary(max), "
                               "d date, t time, dt datetime, g uniqueidentifier"));
    run(QStringLiteral("INSERT INTO nulls (id) VALUES (1)"));
    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT i, bi, b, de, mo, f, r, vc, nvc, vcm, nvcm, vb, vbm, "
                                          "d, t, dt, g FROM nulls")));
    ASSERT_TRUE(query.next()) << query.lastError().text().toStdString();

    struct Expected { const char *column; QMetaType::Type type; bool null; };
    const Expected expected[] = {
        {"i", QMetaType::Int, true}, {"bi", QMetaType::LongLong, true},
        {"b", QMetaType::Bool, false}, // a NULL bit reads as false
        {"de", QMetaType::LongLong, true}, {"mo", QMetaType::LongLong, true},
        {"f", QMetaType::Double, true}, {"r", QMetaType::Double, true},
        {"vc", QMetaType::QString, true}, {"nvc", QMetaType::QString, true},
        {"vcm", QMetaType::QByteArray, true},
        {"nvcm", QMetaType::QString, false}, // long text reads as empty, not null
        {"vb", QMetaType::QByteArray, true},
        {"vbm", QMetaType::QByteArray, true}, {"d", QMetaType::QDateTime, true},
        {"t", QMetaType::QTime, true}, {"dt", QMetaType::QDateTime, true},
        {"g", QMetaType::QByteArray, true},
    };
    for (int i = 0; i < int(sizeof expected / sizeof *expected); ++i) {
        const QVariant value = query.value(i);
        EXPECT_EQ(value.userType(), expected[i].type) << expected[i].column;
        EXPECT_EQ(value.isNull(), expected[i].null) << expected[i].column;
        EXPECT_FALSE(query.isNull(i)) << expected[i].column; // NULL shows in the value only
    }
    EXPECT_FALSE(query.value(2).toBool());
    EXPECT_TRUE(query.value(0).isNull());
    EXPECT_TRUE(query.value(10).toString().isEmpty());
    EXPECT_TRUE(query.value(12).toByteArray().isEmpty());
}

TEST_F(TypesTest, LongValuesOfMegabytesRoundTripWhole)
{
    createTable(QStringLiteral("longs"),
                QStringLiteral("id int, nv nvarchar(max), vb varbinary(max), vc varchar(max)"));
    QString text;
    text.reserve(70000);
    for (int i = 0; i < 70000; ++i)
        text.append(QChar(0x430 + i % 32)); // Cyrillic, two bytes each in UTF-16
    QByteArray blob(5 * 1024 * 1024, '\0');
    for (int i = 0; i < blob.size(); ++i)
        blob[i] = char((i * 7 + i / 65536) & 0xff);
    const QByteArray narrow = QByteArray(20000, 'x') + QByteArray("end");

    execPrepared(db, QStringLiteral("INSERT INTO longs (id, nv) VALUES (?, ?)"), {1, text});
    execPrepared(db, QStringLiteral("INSERT INTO longs (id, vb) VALUES (?, ?)"), {2, blob});
    // Two long values in one statement share one stream, one after the other.
    execPrepared(db, QStringLiteral("INSERT INTO longs (id, nv, vc) VALUES (?, ?, ?)"),
                 {3, text.left(12345), QString::fromLatin1(narrow)});

    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT id, nv, vb, vc FROM longs ORDER BY id")));
    ASSERT_TRUE(query.next()) << query.lastError().text().toStdString();
    EXPECT_EQ(query.value(1).userType(), QMetaType::QString);
    EXPECT_TRUE(query.value(1).toString() == text);
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(2).toByteArray().size(), blob.size());
    EXPECT_TRUE(query.value(2).toByteArray() == blob);
    ASSERT_TRUE(query.next());
    EXPECT_TRUE(query.value(1).toString() == text.left(12345));
    EXPECT_EQ(query.value(3).toByteArray(), narrow);
    // A value read once stays cached for the row: the stream is not read twice.
    EXPECT_EQ(query.value(3).toByteArray(), narrow);
    EXPECT_EQ(scalar(QStringLiteral("SELECT DATALENGTH(vb) FROM longs WHERE id = 2")).toLongLong(),
              blob.size());
}

} // namespace
