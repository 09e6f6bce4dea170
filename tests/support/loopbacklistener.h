#pragma once
// A TCP listener on port 1433 of one loopback address, so the reachability
// probe finds a "server" there. A thread accepts and at once closes every
// connection; the backlog is deep enough for a thousand quick probes even
// when that thread is slow to be scheduled.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>
#include <string>

namespace rztest {

class LoopbackListener
{
public:
    explicit LoopbackListener(const std::string &address)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // Test cases run side by side (ctest -j) may listen on the same address.
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
        sockaddr_in where = {};
        where.sin_family = AF_INET;
        where.sin_port = htons(1433);
        where.sin_addr.s_addr = ::inet_addr(address.c_str());
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0
            || ::listen(fd, SOMAXCONN) != 0) {
            if (fd >= 0)
                ::close(fd);
            throw std::runtime_error("cannot listen on " + address + ":1433");
        }
        acceptor = std::thread([this] {
            for (;;) {
                const int connection = ::accept(fd, nullptr, nullptr);
                if (connection < 0)
                    return; // woken by shutdown() in the destructor
                ::close(connection);
            }
        });
    }
    ~LoopbackListener()
    {
        ::shutdown(fd, SHUT_RDWR);
        acceptor.join();
        ::close(fd);
    }
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;

private:
    int fd = -1;
    std::thread acceptor;
};

// File descriptors open in this process: a leaked socket shows as one more.
inline int openDescriptors()
{
    int count = 0;
    for (int fd = 0; fd < 4096; ++fd)
        count += ::fcntl(fd, F_GETFD) != -1;
    return count;
}

} // namespace rztest
