// Windows Sockets semantics on POSIX: a non-blocking connect reads "would
// block", a listening port shows up as writable, and a refused port does not
// show up at all but waits out the time-out.

#include "platform/sdk/winsock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A loopback port that nothing listens on: bound once to learn a free port, then closed.
unsigned short unusedPort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = 0;
    EXPECT_EQ(bind(static_cast<int>(s), reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    socklen_t size = sizeof address;
    getsockname(static_cast<int>(s), reinterpret_cast<sockaddr *>(&address), &size);
    closesocket(s);
    return ntohs(address.sin_port);
}

struct Attempt {
    int connectResult;
    int connectError;
    int selected;
    bool inWriteSet;
    double seconds;
};

Attempt attempt(unsigned short port, long timeoutMicroseconds)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    u_long nonBlocking = 1;
    EXPECT_EQ(ioctlsocket(s, FIONBIO, &nonBlocking), 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    Attempt a{};
    a.connectResult = connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    a.connectError = WSAGetLastError();
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval timeout = {0, timeoutMicroseconds};
    const auto start = Clock::now();
    a.selected = select(0, nullptr, &writable, nullptr, &timeout);
    a.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    a.inWriteSet = FD_ISSET(s, &writable);
    closesocket(s);
    return a;
}

TEST(Winsock, startupReportsVersionTwoTwo)
{
    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    EXPECT_EQ(WSACleanup(), 0);
}

TEST(Winsock, aListeningPortIsWritableWellBeforeTheTimeout)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(bind(static_cast<int>(listener), reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(static_cast<int>(listener), 4), 0);
    socklen_t size = sizeof address;
    getsockname(static_cast<int>(listener), reinterpret_cast<sockaddr *>(&address), &size);

    const Attempt a = attempt(ntohs(address.sin_port), 200000);
    if (a.connectResult == SOCKET_ERROR) {
        EXPECT_EQ(a.connectError, WSAEWOULDBLOCK);
    }
    EXPECT_EQ(a.selected, 1);
    EXPECT_TRUE(a.inWriteSet);
    EXPECT_LT(a.seconds, 0.15);
    closesocket(listener);
}

TEST(Winsock, aRefusedPortIsNeverWritableAndWaitsOutTheTimeout)
{
    const Attempt a = attempt(unusedPort(), 200000);
    // Windows never fails a non-blocking connect at once.
    EXPECT_EQ(a.connectResult, SOCKET_ERROR);
    EXPECT_EQ(a.connectError, WSAEWOULDBLOCK);
    EXPECT_EQ(a.selected, 0);
    EXPECT_FALSE(a.inWriteSet);
    EXPECT_GE(a.seconds, 0.19);
    EXPECT_LT(a.seconds, 0.5);
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

TEST(Winsock, anAddressThatIsNotDottedIpv4IsInaddrNone)
{
    EXPECT_EQ(inet_addr("sqlserver.example"), INADDR_NONE);
    EXPECT_EQ(inet_addr("127.0.0.1,1433"), INADDR_NONE);
    EXPECT_NE(inet_addr("10.0.0.1"), INADDR_NONE);
}

} // namespace
