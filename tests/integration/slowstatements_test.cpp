// Statements that run for seconds: the plug-in's one-second general time-out
// covers requests other than a command's execution, so a slow statement runs
// to its end with bound values, without them and on a "big query="
// connection. The server is told to be slow (WAITFOR DELAY); the command
// time-out that does stop a statement is checked in tests/provider.

#include "livedatabase.h"

namespace {

const auto *const environment = rztest::useLiveServer(QStringLiteral("127.0.0.48"));

class SlowStatementsTest : public rztest::LiveDatabaseTest
{
protected:
    void SetUp() override
    {
        LiveDatabaseTest::SetUp();
        createTable(QStringLiteral("slow_rows"),
                    QStringLiteral("id int PRIMARY KEY, label nvarchar(10)"));
        run(QStringLiteral("INSERT INTO slow_rows VALUES (1, N'one'), (2, N'two'), (3, N'three')"));
    }

    // Three seconds at the server, then the row with id 2.
    static void expectSlowRow(QSqlDatabase connection, bool bound)
    {
        QSqlQuery query(connection);
        bool ran;
        if (bound) {
            ASSERT_TRUE(query.prepare(QStringLiteral(
                "WAITFOR DELAY '00:00:03'; SELECT id, label FROM slow_rows WHERE id = ?")))
                << query.lastError().text().toStdString();
            query.addBindValue(2);
            ran = query.exec();
        } else {
            ran = query.exec(QStringLiteral(
                "WAITFOR DELAY '00:00:03'; SELECT id, label FROM slow_rows WHERE id = 2"));
        }
        ASSERT_TRUE(ran) << query.lastError().text().toStdString();
        ASSERT_TRUE(query.next()) << query.lastError().text().toStdString();
        EXPECT_EQ(query.value(0).toInt(), 2);
        EXPECT_EQ(query.value(1).toString(), QStringLiteral("two"));
        EXPECT_FALSE(query.next());
        EXPECT_FALSE(query.lastError().isValid()) << query.lastError().text().toStdString();
    }
};

TEST_F(SlowStatementsTest, StatementsLongerThanTheGeneralTimeOutRunToTheirEnd)
{
    expectSlowRow(db, true);
    expectSlowRow(db, false);
}

TEST_F(SlowStatementsTest, OnABigQueryConnectionSlowStatementsRunToTheirEnd)
{
    QSqlDatabase big = connect(QStringLiteral("big query=1"));
    ASSERT_TRUE(big.isOpen()) << big.lastError().text().toStdString();
    expectSlowRow(big, true);
    expectSlowRow(big, false);
}

} // namespace
