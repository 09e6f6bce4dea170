// The tokens of login and session state: messages, ENVCHANGE, DONE, LOGINACK.
#include "streambuilder.h"
#include "thrown.h"

#include "tds/tokendecoder.h"

#include <gtest/gtest.h>

using namespace rz::tds;
using tdstest::Stream;
using tdstest::thrownBy;

namespace {

struct Recorder : TokenHandler {
    std::vector<ServerMessage> messages;
    std::vector<EnvChange> changes;
    std::vector<Done> dones;
    std::vector<LoginAck> acks;
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> features;
    void onMessage(const ServerMessage &m) override { messages.push_back(m); }
    void onEnvChange(const EnvChange &c) override { changes.push_back(c); }
    bool onDone(const Done &d) override
    {
        dones.push_back(d);
        return true;
    }
    void onLoginAck(const LoginAck &a) override { acks.push_back(a); }
    void onFeatureAck(uint8_t f, const std::vector<uint8_t> &d) override { features.emplace_back(f, d); }
};

void decode(const Stream &s, TokenHandler &handler, size_t chunk = SIZE_MAX)
{
    BufferSource source(s.bytes.data(), s.bytes.size(), chunk);
    WireReader reader(source);
    TokenDecoder decoder;
    EXPECT_EQ(decoder.run(reader, handler), TokenDecoder::Progress::EndOfMessage);
}

} // namespace

TEST(SessionTokens, InfoIsNoErrorAndAnErrorKeepsEveryFieldOfItsRecord)
{
    Stream s;
    s.message(false, 5701, 2, 0, "Changed database context to 'testdb'.");
    s.message(true, 208, 1, 16, "Invalid object name 'nope'.", "RZTESTSERVER", "myproc", 3).done(0x02);
    Recorder r;
    decode(s, r);
    ASSERT_EQ(r.messages.size(), 2u);
    EXPECT_FALSE(r.messages[0].isError);
    EXPECT_EQ(r.messages[0].number, 5701);
    const ServerMessage &m = r.messages[1];
    EXPECT_EQ(std::tie(m.isError, m.number, m.state, m.severity, m.line), std::make_tuple(true, 208, 1, 16, 3));
    EXPECT_EQ(std::tie(m.message, m.server, m.procedure),
              std::make_tuple("Invalid object name 'nope'.", "RZTESTSERVER", "myproc"));
    ASSERT_EQ(r.dones.size(), 1u);
    EXPECT_TRUE(r.dones[0].error());
}

TEST(SessionTokens, EnvChangesOfTextAndOfBytes)
{
    Stream s;
    s.envText(1, "testdb", "master")
        .envText(2, "us_english", "")
        .envText(4, "8192", "4096")
        .envBytes(7, tdstest::kLatin1Collation, {})
        .envBytes(8, {1, 2, 3, 4, 5, 6, 7, 8}, {})
        .envBytes(9, {}, {1, 2, 3, 4, 5, 6, 7, 8})
        .envBytes(10, {}, {8, 7, 6, 5, 4, 3, 2, 1});
    Recorder r;
    decode(s, r, 3);
    ASSERT_EQ(r.changes.size(), 7u);
    EXPECT_EQ(r.changes[0].newText, "testdb");
    EXPECT_EQ(r.changes[0].oldText, "master");
    EXPECT_EQ(r.changes[1].newText, "us_english");
    EXPECT_EQ(r.changes[2].newText, "8192");
    EXPECT_EQ(r.changes[3].newBytes, tdstest::kLatin1Collation);
    EXPECT_EQ(r.changes[4].type, 8);
    EXPECT_EQ(r.changes[4].newBytes.size(), 8u);
    EXPECT_EQ(r.changes[5].type, 9);
    EXPECT_TRUE(r.changes[5].newBytes.empty());
    EXPECT_EQ(r.changes[5].oldBytes[0], 1);
    EXPECT_EQ(r.changes[6].oldBytes[0], 8);
}

TEST(SessionTokens, DoneStatusBitsAndRowCounts)
{
    Stream s;
    s.done(0x0001 | 0x0010, 3, 0xFF).done(0x0001 | 0x0004, 0, 0xFE).done(0x0020).done(0x0002 | 0x0100);
    Recorder r;
    decode(s, r);
    ASSERT_EQ(r.dones.size(), 4u);
    EXPECT_EQ(r.dones[0].token, 0xFF);
    EXPECT_TRUE(r.dones[0].more());
    EXPECT_TRUE(r.dones[0].hasCount());
    EXPECT_EQ(r.dones[0].rowCount, 3u);
    EXPECT_EQ(r.dones[1].token, 0xFE);
    EXPECT_TRUE(r.dones[1].inTransaction());
    EXPECT_FALSE(r.dones[1].hasCount());
    EXPECT_TRUE(r.dones[2].attention());
    EXPECT_FALSE(r.dones[2].more());
    EXPECT_TRUE(r.dones[3].error());
    EXPECT_FALSE(r.dones[2].error());
}

TEST(SessionTokens, LoginAckGivesTheVersionAndTheServerProgram)
{
    Stream s;
    s.loginAck().u8(0xAE).u8(0x0A).u32(1).u8(1).u8(0xFF).done();
    Recorder r;
    decode(s, r);
    ASSERT_EQ(r.acks.size(), 1u);
    EXPECT_EQ(r.acks[0].tdsVersion, 0x74000004u);
    EXPECT_EQ(r.acks[0].programName, "Microsoft SQL Server");
    EXPECT_EQ(r.acks[0].versionMajor, 15);
    EXPECT_EQ(r.acks[0].versionBuild, 2000);
    EXPECT_EQ(r.features, (decltype(r.features){{0x0A, {1}}}));
}

TEST(SessionTokens, MalformedTokensAreProtocolErrors)
{
    Stream lyingMessage;
    lyingMessage.message(true, 1, 1, 16, "abc");
    lyingMessage.bytes[1] = uint8_t(lyingMessage.bytes[1] + 2);   // claims two more bytes than it has
    lyingMessage.u16(0);
    Stream cutDone;
    cutDone.done(0, 5);
    cutDone.bytes.resize(cutDone.bytes.size() - 3);
    const std::pair<const char *, Stream> cases[] = {
        {"a message whose length lies", lyingMessage},
        {"an ENVCHANGE value longer than its token", Stream().u8(0xE3).u16(3).u8(1).u8(5).u8(0)},
        {"a stream cut inside a token", cutDone},
        {"an unknown token", Stream().u8(0x42)},
        {"a row before any columns", Stream().u8(0xD1).u8(4).u32(1).done()},
    };
    for (const auto &[what, stream] : cases) {
        Recorder r;
        BufferSource source(stream.bytes.data(), stream.bytes.size());
        WireReader reader(source);
        TokenDecoder decoder;
        EXPECT_EQ(thrownBy([&] { decoder.run(reader, r); }).kind, ErrorKind::Protocol) << what;
    }
}
