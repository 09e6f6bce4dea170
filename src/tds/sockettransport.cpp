#include "tds/sockettransport.h"

#include "tds/error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace rz::tds {

namespace {

std::string systemMessage(const std::string &what, int error)
{
    return what + ": " + std::strerror(error);
}

int pollTimeout(std::chrono::milliseconds timeout)
{
    return timeout.count() > 0 ? int(timeout.count()) : -1;
}

// Waits for a non-blocking connect; true when it succeeded.
bool finishConnect(int fd, std::chrono::milliseconds timeout, std::string &failure)
{
    pollfd p{fd, POLLOUT, 0};
    int ready;
    do
        ready = ::poll(&p, 1, pollTimeout(timeout));
    while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        failure = "connection timed out";
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0) {
        failure = std::strerror(error);
        return false;
    }
    return true;
}

} // namespace

void SocketHandle::reset(NativeSocket fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

SocketTransport SocketTransport::connect(const std::string &host, uint16_t port, std::chrono::milliseconds connectTimeout)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0)
        throw TdsError(ErrorKind::Io, "cannot resolve " + host + ": " + ::gai_strerror(rc));
    std::string failure = "no address";
    SocketHandle connected;
    for (addrinfo *a = found; a && !connected.valid(); a = a->ai_next) {
        SocketHandle socket(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
        if (!socket.valid()) {
            failure = std::strerror(errno);
            continue;
        }
        if (::connect(socket.get(), a->ai_addr, a->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                failure = std::strerror(errno);
                continue;
            }
            if (!finishConnect(socket.get(), connectTimeout, failure))
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
    const int one = 1;
    ::setsockopt(connected.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return SocketTransport(std::move(connected));
}

SocketTransport::SocketTransport(SocketHandle socket) : socket_(std::move(socket))
{
    if (!socket_.valid())
        return;
    const int flags = ::fcntl(socket_.get(), F_GETFL);
    if (flags < 0 || ((flags & O_NONBLOCK) && ::fcntl(socket_.get(), F_SETFL, flags & ~O_NONBLOCK) != 0))
        throw TdsError(ErrorKind::Io, systemMessage("making the socket blocking", errno));
}

void SocketTransport::setTimeout(std::chrono::milliseconds timeout)
{
    if (timeout.count() < 0)
        timeout = std::chrono::milliseconds(0);
    if (timeout == timeout_ || !socket_.valid())
        return;
    timeval limit{};
    limit.tv_sec = time_t(timeout.count() / 1000);
    limit.tv_usec = suseconds_t((timeout.count() % 1000) * 1000);
    if (::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0 ||
        ::setsockopt(socket_.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0)
        throw TdsError(ErrorKind::Io, systemMessage("setting the socket time-out", errno));
    timeout_ = timeout;
}

void SocketTransport::sendAll(const uint8_t *data, size_t size)
{
    if (!socket_.valid())
        throw TdsError(ErrorKind::ConnectionClosed, "the connection is closed");
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(socket_.get(), data + sent, size - sent, MSG_NOSIGNAL);
        if (n >= 0) {
            sent += size_t(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            throw TdsError(ErrorKind::Timeout, "sending to the server timed out");
        } else if (errno == EPIPE || errno == ECONNRESET) {
            throw TdsError(ErrorKind::ConnectionClosed, "the server closed the connection");
        } else if (errno != EINTR) {
            throw TdsError(ErrorKind::Io, systemMessage("sending to the server", errno));
        }
    }
}

size_t SocketTransport::receiveSome(uint8_t *data, size_t capacity)
{
    if (!socket_.valid())
        throw TdsError(ErrorKind::ConnectionClosed, "the connection is closed");
    for (;;) {
        const ssize_t n = ::recv(socket_.get(), data, capacity, 0);
        if (n >= 0)
            return size_t(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            throw TdsError(ErrorKind::Timeout, "waiting for the server timed out");
        if (errno == ECONNRESET)
            return 0;
        if (errno != EINTR)
            throw TdsError(ErrorKind::Io, systemMessage("receiving from the server", errno));
    }
}

bool SocketTransport::readable() const
{
    if (!socket_.valid())
        return false;
    pollfd p{socket_.get(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

} // namespace rz::tds
