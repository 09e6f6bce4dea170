// Bound values as the provider receives them: the parameter buffer's
// layout, the long values' shared stream, and the per-value conversions.

#include "resultfixture.h"
#include "qtcompat/qtcompat.h"

#include <QtCore/QDateTime>
#include <QtSql/QSqlError>

#include <cstring>

namespace {

using namespace rztest;

class Parameters : public ResultTest
{
protected:
    // Prepares `text` with these parameter descriptions, binds `values` and
    // executes; the execution the provider received.
    const ReceivedExecution &run(QSqlQuery &q, std::vector<ScriptedParameter> params,
                                 const QVariantList &values)
    {
        command().parameters = std::move(params);
        command().returnsRowset = false;
        EXPECT_TRUE(q.prepare("EXEC p ?")) << q.lastError().text().toStdString();
        for (const QVariant &v : values)
            q.addBindValue(v);
        EXPECT_TRUE(q.exec()) << q.lastError().text().toStdString();
        static const ReceivedExecution none;
        return log().executions.empty() ? none : log().executions.back();
    }

    static std::string valuePart(const ReceivedExecution &e, size_t i, size_t n)
    {
        return e.buffer.substr(e.bindings.at(i).obValue, n);
    }
    static DBSTATUS statusOf(const ReceivedExecution &e, size_t i)
    {
        return bytesAt<DBSTATUS>(e.buffer, e.bindings.at(i).obStatus);
    }
    static DBLENGTH lengthOf(const ReceivedExecution &e, size_t i)
    {
        return bytesAt<DBLENGTH>(e.buffer, e.bindings.at(i).obLength);
    }
};

template <class T>
std::string raw(const T &value)
{
    return std::string(reinterpret_cast<const char *>(&value), sizeof value);
}

std::string utf16(const QString &text)
{
    return std::string(reinterpret_cast<const char *>(text.utf16()), size_t(text.size()) * 2);
}

TEST_F(Parameters, TheBufferHoldsValueLengthAndStatusOfEveryParameterInItsPlace)
{
    QSqlQuery q = query();
    const QString longText = QString(9000, QChar(u'\u00e9'));
    const QByteArray longBytes(20000, '\x5a');
    const ReceivedExecution &e = run(q,
        {{"@P1", DBTYPE_I4, 4},
         {"@P2", DBTYPE_WSTR, 10},
         {"@P3", DBTYPE_WSTR, ~DBLENGTH(0)},
         {"@P4", DBTYPE_BYTES, 100000},
         {"@P5", DBTYPE_STR, 5, DBPARAMFLAGS_ISINPUT | DBPARAMFLAGS_ISOUTPUT}},
        {7, QString("hello"), longText, longBytes, QString("xy")});
    ASSERT_EQ(e.bindings.size(), 5u);
    EXPECT_EQ(log().count("Command.CreateAccessor(4,5,132)"), 1) << "parameter data, 132 bytes";
    EXPECT_EQ(e.buffer.size(), 132u);

    struct Expected { DBBYTEOFFSET value, length, status; DBLENGTH max; DBTYPE type; };
    const Expected expected[] = {{0, 8, 16, 4, DBTYPE_I4},
                                 {20, 48, 56, 22, DBTYPE_WSTR},
                                 {64, 72, 80, 8, DBTYPE_IUNKNOWN},
                                 {88, 96, 104, 8, DBTYPE_IUNKNOWN},
                                 {108, 120, 128, 6, DBTYPE_STR}};
    for (size_t i = 0; i < 5; ++i) {
        const DBBINDING &b = e.bindings[i];
        EXPECT_EQ(b.iOrdinal, i + 1);
        EXPECT_EQ(b.obValue, expected[i].value) << i;
        EXPECT_EQ(b.obLength, expected[i].length) << i;
        EXPECT_EQ(b.obStatus, expected[i].status) << i;
        EXPECT_EQ(b.cbMaxLen, expected[i].max) << i;
        EXPECT_EQ(b.wType, expected[i].type) << i;
        EXPECT_EQ(b.dwPart, DWORD(DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS)) << i;
        EXPECT_EQ(b.dwMemOwner, DWORD(DBMEMOWNER_CLIENTOWNED)) << i;
        EXPECT_EQ(statusOf(e, i), DWORD(DBSTATUS_S_OK)) << i;
    }
    EXPECT_EQ(e.bindings[0].eParamIO, DWORD(DBPARAMIO_INPUT));
    EXPECT_EQ(e.bindings[4].eParamIO, DWORD(DBPARAMIO_INPUT | DBPARAMIO_OUTPUT));

    // Long values: one stream object, each parameter with its own bytes.
    EXPECT_TRUE(e.objectInterfaces[2] == IID_ISequentialStream);
    EXPECT_TRUE(e.objectInterfaces[3] == IID_ISequentialStream);
    EXPECT_EQ(e.objectFlags[2], DWORD(STGM_READWRITE));
    EXPECT_TRUE(e.objectInterfaces[0] == IID_NULL);
    EXPECT_TRUE(e.sameStream[2]);
    EXPECT_TRUE(e.sameStream[3]);
    EXPECT_EQ(lengthOf(e, 2), 18000u);
    EXPECT_EQ(lengthOf(e, 3), 20000u);
    EXPECT_EQ(e.streams[2], utf16(longText));
    EXPECT_EQ(e.streams[3], longBytes.toStdString());

    EXPECT_EQ(valuePart(e, 0, 4), raw<qint32>(7));
    EXPECT_EQ(valuePart(e, 1, 12), utf16("hello") + std::string(2, '\0'));
    EXPECT_EQ(lengthOf(e, 1), 10u);
    EXPECT_EQ(valuePart(e, 4, 3), std::string("xy\0", 3));
    EXPECT_EQ(lengthOf(e, 4), 2u);
}

struct ConversionCase
{
    const char *name;
    DBTYPE type;
    DBLENGTH size;
    QVariant value;
    std::string valueBytes;
    DBSTATUS status;
    DBLENGTH length;
};

TEST_F(Parameters, EachValueTypeReachesTheProviderAsTheParameterTypeAsks)
{
    DBTIMESTAMP stamp = {2020, 5, 6, 7, 8, 9, 123000000};
    DBTIMESTAMP moonLanding = {1969, 7, 20, 20, 17, 40, 0};
    DBTIMESTAMP fromText = {2020, 5, 6, 7, 8, 9, 0};
    DBTIME time = {7, 8, 9};
    const ConversionCase cases[] = {
        {"int to smallint", DBTYPE_I2, 2, 300, raw<qint16>(300), DBSTATUS_S_OK, 0},
        {"int to tinyint keeps the low byte", DBTYPE_UI1, 1, 300, raw<quint8>(44), DBSTATUS_S_OK, 0},
        {"bool to bit", DBTYPE_BOOL, 2, true, raw<qint16>(1), DBSTATUS_S_OK, 0},
        {"int to int", DBTYPE_I4, 4, -5, raw<qint32>(-5), DBSTATUS_S_OK, 0},
        {"int to bigint writes 32 bits", DBTYPE_I8, 8, -5, raw<qint32>(-5) + std::string(4, '\0'), DBSTATUS_S_OK, 0},
        {"uint", DBTYPE_I8, 8, QVariant(4000000000u), raw<quint32>(4000000000u), DBSTATUS_S_OK, 0},
        {"longlong", DBTYPE_I8, 8, QVariant(qlonglong(1) << 40), raw<qint64>(qint64(1) << 40), DBSTATUS_S_OK, 0},
        {"longlong into an int keeps its low half", DBTYPE_I4, 4, QVariant(qlonglong(70000)), raw<qint32>(70000), DBSTATUS_S_OK, 0},
        {"longlong to a timestamp is NULL", DBTYPE_DBTIMESTAMP, 16, QVariant(qlonglong(5)), std::string(), DBSTATUS_S_ISNULL, 0},
        {"ulonglong", DBTYPE_I8, 8, QVariant(qulonglong(1) << 63), raw<quint64>(quint64(1) << 63), DBSTATUS_S_OK, 0},
        {"double to float", DBTYPE_R8, 8, 2.5, raw<double>(2.5), DBSTATUS_S_OK, 0},
        {"double to real", DBTYPE_R4, 4, 2.5, raw<float>(2.5f), DBSTATUS_S_OK, 0},
        {"double to int writes nothing", DBTYPE_I4, 4, 2.5, raw<qint32>(0), DBSTATUS_S_OK, 0},
        {"string to varchar", DBTYPE_STR, 10, QString("abc"), std::string("abc\0", 4), DBSTATUS_S_OK, 3},
        {"string to nvarchar", DBTYPE_WSTR, 10, QString("h\u00e9llo"), utf16("h\u00e9llo") + std::string(2, '\0'), DBSTATUS_S_OK, 10},
        {"string of exactly the size fits", DBTYPE_WSTR, 4, QString("abcd"), utf16("abcd"), DBSTATUS_S_OK, 8},
        {"one character more goes out empty", DBTYPE_WSTR, 4, QString("abcde"), std::string(10, '\0'), DBSTATUS_S_OK, 0},
        {"string to bit", DBTYPE_BOOL, 2, QString("true"), raw<qint16>(1), DBSTATUS_S_OK, 0},
        {"string to int keeps one byte", DBTYPE_I4, 4, QString("300"), raw<qint32>(44), DBSTATUS_S_OK, 0},
        {"string to timestamp", DBTYPE_DBTIMESTAMP, 16, QString("2020-05-06T07:08:09"), raw(fromText), DBSTATUS_S_OK, 0},
        {"bytes stop at a zero byte", DBTYPE_BYTES, 10, QByteArray("ab\0cd", 5), std::string("ab\0", 3), DBSTATUS_S_OK, 2},
        {"bytes as long as the parameter go out empty", DBTYPE_BYTES, 3, QByteArray("abc"), std::string(4, '\0'), DBSTATUS_S_OK, 0},
        {"bytes to nvarchar", DBTYPE_WSTR, 10, QByteArray("abc"), utf16("abc"), DBSTATUS_S_OK, 6},
        {"time", DBTYPE_DBTIME, 6, QTime(7, 8, 9), raw(time), DBSTATUS_S_OK, 0},
        {"an invalid time is NULL", DBTYPE_DBTIME, 6, rz::nullValue(QMetaType::QTime), raw(DBTIME{0, 0, 0}), DBSTATUS_S_ISNULL, 0},
        {"date-time with milliseconds", DBTYPE_DBTIMESTAMP, 16,
         QDateTime(QDate(2020, 5, 6), QTime(7, 8, 9, 123)), raw(stamp), DBSTATUS_S_OK, 0},
        {"a date-time before 1970 keeps its fields", DBTYPE_DBTIMESTAMP, 16,
         QDateTime(QDate(1969, 7, 20), QTime(20, 17, 40)), raw(moonLanding), DBSTATUS_S_OK, 0},
        {"the epoch is NULL", DBTYPE_DBTIMESTAMP, 16, QDateTime::fromSecsSinceEpoch(0, Qt::UTC), std::string(), DBSTATUS_S_ISNULL, 0},
        {"an invalid date-time is NULL", DBTYPE_DBTIMESTAMP, 16, rz::nullValue(QMetaType::QDateTime), std::string(), DBSTATUS_S_ISNULL, 0},
        {"a null value to nvarchar is an empty string", DBTYPE_WSTR, 10, QVariant(), std::string(22, '\0'), DBSTATUS_S_OK, 0},
        {"a date is not sent", DBTYPE_DBTIMESTAMP, 16, QDate(2020, 1, 1), std::string(16, '\0'), DBSTATUS_S_OK, 0},
    };
    QSqlQuery q = query();
    for (const ConversionCase &c : cases) {
        const ReceivedExecution &e = run(q, {{"@P1", c.type, c.size}}, {c.value});
        ASSERT_EQ(e.bindings.size(), 1u) << c.name;
        if (!c.valueBytes.empty()) {
            EXPECT_EQ(valuePart(e, 0, c.valueBytes.size()), c.valueBytes) << c.name;
        }
        EXPECT_EQ(statusOf(e, 0), c.status) << c.name;
        EXPECT_EQ(lengthOf(e, 0), c.length) << c.name;
    }
}

TEST_F(Parameters, ANumericParameterGetsTheIntegerOfTheValue)
{
    QSqlQuery q = query();
    const ReceivedExecution &e = run(q, {{"@P1", DBTYPE_NUMERIC, 19, DBPARAMFLAGS_ISINPUT, 10, 2}}, {2.5});
    DB_NUMERIC n;
    std::memcpy(&n, e.buffer.data() + e.bindings[0].obValue, sizeof n);
    EXPECT_EQ(n.sign, 1);
    EXPECT_EQ(n.scale, 0);
    // The value goes through QVariant::toLongLong(), which rounds.
    EXPECT_EQ(n.val[0], QVariant(2.5).toLongLong());
    EXPECT_EQ(n.val[1], 0);
    const ReceivedExecution &negative = run(q, {{"@P1", DBTYPE_NUMERIC, 19, DBPARAMFLAGS_ISINPUT, 10, 2}},
                                            {QVariant(qlonglong(-300))});
    std::memcpy(&n, negative.buffer.data() + negative.bindings[0].obValue, sizeof n);
    EXPECT_EQ(n.sign, 0);
    EXPECT_EQ(n.val[0] + 256 * n.val[1], 300);
}

TEST_F(Parameters, LongParametersTakeNoNumberForAPointer)
{
    QSqlQuery q = query();
    const ReceivedExecution &e = run(q,
        {{"@P1", DBTYPE_WSTR, ~DBLENGTH(0)}, {"@P2", DBTYPE_STR, ~DBLENGTH(0)},
         {"@P3", DBTYPE_BYTES, ~DBLENGTH(0)}, {"@P4", DBTYPE_WSTR, ~DBLENGTH(0)}},
        {42, QVariant(qlonglong(12345678901LL)), QByteArray("\x01\x00\x02", 3), QVariant()});
    ASSERT_EQ(e.bindings.size(), 4u);
    EXPECT_EQ(e.streams[0], utf16("42")) << "an int travels as its text";
    EXPECT_EQ(e.streams[1], "12345678901");
    EXPECT_EQ(e.streams[2], std::string("\x01\x00\x02", 3)) << "raw bytes keep their zero byte";
    EXPECT_EQ(statusOf(e, 3), DWORD(DBSTATUS_S_ISNULL)) << "no value, no stream";
    EXPECT_EQ(bytesAt<void *>(e.buffer, e.bindings[3].obValue), nullptr);
}

TEST_F(Parameters, EveryPreparedStatementDescribesItsOwnParameters)
{
    QSqlQuery q = query();
    run(q, {{"@P1", DBTYPE_I4, 4}}, {1});
    const ReceivedExecution second = run(q, {{"@P1", DBTYPE_WSTR, 5}, {"@P2", DBTYPE_I2, 2}},
                                         {QString("ab"), 3});
    ASSERT_EQ(second.bindings.size(), 2u);
    EXPECT_EQ(second.buffer.substr(second.bindings[0].obValue, 6), utf16("ab") + std::string(2, '\0'));
    EXPECT_EQ(bytesAt<qint16>(second.buffer, second.bindings[1].obValue), 3);

    // Running the same prepared statement again describes nothing anew.
    const int described = log().count("Command.GetParameterInfo");
    q.addBindValue(QString("cd"));
    q.addBindValue(4);
    ASSERT_TRUE(q.exec());
    EXPECT_EQ(log().count("Command.GetParameterInfo"), described);
    EXPECT_EQ(log().executions.back().buffer.substr(second.bindings[0].obValue, 4), utf16("cd"));
}

TEST_F(Parameters, ParameterTypesStayApartFromTheColumnsOfAnEarlierResult)
{
    command().parameters = {{"@P1", DBTYPE_WSTR, ~DBLENGTH(0)}};
    rowset().columns = {{"b", DBTYPE_BYTES, 10}};
    QSqlQuery q = query();
    ASSERT_TRUE(q.prepare("SELECT b FROM t WHERE s = ?"));
    q.addBindValue(QString("\u00e9t\u00e9"));
    ASSERT_TRUE(q.exec());
    q.addBindValue(QString("\u00e9t\u00e9"));
    ASSERT_TRUE(q.exec());
    ASSERT_EQ(log().executions.size(), 2u);
    EXPECT_EQ(log().executions[1].streams[0], utf16("\u00e9t\u00e9")) << "still UTF-16 after a binary column";
}

TEST_F(Parameters, MissingAndSurplusValues)
{
    QSqlQuery q = query();
    const ReceivedExecution &e = run(q, {{"@P1", DBTYPE_I4, 4}, {"@P2", DBTYPE_I4, 4}}, {5});
    EXPECT_EQ(bytesAt<qint32>(e.buffer, e.bindings[1].obValue), 0);
    EXPECT_EQ(statusOf(e, 1), DWORD(DBSTATUS_S_OK));
    const ReceivedExecution &more = run(q, {{"@P1", DBTYPE_I4, 4}}, {5, 6, 7});
    EXPECT_EQ(more.buffer.size(), 20u);
    EXPECT_EQ(bytesAt<qint32>(more.buffer, 0), 5);
}

TEST_F(Parameters, AFailedDescriptionIsAStatementError)
{
    command().getParameterInfo = DB_E_PARAMUNAVAILABLE;
    command().errorRecords = {"Could not describe the parameters."};
    command().parameters = {{"@P1", DBTYPE_I4, 4}};
    QSqlQuery q = query();
    ASSERT_TRUE(q.prepare("EXEC p ?"));
    q.addBindValue(1);
    EXPECT_FALSE(q.exec());
    EXPECT_EQ(q.lastError().type(), QSqlError::StatementError);
    EXPECT_EQ(q.lastError().databaseText(), "Could not describe the parameters.");
    EXPECT_EQ(log().count("Command.Execute"), 0);
}

} // namespace
