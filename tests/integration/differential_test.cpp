// The same values through both backends of the provider, the TDS client and
// FreeTDS's ODBC driver, to one server: what the plug-in hands the
// application (field type code, QVariant type and value) must be the same on
// both and what SQL Server's value gives, for every type and its edge values,
// as a selected literal, as a column, and bound back as a value. A case that
// names a FreeTDS flaw checks the TDS client against SQL Server's value and
// FreeTDS only for still showing the flaw.

#include "livedatabase.h"
#include "qtcompat/qtcompat.h"

#include <QtCore/QDateTime>
#include <QtCore/QMetaType>
#include <QtCore/QStringList>
#include <QtSql/QSqlField>
#include <QtSql/QSqlRecord>

#include <cmath>

namespace {

const auto *const environment = rztest::useLiveServer(QStringLiteral("127.0.0.48"));

struct Case {
    const char *type;            // the column's declared type
    QString literal;             // T-SQL for the value, cast to `type`
    QVariant expected;           // what the application is handed for SQL Server's value
    const char *noRoundTrip;     // why the value read and bound back is not the value, when it is not
    const char *freeTdsFlaw;     // why FreeTDS hands out something else, when it does
};

QDateTime local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::LocalTime);
}

QVariant nullOf(QMetaType::Type type)
{
#ifdef RZ_QT6
    return QVariant(QMetaType(type));
#else
    return QVariant(QVariant::Type(type));
#endif
}

QByteArray guidBytes(const char *hex) { return QByteArray::fromHex(hex); }

const char *const beforeEpoch = "a date-time before 1970 reads as the epoch, which binds as NULL";
const char *const decimalBinding = "a double bound to a decimal parameter goes out as its whole part";
const char *const nullBinding = "a NULL read back binds as 0, an empty string or false";
const char *const binaryBinding = "bytes bound to binary(n)/varbinary(n) must be shorter than n and end at a zero byte";
const char *const guidBinding = "bytes bound to a uniqueidentifier parameter store the zero GUID";
const char *const secondsOnly = "times read in whole seconds";
const char *const millisecondsOnly = "date-times read cut to milliseconds";
const char *const doubleDigits = "a decimal reads as a double, which does not hold 18 digits";
const char *const freeTdsYears = "FreeTDS writes a datetimeoffset's year without leading zeros (strftime's %Y)";
const QVariant refused; // the server refuses the value: both backends report the same error

const QString nonBmp = QString::fromUtf8("\xF0\x9F\x98\x80 \xF0\x90\x8D\x88"); // U+1F600, U+10348

const Case cases[] = {
    {"int", "-2147483648", -2147483647 - 1, nullptr, nullptr},
    {"int", "2147483647", 2147483647, nullptr, nullptr},
    {"int", "NULL", nullOf(QMetaType::Int), nullBinding, nullptr},
    {"smallint", "-32768", -32768, nullptr, nullptr},
    {"smallint", "32767", 32767, nullptr, nullptr},
    {"tinyint", "0", 0, nullptr, nullptr},
    {"tinyint", "255", 255, nullptr, nullptr},
    {"bigint", "-9223372036854775808", QVariant(qlonglong(LLONG_MIN)), nullptr, nullptr},
    {"bigint", "9223372036854775807", QVariant(qlonglong(LLONG_MAX)), nullptr, nullptr},
    {"bit", "1", true, nullptr, nullptr},
    {"bit", "0", false, nullptr, nullptr},
    {"bit", "NULL", false, nullBinding, nullptr},
    {"decimal(38,0)", "99999999999999999999999999999999999999", 1e38, decimalBinding, nullptr},
    {"decimal(38,0)", "-99999999999999999999999999999999999999", -1e38, decimalBinding, nullptr},
    {"decimal(38,38)", "0.99999999999999999999999999999999999999", 1.0, decimalBinding, nullptr},
    {"decimal(38,38)", "-0.00000000000000000000000000000000000001", -1e-38, decimalBinding, nullptr},
    {"numeric(10,2)", "-12.34", -12.34, decimalBinding, nullptr},
    {"numeric(18,0)", "123456789012345678", 123456789012345678.0, doubleDigits, nullptr},
    {"numeric(15,0)", "-999999999999999", -999999999999999.0, nullptr, nullptr},
    {"decimal(10,2)", "NULL", nullOf(QMetaType::LongLong), nullBinding, nullptr},
    {"money", "-922337203685477.5808", QVariant(qlonglong(LLONG_MIN)), nullptr, nullptr},
    {"money", "922337203685477.5807", QVariant(qlonglong(LLONG_MAX)), nullptr, nullptr},
    {"smallmoney", "-214748.3648", QVariant(qlonglong(-2147483647LL - 1)), nullptr, nullptr},
    {"smallmoney", "214748.3647", QVariant(qlonglong(2147483647)), nullptr, nullptr},
    {"float", "1.7976931348623157E+308", 1.7976931348623157e308, nullptr, nullptr},
    {"float", "-2.2250738585072014E-308", -2.2250738585072014e-308, nullptr, nullptr},
    {"real", "3.4028235E+38", QVariant(3.4028235e38f), nullptr, nullptr},
    {"real", "-1.17549435E-38", QVariant(-1.17549435e-38f), nullptr, nullptr},
    {"char(5)", "'ab'", QStringLiteral("ab   "), nullptr, nullptr},
    {"varchar(10)", "''", QString(QLatin1String("")), nullptr, nullptr},
    {"varchar(10)", "NULL", nullOf(QMetaType::QString), nullBinding, nullptr},
    {"varchar(8000)", "REPLICATE('a', 8000)", QString(8000, QLatin1Char('a')), nullptr, nullptr},
    {"varchar(max)", "REPLICATE(CAST('b' AS varchar(max)), 65536)", QByteArray(65536, 'b'), nullptr, nullptr},
    {"varchar(max)", "NULL", nullOf(QMetaType::QByteArray), nullBinding, nullptr},
    {"text", "'caf\xc3\xa9'", QByteArray("caf\xe9"), nullptr, nullptr},
    {"nchar(3)", "N'\xc3\xbc'", QString::fromUtf8("\xc3\xbc  "), nullptr, nullptr},
    {"nvarchar(10)", "N''", QString(QLatin1String("")), nullptr, nullptr},
    {"nvarchar(10)", "N'" + nonBmp + "'", nonBmp, nullptr, nullptr},
    {"nvarchar(4000)", QString::fromUtf8("REPLICATE(N'\xd0\xb6', 4000)"), QString(4000, QChar(0x436)), nullptr, nullptr},
    {"nvarchar(max)", "REPLICATE(CAST(N'" + nonBmp.left(2) + "' AS nvarchar(max)), 16384)", nonBmp.left(2).repeated(16384),
     nullptr, nullptr},
    {"nvarchar(max)", "N''", QString(QLatin1String("")), nullptr, nullptr},
    {"nvarchar(max)", "NULL", QString(QLatin1String("")), nullBinding, nullptr},
    {"ntext", "N'" + nonBmp + "'", nonBmp, nullptr, nullptr},
    {"binary(4)", "0xCAFE", QByteArray::fromHex("cafe0000"), binaryBinding, nullptr},
    {"varbinary(10)", "0x", QByteArray(""), nullptr, nullptr},
    {"varbinary(8000)", "CONVERT(varbinary(8000), REPLICATE('c', 8000))", QByteArray(8000, 'c'), binaryBinding, nullptr},
    {"varbinary(max)", "CONVERT(varbinary(max), REPLICATE(CAST('d' AS varchar(max)), 65536))", QByteArray(65536, 'd'),
     nullptr, nullptr},
    {"varbinary(max)", "NULL", nullOf(QMetaType::QByteArray), nullBinding, nullptr},
    {"image", "0x00FF00", QByteArray::fromHex("00ff00"), nullptr, nullptr},
    {"date", "'0001-01-01'", QDateTime::fromSecsSinceEpoch(0), beforeEpoch, nullptr},
    {"date", "'9999-12-31'", local(9999, 12, 31), nullptr, nullptr},
    {"date", "NULL", nullOf(QMetaType::QDateTime), nullptr, nullptr},
    {"datetime", "'1753-01-01'", QDateTime::fromSecsSinceEpoch(0), beforeEpoch, nullptr},
    {"datetime", "'9999-12-31 23:59:59.997'", local(9999, 12, 31, 23, 59, 59, 997), nullptr, nullptr},
    {"datetime", "'1999-12-31 23:59:58.007'", local(1999, 12, 31, 23, 59, 58, 7), nullptr, nullptr},
    {"datetime", "'2000-01-01 00:00:00.003'", local(2000, 1, 1, 0, 0, 0, 3), nullptr, nullptr},
    {"datetime", "'2000-01-01 00:00:00.999'", local(2000, 1, 1, 0, 0, 1), nullptr, nullptr},
    {"smalldatetime", "'1900-01-01'", QDateTime::fromSecsSinceEpoch(0), beforeEpoch, nullptr},
    {"smalldatetime", "'2079-06-06 23:59'", local(2079, 6, 6, 23, 59), nullptr, nullptr},
    {"smalldatetime", "'2001-02-03 12:34:29.998'", local(2001, 2, 3, 12, 34), nullptr, nullptr},
    {"smalldatetime", "'2001-02-03 12:34:29.999'", local(2001, 2, 3, 12, 35), nullptr, nullptr},
    {"datetime2", "'0001-01-01'", QDateTime::fromSecsSinceEpoch(0), beforeEpoch, nullptr},
    {"datetime2(7)", "'9999-12-31 23:59:59.9999999'", local(9999, 12, 31, 23, 59, 59, 999), millisecondsOnly, nullptr},
    {"datetime2(0)", "'2020-05-06 07:08:09'", local(2020, 5, 6, 7, 8, 9), nullptr, nullptr},
    {"datetime2(3)", "'2020-05-06 07:08:09.001'", local(2020, 5, 6, 7, 8, 9, 1), nullptr, nullptr},
    {"time(0)", "'00:00:00'", QTime(0, 0), nullptr, nullptr},
    {"time(7)", "'23:59:59.9999999'", QTime(23, 59, 59), secondsOnly, nullptr},
    {"time", "NULL", nullOf(QMetaType::QTime), nullptr, nullptr},
    {"datetimeoffset(7)", "'2020-01-02 03:04:05.1234567 +14:00'", QStringLiteral("2020-01-02 03:04:05.1234567 +14:00"),
     nullptr, nullptr},
    {"datetimeoffset(0)", "'0001-01-01 00:00:00 -14:00'", QStringLiteral("0001-01-01 00:00:00 -14:00"), nullptr,
     freeTdsYears},
    {"datetimeoffset(3)", "'9999-12-31 23:59:59.999 +05:30'", QStringLiteral("9999-12-31 23:59:59.999 +05:30"),
     nullptr, nullptr},
    {"datetimeoffset", "NULL", nullOf(QMetaType::QString), nullBinding, nullptr},
    {"uniqueidentifier", "'6F9619FF-8B86-D011-B42D-00C04FC964FF'", guidBytes("ff19966f868b11d0b42d00c04fc964ff"),
     guidBinding, nullptr},
    {"uniqueidentifier", "'FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF'", guidBytes("ffffffffffffffffffffffffffffffff"),
     guidBinding, nullptr},
    {"uniqueidentifier", "NULL", nullOf(QMetaType::QByteArray), nullBinding, nullptr},
    {"int", "'2147483648'", refused, nullptr, nullptr},
    {"decimal(38,1)", "99999999999999999999999999999999999999", refused, nullptr, nullptr},
    {"datetime", "'1752-12-31 23:59:59.998'", refused, nullptr, nullptr},
    {"smalldatetime", "'2079-06-06 23:59:29.999'", refused, nullptr, nullptr},
    // in UTC after 9999-12-31
    {"datetimeoffset(3)", "'9999-12-31 23:59:59.999 -05:30'", refused, nullptr, nullptr},
};

enum Backend { Tds, FreeTds, BackendCount };
enum Stage { Literal, Column, Bound, StageCount };
const char *const backendNames[] = {"TDS client", "FreeTDS"};
const char *const stageNames[] = {"selected literal", "column", "bound and read back"};

struct Reading {
    QVariant value;
    int typeCode = -1;   // QSqlField::typeID(): the OLE DB type
    QString error;       // the database's text of a refusal
    bool found = true;   // WHERE v = ? with the value read found its row
};

QString describe(const QVariant &v)
{
    QString text = v.isNull() ? QStringLiteral("null") : v.toString();
    if (v.userType() == QMetaType::QByteArray && !v.isNull())
        text = QString::fromLatin1(v.toByteArray().left(24).toHex());
    else if (v.userType() == QMetaType::QDateTime && !v.isNull())
        text = v.toDateTime().toString(Qt::ISODateWithMs);
    else if (v.userType() == QMetaType::Double)
        text = QString::number(v.toDouble(), 'g', 17);
    if (text.size() > 48)
        text = text.left(48) + QStringLiteral("... (%1)").arg(text.size());
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(QMetaType(v.userType()).name()), text);
}

QString describe(const Reading &r)
{
    if (!r.error.isEmpty())
        return QStringLiteral("error \"%1\"").arg(r.error);
    return QStringLiteral("%1 (type code %2)%3").arg(describe(r.value)).arg(r.typeCode)
        .arg(r.found ? QString() : QStringLiteral(", and WHERE v = ? misses its row"));
}

// Doubles made from decimals may differ from the compiler's reading of the
// literal in the last place; everything else must be equal.
bool matches(const QVariant &expected, const QVariant &actual)
{
    if (expected.userType() != actual.userType() || expected.isNull() != actual.isNull())
        return false;
    if (expected.userType() == QMetaType::Double && !expected.isNull()) {
        const double e = expected.toDouble(), a = actual.toDouble();
        return e == a || std::fabs(e - a) <= 4e-16 * std::fabs(e);
    }
    if (expected.userType() == QMetaType::QDateTime && !expected.isNull())
        return expected.toDateTime() == actual.toDateTime();
    return expected == actual;
}

bool same(const Reading &a, const Reading &b)
{
    return a.error == b.error && a.typeCode == b.typeCode && a.found == b.found && matches(a.value, b.value);
}

bool comparable(const char *type)
{
    const QString t = QString::fromLatin1(type);
    return !t.startsWith(QLatin1String("text")) && !t.startsWith(QLatin1String("ntext"))
        && !t.startsWith(QLatin1String("image"));
}

class DifferentialTest : public rztest::LiveDatabaseTest
{
protected:
    static Reading run(QSqlDatabase connection, const QString &sql, const QVariantList &values = {})
    {
        Reading r;
        QSqlQuery query(connection);
        bool ok = query.prepare(sql);
        for (const QVariant &v : values)
            query.addBindValue(v);
        if (!ok || !query.exec()) {
            r.error = query.lastError().databaseText();
            if (r.error.isEmpty())
                r.error = QStringLiteral("(none) ") + query.lastError().text();
            return r;
        }
        if (query.next()) {
            r.value = query.value(0);
            r.typeCode = query.record().field(0).typeID();
        } else if (query.lastError().isValid()) {
            r.error = query.lastError().databaseText();
        }
        return r;
    }

    // The value through one backend at every stage, in rows backend * 10 + 1
    // (from the literal) and backend * 10 + 2 (bound) of the case's table.
    static void read(QSqlDatabase connection, int backend, const Case &c, Reading (&out)[StageCount])
    {
        const QString cast = QStringLiteral("CAST(%1 AS %2)").arg(c.literal, QString::fromLatin1(c.type));
        const int fromLiteral = backend * 10 + 1, fromBound = backend * 10 + 2;
        out[Literal] = run(connection, QStringLiteral("SELECT ") + cast);
        out[Column] = run(connection, QStringLiteral("INSERT INTO diff_values VALUES (%1, %2)").arg(fromLiteral).arg(cast));
        if (out[Column].error.isEmpty())
            out[Column] = run(connection, QStringLiteral("SELECT v FROM diff_values WHERE id = %1").arg(fromLiteral));
        if (!out[Column].error.isEmpty())
            return;
        out[Bound] = run(connection, QStringLiteral("INSERT INTO diff_values VALUES (%1, ?)").arg(fromBound),
                         {out[Column].value});
        if (!out[Bound].error.isEmpty())
            return;
        out[Bound] = run(connection, QStringLiteral("SELECT v FROM diff_values WHERE id = %1").arg(fromBound));
        // NULL equals nothing; text, ntext and image cannot be compared at all.
        if (comparable(c.type) && !c.noRoundTrip && !out[Column].value.isNull()) {
            const Reading count = run(connection, QStringLiteral("SELECT COUNT(*) FROM diff_values WHERE id = %1 AND v = ?")
                                                      .arg(fromLiteral), {out[Column].value});
            out[Bound].found = count.error.isEmpty() && count.value.toInt() == 1;
        }
    }

    // What is wrong with one backend's reading at one stage; empty when nothing.
    static QString fault(const Case &c, const Reading (&readings)[BackendCount][StageCount], int backend, int stage)
    {
        const Reading &r = readings[backend][stage];
        const Reading &tds = readings[Tds][stage];
        if (!c.expected.isValid()) {
            if (stage == Bound)
                return QString();
            if (r.error.isEmpty())
                return describe(r) + QStringLiteral(", not a refusal");
            return r.error == tds.error ? QString() : describe(r) + QStringLiteral(", not ") + describe(tds);
        }
        if (stage != Bound) {
            if (!r.error.isEmpty() || !matches(c.expected, r.value) || r.typeCode != tds.typeCode)
                return describe(r) + QStringLiteral(", not ") + describe(c.expected);
            return QString();
        }
        // Bound back: the value read again (where the plug-in promises it), the same on both backends.
        const Reading &column = readings[backend][Column];
        if (!c.noRoundTrip && (!r.error.isEmpty() || !r.found || !matches(column.value, r.value)))
            return describe(r) + QStringLiteral(", not ") + describe(column.value);
        if (backend != Tds && !same(r, tds))
            return describe(r) + QStringLiteral(", not as the TDS client: ") + describe(tds);
        return QString();
    }
};

TEST_F(DifferentialTest, BothBackendsHandOutSqlServersValuesOfEveryType)
{
    QSqlDatabase backends[BackendCount] = {connect(QStringLiteral("provider=SQLOLEDB")),
                                          connect(QStringLiteral("provider=rzfreetds"))};
    for (int b = 0; b < BackendCount; ++b)
        ASSERT_TRUE(backends[b].isOpen()) << backendNames[b] << ": " << backends[b].lastError().text().toStdString();

    QStringList differences;
    for (const Case &c : cases) {
        createTable(QStringLiteral("diff_values"), QStringLiteral("id int, v %1").arg(QString::fromLatin1(c.type)));
        Reading readings[BackendCount][StageCount];
        for (int b = 0; b < BackendCount; ++b)
            read(backends[b], b, c, readings[b]);

        const QString name = QStringLiteral("%1 %2").arg(QString::fromLatin1(c.type), c.literal.left(60));
        bool freeTdsShowsItsFlaw = false;
        for (int s = 0; s < StageCount; ++s) {
            for (int b = 0; b < BackendCount; ++b) {
                const QString what = fault(c, readings, b, s);
                if (b == FreeTds && c.freeTdsFlaw)
                    freeTdsShowsItsFlaw = freeTdsShowsItsFlaw || !what.isEmpty();
                else if (!what.isEmpty())
                    differences << QStringLiteral("%1, %2 (%3): %4").arg(name, QString::fromLatin1(stageNames[s]),
                                                                          QString::fromLatin1(backendNames[b]), what);
            }
        }
        if (c.freeTdsFlaw && !freeTdsShowsItsFlaw)
            differences << name + QStringLiteral(": FreeTDS no longer shows its listed flaw (")
                               + QString::fromLatin1(c.freeTdsFlaw) + QLatin1Char(')');
    }
    EXPECT_TRUE(differences.isEmpty()) << differences.size() << " differences:\n"
                                       << differences.join(QLatin1Char('\n')).toStdString();
}

} // namespace
