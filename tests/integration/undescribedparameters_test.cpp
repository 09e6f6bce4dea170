// A parameter the server does not describe is never guessed: this program's
// server leaves the last parameter out of every description
// (--refuse-descriptions short), so a statement with bound values fails at
// exec() with an error that names the parameter, and nothing runs.

#include "livedatabase.h"

namespace {

const auto *const environment =
    rztest::useLiveServer(QStringLiteral("127.0.0.49"),
                          {QStringLiteral("--refuse-descriptions"), QStringLiteral("short")});

class UndescribedParametersTest : public rztest::LiveDatabaseTest
{
protected:
    void SetUp() override
    {
        if (rztest::liveSettings().external)
            GTEST_SKIP() << "needs the test server's --refuse-descriptions";
        LiveDatabaseTest::SetUp();
    }
};

TEST_F(UndescribedParametersTest, ExecFailsNamingTheParameterAndSendsNothing)
{
    createTable(QStringLiteral("kept"), QStringLiteral("id int, label nvarchar(10)"));
    const QString sql = QStringLiteral("INSERT INTO kept (id, label) VALUES (?, ?)");
    QSqlQuery query(db);
    ASSERT_TRUE(query.prepare(sql)) << query.lastError().text().toStdString();
    query.addBindValue(43);
    query.addBindValue(QStringLiteral("forty-three"));
    EXPECT_FALSE(query.exec());
    const QSqlError error = query.lastError();
    EXPECT_EQ(error.type(), QSqlError::StatementError);
    const QString text = error.databaseText();
    EXPECT_TRUE(text.contains(QStringLiteral("parameter 2 of 2"))) << text.toStdString();
    EXPECT_TRUE(text.contains(sql)) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("no type for it"))) << text.toStdString();
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM kept")).toInt(), 0);

    // The connection goes on; a statement without bound values needs no description.
    QSqlQuery plain(db);
    EXPECT_TRUE(plain.exec(QStringLiteral("INSERT INTO kept VALUES (1, N'one')")))
        << plain.lastError().text().toStdString();
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM kept")).toInt(), 1);
}

} // namespace
