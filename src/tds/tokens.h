#pragma once
// What the token stream tells the client, as plain values.

#include "tds/typeinfo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rz::tds {

struct ColumnInfo {
    std::string name;
    uint32_t userType = 0;
    uint16_t flags = 0;
    TypeInfo type;
    std::string tableName;   // text, ntext and image columns only

    bool nullable() const { return flags & 0x0001; }
    bool identity() const { return flags & 0x0010; }
    bool computed() const { return flags & 0x0020; }
};

// An ERROR or INFO token: one server message with its origin.
struct ServerMessage {
    bool isError = false;
    int32_t number = 0;
    uint8_t state = 0;
    uint8_t severity = 0;   // the "class" of the message; above 10 for errors
    std::string message;
    std::string server;
    std::string procedure;
    int32_t line = 0;
};

namespace envchange {
constexpr uint8_t Database = 1;
constexpr uint8_t Language = 2;
constexpr uint8_t CharacterSet = 3;
constexpr uint8_t PacketSize = 4;
constexpr uint8_t Collation = 7;
constexpr uint8_t BeginTransaction = 8;
constexpr uint8_t CommitTransaction = 9;
constexpr uint8_t RollbackTransaction = 10;
constexpr uint8_t DefectTransaction = 12;
constexpr uint8_t MirroringPartner = 13;
constexpr uint8_t TransactionEnded = 17;
constexpr uint8_t ResetConnectionAck = 18;
constexpr uint8_t Routing = 20;
} // namespace envchange

struct EnvChange {
    uint8_t type = 0;
    // Text changes (database, language, packet size, partner) as UTF-8; the
    // others (collation, transaction descriptors, routing) as bytes.
    std::string newText;
    std::string oldText;
    std::vector<uint8_t> newBytes;
    std::vector<uint8_t> oldBytes;
};

namespace donestatus {
constexpr uint16_t More = 0x0001;
constexpr uint16_t Error = 0x0002;
constexpr uint16_t InTransaction = 0x0004;
constexpr uint16_t Count = 0x0010;
constexpr uint16_t Attention = 0x0020;
constexpr uint16_t ServerError = 0x0100;
} // namespace donestatus

namespace token {
constexpr uint8_t ReturnStatus = 0x79;
constexpr uint8_t ColMetadata = 0x81;
constexpr uint8_t TabName = 0xA4;
constexpr uint8_t ColInfo = 0xA5;
constexpr uint8_t Order = 0xA9;
constexpr uint8_t Error = 0xAA;
constexpr uint8_t Info = 0xAB;
constexpr uint8_t ReturnValue = 0xAC;
constexpr uint8_t LoginAck = 0xAD;
constexpr uint8_t FeatureExtAck = 0xAE;
constexpr uint8_t Row = 0xD1;
constexpr uint8_t NbcRow = 0xD2;
constexpr uint8_t EnvChange = 0xE3;
constexpr uint8_t SessionState = 0xE4;
constexpr uint8_t Sspi = 0xED;
constexpr uint8_t FedAuthInfo = 0xEE;
constexpr uint8_t Done = 0xFD;
constexpr uint8_t DoneProc = 0xFE;
constexpr uint8_t DoneInProc = 0xFF;
} // namespace token

struct Done {
    uint8_t token = token::Done;   // DONE, DONEPROC or DONEINPROC
    uint16_t status = 0;
    uint16_t currentCommand = 0;
    uint64_t rowCount = 0;

    bool more() const { return status & donestatus::More; }
    bool error() const { return status & (donestatus::Error | donestatus::ServerError); }
    bool hasCount() const { return status & donestatus::Count; }
    bool attention() const { return status & donestatus::Attention; }
    bool inTransaction() const { return status & donestatus::InTransaction; }
};

struct LoginAck {
    uint8_t interfaceType = 0;
    uint32_t tdsVersion = 0;
    std::string programName;
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    uint16_t versionBuild = 0;
};

// An output parameter (or a user function's value) coming back.
struct ReturnValue {
    uint16_t ordinal = 0;
    std::string name;
    uint8_t status = 0;   // 0x01 output parameter, 0x02 user-defined function
    ColumnInfo column;    // its type (name empty)
    bool isNull = true;
    // The value in the form its kind gives (see ValueKind), e.g. 4 bytes of
    // int32_t for an int, UTF-16LE bytes for nvarchar.
    std::vector<uint8_t> value;
};

} // namespace rz::tds
