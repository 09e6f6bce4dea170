#pragma once
// TYPE_INFO bytes of the types the tests use.

#include "streambuilder.h"

namespace tdstest::ti {

inline std::vector<uint8_t> with(std::vector<uint8_t> a, const std::vector<uint8_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline std::vector<uint8_t> intn(uint8_t size) { return {0x26, size}; }
inline std::vector<uint8_t> int4() { return {0x38}; }
inline std::vector<uint8_t> bitn() { return {0x68, 1}; }
inline std::vector<uint8_t> fltn(uint8_t size) { return {0x6D, size}; }
inline std::vector<uint8_t> decimaln(uint8_t length, uint8_t precision, uint8_t scale)
{
    return {0x6A, length, precision, scale};
}
inline std::vector<uint8_t> moneyn(uint8_t size) { return {0x6E, size}; }
inline std::vector<uint8_t> datetimn(uint8_t size) { return {0x6F, size}; }
inline std::vector<uint8_t> sized(uint8_t type, uint16_t length, bool collation)
{
    std::vector<uint8_t> v = {type, uint8_t(length), uint8_t(length >> 8)};
    return collation ? with(v, kLatin1Collation) : v;
}
inline std::vector<uint8_t> varchar(uint16_t n) { return sized(0xA7, n, true); }
inline std::vector<uint8_t> charn(uint16_t n) { return sized(0xAF, n, true); }
inline std::vector<uint8_t> nvarchar(uint16_t characters) { return sized(0xE7, uint16_t(characters * 2), true); }
inline std::vector<uint8_t> varbinary(uint16_t n) { return sized(0xA5, n, false); }
inline std::vector<uint8_t> binary(uint16_t n) { return sized(0xAD, n, false); }
inline std::vector<uint8_t> varcharMax() { return sized(0xA7, 0xFFFF, true); }
inline std::vector<uint8_t> nvarcharMax() { return sized(0xE7, 0xFFFF, true); }
inline std::vector<uint8_t> varbinaryMax() { return sized(0xA5, 0xFFFF, false); }
// text, ntext and image with the table name COLMETADATA gives them.
inline std::vector<uint8_t> longType(uint8_t type, bool collation)
{
    Stream s;
    s.u8(type).u32(0x7FFFFFFF);
    if (collation)
        s.raw(kLatin1Collation);
    s.u8(1).usVarchar("t");
    return s.bytes;
}
inline std::vector<uint8_t> text() { return longType(0x23, true); }
inline std::vector<uint8_t> ntext() { return longType(0x63, true); }
inline std::vector<uint8_t> image() { return longType(0x22, false); }
inline std::vector<uint8_t> date() { return {0x28}; }
inline std::vector<uint8_t> time(uint8_t scale) { return {0x29, scale}; }
inline std::vector<uint8_t> datetime2(uint8_t scale) { return {0x2A, scale}; }
inline std::vector<uint8_t> datetimeoffset(uint8_t scale) { return {0x2B, scale}; }
inline std::vector<uint8_t> guid() { return {0x24, 16}; }
inline std::vector<uint8_t> variant() { return {0x62, 0x50, 0x1F, 0x00, 0x00}; }

} // namespace tdstest::ti
