#include "tds/packetchannel.h"

#include "tds/error.h"

#include <algorithm>
#include <cstring>

namespace rz::tds {

PacketChannel::PacketChannel(Transport &transport) : transport_(&transport) {}

void PacketChannel::checkUsable() const
{
    if (broken_)
        throw TdsError(ErrorKind::ConnectionClosed, "the connection was lost in the middle of a packet");
}

void PacketChannel::setPacketSize(uint32_t size)
{
    if (size < kMinPacketSize || size > kMaxPacketSize)
        throw TdsError(ErrorKind::Protocol, "packet size " + std::to_string(size) + " out of range");
    packetSize_ = size;
}

void PacketChannel::sendMessage(PacketType type, const uint8_t *payload, size_t size, uint8_t firstPacketStatus)
{
    checkUsable();
    const size_t room = packetSize_ - kHeaderSize;
    size_t sent = 0;
    bool first = true;
    do {
        const size_t part = std::min(room, size - sent);
        const bool last = sent + part == size;
        PacketHeader header;
        header.type = uint8_t(type);
        header.status = uint8_t((last ? kStatusEndOfMessage : 0) | (first ? firstPacketStatus : 0));
        header.length = uint16_t(kHeaderSize + part);
        header.packetId = nextPacketId_++;
        sendBuffer_.resize(kHeaderSize + part);
        encodeHeader(header, sendBuffer_.data());
        if (part)
            std::memcpy(sendBuffer_.data() + kHeaderSize, payload + sent, part);
        try {
            transport_->sendAll(sendBuffer_.data(), sendBuffer_.size());
        } catch (const TdsError &) {
            broken_ = true;   // part of a packet may have gone out
            throw;
        }
        sent += part;
        first = false;
    } while (sent < size);
}

void PacketChannel::setTransport(Transport &transport)
{
    if (filled_ != packetStart_ + consumed_)
        throwProtocol("the server sent bytes before the switch of the transport");
    transport_ = &transport;
}

void PacketChannel::fill(size_t size, bool atMessageStart)
{
    if (packetStart_ + size > receiveBuffer_.size()) {
        // Move the unread bytes to the front, and make room for the packet.
        const size_t unread = filled_ - packetStart_;
        if (unread && packetStart_)
            std::memmove(receiveBuffer_.data(), receiveBuffer_.data() + packetStart_, unread);
        packetStart_ = 0;
        filled_ = unread;
        if (size > receiveBuffer_.size())
            receiveBuffer_.resize(std::max<size_t>(size, 2 * std::max<size_t>(packetSize_, kDefaultPacketSize)));
    }
    while (filled_ - packetStart_ < size) {
        const size_t had = filled_ - packetStart_;
        size_t n;
        try {
            n = transport_->receiveSome(receiveBuffer_.data() + filled_, receiveBuffer_.size() - filled_);
        } catch (const TdsError &e) {
            // A time-out before the first byte of a packet leaves the stream
            // where it was; anywhere else nobody knows where it stands.
            if (e.kind() != ErrorKind::Timeout || had > 0)
                broken_ = true;
            throw;
        }
        if (n == 0) {
            inMessage_ = false;
            throw TdsError(ErrorKind::ConnectionClosed,
                           atMessageStart && had == 0 ? "the server closed the connection"
                                                      : "the server closed the connection in the middle of a message");
        }
        filled_ += n;
    }
}

void PacketChannel::beginMessage()
{
    if (inMessage_)
        throw TdsError(ErrorKind::Usage, "the previous message was not read to its end");
    inMessage_ = true;
    firstPacket_ = true;
}

bool PacketChannel::next(const uint8_t *&data, size_t &size)
{
    if (!inMessage_)
        return false;
    checkUsable();
    // The packet handed out last is done with.
    packetStart_ += consumed_;
    consumed_ = 0;
    if (packetStart_ == filled_)
        packetStart_ = filled_ = 0;
    fill(kHeaderSize, firstPacket_);
    const PacketHeader header = decodeHeader(receiveBuffer_.data() + packetStart_);
    if (header.length < kHeaderSize) {
        inMessage_ = false;
        throwProtocol("packet length " + std::to_string(header.length) + " shorter than its header");
    }
    if (firstPacket_)
        messageType_ = header.type;
    else if (header.type != messageType_) {
        inMessage_ = false;
        throwProtocol("packet type changes within a message");
    }
    firstPacket_ = false;
    try {
        fill(header.length, false);
    } catch (const TdsError &) {
        broken_ = true;   // the header is read, the rest of its packet is not
        throw;
    }
    if (header.endOfMessage())
        inMessage_ = false;
    consumed_ = header.length;
    data = receiveBuffer_.data() + packetStart_ + kHeaderSize;
    size = header.length - kHeaderSize;
    return true;
}

void PacketChannel::skipRestOfMessage()
{
    const uint8_t *data;
    size_t size;
    while (next(data, size)) {
    }
}

std::vector<uint8_t> PacketChannel::receiveMessage()
{
    beginMessage();
    std::vector<uint8_t> message;
    const uint8_t *data;
    size_t size;
    while (next(data, size))
        message.insert(message.end(), data, data + size);
    return message;
}

} // namespace rz::tds
