// The ODBC backend's edge: what the driver leaves in a fetch block becomes
// the row record's form and reads back through a consumer's binding as the
// same value; a neutral parameter becomes what SQLBindParameter takes.

#include "provider/diagnostics/diagnostics.h"
#include "provider/odbc/odbctypes.h"
#include "provider/values/decimaltext.h"

#include "memorybackend.h"
#include "oledbclient.h"

#include <gtest/gtest.h>

#include <array>

using namespace rz::provider;
using providertest::decimalParameter;
using providertest::fields;
using providertest::parameterOf;

namespace {

// One column's record as SQLFetch leaves it: the indicator in the length
// slot, the driver's bytes in the value slot.
struct FetchedRecord {
    OdbcColumn column;
    ColumnDescription place;
    alignas(8) unsigned char row[128] = {};

    FetchedRecord(SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, const char16_t *typeName,
                  const void *driverBytes, SQLLEN indicator)
        : column(odbcColumn(sqlType, size, digits, typeName))
    {
        place.type = column.type;
        placeInRecord(place, 0, std::max(size_t(column.fetchBytes), column.type.valueBytes));
        std::memcpy(row + place.lengthOffset, &indicator, sizeof indicator);
        if (driverBytes)
            std::memcpy(row + place.valueOffset, driverBytes, size_t(column.fetchBytes));
    }

    bool convert() { return toRecordForm(column, place, row); }

    // The value bound as `target`, with the status the binding got.
    template <class T>
    T boundAs(DBTYPE target, DBSTATUS &status, DBLENGTH maxLength = sizeof(T))
    {
        RowBlock block;
        block.data.reset(new unsigned char[sizeof row]);
        std::memcpy(block.data.get(), row, sizeof row);
        block.rowCount = 1;
        DBBINDING b{};
        b.wType = target;
        b.cbMaxLen = maxLength;
        b.dwPart = DBPART_VALUE | DBPART_STATUS;
        b.obStatus = 64;
        alignas(8) BYTE buffer[72] = {};
        status = writeColumnBinding(fetchedValue(place, block, 0, sizeof row, 0), b, buffer);
        T value;
        std::memcpy(&value, buffer, sizeof value);
        return value;
    }
};

std::string text(const char *s, size_t room = 48)
{
    std::string out(s);
    out.resize(room, '\0');
    return out;
}

} // namespace

TEST(OdbcEdge, DriverTextAndStructuresBecomeTheRecordFormsAndReadBackAsTheSameValues)
{
    DBSTATUS status = 0;
    {
        FetchedRecord money(SQL_DECIMAL, 19, 4, u"money", text("-922337203685477.5808").data(), 21);
        ASSERT_TRUE(money.convert());
        EXPECT_EQ(money.boundAs<CY>(DBTYPE_CY, status).int64, INT64_MIN);
        EXPECT_EQ(status, DBSTATUS(DBSTATUS_S_OK));
        FetchedRecord shortMoney(SQL_DECIMAL, 19, 4, u"money", text("-1234.5").data(), 7);
        ASSERT_TRUE(shortMoney.convert());
        EXPECT_EQ(shortMoney.boundAs<CY>(DBTYPE_CY, status).int64, -12345000);
    }
    // Short texts take the integer path; more digits, or more fraction digits than the scale, the general one.
    const std::pair<const char *, const char *> decimals[] = {
        {"-0.05", "-0.05"}, {"-1.5", "-1.50"}, {"0.125", "0.13"}, {"12345678901234567.8", "12345678901234567.80"}};
    for (const auto &[driverText, expected] : decimals) {
        FetchedRecord decimal(SQL_DECIMAL, 19, 2, u"decimal", text(driverText).data(), SQLLEN(std::strlen(driverText)));
        ASSERT_TRUE(decimal.convert()) << driverText;
        EXPECT_EQ(textFromNumeric(decimal.boundAs<DB_NUMERIC>(DBTYPE_NUMERIC, status)), expected);
    }
    {
        FetchedRecord decimal(SQL_DECIMAL, 38, 4, u"decimal", text("-1234567890123456789012345678901.2345").data(), 37);
        ASSERT_TRUE(decimal.convert());
        const DB_NUMERIC n = decimal.boundAs<DB_NUMERIC>(DBTYPE_NUMERIC, status);
        EXPECT_EQ(textFromNumeric(n), "-1234567890123456789012345678901.2345");
        EXPECT_EQ(int(n.precision), 38);
        EXPECT_EQ(int(n.scale), 4);
    }
    {
        FetchedRecord time(SQL_SS_TIME2_TYPE, 16, 7, u"time", text("23:59:59.9999999", 32).data(), 16);
        ASSERT_TRUE(time.convert());
        EXPECT_EQ(fields(time.boundAs<DBTIME>(DBTYPE_DBTIME, status)), fields(DBTIME{23, 59, 59}));
        FetchedRecord whole(SQL_SS_TIME2_TYPE, 8, 0, u"time", text("01:02:03", 32).data(), 8);
        ASSERT_TRUE(whole.convert());
        EXPECT_EQ(fields(whole.boundAs<DBTIME>(DBTYPE_DBTIME, status)), fields(DBTIME{1, 2, 3}));
    }
    for (const SQL_TIMESTAMP_STRUCT &ts : {SQL_TIMESTAMP_STRUCT{1, 1, 1, 0, 0, 0, 0},
                                           SQL_TIMESTAMP_STRUCT{2000, 2, 29, 1, 2, 3, 400000000},
                                           SQL_TIMESTAMP_STRUCT{9999, 12, 31, 23, 59, 59, 999999900}}) {
        FetchedRecord stamp(SQL_TYPE_TIMESTAMP, 27, 7, u"datetime2", &ts, 16);
        ASSERT_TRUE(stamp.convert());
        DBTIMESTAMP expected;
        std::memcpy(&expected, &ts, sizeof expected);
        EXPECT_EQ(fields(stamp.boundAs<DBTIMESTAMP>(DBTYPE_DBTIMESTAMP, status)), fields(expected));
    }
    const SQL_DATE_STRUCT leap{2024, 2, 29};
    FetchedRecord date(SQL_TYPE_DATE, 10, 0, u"date", &leap, 6);
    ASSERT_TRUE(date.convert());
    EXPECT_EQ(fields(date.boundAs<DBDATE>(DBTYPE_DBDATE, status)), fields(DBDATE{2024, 2, 29}));
}

TEST(OdbcEdge, NullsCutTextAndUnreadableTextAreMarkedInTheRecord)
{
    DBSTATUS status = 0;
    FetchedRecord null(SQL_DECIMAL, 10, 2, u"decimal", nullptr, SQL_NULL_DATA);
    ASSERT_TRUE(null.convert());
    null.boundAs<DB_NUMERIC>(DBTYPE_NUMERIC, status);
    EXPECT_EQ(status, DBSTATUS(DBSTATUS_S_ISNULL));

    // A driver that does not know the whole length, or reports more than the
    // block kept: the record keeps what fits, without the terminator.
    for (const SQLLEN indicator : {SQLLEN(SQL_NO_TOTAL), SQLLEN(12)}) {
        FetchedRecord cut(SQL_VARCHAR, 2, 0, u"varchar", text("abcdefg", 7).data(), indicator);
        ASSERT_TRUE(cut.convert());
        const auto kept = cut.boundAs<std::array<char, 8>>(DBTYPE_STR, status, 8);
        EXPECT_STREQ(kept.data(), "abcdef");
    }

    clearPendingDiagnostics();
    FetchedRecord garbage(SQL_DECIMAL, 19, 4, u"money", text("12,50").data(), 5);
    EXPECT_FALSE(garbage.convert());
    ASSERT_EQ(pendingDiagnostics().size(), 1u);
    EXPECT_EQ(pendingDiagnostics()[0].sqlState, u"HY000");
    clearPendingDiagnostics();
}

TEST(OdbcEdge, ParametersBecomeOdbcTypesSizesAndIndicators)
{
    ParameterValue decimal = decimalParameter("-1.25", 3, 2);
    ParameterValue dateTime = parameterOf(DBTYPE_DBTIMESTAMP, DBTIMESTAMP{2000, 1, 2, 3, 4, 5, 7000000});
    dateTime.dateTime = true;
    ParameterValue longText;
    longText.bytes = std::string(10000, 'x');
    longText.isLong = true;
    longText.input = longText.output = true;
    ParameterValue nullInt = parameterOf(DBTYPE_I4, int32_t(0));
    nullInt.state = ParameterValue::State::Null;
    ParameterValue defaultDecimal = decimal;
    defaultDecimal.state = ParameterValue::State::Default;

    const struct {
        const char *what;
        ParameterValue value;
        SQLSMALLINT cType, sqlType;
        SQLULEN size;
        SQLSMALLINT digits;
        SQLLEN indicator;
        std::string bytes;
    } cases[] = {
        {"tinyint has no sign: I1 goes as smallint", parameterOf(DBTYPE_I1, int8_t(-5)), SQL_C_STINYINT, SQL_SMALLINT, 5, 0, 1, "\xFB"},
        {"unsigned 64 bits", parameterOf(DBTYPE_UI8, ~uint64_t(0)), SQL_C_UBIGINT, SQL_BIGINT, 19, 0, 8, std::string(8, '\xFF')},
        {"VARIANT_BOOL becomes one byte", parameterOf(DBTYPE_BOOL, VARIANT_BOOL(VARIANT_TRUE)), SQL_C_BIT, SQL_BIT, 1, 0, 1, "\x01"},
        {"decimals go as text", decimal, SQL_C_CHAR, SQL_DECIMAL, 3, 2, 5, "-1.25"},
        {"datetime's size and digits", dateTime, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3, 16, dateTime.bytes},
        {"long text, in and out", longText, SQL_C_WCHAR, SQL_WLONGVARCHAR, 5000, 0, 10000, longText.bytes},
        {"a NULL's size is 1", nullInt, SQL_C_SLONG, SQL_INTEGER, 1, 0, SQL_NULL_DATA, nullInt.bytes},
        {"a DEFAULT decimal keeps its digits", defaultDecimal, SQL_C_CHAR, SQL_DECIMAL, 3, 2, SQL_DEFAULT_PARAM, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const OdbcParameter o = odbcParameter(c.value);
        EXPECT_EQ(o.cType, c.cType);
        EXPECT_EQ(o.sqlType, c.sqlType);
        EXPECT_EQ(o.columnSize, c.size);
        EXPECT_EQ(o.decimalDigits, c.digits);
        EXPECT_EQ(o.indicator, c.indicator);
        if (c.indicator >= 0) {
            EXPECT_EQ(o.bytes(), c.bytes);
        }
        EXPECT_EQ(o.inputOutput, c.value.output ? SQL_PARAM_INPUT_OUTPUT : SQL_PARAM_INPUT);
    }
}
