#pragma once
// A Transport in memory: records what the client sends and hands out a
// scripted answer in pieces of a chosen size, then reports the peer closed.

#include "tds/connection.h"
#include "tds/error.h"
#include "tds/transport.h"

#include <algorithm>
#include <cstring>
#include <memory>
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

// A server's PRELOGIN answer (version 15.0.2000) with the given ENCRYPTION option.
inline std::vector<uint8_t> preLoginAnswer(uint8_t encryption)
{
    return {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00, 0x01, 0xFF,
            0x0F, 0x00, 0x07, 0xD0, 0x00, 0x00, encryption};
}

// A server's PRELOGIN answer without encryption, then `response` to LOGIN7.
inline std::vector<uint8_t> answersWith(const std::vector<uint8_t> &response, size_t packetSize = 4096)
{
    auto answers = framed(preLoginAnswer(0x02));
    const auto login = framed(response, packetSize);
    answers.insert(answers.end(), login.begin(), login.end());
    return answers;
}

// A client connection over a memory transport that answers with `answers`.
struct Scripted {
    MemoryTransport *transport;
    std::unique_ptr<rz::tds::Connection> connection;
};

inline Scripted scripted(std::vector<uint8_t> answers, size_t pieceSize = SIZE_MAX)
{
    auto transport = std::make_unique<MemoryTransport>(std::move(answers), pieceSize);
    MemoryTransport *raw = transport.get();
    return {raw, std::make_unique<rz::tds::Connection>(std::move(transport))};
}

} // namespace tdstest
