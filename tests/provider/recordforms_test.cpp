// The row record's value forms: dates counted from 0001-01-01, 100 ns
// ticks, datetimeoffset shown in its own zone, decimals and money as
// integers, Windows-1252 text; and parameter values as the TDS backend's
// typed RPC parameters.

#include "provider/diagnostics/diagnostics.h"
#include "provider/tds/tdstypes.h"
#include "provider/values/recordforms.h"
#include "provider/values/codepage.h"
#include "provider/values/columnconversion.h"
#include "provider/values/columninplace.h"
#include "provider/values/decimaltext.h"
#include "tds/rowlayout.h"

#include "memorybackend.h"
#include "oledbclient.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace rz::provider;
using providertest::decimalParameter;
using providertest::fields;
using providertest::parameterOf;

namespace {

rz::tds::DecimalValue decimal(uint64_t low, uint64_t high, uint8_t precision, uint8_t scale, bool negative)
{
    rz::tds::DecimalValue v;
    v.low = low;
    v.high = high;
    v.precision = precision;
    v.scale = scale;
    v.negative = negative ? 1 : 0;
    return v;
}

} // namespace

TEST(RecordForms, DaysCountFromYearOneAcrossLeapYearsToTheLastDay)
{
    EXPECT_EQ(fields(dateFromDays(0)), std::make_tuple(1, 1, 1));
    EXPECT_EQ(fields(dateFromDays(rz::tds::kDaysTo1900)), std::make_tuple(1900, 1, 1));
    EXPECT_EQ(fields(dateFromDays(rz::tds::kDaysTo1900 + 59)), std::make_tuple(1900, 3, 1)) << "1900 is no leap year";
    EXPECT_EQ(fields(dateFromDays(730178)), std::make_tuple(2000, 2, 29));
    EXPECT_EQ(fields(dateFromDays(3652058)), std::make_tuple(9999, 12, 31));
    EXPECT_EQ(textFromDays(0), "0001-01-01");
}

TEST(RecordForms, TicksKeepSevenPlacesAndTheScaleDecidesWhatTheTextShows)
{
    const int64_t ticks = ((23 * 3600 + 59 * 60 + 59) * 10000000LL) + 9999999;
    EXPECT_EQ(fields(timeFromTicks(ticks)), std::make_tuple(23, 59, 59));
    EXPECT_EQ(textFromTicks(ticks, 7), "23:59:59.9999999");
    EXPECT_EQ(textFromTicks(ticks, 3), "23:59:59.999");
    EXPECT_EQ(textFromTicks(ticks, 0), "23:59:59");
    const DBTIMESTAMP ts = timestampFromParts(730178, 1234567);
    EXPECT_EQ(fields(ts), std::make_tuple(2000, 2, 29, 0, 0, 0, 123456700u));
}

TEST(RecordForms, DateTimeOffsetIsShownInItsOwnZoneAcrossMidnight)
{
    // 2019-12-31 23:30 UTC is 2020-01-01 01:30 at +02:00 and 2019-12-31 18:30 at -05:00.
    const int32_t days = 737423; // 2019-12-31
    const int64_t ticks = (23 * 3600 + 30 * 60) * 10000000LL;
    ASSERT_EQ(textFromDays(days), "2019-12-31");
    EXPECT_EQ(textFromDateTimeOffset(days, ticks, 120, 7), "2020-01-01 01:30:00.0000000 +02:00");
    EXPECT_EQ(textFromDateTimeOffset(days, ticks, -300, 0), "2019-12-31 18:30:00 -05:00");
    EXPECT_EQ(textFromDateTimeOffset(days + 1, 0, -30, 3), "2019-12-31 23:30:00.000 -00:30");
}

TEST(RecordForms, DecimalsConvertExactlyAndRefuseWholePartsBeyond64Bits)
{
    // -12345.6789 as decimal(9,4)
    const auto small = decimal(123456789, 0, 9, 4, true);
    EXPECT_EQ(textFromDecimal(small), "-12345.6789");
    int64_t whole = 0;
    ASSERT_TRUE(integerFromDecimal(small, whole));
    EXPECT_EQ(whole, -12345);
    EXPECT_DOUBLE_EQ(doubleFromDecimal(small), -12345.6789);
    const DB_NUMERIC n = numericFromDecimal(small);
    EXPECT_EQ(n.sign, 0);
    EXPECT_EQ(n.scale, 4);
    EXPECT_EQ(n.val[0], 123456789 & 0xFF);

    // 10^38 - 1, decimal(38,0): needs the high word.
    const auto huge = decimal(0x098A223FFFFFFFFFull, 0x4B3B4CA85A86C47Aull, 38, 0, false);
    EXPECT_EQ(textFromDecimal(huge), "99999999999999999999999999999999999999");
    EXPECT_FALSE(integerFromDecimal(huge, whole));
    const auto minimum = decimal(0x8000000000000000ull, 0, 19, 0, true);
    ASSERT_TRUE(integerFromDecimal(minimum, whole));
    EXPECT_EQ(whole, INT64_MIN);
}

TEST(CodePage, Windows1252TextToAndFromUtf8AndUtf16)
{
    const std::string bytes = "caf\xE9 \x80 \x93x\x94";
    const std::string utf8 = "caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D";
    EXPECT_EQ(utf8FromCodePage(bytes), utf8);
    EXPECT_EQ(utf16FromCodePage(bytes), std::u16string(u"caf\u00E9 \u20AC \u201Cx\u201D"));
    EXPECT_EQ(codePageFromUtf8(utf8), bytes);
    EXPECT_EQ(codePageFromUtf8("\xD0\xB6 \xF0\x9F\x98\x80!"), "? ?!") << "characters the code page lacks";
}

TEST(RecordForms, SqlVariantShowsItsBaseTypesValueAsText)
{
    using std::string;
    // base type, property bytes, properties, value
    EXPECT_EQ(textFromVariant(string("\x38\x00\x2A\x00\x00\x00", 6)), "42");
    EXPECT_EQ(textFromVariant(string("\x7F\x00\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10)), "-1");
    // nvarchar: collation (5) and maximum length (2) as properties
    EXPECT_EQ(textFromVariant(string("\xE7\x07\x09\x04\xD0\x00\x34\x08\x00" "a\x00\xE9\x00", 13)), "a\xC3\xA9");
    // decimal(5,2) -1.25: precision and scale, then sign and magnitude
    EXPECT_EQ(textFromVariant(string("\x6A\x02\x05\x02\x00\x7D\x00\x00\x00", 9)), "-1.25");
    EXPECT_EQ(textFromVariant(string("\xA5\x02\x08\x00\xCA\xFE", 6)), "CAFE");
    // date 2000-02-29
    EXPECT_EQ(textFromVariant(string("\x28\x00\x42\x24\x0B", 5)), "2000-02-29");
    // datetime 1999-12-31 23:59:58 and 2/300 s, shown as SQL Server shows it
    EXPECT_EQ(textFromVariant(string("\x3D\x00\xAB\x8E\x00\x00\xAA\x7F\x8B\x01", 10)), "1999-12-31 23:59:58.007");
    EXPECT_EQ(textFromVariant(string("\x38", 1)), "") << "too short to be a variant";
}

TEST(TdsParameters, NeutralValuesBecomeTypedRpcParameters)
{
    std::vector<ParameterValue> values;
    values.push_back(parameterOf(DBTYPE_I4, int32_t(7)));
    values.push_back(decimalParameter("-1.25", 3, 2));
    values.push_back(parameterOf(DBTYPE_DBTIMESTAMP, DBTIMESTAMP{2000, 2, 29, 1, 2, 3, 400000000}));
    values.push_back(parameterOf(DBTYPE_WSTR, u'h'));
    values.push_back(parameterOf(DBTYPE_UI8, uint64_t(18446744073709551615ull)));
    ParameterValue none = parameterOf(DBTYPE_BOOL, VARIANT_TRUE);
    none.state = ParameterValue::State::Null;
    values.push_back(none);
    ParameterValue binary = parameterOf(DBTYPE_BYTES, uint16_t(0x0201));
    binary.isLong = true;
    values.push_back(binary);

    rz::tds::RpcParameters rpc;
    ASSERT_TRUE(tdsParameters(values, rpc));
    EXPECT_EQ(rpc.declaration(), std::u16string(u"@P1 int,@P2 decimal(3,2),@P3 datetime2(7),@P4 nvarchar(4000),"
                                                u"@P5 decimal(20,0),@P6 bit,@P7 varbinary(max)"))
        << "an unsigned 64-bit value beyond bigint travels as decimal(20,0)";

    std::vector<uint8_t> bytes;
    rpc.appendTo(bytes);
    // @P3: datetime2(7) is 5 bytes of ticks then 3 of days since 0001-01-01 (2000-02-29 = 730178).
    const uint64_t ticks = (3600ull + 2 * 60 + 3) * 10000000 + 4000000;
    std::vector<uint8_t> expected = {0x2A, 0x07, 0x08};
    for (int i = 0; i < 5; ++i)
        expected.push_back(uint8_t(ticks >> (8 * i)));
    for (int i = 0; i < 3; ++i)
        expected.push_back(uint8_t(730178 >> (8 * i)));
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), expected.begin(), expected.end()), bytes.end());
}

TEST(TdsParameters, ATimestampForADatetimeParameterTravelsAsDatetimeWhenItFits)
{
    // 9999-12-31 23:59:59.999 would round past datetime's last day.
    std::vector<ParameterValue> values{parameterOf(DBTYPE_DBTIMESTAMP, DBTIMESTAMP{1999, 12, 31, 23, 59, 58, 7000000}),
                                       parameterOf(DBTYPE_DBTIMESTAMP, DBTIMESTAMP{9999, 12, 31, 23, 59, 59, 999000000})};
    for (ParameterValue &p : values)
        p.dateTime = true;
    rz::tds::RpcParameters rpc;
    ASSERT_TRUE(tdsParameters(values, rpc));
    EXPECT_EQ(rpc.declaration(), std::u16string(u"@P1 datetime,@P2 datetime2(7)"));
    std::vector<uint8_t> bytes;
    rpc.appendTo(bytes);
    // 1999-12-31 is day 36523 after 1900-01-01; .007 is 2/300 s.
    const std::vector<uint8_t> expected = {0x6F, 0x08, 0x08, 0xAB, 0x8E, 0x00, 0x00, 0xAA, 0x7F, 0x8B, 0x01};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), expected.begin(), expected.end()), bytes.end());
}

TEST(TdsParameters, ADecimalWiderThanItsPrecisionIsRefusedBeforeSending)
{
    std::vector<ParameterValue> values{decimalParameter("123.45", 38, 2)};
    values[0].precision = 3;
    rz::tds::RpcParameters rpc;
    clearPendingDiagnostics();
    EXPECT_FALSE(tdsParameters(values, rpc));
    ASSERT_EQ(pendingDiagnostics().size(), 1u);
    EXPECT_EQ(pendingDiagnostics()[0].sqlState, u"22003");
    clearPendingDiagnostics();
}

namespace {

// What writeColumnBinding puts in a buffer against what columnValueInPlace
// hands out for the same binding: the same status, length and value bytes,
// or a refusal.
void expectSameInPlace(FetchForm form, DBTYPE target, const void *value, size_t length, DBLENGTH maxLength,
                       bool inPlace)
{
    SqlServerType type;
    type.form = form;
    type.valueBytes = 64;
    alignas(8) BYTE stored[64] = {};
    if (value)
        std::memcpy(stored, value, std::min<size_t>(length, 64));
    FetchedValue v;
    v.type = &type;
    v.data = stored;
    v.length = length;
    v.null = !value;
    DBBINDING b{};
    b.wType = target;
    b.cbMaxLen = maxLength;
    b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    b.obLength = 64;
    b.obStatus = 72;
    alignas(8) BYTE buffer[80] = {};
    const DBSTATUS written = writeColumnBinding(v, b, buffer);
    if (target == DBTYPE_IUNKNOWN && written == DBSTATUS_S_OK) {
        IUnknown *object = nullptr;
        std::memcpy(&object, buffer, sizeof object);
        object->Release();
    }
    alignas(8) BYTE room[24];
    DBSTATUS status = 0;
    const void *data = nullptr;
    DBLENGTH inPlaceLength = 0;
    ASSERT_EQ(columnValueInPlace(v, b, room, status, data, inPlaceLength), inPlace) << int(form) << " as " << target;
    if (!inPlace)
        return;
    EXPECT_EQ(status, written);
    EXPECT_EQ(inPlaceLength, rz::tds::rowValue<DBLENGTH>(buffer, 64));
    if (status == DBSTATUS_S_OK) {
        EXPECT_EQ(std::memcmp(data, buffer, size_t(inPlaceLength)), 0) << int(form) << " as " << target;
    }
}

} // namespace

TEST(RecordForms, AValueReadInPlaceIsWhatGetDataWritesOrIsRefused)
{
    const auto huge = decimal(0x098A223FFFFFFFFFull, 0x4B3B4CA85A86C47Aull, 38, 0, true);
    expectSameInPlace(FetchForm::DecimalParts, DBTYPE_NUMERIC, &huge, sizeof huge, 19, true);
    const rz::tds::DateTimeValue last{863999999999LL, 3652058, 0};
    expectSameInPlace(FetchForm::DateTimeParts, DBTYPE_DBTIMESTAMP, &last, sizeof last, 16, true);
    for (const unsigned char bit : {0, 1})
        expectSameInPlace(FetchForm::Bit, DBTYPE_BOOL, &bit, 1, 2, true);
    const int64_t units = INT64_MIN;
    expectSameInPlace(FetchForm::MoneyUnits, DBTYPE_CY, &units, 8, 8, true);
    expectSameInPlace(FetchForm::MoneyUnits, DBTYPE_NUMERIC, &units, 8, 19, true);
    expectSameInPlace(FetchForm::Int32, DBTYPE_I4, nullptr, 0, 4, true);
    expectSameInPlace(FetchForm::Int32, DBTYPE_WSTR, &units, 4, 40, false); // text of a number is made
    // Text fits with its terminator, or GetData truncates it and the view refuses.
    const char16_t wide[] = u"abcd";
    expectSameInPlace(FetchForm::Utf16Text, DBTYPE_WSTR, wide, 8, 10, true);
    expectSameInPlace(FetchForm::Utf16Text, DBTYPE_WSTR, wide, 8, 9, false);
    expectSameInPlace(FetchForm::CodePageText, DBTYPE_STR, "abcd", 4, 5, true);
    expectSameInPlace(FetchForm::CodePageText, DBTYPE_STR, "abcd", 4, 4, false);
    expectSameInPlace(FetchForm::CodePageText, DBTYPE_STR, "caf\xE9", 4, 9, false); // widened to UTF-8
    expectSameInPlace(FetchForm::CodePageText, DBTYPE_IUNKNOWN, "abcd", 4, 8, false);
}
