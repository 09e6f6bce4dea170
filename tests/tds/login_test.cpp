// The handshake against a scripted server.
#include "memorytransport.h"
#include "streambuilder.h"
#include "thrown.h"

#include "tds/connection.h"

#include <gtest/gtest.h>

using namespace rz::tds;
using namespace tdstest;

namespace {

Stream goodLoginResponse()
{
    Stream s;
    s.envText(1, "testdb", "master")
        .message(false, 5701, 2, 0, "Changed database context to 'testdb'.")
        .envBytes(7, tdstest::kLatin1Collation, {})
        .envText(2, "us_english", "")
        .loginAck()
        .envText(4, "8192", "4096")
        .done();
    return s;
}

LoginOptions saLogin()
{
    LoginOptions options;
    options.serverName = "127.0.0.1";
    options.userName = "sa";
    options.password = "Secret123";
    options.database = "testdb";
    options.hostName = "client";
    options.packetSize = 8192;
    return options;
}

} // namespace

TEST(Login, AcceptedLoginSetsUpTheSession)
{
    auto s = scripted(answersWith(goodLoginResponse().bytes, 100), 7);
    s.connection->login(saLogin());
    const SessionState &session = s.connection->session();
    EXPECT_EQ(std::tie(session.database, session.language, session.packetSize),
              std::make_tuple("testdb", "us_english", 8192u));
    EXPECT_EQ(std::make_tuple(session.collation.lcid(), session.collation.sortId()), std::make_tuple(0x0409u, 0x34));
    EXPECT_EQ(session.loginAck.tdsVersion, kTdsVersion74);
    EXPECT_EQ(session.encryption, Encryption::None);
    ASSERT_EQ(s.connection->loginMessages().size(), 1u);
    EXPECT_EQ(s.connection->loginMessages()[0].number, 5701);
    // The client sent PRELOGIN saying it cannot encrypt, then LOGIN7.
    const auto &sent = s.transport->sent;
    ASSERT_GT(sent.size(), 8u);
    EXPECT_EQ(sent[0], 0x12);
    const size_t preLoginLength = size_t(sent[2] << 8 | sent[3]);
    EXPECT_EQ(sent[8 + 5 + 1] << 8 | sent[8 + 5 + 2], 0x20) << "ENCRYPTION option offset";
    EXPECT_EQ(sent[8 + 0x20], 0x02) << "ENCRYPT_NOT_SUP";
    EXPECT_EQ(sent[preLoginLength], 0x10);
}

TEST(Login, TheNegotiatedPacketSizeAppliesToTheNextRequest)
{
    auto s = scripted(answersWith(goodLoginResponse().bytes));
    s.connection->login(saLogin());
    const size_t before = s.transport->sent.size();
    s.connection->sendBatch(std::string(6000, 'x'));
    // 22 bytes of ALL_HEADERS and 12000 of text fit in two packets of 8192.
    const auto &sent = s.transport->sent;
    EXPECT_EQ(size_t(sent[before + 2] << 8 | sent[before + 3]), 8192u);
    EXPECT_EQ(sent.size() - before, 8u * 2 + 22 + 12000);
}

TEST(Login, ARefusedLoginReportsTheServersError)
{
    Stream refused;
    refused.message(true, 18456, 1, 14, "Login failed for user 'sa'.", "RZTESTSERVER").done(0x02);
    auto s = scripted(answersWith(refused.bytes));
    try {
        s.connection->login(saLogin());
        FAIL() << "logged in";
    } catch (const LoginError &e) {
        EXPECT_EQ(std::string(e.what()), "Login failed for user 'sa'.");
        ASSERT_EQ(e.messages().size(), 1u);
        EXPECT_EQ(e.messages()[0].number, 18456);
        EXPECT_EQ(e.messages()[0].severity, 14);
    }
    EXPECT_FALSE(s.connection->usable());
}

TEST(Login, AServerThatWantsEncryptionNeedsATlsProvider)
{
    auto s = scripted(framed(preLoginAnswer(0x03)));
    LoginOptions options = saLogin();
    options.encryption = EncryptionPolicy::Optional;
    EXPECT_EQ(thrownBy([&] { s.connection->login(options); }).kind, ErrorKind::Encryption);
}

TEST(Login, AServerClosingDuringLoginIsAConnectionError)
{
    auto answers = answersWith(goodLoginResponse().bytes);
    answers.resize(answers.size() - answers.size() / 4);   // the answer to LOGIN7 cut off part-way
    auto s = scripted(answers);
    EXPECT_EQ(thrownBy([&] { s.connection->login(saLogin()); }).kind, ErrorKind::ConnectionClosed);
    EXPECT_FALSE(s.connection->usable());
}

TEST(Login, AnOlderTdsVersionIsRefused)
{
    Stream old;
    old.loginAck(0x730B0003).done();
    auto s = scripted(answersWith(old.bytes));
    EXPECT_THROW(s.connection->login(saLogin()), TdsError);
    EXPECT_FALSE(s.connection->usable());
}
