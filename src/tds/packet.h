#pragma once
// The 8-byte TDS packet header and the packet types a client uses.

#include <cstddef>
#include <cstdint>

namespace rz::tds {

enum class PacketType : uint8_t {
    SqlBatch = 0x01,
    Rpc = 0x03,
    Reply = 0x04,
    Attention = 0x06,
    TransactionManager = 0x0E,
    Login7 = 0x10,
    Sspi = 0x11,   // the client's further tokens of an integrated login
    PreLogin = 0x12,
};

constexpr uint8_t kStatusEndOfMessage = 0x01;
constexpr uint8_t kStatusResetConnection = 0x08;
constexpr size_t kHeaderSize = 8;
// The packet sizes a server may negotiate.
constexpr uint32_t kMinPacketSize = 512;
constexpr uint32_t kMaxPacketSize = 32767;
constexpr uint32_t kDefaultPacketSize = 4096;

struct PacketHeader {
    uint8_t type = 0;
    uint8_t status = 0;
    uint16_t length = 0;   // header included
    uint16_t spid = 0;
    uint8_t packetId = 0;
    uint8_t window = 0;

    bool endOfMessage() const { return status & kStatusEndOfMessage; }
};

// Length and SPID are big-endian on the wire.
void encodeHeader(const PacketHeader &header, uint8_t out[kHeaderSize]);
PacketHeader decodeHeader(const uint8_t in[kHeaderSize]);

} // namespace rz::tds
