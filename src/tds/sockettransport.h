#pragma once
// A TCP connection as a Transport. Every send and receive waits at most the
// time-out set (the socket's own send and receive time-outs on a blocking
// socket, so a receive is one system call); zero waits without limit.

#include "tds/transport.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace rz::tds {

// A file descriptor; on Windows a SOCKET, which is pointer-sized.
#ifdef _WIN32
using NativeSocket = uintptr_t;
constexpr NativeSocket kNoSocket = ~uintptr_t(0); // INVALID_SOCKET
#else
using NativeSocket = int;
constexpr NativeSocket kNoSocket = -1;
#endif

// Owns one socket; closes it once.
class SocketHandle {
public:
    SocketHandle() = default;
    explicit SocketHandle(NativeSocket fd) : fd_(fd) {}
    ~SocketHandle() { reset(); }
    SocketHandle(SocketHandle &&other) noexcept : fd_(other.release()) {}
    SocketHandle &operator=(SocketHandle &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    SocketHandle(const SocketHandle &) = delete;
    SocketHandle &operator=(const SocketHandle &) = delete;

    NativeSocket get() const { return fd_; }
    bool valid() const { return fd_ != kNoSocket; }
    NativeSocket release()
    {
        const NativeSocket fd = fd_;
        fd_ = kNoSocket;
        return fd;
    }
    void reset(NativeSocket fd = kNoSocket);

private:
    NativeSocket fd_ = kNoSocket;
};

class SocketTransport : public Transport {
public:
    // Connects to host:port (a name or a numeric address), waiting at most
    // `connectTimeout` for each address the name resolves to.
    static SocketTransport connect(const std::string &host, uint16_t port, std::chrono::milliseconds connectTimeout);

    // Makes the socket blocking.
    explicit SocketTransport(SocketHandle socket);

    void setTimeout(std::chrono::milliseconds timeout) override;
    std::chrono::milliseconds timeout() const { return timeout_; }

    void sendAll(const uint8_t *data, size_t size) override;
    size_t receiveSome(uint8_t *data, size_t capacity) override;
    // Whether bytes (or the peer's close) wait to be received, without waiting.
    bool readable() const;
    void close() { socket_.reset(); }

private:
    SocketHandle socket_;
    std::chrono::milliseconds timeout_{0};
};

} // namespace rz::tds
