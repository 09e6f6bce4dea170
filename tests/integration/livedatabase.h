#pragma once
// Shared by the live test programs of this folder: one test server
// per test program (or the external server the environment names), and a
// fixture that opens a fresh REZUVEDOV connection for every test.

#include "testserver_fixture.h"

#include <QtCore/QStringList>
#include <QtCore/QVariant>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtSql/QSqlResult>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace rztest {

// Starts the program's server before the first test and stops it after the
// last one.
class LiveServerEnvironment : public ::testing::Environment
{
public:
    LiveServerEnvironment(QString address, QStringList extraArgs)
        : address(std::move(address)), extraArgs(std::move(extraArgs)) {}

    void SetUp() override { server = startServerUnlessExternal(address, extraArgs); }
    void TearDown() override { server.reset(); }

    const QString address;
    const QStringList extraArgs;
    std::unique_ptr<TestServer> server;
};

inline LiveServerEnvironment *&liveServer()
{
    static LiveServerEnvironment *environment = nullptr;
    return environment;
}

// Call once per program, from a namespace-scope initialiser.
inline LiveServerEnvironment *useLiveServer(const QString &address, const QStringList &extraArgs = {})
{
    liveServer() = new LiveServerEnvironment(address, extraArgs);
    ::testing::AddGlobalTestEnvironment(liveServer());
    return liveServer();
}

inline ServerSettings liveSettings()
{
    return serverSettings(liveServer()->address);
}

// Every test gets its own open connection, `db`, removed again afterwards.
class LiveDatabaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db = connect(QString());
        ASSERT_TRUE(db.isOpen()) << db.lastError().text().toStdString();
    }

    void TearDown() override
    {
        db = QSqlDatabase();
        for (const QString &name : names) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
    }

    // Another connection to the same server (or the one `settings` name),
    // opened with `options`.
    QSqlDatabase connect(const QString &options, const ServerSettings &settings = liveSettings())
    {
        const QString name = QStringLiteral("%1.%2.%3")
                                 .arg(QString::fromLatin1(::testing::UnitTest::GetInstance()
                                                              ->current_test_info()->name()))
                                 .arg(names.size())
                                 .arg(options);
        names.append(name);
        QSqlDatabase connection = addConnection(name, settings, options);
        connection.open();
        return connection;
    }

    // Runs `sql` on `connection` (the test's own by default) and fails the
    // test when the server refuses it.
    void run(const QString &sql, QSqlDatabase connection = QSqlDatabase())
    {
        QSqlQuery query(connection.isValid() ? connection : db);
        ASSERT_TRUE(query.exec(sql)) << sql.toStdString() << ": "
                                     << query.lastError().text().toStdString();
    }

    // A fresh table: an earlier run against an external server may have
    // left one of the same name.
    void createTable(const QString &name, const QString &columns)
    {
        run(QStringLiteral("DROP TABLE IF EXISTS %1").arg(name));
        run(QStringLiteral("CREATE TABLE %1 (%2)").arg(name, columns));
    }

    // The single value of a one-row query.
    QVariant scalar(const QString &sql)
    {
        QSqlQuery query(db);
        if (!query.exec(sql) || !query.next()) {
            ADD_FAILURE() << sql.toStdString() << ": " << query.lastError().text().toStdString();
            return QVariant();
        }
        return query.value(0);
    }

    QSqlDatabase db;
    QStringList names;
};

// What the result object itself stores as the affected-row count. Through
// QSqlQuery Qt answers -1 for a result that is not active, which a
// statement without rows leaves behind, so the count is read on the result.
class ResultCount : private QSqlResult
{
public:
    static int rowsAffected(const QSqlQuery &query)
    {
        // A pointer to the protected member, taken through this class, calls
        // the driver's override without pretending the result is one of us.
        int (QSqlResult::*count)() = &ResultCount::numRowsAffected;
        return (const_cast<QSqlResult *>(query.result())->*count)();
    }
};

} // namespace rztest
