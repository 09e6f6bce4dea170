// SocketTransport on Windows Sockets: the same contract as the POSIX
// transport (sockettransport.cpp). A failed non-blocking connect shows in
// select's except set, not as a writable socket.

#include "tds/sockettransport.h"

#include "tds/error.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <mutex>

namespace rz::tds {

namespace {

std::string errorText(int error)
{
    char *text = nullptr;
    const DWORD chars = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                           | FORMAT_MESSAGE_IGNORE_INSERTS,
                                       nullptr, DWORD(error), 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = chars && text ? std::string(text, chars) : std::string();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "Windows Sockets error " + std::to_string(error)
                           : message + " (" + std::to_string(error) + ")";
}

std::string systemMessage(const std::string &what, int error)
{
    return what + ": " + errorText(error);
}

// Windows Sockets counts its users; the transport is one for the life of the
// process (clean-up is not allowed while a DLL unloads).
void startWindowsSockets()
{
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        const int rc = WSAStartup(MAKEWORD(2, 2), &data);
        if (rc != 0)
            throw TdsError(ErrorKind::Io, systemMessage("starting Windows Sockets", rc));
    });
}

timeval timevalFor(std::chrono::milliseconds timeout)
{
    timeval t{};
    t.tv_sec = long(timeout.count() / 1000);
    t.tv_usec = long((timeout.count() % 1000) * 1000);
    return t;
}

// Waits for a non-blocking connect; true when it succeeded.
bool finishConnect(SOCKET s, std::chrono::milliseconds timeout, std::string &failure)
{
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit = timevalFor(timeout);
    const int ready = ::select(0, nullptr, &writable, &failed, timeout.count() > 0 ? &limit : nullptr);
    if (ready == 0) {
        failure = "connection timed out";
        return false;
    }
    if (ready < 0) {
        failure = errorText(WSAGetLastError());
        return false;
    }
    if (FD_ISSET(s, &failed)) {
        int error = 0;
        int length = sizeof error;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length) != 0)
            error = WSAGetLastError();
        failure = errorText(error);
        return false;
    }
    return true;
}

bool setBlocking(SOCKET s, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

} // namespace

void SocketHandle::reset(NativeSocket fd)
{
    if (fd_ != kNoSocket)
        ::closesocket(SOCKET(fd_));
    fd_ = fd;
}

SocketTransport SocketTransport::connect(const std::string &host, uint16_t port, std::chrono::milliseconds connectTimeout)
{
    startWindowsSockets();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0)
        throw TdsError(ErrorKind::Io, "cannot resolve " + host + ": " + errorText(rc));
    std::string failure = "no address";
    SocketHandle connected;
    for (addrinfo *a = found; a && !connected.valid(); a = a->ai_next) {
        SocketHandle socket(NativeSocket(::socket(a->ai_family, a->ai_socktype, a->ai_protocol)));
        if (!socket.valid()) {
            failure = errorText(WSAGetLastError());
            continue;
        }
        if (!setBlocking(SOCKET(socket.get()), false)) {
            failure = errorText(WSAGetLastError());
            continue;
        }
        if (::connect(SOCKET(socket.get()), a->ai_addr, int(a->ai_addrlen)) != 0) {
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) {
                failure = errorText(error);
                continue;
            }
            if (!finishConnect(SOCKET(socket.get()), connectTimeout, failure))
                continue;
        }
        connected = std::move(socket);
    }
    ::freeaddrinfo(found);
    if (!connected.valid()) {
        const bool timedOut = failure == "connection timed out";
        throw TdsError(timedOut ? ErrorKind::Timeout : ErrorKind::Io,
                       "cannot connect to " + host + ":" + service + ": " + failure);
    }
    // Requests are written whole, so Nagle's delay only costs latency.
    const BOOL one = TRUE;
    ::setsockopt(SOCKET(connected.get()), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
    return SocketTransport(std::move(connected));
}

SocketTransport::SocketTransport(SocketHandle socket) : socket_(std::move(socket))
{
    if (socket_.valid() && !setBlocking(SOCKET(socket_.get()), true))
        throw TdsError(ErrorKind::Io, systemMessage("making the socket blocking", WSAGetLastError()));
}

void SocketTransport::setTimeout(std::chrono::milliseconds timeout)
{
    if (timeout.count() < 0)
        timeout = std::chrono::milliseconds(0);
    if (timeout == timeout_ || !socket_.valid())
        return;
    // Windows takes the time-outs as a DWORD of milliseconds.
    const DWORD limit = DWORD(timeout.count());
    const SOCKET s = SOCKET(socket_.get());
    if (::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&limit), sizeof limit) != 0 ||
        ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&limit), sizeof limit) != 0)
        throw TdsError(ErrorKind::Io, systemMessage("setting the socket time-out", WSAGetLastError()));
    timeout_ = timeout;
}

void SocketTransport::sendAll(const uint8_t *data, size_t size)
{
    if (!socket_.valid())
        throw TdsError(ErrorKind::ConnectionClosed, "the connection is closed");
    size_t sent = 0;
    while (sent < size) {
        const int chunk = int(std::min<size_t>(size - sent, size_t(1) << 30));
        const int n = ::send(SOCKET(socket_.get()), reinterpret_cast<const char *>(data + sent), chunk, 0);
        if (n >= 0) {
            sent += size_t(n);
            continue;
        }
        const int error = WSAGetLastError();
        if (error == WSAETIMEDOUT || error == WSAEWOULDBLOCK)
            throw TdsError(ErrorKind::Timeout, "sending to the server timed out");
        if (error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN)
            throw TdsError(ErrorKind::ConnectionClosed, "the server closed the connection");
        if (error != WSAEINTR)
            throw TdsError(ErrorKind::Io, systemMessage("sending to the server", error));
    }
}

size_t SocketTransport::receiveSome(uint8_t *data, size_t capacity)
{
    if (!socket_.valid())
        throw TdsError(ErrorKind::ConnectionClosed, "the connection is closed");
    const int wanted = int(std::min<size_t>(capacity, size_t(1) << 30));
    for (;;) {
        const int n = ::recv(SOCKET(socket_.get()), reinterpret_cast<char *>(data), wanted, 0);
        if (n >= 0)
            return size_t(n);
        const int error = WSAGetLastError();
        if (error == WSAETIMEDOUT || error == WSAEWOULDBLOCK)
            throw TdsError(ErrorKind::Timeout, "waiting for the server timed out");
        if (error == WSAECONNRESET || error == WSAECONNABORTED)
            return 0;
        if (error != WSAEINTR)
            throw TdsError(ErrorKind::Io, systemMessage("receiving from the server", error));
    }
}

bool SocketTransport::readable() const
{
    if (!socket_.valid())
        return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(SOCKET(socket_.get()), &readable);
    timeval now{};
    return ::select(0, &readable, nullptr, nullptr, &now) > 0;
}

} // namespace rz::tds
