#pragma once
// LOGIN7 with SQL Server authentication, or integrated security with the
// client's first SSPI (SPNEGO) token.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace rz::tds {

constexpr uint32_t kTdsVersion74 = 0x74000004;

struct LoginRequest {
    uint32_t tdsVersion = kTdsVersion74;
    uint32_t packetSize = 4096;
    uint32_t clientProgramVersion = 0;
    uint32_t clientPid = 0;
    uint32_t connectionId = 0;
    // 0xE0: USE DB and initial database/language changes are fatal if refused.
    uint8_t optionFlags1 = 0xE0;
    // 0x03: initial language fatal, ODBC semantics (ANSI settings on login).
    uint8_t optionFlags2 = 0x03;
    uint8_t typeFlags = 0;
    uint8_t optionFlags3 = 0;
    int32_t clientTimeZone = 0;
    uint32_t clientLcid = 0x0409;
    std::string hostName;
    std::string userName;
    std::string password;
    std::string appName;
    std::string serverName;
    std::string libraryName;
    std::string language;
    std::string database;
    std::array<uint8_t, 6> clientId{};
    // Ask for the UTF-8 feature extension (servers that know it may then send
    // varchar data in UTF-8 collations).
    bool requestUtf8 = false;
    // Integrated security: the first token of the exchange (sets fIntSecurity;
    // user name and password are then left empty).
    bool integratedSecurity = false;
    std::vector<uint8_t> sspi;
};

std::vector<uint8_t> encodeLogin7(const LoginRequest &request);
// The password as LOGIN7 carries it: UTF-16LE, each byte's nibbles swapped
// and then XORed with 0xA5.
std::vector<uint8_t> scramblePassword(const std::string &password);

} // namespace rz::tds
