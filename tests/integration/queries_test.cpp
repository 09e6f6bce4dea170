// Statements through QSqlQuery: moving over a 1,000-row result on a default
// (scrollable) connection and on a "big query=" (streaming) one, the last
// identity value beside a half-read result, and two queries at once. Each
// move, count and error on its own is checked against scripted rowsets
// (tests/unit/result, tests/unit/clientcursor) and the provider's answers
// against the server (tests/provider).

#include "livedatabase.h"

#include <QtSql/QSqlRecord>

namespace {

const auto *const environment = rztest::useLiveServer(QStringLiteral("127.0.0.41"));

constexpr int rowCount = 1000;

class QueriesTest : public rztest::LiveDatabaseTest
{
protected:
    // rows(id int, label nvarchar(20)) holding ids 0..999 with labels "row <id>".
    void createRows()
    {
        createTable(QStringLiteral("rows"), QStringLiteral("id int PRIMARY KEY, label nvarchar(20)"));
        QStringList values;
        for (int id = 0; id < rowCount; ++id)
            values << QStringLiteral("(%1, N'row %1')").arg(id);
        run(QStringLiteral("INSERT INTO rows VALUES ") + values.join(QLatin1Char(',')));
    }

    static QString allRows() { return QStringLiteral("SELECT id, label FROM rows ORDER BY id"); }

    // The query stands on row `id` and shows that row's values.
    static void expectRow(const QSqlQuery &query, int id)
    {
        EXPECT_EQ(query.at(), id);
        EXPECT_EQ(query.value(0).toInt(), id);
        EXPECT_EQ(query.value(1).toString(), QStringLiteral("row %1").arg(id));
    }
};

TEST_F(QueriesTest, ScrollableResultMovesAnywhereAndKnowsItsSize)
{
    createRows();
    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(allRows())) << query.lastError().text().toStdString();
    EXPECT_TRUE(query.isActive());
    EXPECT_TRUE(query.isSelect());
    EXPECT_EQ(query.at(), int(QSql::BeforeFirstRow));
    EXPECT_EQ(query.size(), rowCount);

    for (int id = 0; id < rowCount; ++id) {
        ASSERT_TRUE(query.next()) << id;
        ASSERT_EQ(query.value(0).toInt(), id);
    }
    EXPECT_EQ(query.size(), rowCount);
    EXPECT_FALSE(query.next());
    EXPECT_EQ(query.at(), int(QSql::AfterLastRow));
    EXPECT_FALSE(query.lastError().isValid());

    ASSERT_TRUE(query.first());
    expectRow(query, 0);
    EXPECT_FALSE(query.previous());
    EXPECT_EQ(query.at(), int(QSql::BeforeFirstRow));
    EXPECT_FALSE(query.lastError().isValid());

    ASSERT_TRUE(query.last());
    expectRow(query, rowCount - 1);
    ASSERT_TRUE(query.previous());
    expectRow(query, rowCount - 2);

    ASSERT_TRUE(query.seek(500));
    expectRow(query, 500);
    ASSERT_TRUE(query.next());
    expectRow(query, 501);
    ASSERT_TRUE(query.seek(5));
    ASSERT_TRUE(query.next());
    expectRow(query, 6);
    ASSERT_TRUE(query.seek(10, true)); // relative
    expectRow(query, 16);
    ASSERT_TRUE(query.seek(16)); // where it stands already
    expectRow(query, 16);
    ASSERT_TRUE(query.seek(0));
    expectRow(query, 0);
    ASSERT_TRUE(query.seek(rowCount - 1));
    expectRow(query, rowCount - 1);
    EXPECT_EQ(query.size(), rowCount);
}

TEST_F(QueriesTest, BigQueryConnectionStreamsRowsWithoutASize)
{
    createRows();
    QSqlDatabase big = connect(QStringLiteral("big query=1"));
    ASSERT_TRUE(big.isOpen()) << big.lastError().text().toStdString();
    QSqlQuery query(big);
    ASSERT_TRUE(query.exec(allRows())) << query.lastError().text().toStdString();
    EXPECT_TRUE(query.isActive());
    EXPECT_EQ(query.size(), 0);
    for (int id = 0; id < rowCount; ++id) {
        ASSERT_TRUE(query.next()) << id << query.lastError().text().toStdString();
        ASSERT_EQ(query.value(0).toInt(), id);
        ASSERT_EQ(query.value(1).toString(), QStringLiteral("row %1").arg(id));
    }
    EXPECT_FALSE(query.next());
    EXPECT_EQ(query.at(), int(QSql::AfterLastRow));
    EXPECT_EQ(query.size(), 0);

    // The stream cannot go back: a backward move fails instead of guessing.
    ASSERT_TRUE(query.exec(allRows()));
    ASSERT_TRUE(query.next());
    ASSERT_TRUE(query.next());
    EXPECT_FALSE(query.previous());
    EXPECT_TRUE(query.lastError().isValid());
}

TEST_F(QueriesTest, LastInsertIdIsTheNewIdentityAsADouble)
{
    createRows();
    createTable(QStringLiteral("people"), QStringLiteral("id int IDENTITY(1,1) PRIMARY KEY, name nvarchar(30)"));
    QSqlQuery reading(db);
    ASSERT_TRUE(reading.exec(allRows()));
    ASSERT_TRUE(reading.seek(41));

    QSqlQuery insert(db);
    for (int expected = 1; expected <= 3; ++expected) {
        ASSERT_TRUE(insert.prepare(QStringLiteral("INSERT INTO people (name) VALUES (?)")));
        insert.addBindValue(QStringLiteral("person %1").arg(expected));
        ASSERT_TRUE(insert.exec()) << insert.lastError().text().toStdString();
        const QVariant id = insert.lastInsertId();
        EXPECT_EQ(id.userType(), QMetaType::Double);
        EXPECT_EQ(id.toDouble(), double(expected));
    }
    // The identity query runs beside a half-read result without disturbing it.
    ASSERT_TRUE(reading.next());
    expectRow(reading, 42);
    EXPECT_EQ(reading.lastInsertId().toDouble(), 3.0);
    ASSERT_TRUE(reading.next());
    expectRow(reading, 43);
}

TEST_F(QueriesTest, SecondQueryRunsWhileTheFirstIsHalfRead)
{
    createRows();
    for (const QString &options : {QString(), QStringLiteral("big query=")}) {
        SCOPED_TRACE(options.toStdString());
        QSqlDatabase connection = options.isEmpty() ? db : connect(options);
        ASSERT_TRUE(connection.isOpen());
        QSqlQuery first(connection);
        first.setForwardOnly(true);
        ASSERT_TRUE(first.exec(allRows()));
        for (int id = 0; id < 100; ++id)
            ASSERT_TRUE(first.next());

        QSqlQuery second(connection);
        ASSERT_TRUE(second.exec(QStringLiteral("SELECT label FROM rows WHERE id = 777")))
            << second.lastError().text().toStdString();
        ASSERT_TRUE(second.next());
        EXPECT_EQ(second.value(0).toString(), QStringLiteral("row 777"));
        QSqlQuery update(connection);
        ASSERT_TRUE(update.prepare(QStringLiteral("UPDATE rows SET label = ? WHERE id = ?")));
        update.addBindValue(QStringLiteral("updated"));
        update.addBindValue(998);
        ASSERT_TRUE(update.exec()) << update.lastError().text().toStdString();

        int id = 100;
        while (first.next()) {
            ASSERT_EQ(first.value(0).toInt(), id);
            ++id;
        }
        EXPECT_EQ(id, rowCount);
        EXPECT_FALSE(first.lastError().isValid()) << first.lastError().text().toStdString();
        run(QStringLiteral("UPDATE rows SET label = N'row 998' WHERE id = 998"));
    }
}

} // namespace
