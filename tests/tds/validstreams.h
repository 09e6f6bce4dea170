#pragma once
// Valid server token streams that together reach every token and type the
// decoder knows: the seeds of the mutation test and of the fuzzer's corpus.
#include "everytype.h"
#include "streambuilder.h"

#include <cstdint>
#include <vector>

namespace tdstest {

inline std::vector<std::vector<uint8_t>> validStreams()
{
    std::vector<std::vector<uint8_t>> streams;
    const auto columns = everyType();
    {
        Stream s = metadata(columns);
        s.u8(0xD1);
        for (const Column &c : columns)
            s.raw(c.value);
        s.u8(0xD2);
        std::vector<uint8_t> bitmap((columns.size() + 7) / 8, 0x55);
        s.raw(bitmap);
        for (size_t i = 0; i < columns.size(); ++i)
            if (!(bitmap[i / 8] >> (i % 8) & 1))
                s.raw(columns[i].value);
        s.done(0x11, 2, 0xFF);
        streams.push_back(s.bytes);
    }
    {
        Stream s;
        s.envText(1, "testdb", "master").envBytes(7, kLatin1Collation, {}).loginAck();
        s.u8(0xAE).u8(0x0A).u32(1).u8(1).u8(0xFF);
        s.message(false, 5701, 2, 0, "Changed database context").envText(4, "8192", "4096").done();
        streams.push_back(s.bytes);
    }
    {
        Stream s;
        s.u8(0x79).u32(0);
        s.u8(0xAC).u16(1).bVarchar("@o").u8(1).u32(0).u16(1).raw(ti::nvarcharMax());
        s.u64(4).u32(4).utf16("ab").u32(0);
        s.u8(0xAC).u16(2).bVarchar("@d").u8(1).u32(0).u16(1).raw(ti::decimaln(17, 38, 3)).u8(17).u8(1).u64(5).u64(6);
        s.message(true, 208, 1, 16, "Invalid object name 'x'.", "S", "p", 4).done(0x02, 0, 0xFE);
        streams.push_back(s.bytes);
    }
    {
        Stream s;
        s.colmetadata(2).column(ti::varcharMax(), "a").column(ti::text(), "b");
        for (int i = 0; i < 3; ++i) {
            s.u8(0xD1).u64(0xFFFFFFFFFFFFFFFE).u32(3).raw({'x', 'y', 'z'}).u32(1).raw({'!'}).u32(0);
            s.raw(textValue({'t', 'e'}));
        }
        s.u8(0xA9).u16(4).u16(1).u16(2).done(0x10, 3);
        streams.push_back(s.bytes);
    }
    return streams;
}

} // namespace tdstest
