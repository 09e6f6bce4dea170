#pragma once
// Messages over a Transport: splits an outgoing message into packets of the
// negotiated size and hands an incoming message back packet by packet.

#include "tds/chunksource.h"
#include "tds/packet.h"
#include "tds/transport.h"

#include <vector>

namespace rz::tds {

class PacketChannel : public ChunkSource {
public:
    explicit PacketChannel(Transport &transport);

    // Later bytes go over `transport` (TLS set up after PRELOGIN). Nothing
    // received from the old one may wait unread.
    void setTransport(Transport &transport);

    uint32_t packetSize() const { return packetSize_; }
    // Takes effect for the next message sent and bounds packets received.
    void setPacketSize(uint32_t size);

    // Sends `payload` as one message of `type`; an empty payload still sends
    // one packet (ATTENTION has no payload).
    void sendMessage(PacketType type, const uint8_t *payload, size_t size, uint8_t firstPacketStatus = 0);
    void sendMessage(PacketType type, const std::vector<uint8_t> &payload) { sendMessage(type, payload.data(), payload.size()); }

    // Starts reading the next incoming message. Its packets then come from
    // next(); the type of its first packet is messageType().
    void beginMessage();
    uint8_t messageType() const { return messageType_; }
    // The rest of the current message, packet by packet (ChunkSource).
    bool next(const uint8_t *&data, size_t &size) override;
    bool inMessage() const { return inMessage_; }
    // Reads and drops what is left of the current message.
    void skipRestOfMessage();
    // The whole of the next message, for the short answers of the handshake.
    std::vector<uint8_t> receiveMessage();

    // A time-out between packets leaves the channel usable; one inside a
    // packet does not (its first bytes are gone).
    bool broken() const { return broken_; }

private:
    // Receives until `size` bytes from the start of the current packet are
    // buffered; reads ahead as far as the buffer allows.
    void fill(size_t size, bool atMessageStart);
    void checkUsable() const;

    Transport *transport_;
    uint32_t packetSize_ = kDefaultPacketSize;
    uint8_t nextPacketId_ = 1;
    std::vector<uint8_t> sendBuffer_;
    // Received bytes: [packetStart_, filled_) are not handed out yet, except
    // the packet of the last next() at its start (consumed_ bytes long).
    std::vector<uint8_t> receiveBuffer_;
    size_t packetStart_ = 0;
    size_t consumed_ = 0;
    size_t filled_ = 0;
    bool inMessage_ = false;    // a message has begun and its last packet was not read yet
    bool firstPacket_ = false;  // beginMessage() was called and no packet read yet
    uint8_t messageType_ = 0;
    bool broken_ = false;
};

} // namespace rz::tds
