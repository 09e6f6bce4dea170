#include "tds/login7.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace rz::tds;

TEST(Login7, EncodesTheDocumentedExampleByteForByte)
{
    // The LOGIN7 of the MS-TDS document's example (TDS 7.2, after its header).
    LoginRequest request;
    request.tdsVersion = 0x72090002;
    request.packetSize = 4096;
    request.clientProgramVersion = 0x07000000;
    request.clientPid = 0x100;
    request.hostName = "skostov1";
    request.userName = "sa";
    request.appName = "OSQL-32";
    request.libraryName = "ODBC";
    request.clientId = {0x00, 0x50, 0x8B, 0xE2, 0xB7, 0x8F};
    const std::vector<uint8_t> expected = {
        0x88, 0x00, 0x00, 0x00, 0x02, 0x00, 0x09, 0x72, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x01,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x04, 0x00, 0x00,
        0x5E, 0x00, 0x08, 0x00, 0x6E, 0x00, 0x02, 0x00, 0x72, 0x00, 0x00, 0x00, 0x72, 0x00, 0x07, 0x00, 0x80, 0x00,
        0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x80, 0x00, 0x04, 0x00, 0x88, 0x00, 0x00, 0x00, 0x88, 0x00, 0x00, 0x00,
        0x00, 0x50, 0x8B, 0xE2, 0xB7, 0x8F, 0x88, 0x00, 0x00, 0x00, 0x88, 0x00, 0x00, 0x00, 0x88, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x73, 0x00, 0x6B, 0x00, 0x6F, 0x00, 0x73, 0x00, 0x74, 0x00, 0x6F, 0x00, 0x76, 0x00,
        0x31, 0x00, 0x73, 0x00, 0x61, 0x00, 0x4F, 0x00, 0x53, 0x00, 0x51, 0x00, 0x4C, 0x00, 0x2D, 0x00, 0x33, 0x00,
        0x32, 0x00, 0x4F, 0x00, 0x44, 0x00, 0x42, 0x00, 0x43, 0x00};
    EXPECT_EQ(encodeLogin7(request), expected);
}

TEST(Login7, ScramblesThePasswordBySwappingNibblesThenXoringA5)
{
    // 'a' is 0x61 0x00 in UTF-16LE: 0x16 ^ 0xA5 = 0xB3, 0x00 ^ 0xA5 = 0xA5.
    EXPECT_EQ(scramblePassword("a"), (std::vector<uint8_t>{0xB3, 0xA5}));
    // A character outside Latin-1 scrambles both of its bytes.
    EXPECT_EQ(scramblePassword("\xE2\x82\xAC"), (std::vector<uint8_t>{0x6F, 0xA7}));   // U+20AC: AC 20
}

TEST(Login7, CarriesTheScrambledPasswordAndTheVersion)
{
    LoginRequest request;
    request.userName = "sa";
    request.password = "Secret123";
    const auto bytes = encodeLogin7(request);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 8), (std::vector<uint8_t>{0x04, 0x00, 0x00, 0x74}));
    const size_t offset = size_t(bytes[44] | bytes[45] << 8);
    const size_t characters = size_t(bytes[46] | bytes[47] << 8);
    ASSERT_EQ(characters, 9u);
    const auto scrambled = scramblePassword("Secret123");
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + long(offset), bytes.begin() + long(offset + 18)), scrambled);
    EXPECT_EQ(bytes[27] & 0x10, 0) << "no feature extension unless asked";
}

TEST(Login7, PointsTheExtensionAtAUtf8FeatureBlockAtTheEnd)
{
    LoginRequest request;
    request.userName = "sa";
    request.database = "testdb";
    request.requestUtf8 = true;
    const auto bytes = encodeLogin7(request);
    EXPECT_EQ(bytes[27] & 0x10, 0x10);
    const size_t pointerOffset = size_t(bytes[56] | bytes[57] << 8);
    EXPECT_EQ(bytes[58] | bytes[59] << 8, 4);
    const size_t featureOffset = size_t(bytes[pointerOffset] | bytes[pointerOffset + 1] << 8 |
                                        bytes[pointerOffset + 2] << 16 | bytes[pointerOffset + 3] << 24);
    ASSERT_EQ(featureOffset + 7, bytes.size());
    const std::vector<uint8_t> feature(bytes.begin() + long(featureOffset), bytes.end());
    EXPECT_EQ(feature, (std::vector<uint8_t>{0x0A, 0x01, 0x00, 0x00, 0x00, 0x01, 0xFF}));
    EXPECT_EQ(size_t(bytes[0] | bytes[1] << 8), bytes.size());
    // The database still points at its own text.
    const size_t database = size_t(bytes[68] | bytes[69] << 8);
    EXPECT_EQ(bytes[database], 't');
    EXPECT_EQ(bytes[70], 6);
}

TEST(Login7, IntegratedSecurityCarriesTheTokenInsteadOfUserAndPassword)
{
    // cbSSPI holds up to 0xFFFE bytes; from 0xFFFF on it says 0xFFFF and
    // cbSSPILong (the last fixed field) holds the length.
    for (const size_t size : {size_t(1200), size_t(0xFFFF), size_t(70000)}) {
        SCOPED_TRACE(size);
        LoginRequest request;
        request.integratedSecurity = true;
        request.userName.clear();
        for (size_t i = 0; i < size; ++i)
            request.sspi.push_back(uint8_t(i * 7));
        const auto bytes = encodeLogin7(request);
        auto u16 = [&](size_t at) { return size_t(bytes[at] | bytes[at + 1] << 8); };
        auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
        EXPECT_EQ(bytes[25] & 0x80, 0x80) << "fIntSecurity";
        EXPECT_EQ(u16(42), 0u) << "no user name";
        EXPECT_EQ(u16(46), 0u) << "no password";
        const size_t offset = u16(78);
        const size_t shortLength = u16(80);
        const size_t longLength = u32(90);
        EXPECT_EQ(shortLength, size < 0xFFFF ? size : 0xFFFF);
        EXPECT_EQ(longLength, size < 0xFFFF ? 0 : size);
        ASSERT_EQ(u32(0), bytes.size());
        ASSERT_LE(offset + size, bytes.size());
        EXPECT_TRUE(std::equal(request.sspi.begin(), request.sspi.end(), bytes.begin() + long(offset)));
    }
}
