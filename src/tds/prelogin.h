#pragma once
// PRELOGIN: the first exchange, which settles the server's version, whether
// the connection is encrypted, and MARS.

#include <cstdint>
#include <string>
#include <vector>

namespace rz::tds {

// The ENCRYPTION option's values as both sides send them.
enum class EncryptionOption : uint8_t {
    Off = 0x00,            // encryption available, only the login is encrypted
    On = 0x01,             // encryption available and wanted
    NotSupported = 0x02,   // no encryption at all
    Required = 0x03,       // (server) encryption required
};

// What the client asks for.
enum class EncryptionPolicy {
    Never,      // the client cannot encrypt: sends NotSupported
    Optional,   // encrypt if the server can: sends Off
    Required,   // fail unless the server encrypts: sends On
};

// What the two answers add up to.
enum class Encryption { None, LoginOnly, Full };

struct PreLoginRequest {
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 1;
    uint16_t versionBuild = 0;
    uint16_t versionSubBuild = 0;
    EncryptionOption encryption = EncryptionOption::NotSupported;
    std::string instance;   // empty: the default instance
    uint32_t threadId = 0;
    bool mars = false;
};

struct PreLoginResponse {
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    uint16_t versionBuild = 0;
    uint16_t versionSubBuild = 0;
    EncryptionOption encryption = EncryptionOption::NotSupported;
    bool instanceRejected = false;   // INSTOPT other than 0: the instance name did not match
    bool mars = false;
};

EncryptionOption encryptionOptionFor(EncryptionPolicy policy);
std::vector<uint8_t> encodePreLogin(const PreLoginRequest &request);
// Throws TdsError(Protocol) on an answer that does not parse.
PreLoginResponse decodePreLogin(const std::vector<uint8_t> &payload);
// Throws TdsError(Encryption) when the answers cannot be reconciled.
Encryption negotiateEncryption(EncryptionPolicy policy, EncryptionOption server);

} // namespace rz::tds
