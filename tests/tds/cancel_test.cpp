// Time-outs and ATTENTION against a scripted server.
#include "memorytransport.h"
#include "rowcollector.h"
#include "thrown.h"
#include "typeinfos.h"

#include "tds/connection.h"

#include <gtest/gtest.h>

using namespace rz::tds;
using namespace tdstest;

namespace {

Stream manyRows(int count)
{
    Stream s;
    s.colmetadata(1).column(ti::intn(4), "n");
    for (int i = 0; i < count; ++i)
        s.u8(0xD1).u8(4).u32(uint32_t(i));
    return s;
}

Scripted loggedInConnection()
{
    auto s = scripted(answersWith(Stream().loginAck().done().bytes));
    LoginOptions options;
    options.userName = "sa";
    s.connection->login(options);
    s.transport->timeoutWhenEmpty = true;
    return s;
}

// The packets of `payload` without the last one (the server is still writing).
std::vector<uint8_t> allButLastPacket(const std::vector<uint8_t> &payload, size_t packetSize)
{
    auto bytes = framed(payload, packetSize);
    const size_t lastLength = (payload.size() % (packetSize - 8)) ? payload.size() % (packetSize - 8) + 8 : packetSize;
    bytes.resize(bytes.size() - lastLength);
    return bytes;
}

} // namespace

TEST(Cancel, ATimeOutMidResultIsRecoveredByAttention)
{
    auto s = loggedInConnection();
    const Stream rows = manyRows(400);   // about 2,400 bytes: five packets of 512
    s.transport->append(allButLastPacket(rows.bytes, 512));
    s.connection->sendBatch("SELECT n FROM t");
    RowCollector c(&s.connection->decoder());
    EXPECT_EQ(thrownBy([&] { s.connection->readResponse(c); }).kind, ErrorKind::Timeout);
    EXPECT_TRUE(s.connection->usable());
    EXPECT_THROW(s.connection->readResponse(c), TdsError) << "decoding stopped inside a token";
    // The server finishes its message with the acknowledgement.
    Stream rest = rows;
    rest.done(0x20);
    const auto whole = framed(rest.bytes, 512);
    const auto before = allButLastPacket(rows.bytes, 512);
    s.transport->append(std::vector<uint8_t>(whole.begin() + long(before.size()), whole.end()));
    const size_t sentBefore = s.transport->sent.size();
    s.connection->cancel();
    EXPECT_EQ(std::vector<uint8_t>(s.transport->sent.begin() + long(sentBefore), s.transport->sent.end()),
              (std::vector<uint8_t>{0x06, 0x01, 0x00, 0x08, 0x00, 0x00, s.transport->sent[sentBefore + 6], 0x00}));
    EXPECT_FALSE(s.connection->responsePending());

    s.transport->append(framed(Stream().colmetadata(1).column(ti::intn(4), "x").u8(0xD1).u8(4).u32(9).done().bytes));
    RowCollector next(&s.connection->decoder());
    s.connection->sendBatch("SELECT 9");
    EXPECT_TRUE(s.connection->readResponse(next));
    EXPECT_EQ(next.results.at(0).rows.at(0).at(0).as<int32_t>(), 9);
}

TEST(Cancel, TheAcknowledgementMayComeInAMessageOfItsOwn)
{
    auto s = loggedInConnection();
    Stream first = manyRows(3);
    first.done(0x10, 3);
    s.transport->append(framed(first.bytes));
    s.transport->append(framed(Stream().done(0x20).bytes));
    RowCollector c(&s.connection->decoder());
    c.pauseAfterEachRow = true;
    s.connection->sendBatch("SELECT n FROM t");
    EXPECT_FALSE(s.connection->readResponse(c));
    s.connection->cancel();
    EXPECT_TRUE(s.connection->usable());
    EXPECT_FALSE(s.connection->responsePending());
}

TEST(Cancel, NoAcknowledgementLeavesTheConnectionUnusable)
{
    auto s = loggedInConnection();
    s.connection->sendBatch("SELECT 1");
    EXPECT_THROW(s.connection->cancel(), TdsError);
    EXPECT_FALSE(s.connection->usable());
    EXPECT_THROW(s.connection->sendBatch("SELECT 1"), TdsError);
}

TEST(Cancel, ATimeOutInsideAPacketBreaksTheConnection)
{
    auto s = loggedInConnection();
    auto bytes = framed(manyRows(10).done().bytes);
    bytes.resize(20);   // header and a few bytes of the body
    s.transport->append(bytes);
    s.connection->sendBatch("SELECT n FROM t");
    TokenHandler drop;
    EXPECT_THROW(s.connection->readResponse(drop), TdsError);
    EXPECT_FALSE(s.connection->usable());
}
