// The data conversion library's two conversions, I8 to DB_NUMERIC and
// DB_NUMERIC to R8, with the precision, overflow and status rules around them.

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

TEST_F(DataConvertTest, theExtremesOfI8KeepTheirMagnitudeAndSign)
{
    for (LONGLONG value : {LLONG_MIN, LLONG_MAX, -1LL, 0LL}) {
        DB_NUMERIC n;
        ASSERT_EQ(run(DBTYPE_I8, value, DBTYPE_NUMERIC, &n), S_OK) << value;
        EXPECT_EQ(n.sign, value < 0 ? 0 : 1) << value;
        unsigned long long magnitude;
        std::memcpy(&magnitude, n.val, sizeof magnitude);
        EXPECT_EQ(magnitude, value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                       : static_cast<unsigned long long>(value));
    }
}

TEST_F(DataConvertTest, aValueTooWideForTheAskedPrecisionOverflows)
{
    DB_NUMERIC n;
    EXPECT_EQ(run(DBTYPE_I8, LONGLONG(12345), DBTYPE_NUMERIC, &n, 4), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status, DBSTATUS_E_DATAOVERFLOW);
    EXPECT_EQ(run(DBTYPE_I8, LONGLONG(1234), DBTYPE_NUMERIC, &n, 4), S_OK);
    EXPECT_EQ(n.precision, 4);
    EXPECT_EQ(run(DBTYPE_I8, LONGLONG(1), DBTYPE_NUMERIC, &n, 39), DB_E_BADPRECISION);
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
    EXPECT_EQ(convert->CanConvert(DBTYPE_NUMERIC, DBTYPE_I8), S_FALSE);
}

} // namespace
