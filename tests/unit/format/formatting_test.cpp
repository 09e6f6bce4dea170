// SQL Server literals and quoted names as Qt's statement generators get them.

#include "driver/rezuvedovdriver.h"
#include "qtcompat/qtcompat.h"

#include <QtCore/QDateTime>
#include <QtSql/QSqlField>

#include <gtest/gtest.h>

namespace {

QSqlField field(QMetaType::Type type, const QVariant &value)
{
    QSqlField f = rz::makeField(QStringLiteral("f"), type);
    f.setValue(value);
    return f;
}

class Formatting : public ::testing::Test
{
protected:
    QString format(QMetaType::Type type, const QVariant &value, bool trim = false)
    {
        return driver.formatValue(field(type, value), trim);
    }
    QString escape(const QString &name, QSqlDriver::IdentifierType type = QSqlDriver::TableName)
    {
        return driver.escapeIdentifier(name, type);
    }
    REzuVEDOVDriver driver;
};

TEST_F(Formatting, TextBecomesANationalLiteralWithQuotesDoubled)
{
    EXPECT_EQ(format(QMetaType::QString, QStringLiteral("it's")), QStringLiteral("N'it''s'"));
    EXPECT_EQ(format(QMetaType::QString, QStringLiteral("''")), QStringLiteral("N''''''"));
    // The null state of a text field is not consulted.
    EXPECT_EQ(driver.formatValue(rz::makeField(QStringLiteral("f"), QMetaType::QString)),
              QStringLiteral("N''"));
    EXPECT_EQ(format(QMetaType::QString, QStringLiteral("\u00e9\u4e2d")),
              QStringLiteral("N'\u00e9\u4e2d'"));
}

TEST_F(Formatting, TrimmingRemovesTrailingWhiteSpaceOnly)
{
    EXPECT_EQ(format(QMetaType::QString, QStringLiteral("  abc   "), false),
              QStringLiteral("N'  abc   '"));
    EXPECT_EQ(format(QMetaType::QString, QStringLiteral("  abc \t\n"), true),
              QStringLiteral("N'  abc'"));
    EXPECT_EQ(format(QMetaType::QString, QStringLiteral("   "), true), QStringLiteral("N''"));
}

TEST_F(Formatting, IntegersAndBooleans)
{
    EXPECT_EQ(format(QMetaType::Int, QVariant(true)), QStringLiteral("1"));
    EXPECT_EQ(format(QMetaType::UInt, QVariant(false)), QStringLiteral("0"));
    EXPECT_EQ(format(QMetaType::Int, 42), QStringLiteral("42"));
    EXPECT_EQ(format(QMetaType::Int, -7), QStringLiteral("-7"));
    EXPECT_EQ(format(QMetaType::UInt, 4000000000u), QStringLiteral("4000000000"));
    EXPECT_EQ(format(QMetaType::Int, QVariant()), QStringLiteral("NULL"));
}

TEST_F(Formatting, TimeTextInADateTimeFieldLandsOnTheEpochDate)
{
    const QString expected = QLatin1Char('\'')
        + QDateTime(QDateTime::fromSecsSinceEpoch(0).date(), QTime(13, 14, 15, 678)).toString(Qt::ISODate)
        + QLatin1Char('\'');
    EXPECT_EQ(format(QMetaType::QDateTime, QStringLiteral("13:14:15.678")), expected);
    // A real date-time is left to Qt's own formatting.
    const QDateTime dt(QDate(2020, 5, 6), QTime(7, 8, 9));
    EXPECT_EQ(format(QMetaType::QDateTime, dt),
              driver.QSqlDriver::formatValue(field(QMetaType::QDateTime, dt)));
}

TEST_F(Formatting, ByteArraysAreReadAsUtf16Text)
{
    EXPECT_EQ(format(QMetaType::QByteArray, QByteArray("A\0B\0", 4)), QStringLiteral("N'AB'"));
    EXPECT_EQ(format(QMetaType::QByteArray, QByteArray("A\0B\0C", 5)), QStringLiteral("N'AB'"));
    EXPECT_EQ(format(QMetaType::QByteArray, QByteArray("'\0 \0", 4), true), QStringLiteral("N''''"));
}

TEST_F(Formatting, OtherTypesAreFormattedAsQtDoes)
{
    for (const QSqlField &f : {field(QMetaType::Double, 2.5), field(QMetaType::Bool, true),
                               field(QMetaType::LongLong, Q_INT64_C(9000000000)),
                               field(QMetaType::QDate, QDate(2021, 1, 2)),
                               field(QMetaType::QTime, QTime(1, 2, 3))})
        EXPECT_EQ(driver.formatValue(f), driver.QSqlDriver::formatValue(f)) << rz::typeId(f);
}

TEST_F(Formatting, IdentifiersAreQuotedPartByPart)
{
    EXPECT_EQ(escape(QStringLiteral("Orders")), QStringLiteral("\"Orders\""));
    EXPECT_EQ(escape(QStringLiteral("dbo.Orders")), QStringLiteral("\"dbo\".\"Orders\""));
    EXPECT_EQ(escape(QStringLiteral("db.dbo.Orders")), QStringLiteral("\"db\".\"dbo\".\"Orders\""));
    EXPECT_EQ(escape(QStringLiteral("my\"table")), QStringLiteral("\"my\"\"table\""));
    EXPECT_EQ(escape(QStringLiteral("dbo.my\"table")), QStringLiteral("\"dbo\".\"my\"\"table\""));
    EXPECT_EQ(escape(QStringLiteral("[Orders]")), QStringLiteral("\"[Orders]\""));
    EXPECT_EQ(escape(QStringLiteral("Orders"), QSqlDriver::FieldName), escape(QStringLiteral("Orders")));
}

TEST_F(Formatting, NamesAlreadyQuotedAtEitherEndAreLeftAlone)
{
    EXPECT_EQ(escape(QString()), QString());
    EXPECT_EQ(escape(QStringLiteral("\"Orders\"")), QStringLiteral("\"Orders\""));
    EXPECT_EQ(escape(QStringLiteral("\"Orders")), QStringLiteral("\"Orders"));
    EXPECT_EQ(escape(QStringLiteral("Orders\"")), QStringLiteral("Orders\""));
}

} // namespace
