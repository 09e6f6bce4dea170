// Bounded random input for the token decoder: mutated valid streams and
// plain random bytes, from a fixed seed, must decode or be refused with
// TdsError; never crash, hang or read out of bounds (run it under ASan).
#include "untrusteddecode.h"
#include "validstreams.h"

#include <gtest/gtest.h>

#include <random>

using namespace tdstest;

namespace {

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
    const size_t runs = 20000;
    size_t refused = 0;
    size_t decoded = 0;
    for (size_t run = 0; run < runs; ++run) {
        std::vector<uint8_t> input;
        if (run % 10 == 9) {
            input.resize(random() % 256);
            for (auto &b : input)
                b = uint8_t(random());
        } else {
            input = mutate(seeds[run % seeds.size()], seeds, random);
        }
        const size_t chunk = run % 3 == 0 ? SIZE_MAX : 1 + random() % 40;
        if (decodeUntrusted(input.data(), input.size(), chunk, run % 2 == 0))
            ++decoded;
        else
            ++refused;
    }
    // Both outcomes occur: the mutations neither all break nor all miss.
    EXPECT_GT(refused, runs / 10);
    EXPECT_GT(decoded, 0u);
}
