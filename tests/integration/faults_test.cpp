// A server that drops the connection in the middle of a result, during the
// login, while a long parameter value is on its way or instead of answering a
// commit: the application gets an error, never a crash or a hang, and can
// connect again.

#include "livedatabase.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QRegularExpression>

#include <memory>

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

// A server of its own with one fault option; `faulty` is a connection to it
// as it stands after open(), `db` one to the program's server.
class FaultyServerTest : public rztest::LiveDatabaseTest
{
protected:
    void start(const QString &address, const QString &fault)
    {
        if (rztest::liveSettings().external)
            GTEST_SKIP() << "needs the local test server's fault option";
        settings = rztest::serverSettings(address);
        server = std::make_unique<rztest::TestServer>(address.toStdString(),
                                                      std::vector<std::string>{fault.toStdString()});
        ASSERT_TRUE(server->running()) << "rz-testserver did not start on " << address.toStdString();
        timer.start();
        faulty = connect(QString(), settings);
    }

    void TearDown() override
    {
        if (server) {
            EXPECT_LT(timer.elapsed(), 20000) << "the failure took too long to surface";
        }
        faulty = QSqlDatabase();
        LiveDatabaseTest::TearDown();
    }

    // The error is the plug-in's and carries the provider's own text.
    static void expectClearError(const QSqlError &error, QSqlError::ErrorType type)
    {
        EXPECT_EQ(error.type(), type) << error.text().toStdString();
        EXPECT_EQ(error.driverText(), QStringLiteral("MSSQL DB: "));
        EXPECT_FALSE(error.databaseText().trimmed().isEmpty());
        EXPECT_NE(error.databaseText(), QStringLiteral("Critical Error"));
    }

    // The number of rows of `table` as a second connection to the faulty server sees it.
    int rowsSeenAfresh(const QString &table)
    {
        QSqlDatabase again = connect(QString(), settings);
        EXPECT_TRUE(again.isOpen()) << again.lastError().text().toStdString();
        QSqlQuery count(again);
        EXPECT_TRUE(count.exec(QStringLiteral("SELECT COUNT(*) FROM ") + table) && count.next())
            << count.lastError().text().toStdString();
        return count.value(0).toInt();
    }

    rztest::ServerSettings settings;
    std::unique_ptr<rztest::TestServer> server;
    QSqlDatabase faulty;
    QElapsedTimer timer;
};

TEST_F(FaultyServerTest, LoginCutOffBeforeItsAnswerFailsTheOpen)
{
    start(QStringLiteral("127.0.0.36"), QStringLiteral("--drop-during-login"));
    EXPECT_FALSE(faulty.isOpen());
    expectClearError(faulty.lastError(), QSqlError::ConnectionError);
    EXPECT_EQ(faulty.lastError().databaseText(), faulty.lastError().databaseText().trimmed());

    // The process is none the worse: a server that answers logins is reached.
    run(QStringLiteral("SELECT 1"), connect(QString()));
}

TEST_F(FaultyServerTest, LongParameterCutOffInUploadFailsTheStatement)
{
    start(QStringLiteral("127.0.0.37"), QStringLiteral("--drop-during-upload"));
    ASSERT_TRUE(faulty.isOpen()) << faulty.lastError().text().toStdString();
    run(QStringLiteral("CREATE TABLE uploads (id int, body nvarchar(max))"), faulty);

    QSqlQuery insert(faulty);
    ASSERT_TRUE(insert.prepare(QStringLiteral("INSERT INTO uploads VALUES (?, ?)")))
        << insert.lastError().text().toStdString();
    insert.addBindValue(1);
    insert.addBindValue(QString(100000, QLatin1Char('x')));
    EXPECT_FALSE(insert.exec());
    EXPECT_TRUE(insert.lastError().isValid());
    EXPECT_EQ(insert.lastError().driverText(), QStringLiteral("MSSQL DB: "));
    EXPECT_FALSE(insert.lastError().databaseText().trimmed().isEmpty());

    // The same statement again on the dead connection fails as well.
    insert.bindValue(0, 2);
    EXPECT_FALSE(insert.exec());
    EXPECT_TRUE(insert.lastError().isValid());
    EXPECT_EQ(rowsSeenAfresh(QStringLiteral("uploads")), 0);
}

TEST_F(FaultyServerTest, ConnectionLostInsteadOfTheCommitFailsTheCommit)
{
    start(QStringLiteral("127.0.0.38"), QStringLiteral("--drop-during-commit"));
    ASSERT_TRUE(faulty.isOpen()) << faulty.lastError().text().toStdString();
    run(QStringLiteral("CREATE TABLE ledger (n int)"), faulty);

    ASSERT_TRUE(faulty.transaction()) << faulty.lastError().text().toStdString();
    run(QStringLiteral("INSERT INTO ledger VALUES (1)"), faulty);
    EXPECT_FALSE(faulty.commit());
    expectClearError(faulty.lastError(), QSqlError::TransactionError);
    // In the ODBC driver's words ("Unexpected EOF from the server") or a
    // provider's own ("the connection was closed"): the reason, not a code.
    EXPECT_TRUE(faulty.lastError().databaseText().contains(
        QRegularExpression(QStringLiteral("\\b(EOF|connection|closed)\\b"),
                           QRegularExpression::CaseInsensitiveOption)))
        << faulty.lastError().databaseText().toStdString();

    QSqlQuery next(faulty);
    EXPECT_FALSE(next.exec(QStringLiteral("SELECT 1")));
    // The server never committed: the row went with the session.
    EXPECT_EQ(rowsSeenAfresh(QStringLiteral("ledger")), 0);
}

} // namespace
