// RPCs, transactions and cancelling against the local test server on
// 127.0.0.121-123.
#include "rowcollector.h"
#include "testserver.h"

#include "tds/connection.h"
#include "tds/wirewriter.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace rz::tds;
using namespace std::chrono_literals;

namespace {

LoginOptions saLogin()
{
    LoginOptions options;
    options.userName = "sa";
    options.password = "Secret123";
    options.database = "testdb";
    options.loginTimeout = 10s;
    return options;
}

class LiveRpc : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new rztest::TestServer("127.0.0.121"); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(server_->running()) << "the test server did not start";
        connection_ = Connection::open("127.0.0.121", 1433, saLogin());
    }

    tdstest::RowCollector execute(const std::u16string &sql, const RpcParameters &parameters)
    {
        tdstest::RowCollector collector(&connection_->decoder());
        connection_->sendExecuteSql(sql, parameters);
        EXPECT_TRUE(connection_->readResponse(collector));
        return collector;
    }
    tdstest::RowCollector batch(const std::string &sql)
    {
        tdstest::RowCollector collector(&connection_->decoder());
        connection_->sendBatch(sql);
        EXPECT_TRUE(connection_->readResponse(collector));
        return collector;
    }
    RpcParameters parameters() const { return RpcParameters(connection_->session().collation); }

    static rztest::TestServer *server_;
    std::unique_ptr<Connection> connection_;
};

rztest::TestServer *LiveRpc::server_ = nullptr;

constexpr std::array<uint8_t, 16> kGuid = {0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0,
                                           0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF};

// One parameter of every type, with a value or all NULL.
RpcParameters everyParameter(RpcParameters p, bool withValues)
{
    auto v = [&](auto value) { return withValues ? std::optional(value) : std::nullopt; };
    DecimalValue d;
    d.low = 0x0F36A6443DE2DF79;
    d.high = 0x1056E;
    d.negative = 1;
    DateTimeValue dt;
    dt.days = 738944;
    dt.ticks = 452967891234;
    DateTimeValue dto = dt;
    dto.offsetMinutes = -330;
    static const std::u16string longText(5000, u'\u00e9');
    p.addInteger("@i1", v(int64_t(200)), 1);
    p.addInteger("@i2", v(int64_t(-300)), 2);
    p.addInteger("@i4", v(int64_t(-7)), 4);
    p.addInteger("@i8", v(int64_t(9000000000)), 8);
    p.addBit("@b", v(true));
    p.addFloat("@f", v(2.5));
    p.addFloat("@r", v(-0.5), 4);
    p.addDecimal("@d", v(d), 25, 2);
    p.addMoney("@m", v(int64_t(-9223372036854775)));
    p.addNVarChar("@s", withValues ? std::optional<std::u16string_view>(u"h\u00e9llo") : std::nullopt);
    p.addNVarChar("@ls", withValues ? std::optional<std::u16string_view>(longText) : std::nullopt, false, true);
    p.addVarBinary("@vb", v(std::vector<uint8_t>{0xCA, 0xFE}));
    p.addVarBinary("@lb", v(std::vector<uint8_t>(9000, 0x5A)), false, true);
    p.addDate("@dt", v(int32_t(0)));
    p.addTime("@t", v(int64_t(kTicksPerDay - 1)));
    p.addDateTime2("@dt2", v(dt));
    p.addDateTimeOffset("@dto", v(dto));
    p.addGuid("@g", v(kGuid));
    return p;
}

// The parameters go into typed columns and come back with a SELECT: the
// server answers a bare SELECT @parameter with a type of its own choosing.
std::string everyTypeTable(const std::string &name)
{
    return "CREATE TABLE " + name +
           " (i1 tinyint, i2 smallint, i4 int, i8 bigint, b bit, f float, r real, d decimal(25,2), m money, "
           "s nvarchar(10), ls nvarchar(max), vb varbinary(10), lb varbinary(max), dt date, t time(7), "
           "dt2 datetime2(7), dto datetimeoffset(7), g uniqueidentifier)";
}

std::u16string insertEveryParameter(const std::string &table)
{
    return utf16FromUtf8("INSERT INTO " + table +
                         " VALUES (@i1, @i2, @i4, @i8, @b, @f, @r, @d, @m, @s, @ls, @vb, @lb, @dt, @t, @dt2, @dto, @g)");
}

} // namespace

TEST_F(LiveRpc, EveryParameterTypeComesBackAsSent)
{
    batch(everyTypeTable("rpc_values"));
    auto inserted = execute(insertEveryParameter("rpc_values"), everyParameter(parameters(), true));
    ASSERT_TRUE(inserted.messages.empty()) << inserted.messages[0].message;
    auto c = batch("SELECT * FROM rpc_values");
    ASSERT_TRUE(c.messages.empty()) << c.messages[0].message;
    ASSERT_EQ(c.results.size(), 1u);
    const auto &set = c.results[0];
    ASSERT_EQ(set.rows.size(), 1u);
    const auto &r = set.rows[0];
    size_t i = 0;
    EXPECT_EQ(r[i++].as<uint8_t>(), 200);
    EXPECT_EQ(r[i++].as<int16_t>(), -300);
    EXPECT_EQ(r[i++].as<int32_t>(), -7);
    EXPECT_EQ(r[i++].as<int64_t>(), 9000000000);
    EXPECT_EQ(r[i++].as<uint8_t>(), 1);
    EXPECT_EQ(r[i++].as<double>(), 2.5);
    EXPECT_EQ(r[i++].as<float>(), -0.5f);
    {
        EXPECT_EQ(set.columns[i].type.name(), "decimal(25,2)");
        const auto d = r[i++].as<DecimalValue>();
        EXPECT_TRUE(d.negative);
        EXPECT_EQ(d.high, 0x1056Eu);
        EXPECT_EQ(d.low, 0x0F36A6443DE2DF79u);
    }
    EXPECT_EQ(r[i++].as<int64_t>(), -9223372036854775);
    EXPECT_EQ(r[i++].bytes, (std::vector<uint8_t>{'h', 0, 0xE9, 0, 'l', 0, 'l', 0, 'o', 0}));
    {
        EXPECT_EQ(set.columns[i].type.name(), "nvarchar(max)");
        EXPECT_EQ(r[i].length, 10000u);
        std::vector<uint8_t> expected;
        WireWriter(expected).utf16(std::u16string(5000, u'\u00e9'));
        EXPECT_EQ(r[i++].bytes, expected);
    }
    EXPECT_EQ(r[i++].bytes, (std::vector<uint8_t>{0xCA, 0xFE}));
    EXPECT_EQ(r[i++].bytes, std::vector<uint8_t>(9000, 0x5A));
    EXPECT_EQ(r[i++].as<int32_t>(), 0);
    EXPECT_EQ(r[i++].as<int64_t>(), kTicksPerDay - 1);
    {
        const auto v = r[i++].as<DateTimeValue>();
        EXPECT_EQ(v.days, 738944);
        EXPECT_EQ(v.ticks, 452967891234);
    }
    {
        EXPECT_EQ(set.columns[i].type.name(), "datetimeoffset(7)");
        const auto v = r[i++].as<DateTimeValue>();
        EXPECT_EQ(v.days, 738944);
        EXPECT_EQ(v.ticks, 452967891234) << "the UTC instant";
        // The local test server stores the instant without its zone, so the
        // offset is checked by the decoder's own tests only.
    }
    EXPECT_EQ(r[i++].bytes, std::vector<uint8_t>(kGuid.begin(), kGuid.end()));
    EXPECT_EQ(i, r.size());
    EXPECT_EQ(inserted.returnStatuses, std::vector<int32_t>{0});
    EXPECT_EQ(inserted.dones.back().token, 0xFE);
    EXPECT_EQ(inserted.dones.front().rowCount, 1u);
}

TEST_F(LiveRpc, TheNullOfEveryParameterTypeComesBackNull)
{
    batch(everyTypeTable("rpc_nulls"));
    auto inserted = execute(insertEveryParameter("rpc_nulls"), everyParameter(parameters(), false));
    ASSERT_TRUE(inserted.messages.empty()) << inserted.messages[0].message;
    auto c = batch("SELECT * FROM rpc_nulls");
    const auto &r = c.results.at(0).rows.at(0);
    ASSERT_EQ(r.size(), 18u);
    for (size_t i = 0; i < r.size(); ++i)
        EXPECT_TRUE(r[i].null()) << "column " << i;
}

TEST_F(LiveRpc, OutputParametersReturnThroughReturnValues)
{
    RpcParameters p = parameters();
    p.addInteger("@in", 41);
    p.addInteger("@out", std::nullopt, 4, true);
    p.addNVarChar("@text", std::nullopt, true);
    p.addDateTime2("@when", std::nullopt, 7, true);
    auto c = execute(u"SET @out = @in + 1; SET @text = N'answer'; SET @when = '2024-02-29 12:34:56.1234567'", p);
    ASSERT_TRUE(c.messages.empty()) << c.messages[0].message;
    ASSERT_EQ(c.returnValues.size(), 3u);
    EXPECT_EQ(c.returnValues[0].name, "@out");
    ASSERT_FALSE(c.returnValues[0].isNull);
    int32_t out;
    ASSERT_EQ(c.returnValues[0].value.size(), 4u);
    std::memcpy(&out, c.returnValues[0].value.data(), 4);
    EXPECT_EQ(out, 42);
    EXPECT_EQ(utf8FromUtf16Le(c.returnValues[1].value.data(), c.returnValues[1].value.size()), "answer");
    DateTimeValue when;
    ASSERT_EQ(c.returnValues[2].value.size(), sizeof when);
    std::memcpy(&when, c.returnValues[2].value.data(), sizeof when);
    EXPECT_EQ(when.days, 738944);
    EXPECT_EQ(when.ticks, 452961234567);
}

TEST_F(LiveRpc, TransactionRequestsBeginCommitAndRollback)
{
    batch("CREATE TABLE tx_rows (n int)");
    connection_->sendTransactionRequest(TransactionRequest::Begin);
    connection_->discardResponse();
    const uint64_t descriptor = connection_->session().transactionDescriptor;
    EXPECT_NE(descriptor, 0u);
    batch("INSERT INTO tx_rows VALUES (1)");
    connection_->sendTransactionRequest(TransactionRequest::Rollback, true);
    connection_->discardResponse();
    EXPECT_NE(connection_->session().transactionDescriptor, 0u) << "a new transaction began";
    EXPECT_NE(connection_->session().transactionDescriptor, descriptor);
    batch("INSERT INTO tx_rows VALUES (2)");
    connection_->sendTransactionRequest(TransactionRequest::Commit);
    connection_->discardResponse();
    EXPECT_EQ(connection_->session().transactionDescriptor, 0u);
    auto c = batch("SELECT n FROM tx_rows");
    ASSERT_EQ(c.results.at(0).rows.size(), 1u);
    EXPECT_EQ(c.results[0].rows[0][0].as<int32_t>(), 2);
}

TEST_F(LiveRpc, CancellingAResultHalfWayLeavesTheConnectionUsable)
{
    tdstest::RowCollector c(&connection_->decoder());
    c.pauseAfterEachRow = true;
    connection_->sendBatch("WITH numbers(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM numbers WHERE n < 5000) "
                           "SELECT n, REPLICATE('p', 200) AS pad FROM numbers");
    EXPECT_FALSE(connection_->readResponse(c));
    EXPECT_FALSE(connection_->readResponse(c));
    connection_->cancel();
    EXPECT_FALSE(connection_->responsePending());
    auto after = batch("SELECT 7");
    EXPECT_EQ(after.results.at(0).rows.at(0).at(0).as<int32_t>(), 7);
}

TEST(LiveFaults, ATimeOutIsCancelledWithAttention)
{
    rztest::TestServer slow("127.0.0.122", {"--delay-ms", "700"});
    ASSERT_TRUE(slow.running());
    auto connection = Connection::open("127.0.0.122", 1433, saLogin());
    connection->setRequestTimeout(200ms);
    connection->sendBatch("SELECT 1");
    TokenHandler drop;
    try {
        connection->readResponse(drop);
        FAIL() << "no time-out";
    } catch (const TdsError &e) {
        EXPECT_EQ(e.kind(), ErrorKind::Timeout);
    }
    EXPECT_TRUE(connection->usable());
    EXPECT_THROW(connection->sendBatch("SELECT 2"), TdsError) << "not before the cancel";
    connection->cancel(5s);
    connection->setRequestTimeout(5s);
    tdstest::RowCollector c(&connection->decoder());
    connection->sendBatch("SELECT 2");
    EXPECT_TRUE(connection->readResponse(c));
    EXPECT_EQ(c.results.at(0).rows.at(0).at(0).as<int32_t>(), 2);
}

