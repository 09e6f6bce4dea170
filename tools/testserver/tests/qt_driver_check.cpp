// Runs one of Qt's drivers on FreeTDS (QODBC or QTDS) against a test server,
// forward-only and scrollable, and exits non-zero when an answer is not the
// expected one.
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlField>
#include <QSqlRecord>
#include <QVariant>
#include <cstdio>

#include "qtcompat/qtcompat.h"

namespace {

int failures = 0;

void check(bool ok, const char *what, const QString &detail = QString())
{
    std::printf("%s %s %s\n", ok ? "ok  " : "FAIL", what, qPrintable(detail));
    if (!ok)
        ++failures;
}

bool exec(QSqlQuery &query, const QString &sql)
{
    const bool ok = query.exec(sql);
    if (!ok)
        std::printf("     error in \"%s\": %s\n", qPrintable(sql), qPrintable(query.lastError().text()));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString host = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("127.0.0.10");
    const QString driver = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("QODBC");
    const bool odbc = driver == QStringLiteral("QODBC");
    QSqlDatabase db = QSqlDatabase::addDatabase(driver);
    if (odbc) {
        db.setDatabaseName(QStringLiteral("DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so;SERVER=%1;"
                                          "PORT=1433;UID=sa;PWD=Secret123;DATABASE=testdb;TDS_Version=7.4;"
                                          "ClientCharset=UTF-8;Encryption=off").arg(host));
    } else {
        db.setHostName(host);
        db.setDatabaseName(QStringLiteral("testdb"));
        db.setUserName(QStringLiteral("sa"));
        db.setPassword(QStringLiteral("Secret123"));
    }
    const QString table = QStringLiteral("qt_items_") + driver.toLower();
    if (!db.open()) {
        std::printf("FAIL open: %s\n", qPrintable(db.lastError().text()));
        return 1;
    }

    QSqlQuery forward(db);
    forward.setForwardOnly(true);
    check(exec(forward, QStringLiteral("CREATE TABLE %1 (id int IDENTITY(1,1) PRIMARY KEY, "
                                       "name varchar(20) NOT NULL, amount decimal(10,2), at datetime)")
                            .arg(table)),
          "create table");
    QSqlQuery insert(db);
    insert.setForwardOnly(true);
    check(insert.prepare(QStringLiteral("INSERT INTO %1 (name, amount, at) VALUES (?, ?, ?)").arg(table)), "prepare");
    const char *names[] = {"alpha", "beta", "gamma", "delta"};
    for (int i = 0; i < 4; ++i) {
        insert.addBindValue(QString::fromLatin1(names[i]));
        insert.addBindValue(i == 1 ? rz::nullValue(QMetaType::Double) : QVariant(1.25 * (i + 1)));
        insert.addBindValue(QVariant(QStringLiteral("2024-01-0%1 10:00:00").arg(i + 1)));
        check(insert.exec(), "insert", insert.lastError().text());
    }
    check(exec(forward, QStringLiteral("SELECT id, name, amount FROM %1 ORDER BY id").arg(table)), "select forward");
    QStringList seen;
    while (forward.next())
        seen << QStringLiteral("%1:%2:%3").arg(forward.value(0).toInt()).arg(
            forward.value(1).toString(),
            forward.value(2).isNull() ? QStringLiteral("NULL") : QString::number(forward.value(2).toDouble()));
    check(seen.join(QLatin1Char(' ')) == QStringLiteral("1:alpha:1.25 2:beta:NULL 3:gamma:3.75 4:delta:5"),
          "forward rows", seen.join(QLatin1Char(' ')));

    QSqlQuery scroll(db);      // scrollable: QODBC asks FreeTDS for a static cursor
    check(exec(scroll, QStringLiteral("SELECT name FROM %1 ORDER BY id").arg(table)), "select scrollable");
    check(scroll.last() && scroll.value(0).toString() == QStringLiteral("delta"), "last",
          scroll.value(0).toString());
    check(scroll.first() && scroll.value(0).toString() == QStringLiteral("alpha"), "first",
          scroll.value(0).toString());
    check(scroll.seek(2) && scroll.value(0).toString() == QStringLiteral("gamma"), "seek(2)",
          scroll.value(0).toString());
    check(scroll.previous() && scroll.value(0).toString() == QStringLiteral("beta"), "previous",
          scroll.value(0).toString());
    check(!scroll.seek(10), "seek past the end");

    QSqlQuery params(db);
    check(params.prepare(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE amount > ?").arg(table)), "prepare count");
    params.addBindValue(2.0);
    check(params.exec() && params.next() && params.value(0).toInt() == 2, "scrollable with parameter",
          params.value(0).toString());

    QSqlQuery failing(db);
    check(!failing.exec(QStringLiteral("SELECT * FROM qt_missing")), "error reported");
    if (odbc) {
        check(failing.lastError().nativeErrorCode() == QStringLiteral("208"), "native error 208",
              failing.lastError().nativeErrorCode());
    }
    check(db.tables().contains(table), "tables()", db.tables().join(QLatin1Char(',')));
    const QSqlRecord record = db.record(table);
    // QODBC reports a decimal's scale as the precision, QTDS its total digits
    check(record.count() == 4 && record.fieldName(1) == QStringLiteral("name")
              && record.field(2).precision() == (odbc ? 2 : 10),
          "record()", QStringLiteral("%1 fields").arg(record.count()));
    const QSqlIndex key = db.primaryIndex(table);
    check(key.count() == 1 && key.fieldName(0) == QStringLiteral("id"), "primaryIndex()", key.fieldName(0));

    db.close();
    std::printf("%d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
