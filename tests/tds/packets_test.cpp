#include "memorytransport.h"
#include "thrown.h"

#include "tds/error.h"
#include "tds/packetchannel.h"

#include <gtest/gtest.h>

using namespace rz::tds;
using tdstest::MemoryTransport;
using tdstest::framed;

namespace {

std::vector<uint8_t> counting(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 7);
    return bytes;
}

} // namespace

TEST(PacketChannel, SplitsMessagesAtThePacketSizeMarksTheLastPacketAndNumbersOn)
{
    MemoryTransport transport;
    PacketChannel channel(transport);
    channel.setPacketSize(512);
    const auto payload = counting(504 * 2 + 10);
    channel.sendMessage(PacketType::SqlBatch, payload);
    EXPECT_EQ(transport.sent, framed(payload, 512, 0x01));
    ASSERT_EQ(transport.sent.size(), 512u * 2 + 18);
    EXPECT_EQ(transport.sent[1], 0x00);
    EXPECT_EQ(transport.sent[512 + 1], 0x00);
    EXPECT_EQ(transport.sent[1024 + 1], 0x01);

    // An exact multiple ends without an empty packet; the numbers go on from
    // the last message's.
    transport.sent.clear();
    channel.sendMessage(PacketType::Rpc, counting(504 * 2));
    EXPECT_EQ(transport.sent.size(), 1024u);
    EXPECT_EQ(transport.sent[512 + 1], 0x01);
    EXPECT_EQ(transport.sent[6], 4);
    EXPECT_EQ(transport.sent[512 + 6], 5);

    // An empty message is one header.
    transport.sent.clear();
    channel.sendMessage(PacketType::Attention, nullptr, 0);
    EXPECT_EQ(transport.sent, (std::vector<uint8_t>{0x06, 0x01, 0x00, 0x08, 0x00, 0x00, 0x06, 0x00}));
}

TEST(PacketChannel, ReassemblesMessagesDeliveredInOddPiecesOneAtATime)
{
    const auto payload = counting(3000);
    auto bytes = framed(payload, 700);
    const auto second = framed({4, 5});
    bytes.insert(bytes.end(), second.begin(), second.end());
    MemoryTransport transport(bytes, 13);
    PacketChannel channel(transport);
    EXPECT_EQ(channel.receiveMessage(), payload);
    EXPECT_EQ(channel.messageType(), 0x04);
    EXPECT_EQ(channel.receiveMessage(), (std::vector<uint8_t>{4, 5}));
}

TEST(PacketChannel, EndOfStreamSaysWhetherItCameInsideAMessage)
{
    auto cut = framed(counting(2000), 512);
    cut.resize(cut.size() - 100);
    const struct {
        std::vector<uint8_t> bytes;
        const char *text;
    } cases[] = {{cut, "the server closed the connection in the middle of a message"},
                 {{}, "the server closed the connection"}};
    for (const auto &c : cases) {
        MemoryTransport transport(c.bytes);
        PacketChannel channel(transport);
        const auto t = tdstest::thrownBy([&] { channel.receiveMessage(); });
        EXPECT_EQ(t.kind, ErrorKind::ConnectionClosed);
        EXPECT_EQ(t.what, c.text);
    }
}

TEST(PacketChannel, RejectsAPacketShorterThanItsHeader)
{
    MemoryTransport transport({0x04, 0x01, 0x00, 0x05, 0, 0, 1, 0});
    PacketChannel channel(transport);
    EXPECT_THROW(channel.receiveMessage(), TdsError);
}

TEST(PacketChannel, RefusesPacketSizesOutsideTheProtocolRange)
{
    MemoryTransport transport;
    PacketChannel channel(transport);
    EXPECT_THROW(channel.setPacketSize(511), TdsError);
    EXPECT_THROW(channel.setPacketSize(32768), TdsError);
    channel.setPacketSize(32767);
    EXPECT_EQ(channel.packetSize(), 32767u);
}
