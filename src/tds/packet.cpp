#include "tds/packet.h"

namespace rz::tds {

void encodeHeader(const PacketHeader &header, uint8_t out[kHeaderSize])
{
    out[0] = header.type;
    out[1] = header.status;
    out[2] = uint8_t(header.length >> 8);
    out[3] = uint8_t(header.length);
    out[4] = uint8_t(header.spid >> 8);
    out[5] = uint8_t(header.spid);
    out[6] = header.packetId;
    out[7] = header.window;
}

PacketHeader decodeHeader(const uint8_t in[kHeaderSize])
{
    PacketHeader header;
    header.type = in[0];
    header.status = in[1];
    header.length = uint16_t((in[2] << 8) | in[3]);
    header.spid = uint16_t((in[4] << 8) | in[5]);
    header.packetId = in[6];
    header.window = in[7];
    return header;
}

} // namespace rz::tds
