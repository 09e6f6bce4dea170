// No memory is lost over a thousand prepared executions. The workload is an
// ordinary test; the check runs this same program on the workload alone under
// valgrind, pointed at this program's own server.

#include "livedatabase.h"

#include "valgrindcheck.h"

namespace {

const auto *const environment = rztest::useLiveServer(QStringLiteral("127.0.0.43"));

constexpr int executions = 1000;

using LeakWorkload = rztest::LiveDatabaseTest;

TEST_F(LeakWorkload, ThousandPreparedExecutions)
{
    createTable(QStringLiteral("leaks"), QStringLiteral("id int PRIMARY KEY, label nvarchar(40), blob varbinary(max)"));
    QSqlQuery insert(db);
    ASSERT_TRUE(insert.prepare(QStringLiteral("INSERT INTO leaks VALUES (?, ?, ?)")));
    QSqlQuery select(db);
    ASSERT_TRUE(select.prepare(QStringLiteral("SELECT id, label, blob FROM leaks WHERE id = ?")));
    for (int id = 0; id < executions / 2; ++id) {
        insert.bindValue(0, id);
        insert.bindValue(1, QStringLiteral("label %1").arg(id));
        insert.bindValue(2, QByteArray(100 + id, char(id)));
        ASSERT_TRUE(insert.exec()) << insert.lastError().text().toStdString();
        select.bindValue(0, id);
        ASSERT_TRUE(select.exec()) << select.lastError().text().toStdString();
        ASSERT_TRUE(select.next());
        ASSERT_EQ(select.value(2).toByteArray().size(), 100 + id);
    }
    // Failing executions must not leak either.
    QSqlQuery failing(db);
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(failing.exec(QStringLiteral("SELECT * FROM no_such_table")));
}

#if defined(__SANITIZE_ADDRESS__)
TEST(LeakCheck, ThousandPreparedExecutionsLoseNoMemoryUnderValgrind)
{
    GTEST_SKIP() << "valgrind cannot run an AddressSanitizer build; LeakSanitizer checks this one";
}
#else
TEST(LeakCheck, ThousandPreparedExecutionsLoseNoMemoryUnderValgrind)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The workload under valgrind uses this program's server.
    env.insert(QStringLiteral("RZ_TEST_HOST"), rztest::liveSettings().host);
    rztest::expectNoLeakUnderValgrind(QStringLiteral("LeakWorkload.*"), env);
}
#endif

} // namespace
