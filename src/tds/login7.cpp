#include "tds/login7.h"

#include "tds/error.h"
#include "tds/wirewriter.h"

namespace rz::tds {

namespace {

constexpr size_t kFixedLength = 94;
constexpr uint8_t kExtensionFlag = 0x10;   // OptionFlags3: fExtension
constexpr uint8_t kIntegratedSecurityFlag = 0x80;   // OptionFlags2: fIntSecurity
constexpr size_t kSspiLongOffset = 90;
constexpr size_t kShortLengthLimit = 0xFFFF;
constexpr uint8_t kFeatureUtf8 = 0x0A;
constexpr uint8_t kFeatureTerminator = 0xFF;

std::vector<uint8_t> utf16Le(const std::string &text)
{
    std::vector<uint8_t> out;
    WireWriter(out).utf16(utf16FromUtf8(text));
    return out;
}

} // namespace

std::vector<uint8_t> scramblePassword(const std::string &password)
{
    std::vector<uint8_t> bytes = utf16Le(password);
    for (auto &b : bytes)
        b = uint8_t(((b << 4) | (b >> 4)) ^ 0xA5);
    return bytes;
}

std::vector<uint8_t> encodeLogin7(const LoginRequest &request)
{
    const bool extension = request.requestUtf8;
    std::vector<uint8_t> out(kFixedLength, 0);
    WireWriter w(out);
    size_t slot = 36;   // the next offset/length pair to fill
    auto field = [&](const std::vector<uint8_t> &bytes, size_t length) {
        if (length > 0xFFFF || out.size() > 0xFFFF)
            throw TdsError(ErrorKind::Usage, "login field too long");
        w.patch16le(slot, uint16_t(out.size()));
        w.patch16le(slot + 2, uint16_t(length));
        slot += 4;
        w.bytes(bytes.data(), bytes.size());
    };
    auto text = [&](const std::string &value) {
        const auto bytes = utf16Le(value);
        field(bytes, bytes.size() / 2);
    };
    text(request.hostName);
    text(request.userName);
    {
        const auto scrambled = scramblePassword(request.password);
        field(scrambled, scrambled.size() / 2);
    }
    text(request.appName);
    text(request.serverName);
    size_t extensionPointer = 0;
    if (extension) {
        extensionPointer = out.size();
        field(std::vector<uint8_t>(4, 0), 4);   // patched below with the feature block's offset
    } else {
        field({}, 0);
    }
    text(request.libraryName);
    text(request.language);
    text(request.database);
    for (size_t i = 0; i < 6; ++i)
        out[slot + i] = request.clientId[i];
    slot += 6;
    // The SSPI token's bytes go after the last field's: a long one would push
    // the fields after it beyond 16-bit offsets. From 64 KB on cbSSPI says
    // 0xFFFF and cbSSPILong has the length.
    const size_t sspiSlot = slot;
    slot += 4;
    field({}, 0);   // AtchDBFile
    field({}, 0);   // ChangePassword
    if (out.size() > 0xFFFF)
        throw TdsError(ErrorKind::Usage, "login fields too long");
    const bool longSspi = request.sspi.size() >= kShortLengthLimit;
    w.patch16le(sspiSlot, uint16_t(out.size()));
    w.patch16le(sspiSlot + 2, uint16_t(longSspi ? kShortLengthLimit : request.sspi.size()));
    w.bytes(request.sspi.data(), request.sspi.size());
    if (longSspi)
        w.patch32le(kSspiLongOffset, uint32_t(request.sspi.size()));
    if (extension) {
        w.patch32le(extensionPointer, uint32_t(out.size()));
        w.u8(kFeatureUtf8);
        w.u32le(1);
        w.u8(0x01);
        w.u8(kFeatureTerminator);
    }

    w.patch32le(0, uint32_t(out.size()));
    w.patch32le(4, request.tdsVersion);
    w.patch32le(8, request.packetSize);
    w.patch32le(12, request.clientProgramVersion);
    w.patch32le(16, request.clientPid);
    w.patch32le(20, request.connectionId);
    out[24] = request.optionFlags1;
    out[25] = uint8_t(request.optionFlags2 | (request.integratedSecurity ? kIntegratedSecurityFlag : 0));
    out[26] = request.typeFlags;
    out[27] = uint8_t(request.optionFlags3 | (extension ? kExtensionFlag : 0));
    w.patch32le(28, uint32_t(request.clientTimeZone));
    w.patch32le(32, request.clientLcid);
    return out;
}

} // namespace rz::tds
