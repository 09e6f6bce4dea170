#pragma once
// A Transport in memory: records what the client sends and hands out a
// scripted answer in pieces of a chosen size, then reports the peer closed.

#include "tds/error.h"
#include "tds/transport.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tdstest {

class MemoryTransport : public rz::tds::Transport {
public:
    explicit MemoryTransport(std::vector<uint8_t> incoming = {}, size_t pieceSize = SIZE_MAX)
        : incoming_(std::move(incoming)), pieceSize_(pieceSize) {}

    void sendAll(const uint8_t *data, size_t size) override { sent.insert(sent.end(), data, data + size); }
    size_t receiveSome(uint8_t *data, size_t capacity) override
    {
        if (timeoutWhenEmpty && position_ == incoming_.size())
            throw rz::tds::TdsError(rz::tds::ErrorKind::Timeout, "scripted time-out");
        const size_t n = std::min({capacity, pieceSize_, incoming_.size() - position_});
        if (n)
            std::memcpy(data, incoming_.data() + position_, n);
        position_ += n;
        return n;
    }
    void append(const std::vector<uint8_t> &more) { incoming_.insert(incoming_.end(), more.begin(), more.end()); }

    std::vector<uint8_t> sent;
    // Run out of answer: a time-out instead of the peer closing.
    bool timeoutWhenEmpty = false;

private:
    std::vector<uint8_t> incoming_;
    size_t pieceSize_;
    size_t position_ = 0;
};

// `payload` framed as one message of packets with at most `packetSize` bytes.
inline std::vector<uint8_t> framed(const std::vector<uint8_t> &payload, size_t packetSize = 4096, uint8_t type = 0x04)
{
    std::vector<uint8_t> out;
    size_t at = 0;
    uint8_t id = 1;
    do {
        const size_t part = std::min(packetSize - 8, payload.size() - at);
        const bool last = at + part == payload.size();
        const size_t length = part + 8;
        out.insert(out.end(), {type, uint8_t(last ? 1 : 0), uint8_t(length >> 8), uint8_t(length), 0, 0, id++, 0});
        out.insert(out.end(), payload.begin() + long(at), payload.begin() + long(at + part));
        at += part;
    } while (at < payload.size());
    return out;
}

} // namespace tdstest
