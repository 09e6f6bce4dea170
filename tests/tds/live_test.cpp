// A live session against the local test server on 127.0.0.120.
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
    static void SetUpTestSuite() { server_ = new tdstest::TestServer(kAddress); }
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

    static tdstest::TestServer *server_;
};

tdstest::TestServer *LiveServer::server_ = nullptr;

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

TEST_F(LiveServer, AWrongPasswordIsRefusedWithError18456)
{
    LoginOptions options = saLogin();
    options.password = "wrong";
    try {
        connect(options);
        FAIL() << "logged in";
    } catch (const LoginError &e) {
        ASSERT_FALSE(e.messages().empty());
        EXPECT_EQ(e.messages()[0].number, 18456);
    }
}

TEST_F(LiveServer, RequiringEncryptionFailsCleanly)
{
    LoginOptions options = saLogin();
    options.encryption = EncryptionPolicy::Required;
    try {
        connect(options);
        FAIL() << "logged in";
    } catch (const TdsError &e) {
        EXPECT_EQ(e.kind(), ErrorKind::Encryption) << e.what();
    }
}

TEST_F(LiveServer, ALargerPacketSizeIsNegotiated)
{
    LoginOptions options = saLogin();
    options.packetSize = 16384;
    auto connection = connect(options);
    EXPECT_EQ(connection->session().packetSize, 16384u);
}
