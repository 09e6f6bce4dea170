// Statements through QSqlQuery: moving over a 1,000-row result on a default
// (scrollable) connection, and two queries at once on it and on a
// "big query=" (streaming) one. Each move, count and error on its own, and
// the last identity beside a half-read result, are checked against scripted
// rowsets (tests/unit/result, tests/unit/clientcursor) and the provider's
// answers against the server (tests/provider).

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
