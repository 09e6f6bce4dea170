// Windows Sockets calls on POSIX: start-up and non-blocking mode. A
// listening port showing up as writable, a refused one waiting out the
// time-out and addresses that are no dotted IPv4 are the reachability
// probe's tests (tests/unit/driver), through these same calls.

#include "platform/sdk/winsock.h"

#include <gtest/gtest.h>

namespace {

TEST(Winsock, startupReportsVersionTwoTwo)
{
    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    EXPECT_EQ(WSACleanup(), 0);
}

TEST(Winsock, nonBlockingModeIsSetThroughFionbio)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
    char byte;
    // A non-blocking read on an unconnected stream fails at once instead of hanging.
    EXPECT_EQ(recv(static_cast<int>(s), &byte, 1, 0), -1);
    u_long off = 0;
    EXPECT_EQ(ioctlsocket(s, FIONBIO, &off), 0);
    EXPECT_EQ(ioctlsocket(s, 0x1234, &off), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    closesocket(s);
}

} // namespace
