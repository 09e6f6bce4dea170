// A server that drops the connection in the middle of a result: the
// application gets an error, never a crash or a hang, and can connect again.

#include "livedatabase.h"

#include <QtCore/QElapsedTimer>

namespace {

// The server closes a connection abruptly once it has sent 50 result rows.
constexpr int rowsBeforeDrop = 50;
const auto *const environment = rztest::useLiveServer(
    QStringLiteral("127.0.0.42"), {QStringLiteral("--drop-after-rows"), QString::number(rowsBeforeDrop)});

class DroppedConnectionTest : public rztest::LiveDatabaseTest
{
protected:
    void SetUp() override
    {
        if (rztest::liveSettings().external)
            GTEST_SKIP() << "needs the local test server's fault option";
        LiveDatabaseTest::SetUp();
        // No result rows are sent while the table is filled.
        createTable(QStringLiteral("many"), QStringLiteral("id int, label nvarchar(20)"));
        QStringList values;
        for (int id = 0; id < 500; ++id)
            values << QStringLiteral("(%1, N'row %1')").arg(id);
        run(QStringLiteral("INSERT INTO many VALUES ") + values.join(QLatin1Char(',')));
        timer.start();
    }

    void TearDown() override
    {
        EXPECT_LT(timer.elapsed(), 20000) << "the failure took too long to surface";
        LiveDatabaseTest::TearDown();
    }

    // After the failure a new connection works as before.
    void expectFreshConnectionWorks()
    {
        db.close();
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec(QStringLiteral("SELECT COUNT(*) FROM many")))
            << query.lastError().text().toStdString();
        ASSERT_TRUE(query.next());
        EXPECT_EQ(query.value(0).toInt(), 500);
    }

    QElapsedTimer timer;
};

TEST_F(DroppedConnectionTest, ScrollableQueryFailsWhenTheRowsStopComing)
{
    // The client cursor reads every row at execution, so the drop surfaces there.
    QSqlQuery query(db);
    const bool executed = query.exec(QStringLiteral("SELECT id, label FROM many ORDER BY id"));
    int rows = 0;
    if (executed) {
        while (query.next())
            ++rows;
    }
    EXPECT_LT(rows, 500);
    EXPECT_TRUE(query.lastError().isValid());
    EXPECT_EQ(query.lastError().driverText(), QStringLiteral("MSSQL DB: "));

    // The connection is gone: the next statement fails too, with an error.
    QSqlQuery next(db);
    EXPECT_FALSE(next.exec(QStringLiteral("SELECT 1")));
    EXPECT_TRUE(next.lastError().isValid());
    expectFreshConnectionWorks();
}

TEST_F(DroppedConnectionTest, StreamingQueryReportsTheDropOnTheNextFetch)
{
    QSqlDatabase big = connect(QStringLiteral("big query=1"));
    ASSERT_TRUE(big.isOpen());
    QSqlQuery query(big);
    query.setForwardOnly(true);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT id, label FROM many ORDER BY id")))
        << query.lastError().text().toStdString();
    int rows = 0;
    while (query.next()) {
        ASSERT_EQ(query.value(0).toInt(), rows);
        ++rows;
    }
    EXPECT_GE(rows, 0);
    EXPECT_LE(rows, rowsBeforeDrop);
    EXPECT_TRUE(query.lastError().isValid()) << "the end of a cut-off result looked like a normal end";
    EXPECT_EQ(query.lastError().type(), QSqlError::TransactionError);

    QSqlQuery next(big);
    EXPECT_FALSE(next.exec(QStringLiteral("SELECT 1")));
    EXPECT_TRUE(next.lastError().isValid());
    expectFreshConnectionWorks();
}

TEST_F(DroppedConnectionTest, PreparedStatementAfterTheDropFailsCleanly)
{
    QSqlQuery query(db);
    ASSERT_TRUE(query.prepare(QStringLiteral("SELECT id, label FROM many WHERE id >= ? ORDER BY id")));
    query.addBindValue(0);
    if (query.exec()) {
        while (query.next()) {
        }
    }
    EXPECT_TRUE(query.lastError().isValid());
    query.bindValue(0, 10);
    EXPECT_FALSE(query.exec());
    EXPECT_TRUE(query.lastError().isValid());
    expectFreshConnectionWorks();
}

} // namespace
