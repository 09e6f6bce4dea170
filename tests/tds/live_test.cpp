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

} // namespace

TEST_F(LiveServer, UseChangesTheDatabaseOfTheSession)
{
    auto connection = connect();
    runBatch(*connection, "USE master");
    EXPECT_EQ(connection->session().database, "master");
}
