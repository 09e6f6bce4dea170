#pragma once
// Builds server token streams byte by byte for decoder tests.

#include <cstdint>
#include <string>
#include <vector>

namespace tdstest {

class Stream {
public:
    std::vector<uint8_t> bytes;

    Stream &u8(uint8_t v)
    {
        bytes.push_back(v);
        return *this;
    }
    Stream &le(uint64_t v, int size)
    {
        for (int i = 0; i < size; ++i)
            bytes.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
    Stream &u16(uint16_t v) { return le(v, 2); }
    Stream &u32(uint32_t v) { return le(v, 4); }
    Stream &u64(uint64_t v) { return le(v, 8); }
    Stream &raw(const std::vector<uint8_t> &more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    // ASCII text as UTF-16LE (no length).
    Stream &utf16(const std::string &ascii)
    {
        for (char c : ascii)
            u16(uint16_t(uint8_t(c)));
        return *this;
    }
    Stream &bVarchar(const std::string &ascii) { return u8(uint8_t(ascii.size())).utf16(ascii); }
    Stream &usVarchar(const std::string &ascii) { return u16(uint16_t(ascii.size())).utf16(ascii); }

    Stream &done(uint16_t status = 0, uint64_t rows = 0, uint8_t token = 0xFD)
    {
        return u8(token).u16(status).u16(0xC1).u64(rows);
    }
    Stream &message(bool error, int32_t number, uint8_t state, uint8_t severity, const std::string &text,
                    const std::string &server = "SRV", const std::string &procedure = "", int32_t line = 1)
    {
        const size_t length = 4 + 1 + 1 + 2 + text.size() * 2 + 1 + server.size() * 2 + 1 + procedure.size() * 2 + 4;
        u8(error ? 0xAA : 0xAB).u16(uint16_t(length)).u32(uint32_t(number)).u8(state).u8(severity);
        return usVarchar(text).bVarchar(server).bVarchar(procedure).u32(uint32_t(line));
    }
    Stream &envText(uint8_t type, const std::string &newValue, const std::string &oldValue)
    {
        const size_t length = 1 + 1 + newValue.size() * 2 + 1 + oldValue.size() * 2;
        return u8(0xE3).u16(uint16_t(length)).u8(type).bVarchar(newValue).bVarchar(oldValue);
    }
    Stream &envBytes(uint8_t type, const std::vector<uint8_t> &newValue, const std::vector<uint8_t> &oldValue)
    {
        const size_t length = 1 + 1 + newValue.size() + 1 + oldValue.size();
        u8(0xE3).u16(uint16_t(length)).u8(type).u8(uint8_t(newValue.size())).raw(newValue);
        return u8(uint8_t(oldValue.size())).raw(oldValue);
    }
    Stream &loginAck(uint32_t version = 0x74000004, const std::string &program = "Microsoft SQL Server")
    {
        u8(0xAD).u16(uint16_t(10 + program.size() * 2)).u8(1);
        u8(uint8_t(version >> 24)).u8(uint8_t(version >> 16)).u8(uint8_t(version >> 8)).u8(uint8_t(version));
        return bVarchar(program).u8(15).u8(0).u8(0x07).u8(0xD0);
    }
    // COLMETADATA with `count` columns; each column's TYPE_INFO follows via
    // column().
    Stream &colmetadata(uint16_t count) { return u8(0x81).u16(count); }
    Stream &column(const std::vector<uint8_t> &typeInfo, const std::string &name, uint16_t flags = 0x0009)
    {
        u32(0).u16(flags).raw(typeInfo);
        return bVarchar(name);
    }
};

inline const std::vector<uint8_t> kLatin1Collation = {0x09, 0x04, 0xD0, 0x00, 0x34};

} // namespace tdstest
