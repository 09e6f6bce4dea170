// Every limit that docs/reference.md tells users about, shown against the
// live server, so that the document stays true. Each test names the section
// of the reference it backs.

#include "livedatabase.h"
#include "qtcompat/qtcompat.h"

#include <QtCore/QDateTime>
#include <QtSql/QSqlDriver>
#include <QtSql/QSqlIndex>
#include <QtSql/QSqlRecord>

namespace {

const auto *const environment = rztest::useLiveServer(QStringLiteral("127.0.0.46"));

class ReferenceTest : public rztest::LiveDatabaseTest
{
protected:
    // Inserts `value` into column `column` of a fresh one-row table declared
    // with `columns`, through a prepared statement, and reads it back with
    // `readBack` (the column itself by default).
    QVariant roundTrip(const QString &columns, const QString &column, const QVariant &value,
                       const QString &readBack = QString())
    {
        createTable(QStringLiteral("ref_values"), columns);
        QSqlQuery insert(db);
        EXPECT_TRUE(insert.prepare(QStringLiteral("INSERT INTO ref_values (%1) VALUES (?)").arg(column)));
        insert.addBindValue(value);
        EXPECT_TRUE(insert.exec()) << insert.lastError().text().toStdString();
        return scalar(QStringLiteral("SELECT %1 FROM ref_values").arg(readBack.isEmpty() ? column : readBack));
    }
};

// "Connection options"

TEST_F(ReferenceTest, OptionKeysIgnoreCaseAndThePortIsAlways1433)
{
    createTable(QStringLiteral("ref_rows"), QStringLiteral("id int"));
    run(QStringLiteral("INSERT INTO ref_rows VALUES (1), (2), (3)"));
    QSqlDatabase big = connect(QStringLiteral("  BIG QUERY=no  "));
    ASSERT_TRUE(big.isOpen());
    QSqlQuery streaming(big);
    ASSERT_TRUE(streaming.exec(QStringLiteral("SELECT id FROM ref_rows")));
    EXPECT_EQ(streaming.size(), 0); // "big query=" with any value streams
    ASSERT_TRUE(streaming.next());
    ASSERT_TRUE(streaming.next());
    EXPECT_FALSE(streaming.previous()) << "a stream cannot go back";
    EXPECT_TRUE(streaming.lastError().isValid());

    QSqlQuery scrollable(db);
    ASSERT_TRUE(scrollable.exec(QStringLiteral("SELECT id FROM ref_rows")));
    EXPECT_EQ(scrollable.size(), 3);

    QSqlDatabase other = rztest::addConnection(QStringLiteral("ref.port"), rztest::liveSettings());
    names.append(QStringLiteral("ref.port"));
    other.setPort(4242);
    EXPECT_TRUE(other.open()) << other.lastError().text().toStdString();
}

// "lastInsertId()"

TEST_F(ReferenceTest, LastInsertIdIsInvalidBeforeAnyIdentityInsert)
{
    QSqlQuery query(db);
    EXPECT_FALSE(query.lastInsertId().isValid());
    createTable(QStringLiteral("ref_ids"), QStringLiteral("id int IDENTITY(100,5) PRIMARY KEY, n int"));
    ASSERT_TRUE(query.exec(QStringLiteral("INSERT INTO ref_ids (n) VALUES (1)")));
    ASSERT_TRUE(query.exec(QStringLiteral("INSERT INTO ref_ids (n) VALUES (2)")));
    EXPECT_EQ(query.lastInsertId(), QVariant(105.0));
    // It is the session's last identity, whichever query asks.
    QSqlQuery other(db);
    EXPECT_EQ(other.lastInsertId(), QVariant(105.0));
}

// "Bound values and parameter types"

TEST_F(ReferenceTest, DecimalParametersLoseTheFraction)
{
    EXPECT_EQ(roundTrip(QStringLiteral("d decimal(10,2)"), QStringLiteral("d"), 12.34).toDouble(), 12.0);
    EXPECT_EQ(roundTrip(QStringLiteral("d decimal(10,2)"), QStringLiteral("d"), QStringLiteral("12.34")).toDouble(), 0.0);
    // Exact values go into the statement text.
    run(QStringLiteral("INSERT INTO ref_values (d) VALUES (12.34)"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT MAX(d) FROM ref_values")).toDouble(), 12.34);
}

TEST_F(ReferenceTest, MoneyParametersTakeTheAmountTimesTenThousand)
{
    const QString money = QStringLiteral("m money");
    EXPECT_EQ(roundTrip(money, QStringLiteral("m"), qlonglong(123400), QStringLiteral("CAST(m AS varchar(20))")),
              QVariant(QStringLiteral("12.34")));
    EXPECT_EQ(roundTrip(money, QStringLiteral("m"), qlonglong(123400)).toLongLong(), 123400); // read the same way
    EXPECT_EQ(roundTrip(money, QStringLiteral("m"), 12.34).toLongLong(), 0); // a double is not written at all
}

TEST_F(ReferenceTest, StringsLongerThanTheirParameterGoOutEmpty)
{
    const QString twenty(20, QLatin1Char('x'));
    EXPECT_EQ(roundTrip(QStringLiteral("s nvarchar(20)"), QStringLiteral("s"), twenty).toString(), twenty);
    EXPECT_EQ(roundTrip(QStringLiteral("s nvarchar(20)"), QStringLiteral("s"), twenty + QLatin1Char('y')).toString(),
              QString());
    EXPECT_EQ(roundTrip(QStringLiteral("s varchar(20)"), QStringLiteral("s"), twenty + QLatin1Char('y')).toString(),
              QString());
    // Single-byte text parameters carry Latin-1 only.
    EXPECT_EQ(roundTrip(QStringLiteral("s varchar(20)"), QStringLiteral("s"), QStringLiteral("Grüße")).toString(),
              QStringLiteral("Grüße"));
    EXPECT_EQ(roundTrip(QStringLiteral("s varchar(20)"), QStringLiteral("s"), QStringLiteral("Привет")).toString(),
              QStringLiteral("??????"));
}

TEST_F(ReferenceTest, NullValuesAreSentAsNullOnlyForDatesTimesAndLongValues)
{
    const QString columns = QStringLiteral("i int, s nvarchar(10), dt datetime2, t time, l nvarchar(max)");
    const QString isNull = QStringLiteral("CASE WHEN %1 IS NULL THEN 1 ELSE 0 END");
    EXPECT_EQ(roundTrip(columns, QStringLiteral("i"), rz::nullValue(QMetaType::Int), isNull.arg('i')).toInt(), 0);
    EXPECT_EQ(scalar(QStringLiteral("SELECT i FROM ref_values")).toInt(), 0);
    EXPECT_EQ(roundTrip(columns, QStringLiteral("s"), QVariant(), isNull.arg('s')).toInt(), 0);
    EXPECT_EQ(roundTrip(columns, QStringLiteral("dt"), rz::nullValue(QMetaType::QDateTime), isNull.arg(QStringLiteral("dt"))).toInt(), 1);
    EXPECT_EQ(roundTrip(columns, QStringLiteral("t"), rz::nullValue(QMetaType::QTime), isNull.arg('t')).toInt(), 1);
    EXPECT_EQ(roundTrip(columns, QStringLiteral("l"), QVariant(), isNull.arg('l')).toInt(), 1);
    // NULL written in the statement text is NULL for every type.
    QSqlQuery insert(db);
    ASSERT_TRUE(insert.exec(QStringLiteral("DELETE FROM ref_values")));
    ASSERT_TRUE(insert.exec(QStringLiteral("INSERT INTO ref_values (i) VALUES (NULL)")));
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM ref_values WHERE i IS NULL")).toInt(), 1);
}

TEST_F(ReferenceTest, UniqueIdentifiersAreBoundAsTextThroughConvert)
{
    const QString text = QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF");
    createTable(QStringLiteral("ref_guids"), QStringLiteral("g uniqueidentifier"));
    QSqlQuery insert(db);
    ASSERT_TRUE(insert.prepare(QStringLiteral("INSERT INTO ref_guids VALUES (CONVERT(uniqueidentifier, ?))")));
    insert.addBindValue(text);
    ASSERT_TRUE(insert.exec()) << insert.lastError().text().toStdString();
    EXPECT_EQ(scalar(QStringLiteral("SELECT CONVERT(varchar(36), g) FROM ref_guids")).toString(), text);
    EXPECT_EQ(scalar(QStringLiteral("SELECT g FROM ref_guids")).toByteArray().toHex(),
              QByteArray("ff19966f868b11d0b42d00c04fc964ff"));

    // Bound to the column directly, neither the text nor the bytes arrive.
    for (const QVariant &value : {QVariant(text), QVariant(QByteArray::fromHex("ff19966f868b11d0b42d00c04fc964ff"))}) {
        run(QStringLiteral("DELETE FROM ref_guids"));
        ASSERT_TRUE(insert.prepare(QStringLiteral("INSERT INTO ref_guids VALUES (?)")));
        insert.addBindValue(value);
        ASSERT_TRUE(insert.exec()) << insert.lastError().text().toStdString();
        EXPECT_EQ(scalar(QStringLiteral("SELECT CONVERT(varchar(36), g) FROM ref_guids")).toString(),
                  QStringLiteral("00000000-0000-0000-0000-000000000000"));
    }
}

TEST_F(ReferenceTest, AQDateIsNotBound)
{
    createTable(QStringLiteral("ref_dates"), QStringLiteral("d date"));
    // On a connection of its own: the failure may take the connection down.
    QSqlDatabase other = connect(QString());
    QSqlQuery insert(other);
    ASSERT_TRUE(insert.prepare(QStringLiteral("INSERT INTO ref_dates VALUES (?)")));
    insert.addBindValue(QDate(2024, 2, 29));
    EXPECT_FALSE(insert.exec());
    EXPECT_TRUE(insert.lastError().isValid());
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM ref_dates")).toInt(), 0);
}

// "Affected rows"

TEST_F(ReferenceTest, NumRowsAffectedThroughQSqlQueryIsMinusOneForStatementsWithoutRows)
{
    createTable(QStringLiteral("ref_rows"), QStringLiteral("id int"));
    run(QStringLiteral("INSERT INTO ref_rows VALUES (1), (2), (3)"));
    QSqlQuery update(db);
    ASSERT_TRUE(update.exec(QStringLiteral("UPDATE ref_rows SET id = id + 10")));
    EXPECT_EQ(update.numRowsAffected(), -1);
    EXPECT_EQ(rztest::ResultCount::rowsAffected(update), 3);
    // With bound values, and on a "big query=" connection, the count is kept too.
    ASSERT_TRUE(update.prepare(QStringLiteral("UPDATE ref_rows SET id = ? WHERE id > 11")));
    update.addBindValue(12);
    ASSERT_TRUE(update.exec()) << update.lastError().text().toStdString();
    EXPECT_EQ(update.numRowsAffected(), -1);
    EXPECT_EQ(rztest::ResultCount::rowsAffected(update), 2);
    QSqlDatabase big = connect(QStringLiteral("big query="));
    QSqlQuery streamed(big);
    ASSERT_TRUE(streamed.exec(QStringLiteral("DELETE FROM ref_rows WHERE id = 12")));
    EXPECT_EQ(streamed.numRowsAffected(), -1);
    EXPECT_EQ(rztest::ResultCount::rowsAffected(streamed), 2);
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM ref_rows")).toInt(), 1);

    // The server's own count is there for the asking.
    ASSERT_TRUE(update.exec(QStringLiteral("UPDATE ref_rows SET id = 0")));
    EXPECT_EQ(scalar(QStringLiteral("SELECT @@ROWCOUNT")).toInt(), 1);
}

// "Moving through results"

TEST_F(ReferenceTest, ASecondQueryRunsWhileTheFirstIsHalfRead)
{
    createTable(QStringLiteral("ref_many"), QStringLiteral("id int PRIMARY KEY, label nvarchar(20)"));
    QStringList values;
    for (int id = 0; id < 1000; ++id)
        values << QStringLiteral("(%1, N'row %1')").arg(id);
    run(QStringLiteral("INSERT INTO ref_many VALUES ") + values.join(QLatin1Char(',')));
    for (const QString &options : {QString(), QStringLiteral("big query=")}) {
        SCOPED_TRACE(options.toStdString());
        QSqlDatabase connection = options.isEmpty() ? db : connect(options);
        ASSERT_TRUE(connection.isOpen());
        QSqlQuery first(connection);
        first.setForwardOnly(true);
        ASSERT_TRUE(first.exec(QStringLiteral("SELECT id, label FROM ref_many ORDER BY id")));
        for (int id = 0; id < 100; ++id)
            ASSERT_TRUE(first.next());

        QSqlQuery second(connection);
        ASSERT_TRUE(second.exec(QStringLiteral("SELECT label FROM ref_many WHERE id = 777")))
            << second.lastError().text().toStdString();
        ASSERT_TRUE(second.next());
        EXPECT_EQ(second.value(0).toString(), QStringLiteral("row 777"));
        QSqlQuery update(connection);
        ASSERT_TRUE(update.prepare(QStringLiteral("UPDATE ref_many SET label = ? WHERE id = ?")));
        update.addBindValue(QStringLiteral("updated"));
        update.addBindValue(998);
        ASSERT_TRUE(update.exec()) << update.lastError().text().toStdString();

        int id = 100;
        while (first.next()) {
            ASSERT_EQ(first.value(0).toInt(), id);
            ++id;
        }
        EXPECT_EQ(id, 1000);
        EXPECT_FALSE(first.lastError().isValid()) << first.lastError().text().toStdString();
        run(QStringLiteral("UPDATE ref_many SET label = N'row 998' WHERE id = 998"));
    }
}

// "Batches"

TEST_F(ReferenceTest, OnlyTheFirstResultOfABatchIsSeen)
{
    createTable(QStringLiteral("ref_rows"), QStringLiteral("id int"));
    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT 1 AS one; SELECT 2 AS two")));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.record().fieldName(0), QStringLiteral("one"));
    EXPECT_FALSE(query.next());
    // An error raised by a later statement of the batch is not reported.
    EXPECT_TRUE(query.exec(QStringLiteral("INSERT INTO ref_rows VALUES (1); SELECT * FROM ref_missing")));
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM ref_rows")).toInt(), 1);
}

// "Catalogue"

TEST_F(ReferenceTest, PrimaryIndexPutsTheTableNameIntoItsSqlAsGiven)
{
    createTable(QStringLiteral("ref_keyed"), QStringLiteral("id int PRIMARY KEY, n int"));
    createTable(QStringLiteral("ref_plain"), QStringLiteral("n int"));
    EXPECT_TRUE(db.primaryIndex(QStringLiteral("ref_plain")).isEmpty());
    // A quote in the name breaks the query: no key, no error.
    EXPECT_TRUE(db.primaryIndex(QStringLiteral("ref_pl'ain")).isEmpty());
    // A crafted name rewrites the query: here it cuts the rest off.
    const QSqlIndex injected =
        db.primaryIndex(QStringLiteral("ref_keyed' AND CONSTRAINT_TYPE = 'PRIMARY KEY' --"));
    ASSERT_EQ(injected.count(), 1);
    EXPECT_EQ(injected.name(), QStringLiteral("id"));
    // Only the part after the first dot is used.
    EXPECT_EQ(db.primaryIndex(QStringLiteral("whatever.ref_keyed")).name(), QStringLiteral("id"));
}

// "Literals and identifiers": the SQL text of QSqlDriver::sqlStatement() run
// on the server with the values it was given.

TEST_F(ReferenceTest, GeneratedStatementsStoreTheValuesUnchanged)
{
    createTable(QStringLiteral("tm_values"),
                QStringLiteral("id int PRIMARY KEY, txt nvarchar(60), num int, flag bit, raw nvarchar(20)"));
    const QSqlDriver *driver = db.driver();
    QSqlRecord record = db.record(QStringLiteral("tm_values"));
    ASSERT_EQ(record.count(), 5);
    const QString tricky = QStringLiteral("it's \"quoted\"; -- not a comment 'x' ünïcödé  ");
    record.setValue(QStringLiteral("id"), 1);
    record.setValue(QStringLiteral("txt"), tricky);
    record.setValue(QStringLiteral("num"), -2147483647);
    record.setValue(QStringLiteral("flag"), true);
    // A byte array in a text column is taken as UTF-8 text.
    record.setValue(QStringLiteral("raw"), QByteArray("bytes 'q' \xc3\xbc"));

    const QString insert = driver->sqlStatement(QSqlDriver::InsertStatement, QStringLiteral("tm_values"),
                                                record, false);
    run(insert);

    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT txt, num, flag, raw FROM tm_values WHERE id = 1")));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toString(), tricky); // trailing blanks kept: no trimming
    EXPECT_EQ(query.value(1).toInt(), -2147483647);
    EXPECT_TRUE(query.value(2).toBool());
    EXPECT_EQ(query.value(3).toString(), QStringLiteral("bytes 'q' ü"));

    // UPDATE ... WHERE on the same kinds of values.
    QSqlRecord changes = db.record(QStringLiteral("tm_values"));
    changes.setValue(QStringLiteral("txt"), QStringLiteral("O'Hara's"));
    changes.setValue(QStringLiteral("num"), 7);
    changes.setValue(QStringLiteral("flag"), false);
    changes.remove(changes.indexOf(QStringLiteral("raw")));
    changes.remove(changes.indexOf(QStringLiteral("id")));
    QSqlRecord where = record; // the values inserted, less the UTF-8 bytes
    where.remove(where.indexOf(QStringLiteral("raw")));
    const QString update = driver->sqlStatement(QSqlDriver::UpdateStatement, QStringLiteral("tm_values"),
                                                changes, false)
                           + QLatin1Char(' ')
                           + driver->sqlStatement(QSqlDriver::WhereStatement, QStringLiteral("tm_values"),
                                                  where, false);
    QSqlQuery change(db);
    ASSERT_TRUE(change.exec(update)) << update.toStdString() << change.lastError().text().toStdString();
    EXPECT_EQ(rztest::ResultCount::rowsAffected(change), 1) << update.toStdString();
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT txt, num, flag FROM tm_values WHERE id = 1")));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toString(), QStringLiteral("O'Hara's"));
    EXPECT_EQ(query.value(1).toInt(), 7);
    EXPECT_FALSE(query.value(2).toBool());

    // DELETE ... WHERE with the new values finds the row again.
    where.setValue(QStringLiteral("txt"), QStringLiteral("O'Hara's"));
    where.setValue(QStringLiteral("num"), 7);
    where.setValue(QStringLiteral("flag"), false);
    const QString remove = driver->sqlStatement(QSqlDriver::DeleteStatement, QStringLiteral("tm_values"),
                                                QSqlRecord(), false)
                           + QLatin1Char(' ')
                           + driver->sqlStatement(QSqlDriver::WhereStatement, QStringLiteral("tm_values"),
                                                  where, false);
    run(remove);
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM tm_values")).toInt(), 0);
}

} // namespace
