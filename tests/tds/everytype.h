#pragma once
// One column of every type with a value and its NULL, as ROW tokens carry
// them: the decoder's value tests and the robustness test start from it.

#include "typeinfos.h"

#include <string>
#include <vector>

namespace tdstest {

struct Column {
    std::vector<uint8_t> type;
    std::vector<uint8_t> value;   // as in a ROW token
    std::vector<uint8_t> null;    // the NULL form in a ROW token
};

inline std::vector<uint8_t> textValue(const std::vector<uint8_t> &data)
{
    Stream s;
    s.u8(16).raw(std::vector<uint8_t>(16, 0xAB)).raw(std::vector<uint8_t>(8, 0x01)).u32(uint32_t(data.size())).raw(data);
    return s.bytes;
}

inline std::vector<uint8_t> ascii(const std::string &s) { return {s.begin(), s.end()}; }
inline std::vector<uint8_t> utf16le(const std::string &s)
{
    Stream b;
    b.utf16(s);
    return b.bytes;
}
inline std::vector<uint8_t> lengthPrefixed(const std::vector<uint8_t> &data)
{
    Stream s;
    s.u16(uint16_t(data.size())).raw(data);
    return s.bytes;
}
inline const std::vector<uint8_t> kNullByte = {0x00};
inline const std::vector<uint8_t> kNullShort = {0xFF, 0xFF};
inline const std::vector<uint8_t> kNullPlp = std::vector<uint8_t>(8, 0xFF);

// Every type once, with a value and its NULL.
inline std::vector<Column> everyType()
{
    std::vector<Column> c;
    c.push_back({ti::intn(1), {1, 255}, kNullByte});
    c.push_back({ti::intn(2), {2, 0xFE, 0xFF}, kNullByte});
    c.push_back({ti::intn(4), Stream().u8(4).u32(uint32_t(-100000)).bytes, kNullByte});
    c.push_back({ti::intn(8), Stream().u8(8).u64(uint64_t(1) << 40).bytes, kNullByte});
    c.push_back({ti::bitn(), {1, 7}, kNullByte});
    c.push_back({ti::fltn(8), Stream().u8(8).u64(0x3FF8000000000000).bytes, kNullByte});   // 1.5
    c.push_back({ti::fltn(4), Stream().u8(4).u32(0xBE800000).bytes, kNullByte});           // -0.25
    c.push_back({ti::decimaln(17, 38, 10),
                 Stream().u8(17).u8(0).u64(0xFEDCBA9876543210).u64(0x0123456789ABCDEF).bytes, kNullByte});
    c.push_back({ti::decimaln(5, 5, 2), Stream().u8(5).u8(1).u32(12345).bytes, kNullByte});
    c.push_back({ti::moneyn(8), Stream().u8(8).u32(0x1C).u32(0xBE991A14).bytes, kNullByte});
    c.push_back({ti::moneyn(8), Stream().u8(8).u32(0xFFFFFFFF).u32(0xFFFFFFFF).bytes, kNullByte});
    c.push_back({ti::moneyn(4), Stream().u8(4).u32(uint32_t(-50000)).bytes, kNullByte});
    c.push_back({ti::varchar(10), lengthPrefixed(ascii("abc")), kNullShort});
    c.push_back({ti::nvarchar(10), lengthPrefixed({'h', 0, 0xE9, 0}), kNullShort});
    c.push_back({ti::charn(4), lengthPrefixed(ascii("ab  ")), kNullShort});
    c.push_back({ti::varbinary(8), lengthPrefixed({1, 2, 3}), kNullShort});
    c.push_back({ti::binary(2), lengthPrefixed({0, 9}), kNullShort});
    c.push_back({ti::varcharMax(),
                 Stream().u64(11).u32(6).raw(ascii("hello ")).u32(5).raw(ascii("world")).u32(0).bytes, kNullPlp});
    c.push_back({ti::nvarcharMax(),
                 Stream().u64(0xFFFFFFFFFFFFFFFE).u32(4).raw(utf16le("ab")).u32(2).raw(utf16le("c")).u32(0).bytes,
                 kNullPlp});
    c.push_back({ti::varbinaryMax(), Stream().u64(0).u32(0).bytes, kNullPlp});
    c.push_back({ti::text(), textValue(ascii("some text")), kNullByte});
    c.push_back({ti::ntext(), textValue(utf16le("wide")), kNullByte});
    c.push_back({ti::image(), textValue({0xDE, 0xAD}), kNullByte});
    c.push_back({ti::date(), Stream().u8(3).le(3652058, 3).bytes, kNullByte});
    c.push_back({ti::time(7), Stream().u8(5).le(863999999999, 5).bytes, kNullByte});
    c.push_back({ti::time(0), Stream().u8(3).le(1, 3).bytes, kNullByte});
    c.push_back({ti::datetime2(3), Stream().u8(7).le(45296789, 4).le(738944, 3).bytes, kNullByte});
    c.push_back({ti::datetimeoffset(7), Stream().u8(10).le(36000000000, 5).le(738944, 3).u16(120).bytes, kNullByte});
    c.push_back({ti::datetimn(8), Stream().u8(8).u32(0).u32(1).bytes, kNullByte});
    c.push_back({ti::datetimn(8), Stream().u8(8).u32(uint32_t(-1)).u32(300 * 86400 - 1).bytes, kNullByte});
    c.push_back({ti::datetimn(4), Stream().u8(4).u16(36524).u16(630).bytes, kNullByte});
    c.push_back({ti::guid(), Stream().u8(16).raw({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}).bytes, kNullByte});
    c.push_back({ti::variant(), Stream().u32(6).u8(0x38).u8(0).u32(42).bytes, {0, 0, 0, 0}});
    c.push_back({ti::int4(), Stream().u32(7).bytes, {}});
    return c;
}

inline Stream metadata(const std::vector<Column> &columns)
{
    Stream s;
    s.colmetadata(uint16_t(columns.size()));
    for (size_t i = 0; i < columns.size(); ++i)
        s.column(columns[i].type, "c" + std::to_string(i));
    return s;
}

} // namespace tdstest
