// Byte-exact request encodings: SQL batch, transaction manager requests and
// RPC parameters of every type.
#include "memorytransport.h"
#include "streambuilder.h"

#include "tds/error.h"
#include "tds/packetchannel.h"
#include "tds/requests.h"
#include "tds/rpcparameters.h"
#include "tds/wirewriter.h"

#include <gtest/gtest.h>

using namespace rz::tds;
using tdstest::Stream;

namespace {

std::vector<uint8_t> encodedParameters(const RpcParameters &p)
{
    std::vector<uint8_t> out;
    p.appendTo(out);
    return out;
}

Collation latin1()
{
    Collation c;
    std::copy(tdstest::kLatin1Collation.begin(), tdstest::kLatin1Collation.end(), c.bytes.begin());
    return c;
}

} // namespace

TEST(SqlBatch, MatchesTheDocumentedBatchPacket)
{
    // "SET QUOTED_IDENTIFIER OFF" as the MC-SMP document's example carries it.
    const std::vector<uint8_t> expected = {
        0x01, 0x01, 0x00, 0x50, 0x00, 0x00, 0x01, 0x00, 0x16, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00, 0x02, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x53, 0x00, 0x45, 0x00, 0x54, 0x00,
        0x20, 0x00, 0x51, 0x00, 0x55, 0x00, 0x4F, 0x00, 0x54, 0x00, 0x45, 0x00, 0x44, 0x00, 0x5F, 0x00, 0x49, 0x00,
        0x44, 0x00, 0x45, 0x00, 0x4E, 0x00, 0x54, 0x00, 0x49, 0x00, 0x46, 0x00, 0x49, 0x00, 0x45, 0x00, 0x52, 0x00,
        0x20, 0x00, 0x4F, 0x00, 0x46, 0x00, 0x46, 0x00};
    tdstest::MemoryTransport transport;
    PacketChannel channel(transport);
    channel.sendMessage(PacketType::SqlBatch, encodeSqlBatch(u"SET QUOTED_IDENTIFIER OFF", 0));
    EXPECT_EQ(transport.sent, expected);
}

TEST(SqlBatch, CarriesTheTransactionDescriptor)
{
    const auto bytes = encodeSqlBatch(u"x", 0x0102030405060708);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 10, bytes.begin() + 18),
              (std::vector<uint8_t>{8, 7, 6, 5, 4, 3, 2, 1}));
}

TEST(TransactionRequests, BeginCommitAndRollbackAsFreeTdsSendsThem)
{
    const auto begin = encodeTransactionRequest(TransactionRequest::Begin, 0);
    EXPECT_EQ(std::vector<uint8_t>(begin.begin() + 22, begin.end()), (std::vector<uint8_t>{0x05, 0x00, 0x00, 0x00}));
    const auto commit = encodeTransactionRequest(TransactionRequest::Commit, 0x1122, false);
    EXPECT_EQ(std::vector<uint8_t>(commit.begin() + 22, commit.end()), (std::vector<uint8_t>{0x07, 0x00, 0x00, 0x00}));
    EXPECT_EQ(commit[10], 0x22);
    const auto rollback = encodeTransactionRequest(TransactionRequest::Rollback, 7, true);
    EXPECT_EQ(std::vector<uint8_t>(rollback.begin() + 22, rollback.end()),
              (std::vector<uint8_t>{0x08, 0x00, 0x00, 0x01, 0x00, 0x00}));
}

TEST(RpcParameters, IntegersBitsAndFloatsWithTheirNulls)
{
    RpcParameters p;
    p.addInteger("@a", -2, 4);
    p.addInteger("@b", std::nullopt, 8);
    p.addInteger("@c", 255, 1, true);
    p.addBit("@d", true);
    p.addFloat("@e", 1.5);
    p.addFloat("@f", -0.25, 4);
    p.addFloat("@g", std::nullopt);
    Stream e;
    e.bVarchar("@a").u8(0).u8(0x26).u8(4).u8(4).u32(0xFFFFFFFE);
    e.bVarchar("@b").u8(0).u8(0x26).u8(8).u8(0);
    e.bVarchar("@c").u8(1).u8(0x26).u8(1).u8(1).u8(255);
    e.bVarchar("@d").u8(0).u8(0x68).u8(1).u8(1).u8(1);
    e.bVarchar("@e").u8(0).u8(0x6D).u8(8).u8(8).u64(0x3FF8000000000000);
    e.bVarchar("@f").u8(0).u8(0x6D).u8(4).u8(4).u32(0xBE800000);
    e.bVarchar("@g").u8(0).u8(0x6D).u8(8).u8(0);
    EXPECT_EQ(encodedParameters(p), e.bytes);
    EXPECT_EQ(utf8FromUtf16(p.declaration()), "@a int,@b bigint,@c tinyint OUTPUT,@d bit,@e float,@f real,@g float");
}

TEST(RpcParameters, DecimalsUseTheLengthOfTheirPrecision)
{
    RpcParameters p;
    DecimalValue small;
    small.low = 12345;
    small.negative = 1;
    p.addDecimal("@a", small, 9, 2);
    DecimalValue wide;
    wide.low = 1;
    wide.high = 2;
    p.addDecimal("@b", wide, 38, 0);
    p.addDecimal("@c", std::nullopt, 20, 5);
    Stream e;
    e.bVarchar("@a").u8(0).u8(0x6A).u8(17).u8(9).u8(2).u8(5).u8(0).u32(12345);
    e.bVarchar("@b").u8(0).u8(0x6A).u8(17).u8(38).u8(0).u8(17).u8(1).u64(1).u64(2);
    e.bVarchar("@c").u8(0).u8(0x6A).u8(17).u8(20).u8(5).u8(0);
    EXPECT_EQ(encodedParameters(p), e.bytes);
    EXPECT_EQ(utf8FromUtf16(p.declaration()), "@a decimal(9,2),@b decimal(38,0),@c decimal(20,5)");
    DecimalValue tooWide;
    tooWide.low = uint64_t(1) << 40;
    EXPECT_THROW(p.addDecimal("@d", tooWide, 9, 0), TdsError);
    tooWide.low = 0;
    tooWide.high = 1;
    EXPECT_THROW(p.addDecimal("@d", tooWide, 19, 0), TdsError);
    EXPECT_THROW(p.addDecimal("@d", small, 5, 6), TdsError);
}

TEST(RpcParameters, MoneyAsTwoWordsHighFirst)
{
    RpcParameters p;
    p.addMoney("@m", 123456789012);
    p.addMoney("@n", std::nullopt);
    Stream e;
    e.bVarchar("@m").u8(0).u8(0x6E).u8(8).u8(8).u32(0x1C).u32(0xBE991A14);
    e.bVarchar("@n").u8(0).u8(0x6E).u8(8).u8(0);
    EXPECT_EQ(encodedParameters(p), e.bytes);
}

TEST(RpcParameters, ShortAndLongStringsAndBinaries)
{
    RpcParameters p(latin1());
    p.addNVarChar("@s", std::u16string_view(u"h\u00e9"));
    p.addNVarChar("@n", std::nullopt);
    const std::u16string longText(4001, u'x');
    p.addNVarChar("@l", std::u16string_view(longText));
    p.addNVarChar("@ln", std::nullopt, true, true);
    p.addVarBinary("@b", std::vector<uint8_t>{1, 2});
    p.addVarBinary("@bn", std::nullopt);
    p.addVarBinary("@bl", std::vector<uint8_t>(8001, 7));
    p.addVarBinary("@be", std::vector<uint8_t>{}, false, true);
    Stream e;
    e.bVarchar("@s").u8(0).u8(0xE7).u16(8000).raw(tdstest::kLatin1Collation).u16(4).raw({'h', 0, 0xE9, 0});
    e.bVarchar("@n").u8(0).u8(0xE7).u16(8000).raw(tdstest::kLatin1Collation).u16(0xFFFF);
    e.bVarchar("@l").u8(0).u8(0xE7).u16(0xFFFF).raw(tdstest::kLatin1Collation).u64(8002).u32(8002);
    for (int i = 0; i < 4001; ++i)
        e.u16('x');
    e.u32(0);
    e.bVarchar("@ln").u8(1).u8(0xE7).u16(0xFFFF).raw(tdstest::kLatin1Collation).u64(~uint64_t(0));
    e.bVarchar("@b").u8(0).u8(0xA5).u16(8000).u16(2).raw({1, 2});
    e.bVarchar("@bn").u8(0).u8(0xA5).u16(8000).u16(0xFFFF);
    e.bVarchar("@bl").u8(0).u8(0xA5).u16(0xFFFF).u64(8001).u32(8001).raw(std::vector<uint8_t>(8001, 7)).u32(0);
    e.bVarchar("@be").u8(0).u8(0xA5).u16(0xFFFF).u64(0).u32(0);
    EXPECT_EQ(encodedParameters(p), e.bytes);
    EXPECT_EQ(utf8FromUtf16(p.declaration()),
              "@s nvarchar(4000),@n nvarchar(4000),@l nvarchar(max),@ln nvarchar(max) OUTPUT,@b varbinary(8000),"
              "@bn varbinary(8000),@bl varbinary(max),@be varbinary(max)");
}

TEST(RpcParameters, DatesAndTimesAtTheirScale)
{
    RpcParameters p;
    p.addDate("@d", 738944);
    p.addTime("@t", 863999999999, 7);
    p.addTime("@t0", 10000000 + 9999999, 0);   // 1.9999999 s cut to 1 s at scale 0
    DateTimeValue v;
    v.days = 738944;
    v.ticks = 452967890000;
    p.addDateTime2("@dt", v, 3);
    v.offsetMinutes = -330;
    p.addDateTimeOffset("@o", v, 7);
    p.addDate("@dn", std::nullopt);
    p.addDateTimeOffset("@on", std::nullopt);
    Stream e;
    e.bVarchar("@d").u8(0).u8(0x28).u8(3).le(738944, 3);
    e.bVarchar("@t").u8(0).u8(0x29).u8(7).u8(5).le(863999999999, 5);
    e.bVarchar("@t0").u8(0).u8(0x29).u8(0).u8(3).le(1, 3);
    e.bVarchar("@dt").u8(0).u8(0x2A).u8(3).u8(7).le(45296789, 4).le(738944, 3);
    e.bVarchar("@o").u8(0).u8(0x2B).u8(7).u8(10).le(452967890000, 5).le(738944, 3).u16(uint16_t(-330));
    e.bVarchar("@dn").u8(0).u8(0x28).u8(0);
    e.bVarchar("@on").u8(0).u8(0x2B).u8(7).u8(0);
    EXPECT_EQ(encodedParameters(p), e.bytes);
    EXPECT_THROW(p.addTime("@bad", kTicksPerDay, 7), TdsError);
    EXPECT_THROW(p.addDate("@bad", 3652059), TdsError);
    EXPECT_THROW(p.addTime("@bad", 0, 8), TdsError);
}

TEST(RpcParameters, DateTimeRoundsToThreeHundredthsOfASecond)
{
    RpcParameters p;
    DateTimeValue v;
    v.days = kDaysTo1900 + 36523;   // 1999-12-31
    v.ticks = 863980070000;         // 23:59:58.007: 2/300 s after the second
    p.addDateTime("@dt", v);
    v.ticks = kTicksPerDay - 10000; // .999 rounds into the next day
    p.addDateTime("@next", v);
    p.addDateTime("@null", std::nullopt);
    Stream e;
    e.bVarchar("@dt").u8(0).u8(0x6F).u8(8).u8(8).le(36523, 4).le(86398 * 300 + 2, 4);
    e.bVarchar("@next").u8(0).u8(0x6F).u8(8).u8(8).le(36524, 4).le(0, 4);
    e.bVarchar("@null").u8(0).u8(0x6F).u8(8).u8(0);
    EXPECT_EQ(encodedParameters(p), e.bytes);
    EXPECT_EQ(p.declaration(), std::u16string(u"@dt datetime,@next datetime,@null datetime"));

    v.days = kDaysTo1900 + kDateTimeLastDay;
    EXPECT_FALSE(fitsDateTime(v)) << "9999-12-31 23:59:59.999 rounds past the last day";
    EXPECT_THROW(p.addDateTime("@bad", v), TdsError);
    v.ticks -= 10000;
    EXPECT_TRUE(fitsDateTime(v));
    v.days = kDaysTo1900 + kDateTimeFirstDay - 1;
    EXPECT_FALSE(fitsDateTime(v)) << "1752-12-31";
    EXPECT_EQ(p.size(), 3u) << "a refused value adds no parameter";
}

TEST(RpcParameters, GuidsAsTheirSixteenBytes)
{
    RpcParameters p;
    p.addGuid("@g", std::array<uint8_t, 16>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    p.addGuid("@n", std::nullopt);
    Stream e;
    e.bVarchar("@g").u8(0).u8(0x24).u8(16).u8(16).raw({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    e.bVarchar("@n").u8(0).u8(0x24).u8(16).u8(0);
    EXPECT_EQ(encodedParameters(p), e.bytes);
}

TEST(ExecuteSql, GoesByProcedureIdWithStatementAndDeclarationFirst)
{
    RpcParameters p(latin1());
    p.addInteger("@P1", 5);
    const auto bytes = encodeExecuteSql(u"SELECT @P1", p, latin1());
    Stream e;
    e.u16(0xFFFF).u16(10).u16(0);
    e.u8(0).u8(0).u8(0xE7).u16(8000).raw(tdstest::kLatin1Collation).u16(20).utf16("SELECT @P1");
    e.u8(0).u8(0).u8(0xE7).u16(8000).raw(tdstest::kLatin1Collation).u16(14).utf16("@P1 int");
    e.bVarchar("@P1").u8(0).u8(0x26).u8(4).u8(4).u32(5);
    EXPECT_EQ(bytes, e.bytes);
}

TEST(ProcedureCall, GoesByName)
{
    RpcParameters p;
    const auto bytes = encodeProcedureCall(u"sp_who", p);
    Stream e;
    e.u16(6).utf16("sp_who").u16(0);
    EXPECT_EQ(bytes, e.bytes);
}
