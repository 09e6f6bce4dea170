// Running out of memory at each allocation of the COM run time in turn (task
// memory, BSTRs, object creation), over opening a connection, a prepared
// insert, a prepared query and its rows, and the last identity: every step
// either works or ends in a clean error, nothing crashes, and (under the
// sanitizer build) nothing leaks. The plug-in is linked into this program, so
// the countdown it arms is the one the plug-in's run time counts down.

#include "livedatabase.h"

#include "oledb/oledberror.h"
#include "platform/com/faultinjection.h"
#include "plugin/rezuvedovdriverplugin.h"

#include <QtSql/QSqlDriver>

#include <functional>
#include <string>

namespace {

const auto *const environment = rztest::useLiveServer(QStringLiteral("127.0.0.47"));

// Every pass stops after this many allocations at the latest; the workload
// needs far fewer.
constexpr long maxAllocations = 5000;

REzuVEDOVDriverPlugin &plugin()
{
    static REzuVEDOVDriverPlugin instance;
    return instance;
}

// One step of the workload under the countdown: true when it worked. A step
// that fails must say why, either through its QSqlError or as the consumer
// layer's exception for memory that could not be had.
class Step
{
public:
    explicit Step(std::string log) : log(std::move(log)) {}

    bool run(const char *name, const std::function<bool()> &work,
             const std::function<QSqlError()> &error)
    {
        bool worked = false;
        try {
            worked = work();
        } catch (const CAtlException &e) {
            EXPECT_EQ(HRESULT(e), E_OUTOFMEMORY) << log << name;
            return false;
        }
        if (!worked) {
            EXPECT_TRUE(error().isValid()) << log << name << " failed without an error";
        }
        return worked;
    }

    const std::string log;
};

class FaultInjection : public rztest::LiveDatabaseTest
{
protected:
    void SetUp() override
    {
        rztest::LiveDatabaseTest::SetUp();
        createTable(QStringLiteral("faults"),
                    QStringLiteral("id int IDENTITY PRIMARY KEY, label nvarchar(40), blob varbinary(max)"));
        run(QStringLiteral("INSERT INTO faults (label, blob) VALUES ('first', 0x0102)"));
    }

    // The workload on a fresh connection of its own; false when a step failed.
    bool workload(long countdown)
    {
        const std::string log = "failing allocation " + std::to_string(countdown) + ": ";
        const QString name = QStringLiteral("faults.%1").arg(countdown);
        bool finished = false;
        {
            QSqlDatabase connection = QSqlDatabase::addDatabase(plugin().create(QStringLiteral("REZUVEDOV")), name);
            const rztest::ServerSettings settings = rztest::liveSettings();
            connection.setHostName(settings.host);
            connection.setDatabaseName(settings.database);
            connection.setUserName(settings.user);
            connection.setPassword(settings.password);

            rz::failAllocationAfter(countdown);
            finished = steps(connection, log);
            rz::failAllocationAfter(0);
            connection.close();
        }
        QSqlDatabase::removeDatabase(name);
        return finished;
    }

    bool steps(QSqlDatabase &connection, const std::string &log)
    {
        Step step(log);
        if (!step.run("open", [&] { return connection.open(); }, [&] { return connection.lastError(); }))
            return false;

        QSqlQuery insert(connection);
        const auto insertError = [&] { return insert.lastError(); };
        if (!step.run("prepare insert",
                      [&] { return insert.prepare(QStringLiteral("INSERT INTO faults (label, blob) VALUES (?, ?)")); },
                      insertError))
            return false;
        insert.addBindValue(QStringLiteral("second"));
        insert.addBindValue(QByteArray(9000, 'x'));
        if (!step.run("insert", [&] { return insert.exec(); }, insertError))
            return false;

        QSqlQuery select(connection);
        const auto selectError = [&] { return select.lastError(); };
        if (!step.run("prepare select",
                      [&] { return select.prepare(QStringLiteral("SELECT id, label, blob FROM faults WHERE label = ?")); },
                      selectError))
            return false;
        select.addBindValue(QStringLiteral("first"));
        if (!step.run("select", [&] { return select.exec(); }, selectError))
            return false;
        if (!step.run("fetch", [&] { return select.next(); }, selectError))
            return false;
        EXPECT_EQ(select.value(1).toString(), QStringLiteral("first")) << log;
        EXPECT_EQ(select.value(2).toByteArray(), QByteArray("\x01\x02", 2)) << log;
        bool end = false;
        if (!step.run("fetch past the end", [&] { return end = !select.next(), end && !select.lastError().isValid(); },
                      selectError))
            return false;

        // The last identity reports nothing when it cannot be read: it comes
        // back invalid, or as 0 when the conversion library cannot be had,
        // but never as anything but a number.
        QVariant id;
        if (!step.run("last insert id", [&] { id = select.lastInsertId(); return true; }, selectError))
            return false;
        if (id.isValid()) {
            EXPECT_EQ(id.userType(), int(QMetaType::Double)) << log;
        }
        if (!rz::allocationFailureInjected()) {
            EXPECT_GE(id.toDouble(), 2.0) << log << "the identity of the insert";
        }
        return true;
    }
};

TEST_F(FaultInjection, EveryAllocationThatFailsEndsInACleanError)
{
    // Without a failure the whole workload runs through.
    ASSERT_TRUE(workload(0));

    long countdown = 1;
    int failedPasses = 0;
    for (; countdown <= maxAllocations; ++countdown) {
        const bool finished = workload(countdown);
        if (!rz::allocationFailureInjected()) {
            // The workload needed fewer allocations than the countdown: all
            // of them have had their turn to fail.
            EXPECT_TRUE(finished);
            break;
        }
        if (!finished)
            ++failedPasses;
        if (HasFailure())
            break;
    }
    EXPECT_LT(countdown, maxAllocations) << "the workload never ran out of allocations to fail";
    EXPECT_GT(failedPasses, 0) << "no injected failure ever surfaced";
    std::printf("[ fault injection ] %ld allocations failed in turn, %d passes ended in an error\n",
                countdown - 1, failedPasses);

    // The connection of the fixture still works afterwards.
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM faults WHERE label = 'first'")).toInt(), 1);
}

} // namespace
