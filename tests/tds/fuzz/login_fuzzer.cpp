// libFuzzer entry point for the answers a server sends before the session
// exists: the PRELOGIN answer and the login response (LOGINACK, ENVCHANGE,
// ERROR, INFO, FEATUREEXTACK, SSPI ...), then one request's answer in the
// session the login set up. A client must log in or fail with TdsError.
//
// Input: a flags byte, then either the bytes as they arrive (raw) or
//   u16 length, PRELOGIN payload; u16 length, login payload; request payload
// each framed into packets here, so that mutations reach the payloads.
// Flags: bits 0-1 the encryption policy, bit 2 raw, bit 3 a TLS provider
// (a pass-through one), bits 4-7 the size of each piece the transport hands
// out (0: as much as asked for).
#include "memorytransport.h"

#include "tds/connection.h"

using namespace rz::tds;

namespace {

// Encryption without the cipher: whatever the server negotiates, the bytes
// go on over the same transport.
class PassThroughTls : public TlsProvider {
public:
    std::unique_ptr<Transport> handshake(PacketChannel &, Transport &raw, const std::string &, Encryption) override
    {
        return std::make_unique<Forwarding>(raw);
    }

private:
    struct Forwarding : Transport {
        explicit Forwarding(Transport &raw) : raw(raw) {}
        void sendAll(const uint8_t *data, size_t size) override { raw.sendAll(data, size); }
        size_t receiveSome(uint8_t *data, size_t capacity) override { return raw.receiveSome(data, capacity); }
        Transport &raw;
    };
};

struct Input {
    const uint8_t *data;
    size_t size;
    std::vector<uint8_t> take(size_t n)
    {
        n = std::min(n, size);
        std::vector<uint8_t> out(data, data + n);
        data += n;
        size -= n;
        return out;
    }
    size_t length()
    {
        const auto b = take(2);
        return b.size() == 2 ? size_t(b[0] | b[1] << 8) : 0;
    }
};

void append(std::vector<uint8_t> &to, const std::vector<uint8_t> &more) { to.insert(to.end(), more.begin(), more.end()); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    Input input{data + 1, size - 1};
    std::vector<uint8_t> answers;
    if (flags & 0x04) {
        answers = input.take(input.size);
    } else {
        append(answers, tdstest::framed(input.take(input.length())));
        append(answers, tdstest::framed(input.take(input.length()), 512));
        append(answers, tdstest::framed(input.take(input.size), 4096));
    }
    const size_t piece = flags >> 4 ? size_t(flags >> 4) : SIZE_MAX;
    PassThroughTls tls;
    Connection connection(std::make_unique<tdstest::MemoryTransport>(std::move(answers), piece),
                          flags & 0x08 ? &tls : nullptr);
    LoginOptions options;
    options.serverName = "server";
    options.userName = "sa";
    options.password = "secret";
    options.database = "db";
    options.hostName = "client";
    options.encryption = EncryptionPolicy(std::min(flags & 0x03, 2));
    try {
        connection.login(options);
        connection.sendBatch(std::string("SELECT 1"));
        TokenHandler ignore;
        while (!connection.readResponse(ignore)) {
        }
    } catch (const TdsError &) {
    }
    return 0;
}
