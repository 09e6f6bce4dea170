// Two queries at once through QSqlQuery on a default (scrollable)
// connection and on a "big query=" (streaming) one. Each move, count and
// error, and the last identity beside a half-read result, are checked
// against scripted rowsets (tests/unit/result, tests/unit/clientcursor), the
// provider's client cursor against the server (tests/provider), and every
// move through this plug-in by Qt's own qsqlquery suite (tests/qt-autotests).

#include "livedatabase.h"

namespace {

const auto *const environment = rztest::useLiveServer(QStringLiteral("127.0.0.41"));

constexpr int rowCount = 1000;

class QueriesTest : public rztest::LiveDatabaseTest
{
protected:
    // rows(id int, label nvarchar(20)) holding ids 0..999 with labels "row <id>".
    void createRows()
    {
        createTable(QStringLiteral("rows"), QStringLiteral("id int PRIMARY KEY, label nvarchar(20)"));
        QStringList values;
        for (int id = 0; id < rowCount; ++id)
            values << QStringLiteral("(%1, N'row %1')").arg(id);
        run(QStringLiteral("INSERT INTO rows VALUES ") + values.join(QLatin1Char(',')));
    }

    static QString allRows() { return QStringLiteral("SELECT id, label FROM rows ORDER BY id"); }
};

TEST_F(QueriesTest, SecondQueryRunsWhileTheFirstIsHalfRead)
{
    createRows();
    for (const QString &options : {QString(), QStringLiteral("big query=")}) {
        SCOPED_TRACE(options.toStdString());
        QSqlDatabase connection = options.isEmpty() ? db : connect(options);
        ASSERT_TRUE(connection.isOpen());
        QSqlQuery first(connection);
        first.setForwardOnly(true);
        ASSERT_TRUE(first.exec(allRows()));
        for (int id = 0; id < 100; ++id)
            ASSERT_TRUE(first.next());

        QSqlQuery second(connection);
        ASSERT_TRUE(second.exec(QStringLiteral("SELECT label FROM rows WHERE id = 777")))
            << second.lastError().text().toStdString();
        ASSERT_TRUE(second.next());
        EXPECT_EQ(second.value(0).toString(), QStringLiteral("row 777"));
        QSqlQuery update(connection);
        ASSERT_TRUE(update.prepare(QStringLiteral("UPDATE rows SET label = ? WHERE id = ?")));
        update.addBindValue(QStringLiteral("updated"));
        update.addBindValue(998);
        ASSERT_TRUE(update.exec()) << update.lastError().text().toStdString();

        int id = 100;
        while (first.next()) {
            ASSERT_EQ(first.value(0).toInt(), id);
            ++id;
        }
        EXPECT_EQ(id, rowCount);
        EXPECT_FALSE(first.lastError().isValid()) << first.lastError().text().toStdString();
        run(QStringLiteral("UPDATE rows SET label = N'row 998' WHERE id = 998"));
    }
}

} // namespace
