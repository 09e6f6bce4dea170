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

// A server of its own with one fault option; `db` is a connection to it, not
// yet opened.
class FaultyServerTest : public ::testing::Test
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
        db = rztest::addConnection(name(QStringLiteral("faulty")), settings);
        timer.start();
    }

    void TearDown() override
    {
        if (server) {
            EXPECT_LT(timer.elapsed(), 20000) << "the failure took too long to surface";
        }
        db = QSqlDatabase();
        for (const QString &connection : names) {
            QSqlDatabase::database(connection, false).close();
            QSqlDatabase::removeDatabase(connection);
        }
    }

    QString name(const QString &what)
    {
        names << QStringLiteral("%1.%2").arg(QString::fromLatin1(
            ::testing::UnitTest::GetInstance()->current_test_info()->name()), what);
        return names.last();
    }

    // Runs `sql` on a working connection `connection`.
    static void run(QSqlDatabase connection, const QString &sql)
    {
        QSqlQuery query(connection);
        ASSERT_TRUE(query.exec(sql)) << sql.toStdString() << ": "
                                     << query.lastError().text().toStdString();
    }

    // The error is the plug-in's and carries the provider's own text.
    static void expectClearError(const QSqlError &error, QSqlError::ErrorType type)
    {
        EXPECT_EQ(error.type(), type) << error.text().toStdString();
        EXPECT_EQ(error.driverText(), QStringLiteral("MSSQL DB: "));
        EXPECT_FALSE(error.databaseText().trimmed().isEmpty());
        EXPECT_NE(error.databaseText(), QStringLiteral("Critical Error"));
    }

    // A second connection to the faulty server, opened.
    QSqlDatabase reconnect()
    {
        QSqlDatabase again = rztest::addConnection(name(QStringLiteral("again")), settings);
        EXPECT_TRUE(again.open()) << again.lastError().text().toStdString();
        return again;
    }

    rztest::ServerSettings settings;
    std::unique_ptr<rztest::TestServer> server;
    QSqlDatabase db;
    QStringList names;
    QElapsedTimer timer;
};

TEST_F(FaultyServerTest, LoginCutOffBeforeItsAnswerFailsTheOpen)
{
    start(QStringLiteral("127.0.0.36"), QStringLiteral("--drop-during-login"));
    ASSERT_FALSE(db.open());
    EXPECT_FALSE(db.isOpen());
    expectClearError(db.lastError(), QSqlError::ConnectionError);
    EXPECT_EQ(db.lastError().databaseText(), db.lastError().databaseText().trimmed());

    // The process is none the worse: a server that answers logins is reached.
    QSqlDatabase other = rztest::addConnection(name(QStringLiteral("other")), rztest::liveSettings());
    ASSERT_TRUE(other.open()) << other.lastError().text().toStdString();
    run(other, QStringLiteral("SELECT 1"));
}

TEST_F(FaultyServerTest, LongParameterCutOffInUploadFailsTheStatement)
{
    start(QStringLiteral("127.0.0.37"), QStringLiteral("--drop-during-upload"));
    ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
    run(db, QStringLiteral("CREATE TABLE uploads (id int, body nvarchar(max))"));

    QSqlQuery insert(db);
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

    QSqlDatabase again = reconnect();
    QSqlQuery count(again);
    ASSERT_TRUE(count.exec(QStringLiteral("SELECT COUNT(*) FROM uploads")))
        << count.lastError().text().toStdString();
    ASSERT_TRUE(count.next());
    EXPECT_EQ(count.value(0).toInt(), 0);
}

TEST_F(FaultyServerTest, ConnectionLostInsteadOfTheCommitFailsTheCommit)
{
    start(QStringLiteral("127.0.0.38"), QStringLiteral("--drop-during-commit"));
    ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
    run(db, QStringLiteral("CREATE TABLE ledger (n int)"));

    ASSERT_TRUE(db.transaction()) << db.lastError().text().toStdString();
    run(db, QStringLiteral("INSERT INTO ledger VALUES (1)"));
    EXPECT_FALSE(db.commit());
    expectClearError(db.lastError(), QSqlError::TransactionError);
    // In the ODBC driver's words ("Unexpected EOF from the server") or a
    // provider's own ("the connection was closed"): the reason, not a code.
    EXPECT_TRUE(db.lastError().databaseText().contains(
        QRegularExpression(QStringLiteral("\\b(EOF|connection|closed)\\b"),
                           QRegularExpression::CaseInsensitiveOption)))
        << db.lastError().databaseText().toStdString();

    QSqlQuery next(db);
    EXPECT_FALSE(next.exec(QStringLiteral("SELECT 1")));

    // The server never committed: the row went with the session.
    QSqlDatabase again = reconnect();
    QSqlQuery count(again);
    ASSERT_TRUE(count.exec(QStringLiteral("SELECT COUNT(*) FROM ledger")))
        << count.lastError().text().toStdString();
    ASSERT_TRUE(count.next());
    EXPECT_EQ(count.value(0).toInt(), 0);
}

} // namespace
