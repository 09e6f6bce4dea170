// One session through the plug-in as an application runs it: create a table,
// insert with bound values, read them back, roll back a transaction, commit
// another and read the catalogue. Every value is checked against what the
// statement put in, so the same expectations hold on every platform the
// program is built for (on Linux it starts its own test server; under Wine
// it is given the server's address and the provider's name).
//
//   livesession [--host 127.0.0.1] [--provider NAME]
//
// Prints "PASS name" / "FAIL name: why" per check and "N passed, N failed";
// the exit status is 0 only when every check passed.

#include <QtCore/QCoreApplication>
#include <QtCore/QDate>
#include <QtCore/QDateTime>
#include <QtCore/QStringList>
#include <QtCore/QVariant>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlDriver>
#include <QtSql/QSqlError>
#include <QtSql/QSqlField>
#include <QtSql/QSqlIndex>
#include <QtSql/QSqlQuery>
#include <QtSql/QSqlRecord>

#include <cstdio>
#include <memory>

#ifdef RZ_LIVESESSION_STARTS_SERVER
#include "testserver.h"
#endif

namespace {

int passed = 0;
int failed = 0;

void check(const char *name, bool ok, const QString &why = QString())
{
    if (ok) {
        ++passed;
        std::printf("PASS %s\n", name);
    } else {
        ++failed;
        std::printf("FAIL %s: %s\n", name, qPrintable(why));
    }
    std::fflush(stdout);
}

QString describe(const QVariant &v)
{
    return QStringLiteral("%1 (%2)").arg(v.toString(), QString::fromLatin1(v.typeName()));
}

// Equal in value and in the QVariant type the plug-in gives the column.
void checkValue(const char *name, const QVariant &actual, const QVariant &expected)
{
    const bool sameType = actual.userType() == expected.userType();
    check(name, sameType && actual == expected,
          QStringLiteral("got %1, expected %2").arg(describe(actual), describe(expected)));
}

bool exec(QSqlQuery &q, const QString &sql)
{
    if (q.exec(sql))
        return true;
    std::printf("  %s: %s\n", qPrintable(sql), qPrintable(q.lastError().text()));
    return false;
}

int countRows(QSqlDatabase &db)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM live_items")) || !q.next())
        return -1;
    return q.value(0).toInt();
}

struct Row {
    int id;
    QVariant name, code, big, ratio, flag, stamp, day, bytes;
};

void runSession(QSqlDatabase &db)
{
    QSqlQuery q(db);
    exec(q, QStringLiteral("IF OBJECT_ID('live_items') IS NOT NULL DROP TABLE live_items"));
    check("create table",
          exec(q, QStringLiteral("CREATE TABLE live_items (id int NOT NULL PRIMARY KEY, name nvarchar(40) NULL, "
                                 "code varchar(20) NULL, big bigint NULL, ratio float NULL, flag bit NULL, "
                                 "stamp datetime2(3) NULL, day date NULL, bytes varbinary(16) NULL)")));

    const Row rows[] = {
        {1, QStringLiteral("Grüße, Ωmega ✓"), QStringLiteral("A-17"), qlonglong(9007199254740993LL), 2.5, true,
         QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58, 125)), QDateTime(QDate(2031, 12, 31), QTime(0, 0)),
         QByteArray("\x01\x7f\xfe\xff", 4)},
        {2, QString(""), QStringLiteral("B"), qlonglong(-42), -0.125, false,
         QDateTime(QDate(2000, 1, 1), QTime(0, 0)), QDateTime(QDate(2100, 6, 15), QTime(0, 0)), QByteArray("\x02", 1)},
    };

    QSqlQuery insert(db);
    check("prepare insert",
          insert.prepare(QStringLiteral("INSERT INTO live_items (id, name, code, big, ratio, flag, stamp, day, bytes) "
                                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")),
          insert.lastError().text());
    for (const Row &r : rows) {
        insert.addBindValue(r.id);
        insert.addBindValue(r.name);
        insert.addBindValue(r.code);
        insert.addBindValue(r.big);
        insert.addBindValue(r.ratio);
        insert.addBindValue(r.flag);
        insert.addBindValue(r.stamp);
        insert.addBindValue(r.day);
        insert.addBindValue(r.bytes);
        const bool ok = insert.exec();
        check(r.id == 1 ? "insert row 1 with bound values" : "insert row 2 with bound values", ok,
              insert.lastError().text());
        // The plug-in keeps the count from QSqlQuery for statements without rows.
        check(r.id == 1 ? "row 1: numRowsAffected() is -1" : "row 2: numRowsAffected() is -1",
              insert.numRowsAffected() == -1, QString::number(insert.numRowsAffected()));
    }
    check("two rows inserted", countRows(db) == 2, QString::number(countRows(db)));
    // A bound null string is written as an empty one; NULL comes from SQL.
    check("set nulls", exec(q, QStringLiteral("UPDATE live_items SET code = NULL, bytes = NULL WHERE id = 2")));

    QSqlQuery select(db);
    select.setForwardOnly(false);
    check("select",
          select.exec(QStringLiteral("SELECT id, name, code, big, ratio, flag, stamp, day, bytes FROM live_items ORDER BY id")),
          select.lastError().text());
    check("row 1 is there", select.next());
    checkValue("id", select.value(0), 1);
    checkValue("nvarchar with non-ASCII text", select.value(1), rows[0].name);
    checkValue("varchar", select.value(2), rows[0].code);
    checkValue("bigint beyond a double's precision", select.value(3), rows[0].big);
    checkValue("float", select.value(4), rows[0].ratio);
    checkValue("bit", select.value(5), rows[0].flag);
    checkValue("datetime2 with milliseconds", select.value(6), rows[0].stamp);
    checkValue("date (a date-time at midnight)", select.value(7), rows[0].day);
    checkValue("varbinary with high bytes", select.value(8), rows[0].bytes);
    check("row 2 is there", select.next());
    checkValue("empty nvarchar is not null", select.value(1), QString(""));
    check("null varchar reads as a null string", select.value(2).isNull(), describe(select.value(2)));
    checkValue("negative bigint", select.value(3), qlonglong(-42));
    checkValue("negative fraction", select.value(4), -0.125);
    checkValue("false bit", select.value(5), false);
    checkValue("datetime2 at midnight", select.value(6), rows[1].stamp);
    check("null varbinary reads as null bytes", select.value(8).isNull(), describe(select.value(8)));
    check("no third row", !select.next());
    // The client cursor: scrolling back and the row count.
    check("scroll back to the first row", select.first() && select.value(0).toInt() == 1);
    check("size is the row count", select.size() == 2, QString::number(select.size()));
    select.finish();

    // A transaction rolled back leaves nothing behind; a committed one stays.
    check("begin transaction", db.transaction(), db.lastError().text());
    QSqlQuery inTransaction(db);
    check("insert inside the transaction",
          exec(inTransaction, QStringLiteral("INSERT INTO live_items (id, name) VALUES (3, N'gone')")));
    check("row visible inside the transaction", countRows(db) == 3, QString::number(countRows(db)));
    check("rollback", db.rollback(), db.lastError().text());
    check("rolled-back row is gone", countRows(db) == 2, QString::number(countRows(db)));
    check("begin second transaction", db.transaction(), db.lastError().text());
    check("insert inside the second transaction",
          exec(inTransaction, QStringLiteral("INSERT INTO live_items (id, name) VALUES (4, N'kept')")));
    check("commit", db.commit(), db.lastError().text());
    check("committed row stays", countRows(db) == 3, QString::number(countRows(db)));

    // The catalogue.
    const QStringList tables = db.tables(QSql::Tables);
    check("tables() lists the table", tables.contains(QStringLiteral("live_items"), Qt::CaseInsensitive),
          tables.join(QLatin1Char(',')));
    const QSqlRecord record = db.record(QStringLiteral("live_items"));
    QStringList names;
    for (int i = 0; i < record.count(); ++i)
        names << record.fieldName(i);
    check("record() names every column in order",
          names == QStringList({"id", "name", "code", "big", "ratio", "flag", "stamp", "day", "bytes"}),
          names.join(QLatin1Char(',')));
    QStringList types;
    for (int i = 0; i < record.count(); ++i)
        types << QString::fromLatin1(QVariant::typeToName(record.field(i).type()));
    check("record() types: int, string, string, long long, double, bool, date-time (twice), bytes",
          types == QStringList({"int", "QString", "QString", "qlonglong", "double", "bool", "QDateTime", "QDateTime",
                                "QByteArray"}),
          types.join(QLatin1Char(',')));
    const QSqlIndex key = db.primaryIndex(QStringLiteral("live_items"));
    check("primaryIndex() is the id column", key.count() == 1 && key.fieldName(0) == QLatin1String("id"),
          QString::number(key.count()));

    // The server's own error text reaches the application.
    QSqlQuery bad(db);
    check("a bad statement fails", !bad.exec(QStringLiteral("SELECT * FROM no_such_table")));
    check("with the server's message", bad.lastError().databaseText().contains(QLatin1String("no_such_table")),
          bad.lastError().databaseText());

    exec(q, QStringLiteral("DROP TABLE live_items"));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString host;
    QString provider;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--host"))
            host = args[i + 1];
        else if (args[i] == QLatin1String("--provider"))
            provider = args[i + 1];
    }

#ifdef RZ_LIVESESSION_STARTS_SERVER
    std::unique_ptr<rztest::TestServer> server;
    if (host.isEmpty()) {
        host = QStringLiteral("127.0.0.160");
        server = std::make_unique<rztest::TestServer>(host.toStdString());
        if (!server->running()) {
            std::printf("FAIL the test server did not start\n0 passed, 1 failed\n");
            return 1;
        }
    }
#endif
    if (host.isEmpty())
        host = QStringLiteral("127.0.0.1");

    check("the plug-in is loaded", QSqlDatabase::drivers().contains(QStringLiteral("REZUVEDOV")),
          QSqlDatabase::drivers().join(QLatin1Char(',')));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("REZUVEDOV"), QStringLiteral("live"));
        db.setHostName(host);
        db.setDatabaseName(QStringLiteral("testdb"));
        db.setUserName(QStringLiteral("sa"));
        db.setPassword(QStringLiteral("Secret123"));
        if (!provider.isEmpty())
            db.setConnectOptions(QStringLiteral("provider=") + provider);
        const bool open = db.open();
        check("open", open, db.lastError().text());
        if (open)
            runSession(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("live"));

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
