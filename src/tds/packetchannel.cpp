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

void PacketChannel::receiveExactly(uint8_t *data, size_t size, bool atPacketStart, bool atMessageStart)
{
    size_t got = 0;
    while (got < size) {
        size_t n;
        try {
            n = transport_->receiveSome(data + got, size - got);
        } catch (const TdsError &e) {
            if (e.kind() != ErrorKind::Timeout || !atPacketStart || got > 0)
                broken_ = true;
            throw;
        }
        if (n == 0) {
            inMessage_ = false;
            throw TdsError(ErrorKind::ConnectionClosed,
                           atMessageStart && got == 0 ? "the server closed the connection"
                                                      : "the server closed the connection in the middle of a message");
        }
        got += n;
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
    uint8_t raw[kHeaderSize];
    receiveExactly(raw, kHeaderSize, true, firstPacket_);
    const PacketHeader header = decodeHeader(raw);
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
    receiveBuffer_.resize(header.length - kHeaderSize);
    receiveExactly(receiveBuffer_.data(), receiveBuffer_.size(), false, false);
    if (header.endOfMessage())
        inMessage_ = false;
    data = receiveBuffer_.data();
    size = receiveBuffer_.size();
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
