#include "memorytransport.h"

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

TEST(PacketChannel, SplitsAMessageAtThePacketSizeAndMarksOnlyTheLastPacket)
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
}

TEST(PacketChannel, SendsAnExactMultipleWithoutAnEmptyTrailingPacket)
{
    MemoryTransport transport;
    PacketChannel channel(transport);
    channel.setPacketSize(512);
    channel.sendMessage(PacketType::Rpc, counting(504 * 2));
    EXPECT_EQ(transport.sent.size(), 1024u);
    EXPECT_EQ(transport.sent[512 + 1], 0x01);
}

TEST(PacketChannel, SendsAnEmptyMessageAsOneHeader)
{
    MemoryTransport transport;
    PacketChannel channel(transport);
    channel.sendMessage(PacketType::Attention, nullptr, 0);
    const std::vector<uint8_t> expected = {0x06, 0x01, 0x00, 0x08, 0x00, 0x00, 0x01, 0x00};
    EXPECT_EQ(transport.sent, expected);
}

TEST(PacketChannel, NumbersPacketsAcrossMessages)
{
    MemoryTransport transport;
    PacketChannel channel(transport);
    channel.sendMessage(PacketType::SqlBatch, counting(3));
    channel.sendMessage(PacketType::SqlBatch, counting(3));
    EXPECT_EQ(transport.sent[6], 1);
    EXPECT_EQ(transport.sent[11 + 6], 2);
}

TEST(PacketChannel, ReassemblesAMessageDeliveredInOddPieces)
{
    const auto payload = counting(3000);
    MemoryTransport transport(framed(payload, 700), 13);
    PacketChannel channel(transport);
    EXPECT_EQ(channel.receiveMessage(), payload);
    EXPECT_EQ(channel.messageType(), 0x04);
}

TEST(PacketChannel, ReadsConsecutiveMessagesSeparately)
{
    auto bytes = framed({1, 2, 3});
    const auto second = framed({4, 5});
    bytes.insert(bytes.end(), second.begin(), second.end());
    MemoryTransport transport(bytes);
    PacketChannel channel(transport);
    EXPECT_EQ(channel.receiveMessage(), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(channel.receiveMessage(), (std::vector<uint8_t>{4, 5}));
}

TEST(PacketChannel, EndOfStreamInsideAMessageIsAClearError)
{
    auto bytes = framed(counting(2000), 512);
    bytes.resize(bytes.size() - 100);
    MemoryTransport transport(bytes);
    PacketChannel channel(transport);
    try {
        channel.receiveMessage();
        FAIL() << "no error";
    } catch (const TdsError &e) {
        EXPECT_EQ(e.kind(), ErrorKind::ConnectionClosed);
        EXPECT_NE(std::string(e.what()).find("middle of a message"), std::string::npos) << e.what();
    }
}

TEST(PacketChannel, EndOfStreamBetweenMessagesSaysTheServerClosed)
{
    MemoryTransport transport;
    PacketChannel channel(transport);
    try {
        channel.receiveMessage();
        FAIL() << "no error";
    } catch (const TdsError &e) {
        EXPECT_EQ(e.kind(), ErrorKind::ConnectionClosed);
        EXPECT_EQ(std::string(e.what()), "the server closed the connection");
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
