// The SQL text of QSqlDriver::sqlStatement() run on the server with the
// values it was given. QSqlTableModel's editing through the driver is Qt's
// own qsqltablemodel suite's (tests/qt-autotests).

#include "livedatabase.h"

#include <QtSql/QSqlDriver>
#include <QtSql/QSqlRecord>

namespace {

const auto *const environment = rztest::useLiveServer(QStringLiteral("127.0.0.45"));

using GeneratedStatementsTest = rztest::LiveDatabaseTest;

TEST_F(GeneratedStatementsTest, GeneratedLiteralsStoreTheValuesUnchanged)
{
    createTable(QStringLiteral("tm_values"),
                QStringLiteral("id int PRIMARY KEY, txt nvarchar(60), num int, flag bit, raw nvarchar(20)"));
    const QSqlDriver *driver = db.driver();
    QSqlRecord record = db.record(QStringLiteral("tm_values"));
    ASSERT_EQ(record.count(), 5);
    const QString tricky = QStringLiteral("it's \"quoted\"; -- not a comment 'x' ünïcödé  ");
    record.setValue(QStringLiteral("id"), 1);
    record.setValue(QStringLiteral("txt"), tricky);
    record.setValue(QStringLiteral("num"), -2147483647);
    record.setValue(QStringLiteral("flag"), true);
    // A byte array in a text column is taken as UTF-8 text.
    record.setValue(QStringLiteral("raw"), QByteArray("bytes 'q' \xc3\xbc"));

    const QString insert = driver->sqlStatement(QSqlDriver::InsertStatement, QStringLiteral("tm_values"),
                                                record, false);
    run(insert);

    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT txt, num, flag, raw FROM tm_values WHERE id = 1")));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toString(), tricky); // trailing blanks kept: no trimming
    EXPECT_EQ(query.value(1).toInt(), -2147483647);
    EXPECT_TRUE(query.value(2).toBool());
    EXPECT_EQ(query.value(3).toString(), QStringLiteral("bytes 'q' ü"));

    // UPDATE ... WHERE on the same kinds of values.
    QSqlRecord changes = db.record(QStringLiteral("tm_values"));
    changes.setValue(QStringLiteral("txt"), QStringLiteral("O'Hara's"));
    changes.setValue(QStringLiteral("num"), 7);
    changes.setValue(QStringLiteral("flag"), false);
    changes.remove(changes.indexOf(QStringLiteral("raw")));
    changes.remove(changes.indexOf(QStringLiteral("id")));
    QSqlRecord where = record; // the values inserted, less the UTF-8 bytes
    where.remove(where.indexOf(QStringLiteral("raw")));
    const QString update = driver->sqlStatement(QSqlDriver::UpdateStatement, QStringLiteral("tm_values"),
                                                changes, false)
                           + QLatin1Char(' ')
                           + driver->sqlStatement(QSqlDriver::WhereStatement, QStringLiteral("tm_values"),
                                                  where, false);
    QSqlQuery change(db);
    ASSERT_TRUE(change.exec(update)) << update.toStdString() << change.lastError().text().toStdString();
    EXPECT_EQ(rztest::ResultCount::rowsAffected(change), 1) << update.toStdString();
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT txt, num, flag FROM tm_values WHERE id = 1")));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toString(), QStringLiteral("O'Hara's"));
    EXPECT_EQ(query.value(1).toInt(), 7);
    EXPECT_FALSE(query.value(2).toBool());

    // DELETE ... WHERE with the new values finds the row again.
    where.setValue(QStringLiteral("txt"), QStringLiteral("O'Hara's"));
    where.setValue(QStringLiteral("num"), 7);
    where.setValue(QStringLiteral("flag"), false);
    const QString remove = driver->sqlStatement(QSqlDriver::DeleteStatement, QStringLiteral("tm_values"),
                                                QSqlRecord(), false)
                           + QLatin1Char(' ')
                           + driver->sqlStatement(QSqlDriver::WhereStatement, QStringLiteral("tm_values"),
                                                  where, false);
    run(remove);
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM tm_values")).toInt(), 0);
}

} // namespace
