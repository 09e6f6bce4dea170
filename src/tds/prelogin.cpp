#include "tds/prelogin.h"

#include "tds/error.h"
#include "tds/wirewriter.h"

namespace rz::tds {

namespace {

enum Token : uint8_t {
    Version = 0x00,
    EncryptionToken = 0x01,
    InstOpt = 0x02,
    ThreadId = 0x03,
    Mars = 0x04,
    Terminator = 0xFF,
};

constexpr size_t kOptionEntrySize = 5;

} // namespace

EncryptionOption encryptionOptionFor(EncryptionPolicy policy)
{
    switch (policy) {
    case EncryptionPolicy::Never:
        return EncryptionOption::NotSupported;
    case EncryptionPolicy::Optional:
        return EncryptionOption::Off;
    case EncryptionPolicy::Required:
        return EncryptionOption::On;
    }
    return EncryptionOption::NotSupported;
}

std::vector<uint8_t> encodePreLogin(const PreLoginRequest &request)
{
    std::vector<uint8_t> data;
    WireWriter d(data);
    struct Entry {
        uint8_t token;
        size_t offset;
        size_t length;
    };
    std::vector<Entry> entries;
    auto option = [&](uint8_t token, auto &&write) {
        const size_t start = data.size();
        write();
        entries.push_back({token, start, data.size() - start});
    };
    option(Version, [&] {
        d.u8(request.versionMajor);
        d.u8(request.versionMinor);
        d.u16be(request.versionBuild);
        d.u16be(request.versionSubBuild);
    });
    option(EncryptionToken, [&] { d.u8(uint8_t(request.encryption)); });
    option(InstOpt, [&] {
        d.bytes(request.instance.data(), request.instance.size());
        d.u8(0);
    });
    option(ThreadId, [&] { d.u32le(request.threadId); });
    option(Mars, [&] { d.u8(request.mars ? 1 : 0); });

    std::vector<uint8_t> out;
    WireWriter w(out);
    const size_t headerSize = entries.size() * kOptionEntrySize + 1;
    for (const Entry &e : entries) {
        w.u8(e.token);
        w.u16be(uint16_t(headerSize + e.offset));
        w.u16be(uint16_t(e.length));
    }
    w.u8(Terminator);
    w.bytes(data.data(), data.size());
    return out;
}

PreLoginResponse decodePreLogin(const std::vector<uint8_t> &payload)
{
    PreLoginResponse response;
    bool sawEncryption = false;
    size_t at = 0;
    for (;;) {
        if (at >= payload.size())
            throwProtocol("PRELOGIN answer without a terminator");
        const uint8_t token = payload[at];
        if (token == Terminator)
            break;
        if (at + kOptionEntrySize > payload.size())
            throwProtocol("PRELOGIN option entry cut short");
        const size_t offset = size_t(payload[at + 1] << 8 | payload[at + 2]);
        const size_t length = size_t(payload[at + 3] << 8 | payload[at + 4]);
        at += kOptionEntrySize;
        if (offset > payload.size() || length > payload.size() - offset)
            throwProtocol("PRELOGIN option points outside the message");
        const uint8_t *value = payload.data() + offset;
        switch (token) {
        case Version:
            if (length >= 6) {
                response.versionMajor = value[0];
                response.versionMinor = value[1];
                response.versionBuild = uint16_t(value[2] << 8 | value[3]);
                response.versionSubBuild = uint16_t(value[4] << 8 | value[5]);
            }
            break;
        case EncryptionToken:
            if (length < 1 || value[0] > uint8_t(EncryptionOption::Required))
                throwProtocol("PRELOGIN encryption option invalid");
            response.encryption = EncryptionOption(value[0]);
            sawEncryption = true;
            break;
        case InstOpt:
            response.instanceRejected = length >= 1 && value[0] != 0;
            break;
        case Mars:
            response.mars = length >= 1 && value[0] != 0;
            break;
        default:   // THREADID (empty from servers) and options of later versions
            break;
        }
    }
    if (!sawEncryption)
        throwProtocol("PRELOGIN answer without an encryption option");
    return response;
}

Encryption negotiateEncryption(EncryptionPolicy policy, EncryptionOption server)
{
    const bool serverCanEncrypt = server != EncryptionOption::NotSupported;
    const bool serverInsists = server == EncryptionOption::On || server == EncryptionOption::Required;
    switch (policy) {
    case EncryptionPolicy::Never:
        if (serverInsists)
            throw TdsError(ErrorKind::Encryption, "the server requires encryption, which this connection does not use");
        return Encryption::None;
    case EncryptionPolicy::Optional:
        if (!serverCanEncrypt)
            return Encryption::None;
        return serverInsists ? Encryption::Full : Encryption::LoginOnly;
    case EncryptionPolicy::Required:
        if (!serverCanEncrypt)
            throw TdsError(ErrorKind::Encryption,
                           "the connection requires encryption, but the server does not support it");
        return Encryption::Full;
    }
    return Encryption::None;
}

} // namespace rz::tds
