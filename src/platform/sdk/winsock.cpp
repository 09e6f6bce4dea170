// Windows Sockets on POSIX sockets. Windows never lets a non-blocking
// connect fail at once and never reports a failed connection attempt in
// select's write set; Linux does both. These wrappers give the Windows
// behaviour, so a refused port costs the caller its full time-out.

#include "platform/sdk/winsock.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int toWsaError(int posixError)
{
    switch (posixError) {
    case 0:
        return 0;
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAEBADF;
    case EACCES:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case EAGAIN:
    case EINPROGRESS: // a non-blocking connect under way reads "would block" on Windows
        return WSAEWOULDBLOCK;
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EPROTONOSUPPORT:
        return WSAEPROTONOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    default:
        return WSAEINVAL;
    }
}

int descriptor(SOCKET s)
{
    return static_cast<int>(s);
}

bool isNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK);
}

// Whether a socket that poll() reports writable has really connected.
bool hasConnected(int fd)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        return false;
    sockaddr_storage peer;
    socklen_t peerSize = sizeof peer;
    return getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) == 0;
}

} // namespace

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData)
{
    if (!lpWSAData)
        return WSAEFAULT;
    std::memset(lpWSAData, 0, sizeof *lpWSAData);
    if (LOBYTE(wVersionRequested) < 2) {
        lpWSAData->wHighVersion = MAKEWORD(2, 2);
        return WSAVERNOTSUPPORTED;
    }
    lpWSAData->wVersion = MAKEWORD(2, 2);
    lpWSAData->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
    std::strcpy(lpWSAData->szSystemStatus, "Running");
    return 0;
}

int WSACleanup()
{
    return 0;
}

int WSAGetLastError()
{
    return toWsaError(errno);
}

void WSASetLastError(int iError)
{
    // Only "no error" has a POSIX twin worth keeping.
    if (iError == 0)
        errno = 0;
}

int ioctlsocket(SOCKET s, long cmd, u_long *argp)
{
    if (!argp) {
        errno = EFAULT;
        return SOCKET_ERROR;
    }
    // Windows' FIONBIO value, whatever a system header may have made of the name.
    constexpr unsigned long windowsFionbio = 0x8004667EUL;
    if (static_cast<unsigned long>(static_cast<ULONG>(cmd)) != windowsFionbio) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    const int fd = descriptor(s);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return SOCKET_ERROR;
    const int wanted = *argp ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(fd, F_SETFL, wanted) == 0 ? 0 : SOCKET_ERROR;
}

int closesocket(SOCKET s)
{
    return close(descriptor(s)) == 0 ? 0 : SOCKET_ERROR;
}

int connect(SOCKET s, const sockaddr *name, int namelen)
{
    const int fd = descriptor(s);
    if (::connect(fd, name, static_cast<socklen_t>(namelen)) == 0)
        return 0;
    if (isNonBlocking(fd)) {
        switch (errno) {
        case ECONNREFUSED:
        case ENETUNREACH:
        case EHOSTUNREACH:
        case ETIMEDOUT:
            // Windows reports such a failure only later; until then the attempt is under way.
            errno = EINPROGRESS;
            break;
        default:
            break;
        }
    }
    return SOCKET_ERROR;
}

int select(int, std::nullptr_t, fd_set *writefds, std::nullptr_t, timeval *timeout)
{
    using Clock = std::chrono::steady_clock;
    std::vector<pollfd> waiting;
    if (writefds) {
        for (int fd = 0; fd < FD_SETSIZE; ++fd)
            if (FD_ISSET(fd, writefds))
                waiting.push_back({fd, POLLOUT, 0});
        FD_ZERO(writefds);
    }
    const bool forever = timeout == nullptr;
    const auto deadline = Clock::now()
                          + (forever ? Clock::duration::zero()
                                     : std::chrono::seconds(timeout->tv_sec)
                                           + std::chrono::microseconds(timeout->tv_usec));
    int ready = 0;
    while (true) {
        int waitMs = -1;
        if (!forever) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now() + std::chrono::microseconds(999));
            waitMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        if (waiting.empty()) {
            // Nothing left that could become writable: wait out the time-out, as Windows does.
            if (forever)
                return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            return ready;
        }
        const int n = poll(waiting.data(), waiting.size(), waitMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return SOCKET_ERROR;
        }
        std::vector<pollfd> stillWaiting;
        for (const pollfd &p : waiting) {
            if (p.revents == 0) {
                stillWaiting.push_back({p.fd, POLLOUT, 0});
            } else if (hasConnected(p.fd)) {
                FD_SET(p.fd, writefds);
                ++ready;
            }
            // Otherwise the attempt failed: it never appears in the write set.
        }
        if (ready > 0 || n == 0)
            return ready;
        waiting.swap(stillWaiting);
    }
}
