// Long values of megabytes written through prepared INSERTs and read back
// whole through QSqlQuery. Every type's value, type code and NULL is checked
// on both backends by the differential test and the catalogue test.

#include "livedatabase.h"

#include <QtCore/QMetaType>

namespace {

const auto *const environment = rztest::useLiveServer(QStringLiteral("127.0.0.40"));

using TypesTest = rztest::LiveDatabaseTest;

// Runs `sql` with `values` bound in order and fails the test if it is refused.
void execPrepared(QSqlDatabase db, const QString &sql, const QVariantList &values)
{
    QSqlQuery insert(db);
    ASSERT_TRUE(insert.prepare(sql)) << insert.lastError().text().toStdString();
    for (const QVariant &value : values)
        insert.addBindValue(value);
    ASSERT_TRUE(insert.exec()) << insert.lastError().text().toStdString();
}

TEST_F(TypesTest, LongValuesOfMegabytesRoundTripWhole)
{
    createTable(QStringLiteral("longs"),
                QStringLiteral("id int, nv nvarchar(max), vb varbinary(max), vc varchar(max)"));
    QString text;
    text.reserve(70000);
    for (int i = 0; i < 70000; ++i)
        text.append(QChar(0x430 + i % 32)); // Cyrillic, two bytes each in UTF-16
    QByteArray blob(5 * 1024 * 1024, '\0');
    for (int i = 0; i < blob.size(); ++i)
        blob[i] = char((i * 7 + i / 65536) & 0xff);
    const QByteArray narrow = QByteArray(20000, 'x') + QByteArray("end");

    execPrepared(db, QStringLiteral("INSERT INTO longs (id, nv) VALUES (?, ?)"), {1, text});
    execPrepared(db, QStringLiteral("INSERT INTO longs (id, vb) VALUES (?, ?)"), {2, blob});
    // Two long values in one statement share one stream, one after the other.
    execPrepared(db, QStringLiteral("INSERT INTO longs (id, nv, vc) VALUES (?, ?, ?)"),
                 {3, text.left(12345), QString::fromLatin1(narrow)});

    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT id, nv, vb, vc FROM longs ORDER BY id")));
    ASSERT_TRUE(query.next()) << query.lastError().text().toStdString();
    EXPECT_EQ(query.value(1).userType(), QMetaType::QString);
    EXPECT_TRUE(query.value(1).toString() == text);
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(2).toByteArray().size(), blob.size());
    EXPECT_TRUE(query.value(2).toByteArray() == blob);
    ASSERT_TRUE(query.next());
    EXPECT_TRUE(query.value(1).toString() == text.left(12345));
    EXPECT_EQ(query.value(3).toByteArray(), narrow);
    // A value read once stays cached for the row: the stream is not read twice.
    EXPECT_EQ(query.value(3).toByteArray(), narrow);
    EXPECT_EQ(scalar(QStringLiteral("SELECT DATALENGTH(vb) FROM longs WHERE id = 2")).toLongLong(),
              blob.size());
}

} // namespace
