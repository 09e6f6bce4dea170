// Writes the inputs the fuzzers' corpus started from: valid streams in each
// target's input format. Usage: tds_fuzz_seeds <corpus folder>
#include "memorytransport.h"
#include "validstreams.h"

#include <fstream>
#include <iostream>
#include <string>

using namespace tdstest;

namespace {

void write(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> preLoginAnswerWithEveryOption(uint8_t encryption)
{
    return {0x00, 0x00, 0x1A, 0x00, 0x06, 0x01, 0x00, 0x20, 0x00, 0x01, 0x02, 0x00, 0x21, 0x00, 0x01, 0x03, 0x00, 0x22,
            0x00, 0x00, 0x04, 0x00, 0x22, 0x00, 0x01, 0xFF, 0x0F, 0x00, 0x07, 0xD0, 0x00, 0x00, encryption, 0x00, 0x00};
}

Stream acceptedLogin()
{
    Stream s;
    s.envText(1, "db", "master").message(false, 5701, 2, 0, "Changed database context to 'db'.");
    s.envBytes(7, kLatin1Collation, {}).envText(2, "us_english", "").loginAck();
    s.u8(0xAE).u8(0x0A).u32(1).u8(1).u8(0xFF);   // FEATUREEXTACK: UTF-8
    return s.envText(4, "8192", "4096").done();
}

// The login target's input: flags, then the three payloads.
std::vector<uint8_t> loginInput(uint8_t flags, const std::vector<uint8_t> &preLogin, const std::vector<uint8_t> &login,
                                const std::vector<uint8_t> &request)
{
    Stream s;
    s.u8(flags).u16(uint16_t(preLogin.size())).raw(preLogin).u16(uint16_t(login.size())).raw(login).raw(request);
    return s.bytes;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::cerr << "usage: tds_fuzz_seeds <corpus folder>\n";
        return 2;
    }
    const std::string dir = argv[1];
    const auto streams = validStreams();
    for (size_t i = 0; i < streams.size(); ++i) {
        // Whole, and in 5-byte chunks with long values to a sink.
        for (uint8_t flags : {uint8_t(0x00), uint8_t(0x85)}) {
            std::vector<uint8_t> input{flags};
            input.insert(input.end(), streams[i].begin(), streams[i].end());
            write(dir + "/decoder/seed-" + std::to_string(i) + (flags ? "-chunked" : ""), input);
        }
    }

    Stream result;
    result.colmetadata(1).column(ti::intn(4), "one").u8(0xD1).u8(4).u32(1).done(0x10, 1);
    const auto ok = acceptedLogin().bytes;
    write(dir + "/login/seed-accepted", loginInput(0x00, preLoginAnswerWithEveryOption(0x02), ok, result.bytes));
    write(dir + "/login/seed-accepted-in-pieces", loginInput(0x30, preLoginAnswerWithEveryOption(0x02), ok, result.bytes));
    write(dir + "/login/seed-encrypted-login", loginInput(0x19, preLoginAnswerWithEveryOption(0x00), ok, result.bytes));
    write(dir + "/login/seed-encrypted-session", loginInput(0x1A, preLoginAnswerWithEveryOption(0x03), ok, result.bytes));
    Stream refused;
    refused.message(true, 18456, 1, 14, "Login failed for user 'sa'.", "SRV").done(0x02);
    write(dir + "/login/seed-refused", loginInput(0x00, preLoginAnswerWithEveryOption(0x02), refused.bytes, {}));
    Stream sspi;
    sspi.u8(0xED).u16(4).raw({'N', 'T', 'L', 'M'}).raw(ok);
    write(dir + "/login/seed-sspi", loginInput(0x00, preLoginAnswerWithEveryOption(0x02), sspi.bytes, result.bytes));
    Stream routed;
    routed.loginAck().u8(0xE3).u16(24).u8(20).u16(19).u8(0).u16(1433).usVarchar("server1").u16(0).done();
    write(dir + "/login/seed-routed", loginInput(0x00, preLoginAnswerWithEveryOption(0x02), routed.bytes, {}));
    // As the bytes arrive, packet headers included.
    std::vector<uint8_t> raw{0x04};
    for (const auto &message : {framed(preLoginAnswerWithEveryOption(0x02)), framed(ok, 512), framed(result.bytes)})
        raw.insert(raw.end(), message.begin(), message.end());
    write(dir + "/login/seed-raw", raw);
    return 0;
}
