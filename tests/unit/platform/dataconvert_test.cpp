// The data conversion library's numeric conversions: the two the plug-in
// makes (I8 to DB_NUMERIC, DB_NUMERIC to R8) and the precision, scale,
// overflow and status rules around them.

#include "platform/sdk/oledb.h"
#include "platform/com/comptr.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

using rz::ComPtr;

class DataConvertTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IDataConvert, convert.putVoid()),
                  S_OK);
    }

    template <class Source, class Target>
    HRESULT run(DBTYPE from, const Source &source, DBTYPE to, Target *target, BYTE precision = 0,
                BYTE scale = 0, DBDATACONVERT flags = DBDATACONVERT_DEFAULT,
                DBLENGTH sourceLength = sizeof(Source), DBLENGTH targetMax = sizeof(Target))
    {
        status = 0xdead;
        length = 0xdead;
        return convert->DataConvert(from, to, sourceLength, &length, const_cast<Source *>(&source),
                                    target, targetMax, DBSTATUS_S_OK, &status, precision, scale,
                                    flags);
    }

    static DB_NUMERIC numeric(BYTE precision, BYTE scale, bool positive, unsigned long long magnitude)
    {
        DB_NUMERIC n = {};
        n.precision = precision;
        n.scale = scale;
        n.sign = positive ? 1 : 0;
        std::memcpy(n.val, &magnitude, sizeof magnitude);
        return n;
    }

    ComPtr<IDataConvert> convert;
    DBSTATUS status = 0;
    DBLENGTH length = 0;
};

TEST_F(DataConvertTest, anI8BecomesANumericOfPrecisionNineteenAndComesBackAsADouble)
{
    const LONGLONG value = 12345;
    DB_NUMERIC n;
    ASSERT_EQ(run(DBTYPE_I8, value, DBTYPE_NUMERIC, &n), S_OK);
    EXPECT_EQ(status, DBSTATUS_S_OK);
    EXPECT_EQ(length, sizeof(DB_NUMERIC));
    EXPECT_EQ(n.precision, 19);
    EXPECT_EQ(n.scale, 0);
    EXPECT_EQ(n.sign, 1);
    EXPECT_EQ(n.val[0], 0x39);
    EXPECT_EQ(n.val[1], 0x30);
    for (int i = 2; i < 16; ++i)
        EXPECT_EQ(n.val[i], 0) << i;

    double d = 0;
    ASSERT_EQ(run(DBTYPE_NUMERIC, n, DBTYPE_R8, &d, n.precision, n.scale), S_OK);
    EXPECT_EQ(d, 12345.0);
    EXPECT_EQ(length, 8u);
}

TEST_F(DataConvertTest, theExtremesOfI8SurviveTheRoundTrip)
{
    for (LONGLONG value : {LLONG_MIN, LLONG_MAX, -1LL, 0LL}) {
        DB_NUMERIC n;
        ASSERT_EQ(run(DBTYPE_I8, value, DBTYPE_NUMERIC, &n), S_OK) << value;
        EXPECT_EQ(n.sign, value < 0 ? 0 : 1) << value;
        LONGLONG back = 1;
        ASSERT_EQ(run(DBTYPE_NUMERIC, n, DBTYPE_I8, &back), S_OK) << value;
        EXPECT_EQ(back, value);
    }
}

// The nearest double of every numeric is numericdouble_test's; here the
// widest numeric, 38 nines, comes out whole as text.
TEST_F(DataConvertTest, thirtyEightNinesBecomeTheirText)
{
    DB_NUMERIC big = numeric(38, 0, true, 0);
    const BYTE nines[16] = {0xff, 0xff, 0xff, 0xff, 0x3f, 0x22, 0x8a, 0x09,
                            0x7a, 0xc4, 0x86, 0x5a, 0xa8, 0x4c, 0x3b, 0x4b};
    std::memcpy(big.val, nines, 16);
    char16_t text[48];
    ASSERT_EQ(run(DBTYPE_NUMERIC, big, DBTYPE_WSTR, &text, 0, 0, DBDATACONVERT_DEFAULT,
                  sizeof(DB_NUMERIC), sizeof text),
              S_OK);
    EXPECT_EQ(std::u16string(text), std::u16string(38, u'9'));
}

TEST_F(DataConvertTest, otherIntegerWidthsGetTheirOwnPrecision)
{
    DB_NUMERIC n;
    ASSERT_EQ(run(DBTYPE_I4, LONG(-7), DBTYPE_NUMERIC, &n), S_OK);
    EXPECT_EQ(n.precision, 10);
    EXPECT_EQ(n.sign, 0);
    EXPECT_EQ(n.val[0], 7);
    ASSERT_EQ(run(DBTYPE_I2, SHORT(300), DBTYPE_NUMERIC, &n), S_OK);
    EXPECT_EQ(n.precision, 5);
    ASSERT_EQ(run(DBTYPE_UI1, BYTE(255), DBTYPE_NUMERIC, &n), S_OK);
    EXPECT_EQ(n.precision, 3);
    EXPECT_EQ(n.val[0], 255);
    ASSERT_EQ(run(DBTYPE_R8, 2.5, DBTYPE_NUMERIC, &n), S_OK);
    EXPECT_EQ(n.scale, 1);
    EXPECT_EQ(n.val[0], 25);
}

TEST_F(DataConvertTest, aValueTooWideForTheAskedPrecisionOverflows)
{
    DB_NUMERIC n;
    EXPECT_EQ(run(DBTYPE_I4, LONG(12345), DBTYPE_NUMERIC, &n, 4), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status, DBSTATUS_E_DATAOVERFLOW);
    EXPECT_EQ(run(DBTYPE_I4, LONG(1234), DBTYPE_NUMERIC, &n, 4), S_OK);
    EXPECT_EQ(n.precision, 4);

    BYTE small = 0;
    EXPECT_EQ(run(DBTYPE_NUMERIC, numeric(3, 0, true, 300), DBTYPE_UI1, &small), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status, DBSTATUS_E_DATAOVERFLOW);
    SHORT shortValue = 0;
    EXPECT_EQ(run(DBTYPE_I8, LONGLONG(-40000), DBTYPE_I2, &shortValue), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status, DBSTATUS_E_DATAOVERFLOW);
    ULONG unsignedValue = 0;
    EXPECT_EQ(run(DBTYPE_I4, LONG(-1), DBTYPE_UI4, &unsignedValue), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status, DBSTATUS_E_SIGNMISMATCH);
    float f = 0;
    EXPECT_EQ(run(DBTYPE_R8, 1e300, DBTYPE_R4, &f), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status, DBSTATUS_E_DATAOVERFLOW);
}

TEST_F(DataConvertTest, theScaleIsAppliedOnlyWhenAskedAndRoundsHalfAwayFromZero)
{
    DB_NUMERIC n;
    const DB_NUMERIC source = numeric(5, 3, false, 1235); // -1.235
    ASSERT_EQ(run(DBTYPE_NUMERIC, source, DBTYPE_NUMERIC, &n, 10, 2), S_OK);
    EXPECT_EQ(n.scale, 3);
    EXPECT_EQ(n.val[0], 1235 & 0xff);
    ASSERT_EQ(run(DBTYPE_NUMERIC, source, DBTYPE_NUMERIC, &n, 10, 2, DBDATACONVERT_DECIMALSCALE), S_OK);
    EXPECT_EQ(n.scale, 2);
    EXPECT_EQ(n.sign, 0);
    EXPECT_EQ(n.val[0], 124);
    EXPECT_EQ(run(DBTYPE_NUMERIC, source, DBTYPE_NUMERIC, &n, 39), DB_E_BADPRECISION);
    EXPECT_EQ(run(DBTYPE_NUMERIC, source, DBTYPE_NUMERIC, &n, 4, 5, DBDATACONVERT_DECIMALSCALE),
              DB_E_BADSCALE);
}

TEST_F(DataConvertTest, aNullSourceStaysNullAndUnknownPairsAreRefused)
{
    DB_NUMERIC n;
    const LONGLONG value = 1;
    EXPECT_EQ(convert->DataConvert(DBTYPE_I8, DBTYPE_NUMERIC, 8, &length, const_cast<LONGLONG *>(&value),
                                   &n, sizeof n, DBSTATUS_S_ISNULL, &status, 0, 0, 0),
              S_OK);
    EXPECT_EQ(status, DBSTATUS_S_ISNULL);
    EXPECT_EQ(length, 0u);

    GUID g = GUID_NULL;
    EXPECT_EQ(run(DBTYPE_GUID, g, DBTYPE_NUMERIC, &n), DB_E_UNSUPPORTEDCONVERSION);
    EXPECT_EQ(convert->CanConvert(DBTYPE_GUID, DBTYPE_NUMERIC), S_FALSE);
    EXPECT_EQ(convert->CanConvert(DBTYPE_I8, DBTYPE_NUMERIC), S_OK);
    EXPECT_EQ(convert->CanConvert(DBTYPE_NUMERIC, DBTYPE_R8), S_OK);
}

TEST_F(DataConvertTest, numbersConvertToAndFromText)
{
    char16_t text[16];
    ASSERT_EQ(run(DBTYPE_NUMERIC, numeric(4, 2, false, 1234), DBTYPE_WSTR, &text, 0, 0,
                  DBDATACONVERT_DEFAULT, sizeof(DB_NUMERIC), sizeof text),
              S_OK);
    EXPECT_EQ(std::u16string(text), u"-12.34");
    EXPECT_EQ(length, 12u);
    ASSERT_EQ(run(DBTYPE_NUMERIC, numeric(4, 4, true, 5), DBTYPE_WSTR, &text, 0, 0,
                  DBDATACONVERT_DEFAULT, sizeof(DB_NUMERIC), sizeof text),
              S_OK);
    EXPECT_EQ(std::u16string(text), u"0.0005");
    // A number cut short would be wrong: too small a buffer overflows.
    EXPECT_EQ(run(DBTYPE_NUMERIC, numeric(4, 2, false, 1234), DBTYPE_WSTR, &text, 0, 0,
                  DBDATACONVERT_DEFAULT, sizeof(DB_NUMERIC), 6 * sizeof(char16_t)),
              DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status, DBSTATUS_E_DATAOVERFLOW);

    const char *input = "  -123.4500 ";
    DB_NUMERIC n;
    ASSERT_EQ(convert->DataConvert(DBTYPE_STR, DBTYPE_NUMERIC, std::strlen(input), &length,
                                   const_cast<char *>(input), &n, sizeof n, DBSTATUS_S_OK, &status,
                                   0, 0, 0),
              S_OK);
    EXPECT_EQ(n.sign, 0);
    EXPECT_EQ(n.scale, 4);
    EXPECT_EQ(n.val[0] | (n.val[1] << 8) | (n.val[2] << 16), 1234500);
    const char *bad = "12abc";
    EXPECT_EQ(convert->DataConvert(DBTYPE_STR, DBTYPE_NUMERIC, 5, &length, const_cast<char *>(bad),
                                   &n, sizeof n, DBSTATUS_S_OK, &status, 0, 0, 0),
              DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status, DBSTATUS_E_CANTCONVERTVALUE);
}

TEST_F(DataConvertTest, currencyAndDecimalKeepTheirDigits)
{
    CY cy;
    cy.int64 = 123456; // 12.3456
    DB_NUMERIC n;
    ASSERT_EQ(run(DBTYPE_CY, cy, DBTYPE_NUMERIC, &n), S_OK);
    EXPECT_EQ(n.scale, 4);
    EXPECT_EQ(n.precision, 19);
    DECIMAL dec;
    ASSERT_EQ(run(DBTYPE_NUMERIC, n, DBTYPE_DECIMAL, &dec), S_OK);
    EXPECT_EQ(dec.scale, 4);
    EXPECT_EQ(dec.Lo64, 123456u);
    CY back;
    ASSERT_EQ(run(DBTYPE_DECIMAL, dec, DBTYPE_CY, &back), S_OK);
    EXPECT_EQ(back.int64, 123456);
}

} // namespace
