// The socket's own failures: a silent peer times out, a refused port is an
// I/O error. Bytes both ways and a peer that closes are every live test's,
// through this transport.
#include "thrown.h"

#include "tds/sockettransport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

using namespace rz::tds;
using tdstest::thrownBy;
using namespace std::chrono_literals;

namespace {

// A listening socket on 127.0.0.120 with a port of the kernel's choosing.
struct Listener {
    SocketHandle socket{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    uint16_t port = 0;

    Listener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr("127.0.0.120");
        if (::bind(socket.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(socket.get(), 4) != 0)
            return;
        socklen_t length = sizeof address;
        ::getsockname(socket.get(), reinterpret_cast<sockaddr *>(&address), &length);
        port = ntohs(address.sin_port);
    }
    SocketHandle accept() { return SocketHandle(::accept(socket.get(), nullptr, nullptr)); }
};

} // namespace

TEST(SocketTransport, ASilentPeerTimesOutAfterTheTimeout)
{
    Listener listener;
    ASSERT_NE(listener.port, 0);
    SocketTransport client = SocketTransport::connect("127.0.0.120", listener.port, 2s);
    SocketHandle server = listener.accept();
    client.setTimeout(200ms);
    uint8_t buffer[4];
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(thrownBy([&] { client.receiveSome(buffer, sizeof buffer); }).kind, ErrorKind::Timeout);
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 190ms);
    EXPECT_LT(waited, 2s);
}

TEST(SocketTransport, ARefusedPortIsAnIoError)
{
    uint16_t port;
    {
        Listener listener;   // take a free port, then close it
        port = listener.port;
    }
    const auto t = thrownBy([&] { SocketTransport::connect("127.0.0.120", port, 2s); });
    EXPECT_EQ(t.kind, ErrorKind::Io);
    EXPECT_NE(t.what.find("refused"), std::string::npos) << t.what;
}
