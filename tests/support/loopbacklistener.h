#pragma once
// A TCP listener on port 1433 of one loopback address, so the reachability
// probe finds a "server" there. A thread accepts and at once closes every
// connection; the backlog is deep enough for a thousand quick probes even
// when that thread is slow to be scheduled. Written on the Windows Sockets
// calls of platform/sdk/winsock.h (the system's on Windows).

#include "platform/sdk/winsock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <stdexcept>
#include <string>
#include <thread>

namespace rztest {

class LoopbackListener
{
public:
    explicit LoopbackListener(const std::string &address)
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        sockaddr_in where = {};
        where.sin_family = AF_INET;
        where.sin_port = htons(1433);
        where.sin_addr.s_addr = ::inet_addr(address.c_str());
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&yes), sizeof yes);
#ifdef SO_REUSEPORT
        // Test cases run side by side (ctest -j) may listen on the same address.
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEPORT, reinterpret_cast<const char *>(&yes), sizeof yes);
#endif
        if (listener == INVALID_SOCKET
            || ::bind(listener, reinterpret_cast<const sockaddr *>(&where), sizeof where) != 0
            || ::listen(listener, SOMAXCONN) != 0) {
            if (listener != INVALID_SOCKET)
                closesocket(listener);
            WSACleanup();
            throw std::runtime_error("cannot listen on " + address + ":1433");
        }
        acceptor = std::thread([this] {
            for (;;) {
                const SOCKET connection = ::accept(listener, nullptr, nullptr);
                if (connection == INVALID_SOCKET)
                    return; // woken by the destructor
                closesocket(connection);
            }
        });
    }
    ~LoopbackListener()
    {
        // What wakes a blocked accept: closing the socket on Windows, shutting
        // it down on Linux (where closing it would not).
#ifdef _WIN32
        closesocket(listener);
        acceptor.join();
#else
        ::shutdown(listener, SHUT_RDWR);
        acceptor.join();
        closesocket(listener);
#endif
        WSACleanup();
    }
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;

private:
    SOCKET listener = INVALID_SOCKET;
    std::thread acceptor;
};

// Handles (file descriptors off Windows) open in this process: a leaked
// socket shows as one more.
inline int openDescriptors()
{
#ifdef _WIN32
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return int(count);
#else
    int count = 0;
    for (int fd = 0; fd < 4096; ++fd)
        count += ::fcntl(fd, F_GETFD) != -1;
    return count;
#endif
}

} // namespace rztest
