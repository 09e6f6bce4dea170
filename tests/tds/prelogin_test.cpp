#include "thrown.h"

#include "tds/prelogin.h"

#include <gtest/gtest.h>

using namespace rz::tds;
using tdstest::thrownBy;

TEST(PreLogin, EncodesTheDocumentedExampleByteForByte)
{
    // The client PRELOGIN of the MS-TDS document's example (after its header).
    PreLoginRequest request;
    request.versionMajor = 9;
    request.versionMinor = 0;
    request.encryption = EncryptionOption::On;
    request.threadId = 0x0DB8;
    request.mars = true;
    const std::vector<uint8_t> expected = {0x00, 0x00, 0x1A, 0x00, 0x06, 0x01, 0x00, 0x20, 0x00, 0x01, 0x02, 0x00,
                                           0x21, 0x00, 0x01, 0x03, 0x00, 0x22, 0x00, 0x04, 0x04, 0x00, 0x26, 0x00,
                                           0x01, 0xFF, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0xB8, 0x0D,
                                           0x00, 0x00, 0x01};
    EXPECT_EQ(encodePreLogin(request), expected);
}

TEST(PreLogin, EncodesANamedInstanceNulTerminated)
{
    PreLoginRequest request;
    request.instance = "SQLEXPRESS";
    const auto bytes = encodePreLogin(request);
    // INSTOPT is the third entry: offset and length big-endian.
    const size_t offset = size_t(bytes[11] << 8 | bytes[12]);
    const size_t length = size_t(bytes[13] << 8 | bytes[14]);
    ASSERT_EQ(length, 11u);
    EXPECT_EQ(std::string(bytes.begin() + long(offset), bytes.begin() + long(offset + 10)), "SQLEXPRESS");
    EXPECT_EQ(bytes[offset + 10], 0);
}

TEST(PreLogin, DecodesAServerAnswer)
{
    // VERSION 15.0.2000, ENCRYPTION not supported, INSTOPT ok, THREADID empty, MARS off.
    const std::vector<uint8_t> answer = {0x00, 0x00, 0x1A, 0x00, 0x06, 0x01, 0x00, 0x20, 0x00, 0x01,
                                         0x02, 0x00, 0x21, 0x00, 0x01, 0x03, 0x00, 0x22, 0x00, 0x00,
                                         0x04, 0x00, 0x22, 0x00, 0x01, 0xFF, 0x0F, 0x00, 0x07, 0xD0,
                                         0x00, 0x00, 0x02, 0x00, 0x00};
    const PreLoginResponse response = decodePreLogin(answer);
    EXPECT_EQ(response.versionMajor, 15);
    EXPECT_EQ(response.versionBuild, 2000);
    EXPECT_EQ(response.encryption, EncryptionOption::NotSupported);
    EXPECT_FALSE(response.instanceRejected);
    EXPECT_FALSE(response.mars);
}

TEST(PreLogin, RejectsAnAnswerWhoseOptionPointsOutsideOrThatLacksEncryption)
{
    const std::vector<uint8_t> answer = {0x01, 0x00, 0x40, 0x00, 0x01, 0xFF};
    EXPECT_THROW(decodePreLogin(answer), TdsError);
    EXPECT_THROW(decodePreLogin({0x01, 0x00}), TdsError);
    EXPECT_THROW(decodePreLogin({}), TdsError);
    EXPECT_THROW(decodePreLogin({0xFF}), TdsError) << "no encryption option";
}

TEST(EncryptionNegotiation, AClientWithoutTlsAcceptsServersThatDoNotInsist)
{
    EXPECT_EQ(encryptionOptionFor(EncryptionPolicy::Never), EncryptionOption::NotSupported);
    EXPECT_EQ(negotiateEncryption(EncryptionPolicy::Never, EncryptionOption::NotSupported), Encryption::None);
    EXPECT_EQ(negotiateEncryption(EncryptionPolicy::Never, EncryptionOption::Off), Encryption::None);
    EXPECT_THROW(negotiateEncryption(EncryptionPolicy::Never, EncryptionOption::Required), TdsError);
    EXPECT_THROW(negotiateEncryption(EncryptionPolicy::Never, EncryptionOption::On), TdsError);
}

TEST(EncryptionNegotiation, OptionalEncryptsTheLoginOrEverythingAsTheServerSays)
{
    EXPECT_EQ(encryptionOptionFor(EncryptionPolicy::Optional), EncryptionOption::Off);
    EXPECT_EQ(negotiateEncryption(EncryptionPolicy::Optional, EncryptionOption::NotSupported), Encryption::None);
    EXPECT_EQ(negotiateEncryption(EncryptionPolicy::Optional, EncryptionOption::Off), Encryption::LoginOnly);
    EXPECT_EQ(negotiateEncryption(EncryptionPolicy::Optional, EncryptionOption::On), Encryption::Full);
    EXPECT_EQ(negotiateEncryption(EncryptionPolicy::Optional, EncryptionOption::Required), Encryption::Full);
}

TEST(EncryptionNegotiation, RequiredFailsCleanlyAgainstAServerWithoutEncryption)
{
    EXPECT_EQ(encryptionOptionFor(EncryptionPolicy::Required), EncryptionOption::On);
    EXPECT_EQ(negotiateEncryption(EncryptionPolicy::Required, EncryptionOption::Off), Encryption::Full);
    const auto t = thrownBy([] { negotiateEncryption(EncryptionPolicy::Required, EncryptionOption::NotSupported); });
    EXPECT_EQ(t.kind, ErrorKind::Encryption);
    EXPECT_NE(t.what.find("does not support"), std::string::npos) << t.what;
}
