// Bounded random input for the token decoder: mutated valid streams and
// plain random bytes, from a fixed seed, must decode or be refused with
// TdsError; never crash, hang or read out of bounds (run it under ASan).
#include "everytype.h"
#include "untrusteddecode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

using namespace tdstest;

namespace {

std::vector<std::vector<uint8_t>> validStreams()
{
    std::vector<std::vector<uint8_t>> streams;
    const auto columns = everyType();
    {
        Stream s = metadata(columns);
        s.u8(0xD1);
        for (const Column &c : columns)
            s.raw(c.value);
        s.u8(0xD2);
        std::vector<uint8_t> bitmap((columns.size() + 7) / 8, 0x55);
        s.raw(bitmap);
        for (size_t i = 0; i < columns.size(); ++i)
            if (!(bitmap[i / 8] >> (i % 8) & 1))
                s.raw(columns[i].value);
        s.done(0x11, 2, 0xFF);
        streams.push_back(s.bytes);
    }
    {
        Stream s;
        s.envText(1, "testdb", "master").envBytes(7, kLatin1Collation, {}).loginAck();
        s.u8(0xAE).u8(0x0A).u32(1).u8(1).u8(0xFF);
        s.message(false, 5701, 2, 0, "Changed database context").envText(4, "8192", "4096").done();
        streams.push_back(s.bytes);
    }
    {
        Stream s;
        s.u8(0x79).u32(0);
        s.u8(0xAC).u16(1).bVarchar("@o").u8(1).u32(0).u16(1).raw(ti::nvarcharMax());
        s.u64(4).u32(4).utf16("ab").u32(0);
        s.u8(0xAC).u16(2).bVarchar("@d").u8(1).u32(0).u16(1).raw(ti::decimaln(17, 38, 3)).u8(17).u8(1).u64(5).u64(6);
        s.message(true, 208, 1, 16, "Invalid object name 'x'.", "S", "p", 4).done(0x02, 0, 0xFE);
        streams.push_back(s.bytes);
    }
    {
        Stream s;
        s.colmetadata(2).column(ti::varcharMax(), "a").column(ti::text(), "b");
        for (int i = 0; i < 3; ++i) {
            s.u8(0xD1).u64(0xFFFFFFFFFFFFFFFE).u32(3).raw({'x', 'y', 'z'}).u32(1).raw({'!'}).u32(0);
            s.raw(textValue({'t', 'e'}));
        }
        s.u8(0xA9).u16(4).u16(1).u16(2).done(0x10, 3);
        streams.push_back(s.bytes);
    }
    return streams;
}

std::vector<uint8_t> mutate(std::vector<uint8_t> bytes, const std::vector<std::vector<uint8_t>> &seeds,
                            std::mt19937 &random)
{
    static const uint8_t interesting[] = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF, 0x10, 0xD1, 0xD2, 0x81};
    std::uniform_int_distribution<int> kind(0, 6);
    const int edits = 1 + int(random() % 4);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
        const size_t at = random() % bytes.size();
        switch (kind(random)) {
        case 0:
            bytes[at] = uint8_t(bytes[at] ^ (1u << (random() % 8)));
            break;
        case 1:
            bytes[at] = interesting[random() % sizeof interesting];
            break;
        case 2:
            bytes.erase(bytes.begin() + long(at), bytes.begin() + long(std::min(bytes.size(), at + 1 + random() % 8)));
            break;
        case 3:
            bytes.insert(bytes.begin() + long(at), 1 + random() % 8, uint8_t(random()));
            break;
        case 4:
            bytes.resize(at);
            break;
        case 5: {
            // Lengths and counts are little-endian: make one of them huge.
            bytes[at] = 0xFF;
            if (at + 1 < bytes.size())
                bytes[at + 1] = 0xFF;
            break;
        }
        case 6: {
            const auto &other = seeds[random() % seeds.size()];
            const size_t from = random() % other.size();
            bytes.insert(bytes.begin() + long(at), other.begin() + long(from),
                         other.begin() + long(std::min(other.size(), from + 1 + random() % 64)));
            break;
        }
        }
    }
    return bytes;
}

} // namespace

TEST(DecoderRobustness, TheValidSeedsDecode)
{
    for (const auto &seed : validStreams())
        EXPECT_TRUE(decodeUntrusted(seed.data(), seed.size(), SIZE_MAX, false));
}

TEST(DecoderRobustness, MutatedStreamsAndRandomBytesAreDecodedOrRefused)
{
    const auto seeds = validStreams();
    std::mt19937 random(20261206);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    size_t runs = 0;
    size_t refused = 0;
    size_t decoded = 0;
    for (; runs < 200000 && std::chrono::steady_clock::now() < deadline; ++runs) {
        std::vector<uint8_t> input;
        if (runs % 10 == 9) {
            input.resize(random() % 256);
            for (auto &b : input)
                b = uint8_t(random());
        } else {
            input = mutate(seeds[runs % seeds.size()], seeds, random);
        }
        const size_t chunk = runs % 3 == 0 ? SIZE_MAX : 1 + random() % 40;
        if (decodeUntrusted(input.data(), input.size(), chunk, runs % 2 == 0))
            ++decoded;
        else
            ++refused;
    }
    EXPECT_GT(runs, 1000u) << "too few runs to mean anything";
    // Both outcomes occur: the mutations neither all break nor all miss.
    EXPECT_GT(refused, runs / 10);
    EXPECT_GT(decoded, 0u);
}
