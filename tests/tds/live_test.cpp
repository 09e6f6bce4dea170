// The packet size a live test server grants (the login itself is every
// provider test's on this backend).
#include "testserver.h"

#include "tds/connection.h"

#include <gtest/gtest.h>

using namespace rz::tds;
using namespace std::chrono_literals;

TEST(LiveServer, ALargerPacketSizeIsNegotiated)
{
    rztest::TestServer server("127.0.0.120");
    ASSERT_TRUE(server.running()) << "the test server did not start";
    LoginOptions options;
    options.userName = "sa";
    options.password = "Secret123";
    options.database = "testdb";
    options.loginTimeout = 5s;
    options.packetSize = 16384;
    auto connection = Connection::open("127.0.0.120", 1433, options);
    EXPECT_EQ(connection->session().packetSize, 16384u);
}
