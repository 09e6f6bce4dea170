// Exact numbers to double: the result must be the double nearest to the
// decimal value, at the edges of the exact range and for random numerics
// through the conversion library.

#include "platform/com/comptr.h"
#include "platform/sdk/oledb.h"
#include "platform/services/exactnumber.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

using rz::ComPtr;
using rz::ExactNumber;

// The reference: the decimal text read back by strtod.
double throughText(const ExactNumber &value)
{
    return std::strtod(rz::toText(value).c_str(), nullptr);
}

ExactNumber exact(bool negative, rz::uint128 magnitude, int scale)
{
    ExactNumber n;
    n.negative = negative;
    n.magnitude = magnitude;
    n.scale = scale;
    return n;
}

void expectSameBits(double actual, double expected, const ExactNumber &value)
{
    EXPECT_EQ(std::memcmp(&actual, &expected, sizeof actual), 0)
        << rz::toText(value) << ": " << actual << " instead of " << expected;
}

TEST(NumericToDouble, boundariesOfTheExactRangeAndZero)
{
    const rz::uint128 limit = rz::uint128(1) << 53;
    for (rz::uint128 magnitude : {rz::uint128(0), rz::uint128(1), rz::uint128(5), limit - 1, limit, limit + 1,
                                  rz::uint128(9007199254740993ULL), rz::powerOfTen(15), rz::powerOfTen(16) - 1,
                                  rz::powerOfTen(22), rz::powerOfTen(38) - 1}) {
        for (int scale : {0, 1, 2, 4, 15, 21, 22, 23, 38}) {
            for (bool negative : {false, true}) {
                const ExactNumber value = exact(negative, magnitude, scale);
                expectSameBits(rz::toDouble(value), throughText(value), value);
            }
        }
    }
    // A negative zero is written "0": no sign survives.
    EXPECT_FALSE(std::signbit(rz::toDouble(exact(true, 0, 3))));
    EXPECT_EQ(rz::toDouble(exact(false, 1234, 2)), 12.34);
    EXPECT_EQ(rz::toDouble(exact(true, 1, 1)), -0.1);
}

TEST(NumericToDouble, theConversionLibraryConvertsNumericToTheNearestDouble)
{
    ComPtr<IDataConvert> convert;
    ASSERT_EQ(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER, IID_IDataConvert,
                               convert.putVoid()),
              S_OK);
    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        DB_NUMERIC numeric = {};
        numeric.precision = 38;
        numeric.scale = BYTE(random() % 39);
        numeric.sign = BYTE(random() & 1);
        const int bytes = 1 + int(random() % 16);
        for (int b = 0; b < bytes && b < 16; ++b)
            numeric.val[b] = BYTE(random());
        const ExactNumber value = rz::fromNumeric(numeric);
        if (value.magnitude >= rz::powerOfTen(38))
            continue;
        double result = 0;
        DBLENGTH length = 0;
        DBSTATUS status = DBSTATUS_S_OK;
        ASSERT_EQ(convert->DataConvert(DBTYPE_NUMERIC, DBTYPE_R8, sizeof numeric, &length, &numeric, &result,
                                       sizeof result, DBSTATUS_S_OK, &status, numeric.precision, numeric.scale,
                                       DBDATACONVERT_DEFAULT),
                  S_OK);
        EXPECT_EQ(status, DBSTATUS_S_OK);
        expectSameBits(result, throughText(value), value);
    }
}

} // namespace
