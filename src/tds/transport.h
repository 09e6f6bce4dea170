#pragma once
// The byte stream under the packets: a TCP socket in production, memory in
// tests, and later a TLS channel wrapping either.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace rz::tds {

class Transport {
public:
    virtual ~Transport() = default;
    // Sends every byte or throws TdsError (Io, Timeout, ConnectionClosed).
    virtual void sendAll(const uint8_t *data, size_t size) = 0;
    // Receives at least one byte, at most `capacity`; 0 means the peer closed
    // the connection. Throws TdsError on failure or time-out.
    virtual size_t receiveSome(uint8_t *data, size_t capacity) = 0;
    // The longest any one send or receive may wait; zero waits without limit.
    virtual void setTimeout(std::chrono::milliseconds) {}
};

} // namespace rz::tds
