// A live session against the local test server on 127.0.0.120.
#include "rowcollector.h"
#include "testserver.h"

#include "tds/connection.h"

#include <gtest/gtest.h>

using namespace rz::tds;
using namespace std::chrono_literals;

namespace {

constexpr const char *kAddress = "127.0.0.120";

LoginOptions saLogin()
{
    LoginOptions options;
    options.userName = "sa";
    options.password = "Secret123";
    options.database = "testdb";
    options.loginTimeout = 5s;
    return options;
}

class LiveServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new rztest::TestServer(kAddress); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server_->running()) << "the test server did not start"; }

    static std::unique_ptr<Connection> connect(LoginOptions options = saLogin())
    {
        return Connection::open(kAddress, 1433, options);
    }

    static rztest::TestServer *server_;
};

rztest::TestServer *LiveServer::server_ = nullptr;

} // namespace

TEST_F(LiveServer, LogsInAndLearnsTheSession)
{
    auto connection = connect();
    EXPECT_EQ(connection->session().database, "testdb");
    EXPECT_EQ(connection->session().loginAck.tdsVersion, kTdsVersion74);
    EXPECT_EQ(connection->session().collation.lcid(), 0x0409u);
    EXPECT_EQ(connection->preLogin().encryption, EncryptionOption::NotSupported);
    EXPECT_TRUE(connection->usable());
}

TEST_F(LiveServer, ALargerPacketSizeIsNegotiated)
{
    LoginOptions options = saLogin();
    options.packetSize = 16384;
    auto connection = connect(options);
    EXPECT_EQ(connection->session().packetSize, 16384u);
}

namespace {

// Runs one batch and collects everything it answers.
tdstest::RowCollector runBatch(Connection &connection, const std::string &sql)
{
    tdstest::RowCollector collector(&connection.decoder());
    connection.sendBatch(sql);
    EXPECT_TRUE(connection.readResponse(collector));
    return collector;
}

int32_t firstInt(const tdstest::RowCollector &c)
{
    return c.results.at(0).rows.at(0).at(0).as<int32_t>();
}

} // namespace

TEST_F(LiveServer, ABatchWithSeveralResultSetsAndEveryType)
{
    auto connection = connect();
    auto created = runBatch(*connection,
        "CREATE TABLE every_type (i int, bi bigint, si smallint, ti tinyint, b bit, d decimal(20,5), "
        "n numeric(5,2), m money, sm smallmoney, f float, r real, c char(4), vc varchar(10), nc nchar(3), "
        "nvc nvarchar(10), vmax varchar(max), nvmax nvarchar(max), tx text, ntx ntext, bin binary(3), "
        "vb varbinary(10), vbmax varbinary(max), img image, dt date, tm time(7), dtm datetime, "
        "sdt smalldatetime, dt2 datetime2(7), dto datetimeoffset(7), g uniqueidentifier);"
        "INSERT INTO every_type VALUES (-7, 9000000000, -300, 200, 1, '-123456789012345.12345', 123.45, "
        "-922337203685.4775, 214748.3647, 2.5, -0.5, 'ab', 'hello', N'x', N'h\xC3\xA9llo', REPLICATE('v', 9000), "
        "N'wide', 'text value', N'ntext value', 0x010203, 0xCAFE, 0x00FF, 0xBEEF, '0001-01-01', '23:59:59.9999999', "
        "'2024-02-29 12:34:56.787', '2000-01-01 10:30', '9999-12-31 23:59:59.9999999', "
        "'2024-02-29 03:00:00.1234567 +00:00', '6F9619FF-8B86-D011-B42D-00C04FC964FF');"
        "INSERT INTO every_type (i) VALUES (NULL)");
    ASSERT_TRUE(created.messages.empty()) << created.messages[0].message;

    auto c = runBatch(*connection, "SELECT * FROM every_type ORDER BY bi DESC; SELECT 42 AS answer, N'two' AS second;"
                                   "SELECT CAST('-12345678901234567890123.45' AS decimal(25,2))");
    ASSERT_TRUE(c.messages.empty()) << c.messages[0].message;
    ASSERT_EQ(c.results.size(), 3u);
    const auto &set = c.results[0];
    ASSERT_EQ(set.columns.size(), 30u);
    ASSERT_EQ(set.rows.size(), 2u);
    const auto &r = set.rows[0];
    size_t i = 0;
    EXPECT_EQ(r[i++].as<int32_t>(), -7);
    EXPECT_EQ(r[i++].as<int64_t>(), 9000000000);
    EXPECT_EQ(r[i++].as<int16_t>(), -300);
    EXPECT_EQ(r[i++].as<uint8_t>(), 200);
    EXPECT_EQ(r[i++].as<uint8_t>(), 1);
    {
        EXPECT_EQ(set.columns[i].type.name(), "decimal(20,5)");
        const auto d = r[i++].as<DecimalValue>();
        EXPECT_TRUE(d.negative);
        EXPECT_EQ(d.low, 12345678901234512345u);
        EXPECT_EQ(d.high, 0u);
        EXPECT_EQ(d.scale, 5);
    }
    {
        const auto d = r[i++].as<DecimalValue>();
        EXPECT_EQ(d.low, 12345u);
        EXPECT_EQ(d.scale, 2);
    }
    EXPECT_EQ(r[i++].as<int64_t>(), -9223372036854775) << "money with both words in use, exact";
    EXPECT_EQ(r[i++].as<int64_t>(), 2147483647) << "smallmoney's largest";
    EXPECT_EQ(r[i++].as<double>(), 2.5);
    EXPECT_EQ(r[i++].as<float>(), -0.5f);
    EXPECT_EQ(r[i++].text(), "ab  ");
    EXPECT_EQ(r[i++].text(), "hello");
    EXPECT_EQ(r[i++].utf16Ascii(), "x  ");
    EXPECT_EQ(r[i++].bytes, (std::vector<uint8_t>{'h', 0, 0xE9, 0, 'l', 0, 'l', 0, 'o', 0}));
    EXPECT_EQ(r[i].length, 9000u);
    EXPECT_EQ(r[i++].text(), std::string(9000, 'v'));
    EXPECT_EQ(r[i++].utf16Ascii(), "wide");
    EXPECT_EQ(r[i++].text(), "text value");
    EXPECT_EQ(r[i++].utf16Ascii(), "ntext value");
    EXPECT_EQ(r[i++].bytes, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(r[i++].bytes, (std::vector<uint8_t>{0xCA, 0xFE}));
    EXPECT_EQ(r[i++].bytes, (std::vector<uint8_t>{0x00, 0xFF}));
    EXPECT_EQ(r[i++].bytes, (std::vector<uint8_t>{0xBE, 0xEF}));
    EXPECT_EQ(r[i++].as<int32_t>(), 0) << "0001-01-01";
    EXPECT_EQ(r[i++].as<int64_t>(), kTicksPerDay - 1);
    {
        const auto v = r[i++].as<DateTimeValue>();
        EXPECT_EQ(v.days, 738944);
        EXPECT_EQ(v.ticks, 452967866667) << "datetime .787 is 236/300 s";
    }
    {
        const auto v = r[i++].as<DateTimeValue>();
        EXPECT_EQ(v.days, 730119);
        EXPECT_EQ(v.ticks, 630LL * 600000000);
    }
    {
        const auto v = r[i++].as<DateTimeValue>();
        EXPECT_EQ(v.days, 3652058);
        EXPECT_EQ(v.ticks, kTicksPerDay - 1);
    }
    {
        EXPECT_EQ(set.columns[i].type.name(), "datetimeoffset(7)");
        const auto v = r[i++].as<DateTimeValue>();
        EXPECT_EQ(v.days, 738944);
        EXPECT_EQ(v.ticks, 108001234567);
        EXPECT_EQ(v.offsetMinutes, 0);
    }
    EXPECT_EQ(r[i++].bytes, (std::vector<uint8_t>{0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0, 0xB4, 0x2D, 0x00,
                                                  0xC0, 0x4F, 0xC9, 0x64, 0xFF}));
    EXPECT_EQ(i, 30u);
    for (size_t k = 1; k < 30; ++k)
        EXPECT_TRUE(set.rows[1][k].null()) << "column " << k;

    ASSERT_EQ(c.results[1].rows.size(), 1u);
    EXPECT_EQ(c.results[1].rows[0][0].as<int32_t>(), 42);
    EXPECT_EQ(c.results[1].rows[0][1].utf16Ascii(), "two");
    {
        // 1234567890123456789012345 needs the high word: 0x1056E * 2^64 + 0x0F36A6443DE2DF79.
        const auto d = c.results[2].rows.at(0).at(0).as<DecimalValue>();
        EXPECT_TRUE(d.negative);
        EXPECT_EQ(d.high, 0x1056Eu);
        EXPECT_EQ(d.low, 0x0F36A6443DE2DF79u);
        EXPECT_EQ(d.precision, 25);
    }
    ASSERT_GE(c.dones.size(), 3u);
    EXPECT_TRUE(c.dones.front().more());
    EXPECT_EQ(c.dones.front().rowCount, 2u);
    EXPECT_FALSE(c.dones.back().more());
}

TEST_F(LiveServer, AnErrorInABatchComesAsARecordAndTheSessionGoesOn)
{
    auto connection = connect();
    auto c = runBatch(*connection, "SELECT * FROM no_such_table");
    ASSERT_EQ(c.messages.size(), 1u);
    EXPECT_TRUE(c.messages[0].isError);
    EXPECT_EQ(c.messages[0].number, 208);
    EXPECT_EQ(c.messages[0].severity, 16);
    EXPECT_FALSE(c.messages[0].server.empty());
    EXPECT_TRUE(c.dones.back().error());
    EXPECT_EQ(firstInt(runBatch(*connection, "SELECT 5")), 5);
}

TEST_F(LiveServer, UseChangesTheDatabaseOfTheSession)
{
    auto connection = connect();
    runBatch(*connection, "USE master");
    EXPECT_EQ(connection->session().database, "master");
}
