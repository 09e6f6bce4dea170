// Result sets, return values, pausing, long values and malformed values.
#include "rowcollector.h"
#include "thrown.h"
#include "typeinfos.h"

#include <gtest/gtest.h>

using namespace rz::tds;
using namespace tdstest;

namespace {

struct Decoded {
    Stream stream;
    BufferSource source;
    WireReader reader;
    TokenDecoder decoder;
    explicit Decoded(Stream s, size_t chunk = SIZE_MAX)
        : stream(std::move(s)), source(stream.bytes.data(), stream.bytes.size(), chunk), reader(source) {}
    TokenDecoder::Progress run(TokenHandler &h) { return decoder.run(reader, h); }
};

Stream twoResultSets()
{
    Stream s;
    s.colmetadata(2).column(ti::intn(4), "id", 0x0011).column(ti::nvarchar(20), "name");
    s.u8(0xD1).u8(4).u32(1).u16(4).utf16("ab");
    s.u8(0xD1).u8(4).u32(2).u16(0xFFFF);
    s.done(0x11, 2, 0xFF);
    s.colmetadata(1).column(ti::varchar(5), "x");
    s.u8(0xA9).u16(2).u16(1);   // ORDER BY column 1
    s.u8(0xD1).u16(1).raw({'z'});
    s.done(0x10, 1);
    return s;
}

} // namespace

TEST(TokenStream, SeveralResultSetsWithTheirColumnsAndCounts)
{
    Decoded d(twoResultSets());
    RowCollector c(&d.decoder);
    ASSERT_EQ(d.run(c), TokenDecoder::Progress::EndOfMessage);
    ASSERT_EQ(c.results.size(), 2u);
    const auto &first = c.results[0];
    ASSERT_EQ(first.columns.size(), 2u);
    const ColumnInfo &id = first.columns[0];
    EXPECT_EQ(std::make_tuple(id.name, id.nullable(), id.identity(), id.type.name()),
              std::make_tuple("id", true, true, "int"));
    EXPECT_EQ(first.columns[1].type.name(), "nvarchar(20)");
    EXPECT_EQ(first.columns[1].type.collation.lcid(), 0x409u);
    ASSERT_EQ(first.rows.size(), 2u);
    EXPECT_EQ(first.rows[0][0].as<int32_t>(), 1);
    EXPECT_EQ(first.rows[0][1].utf16Ascii(), "ab");
    EXPECT_TRUE(first.rows[1][1].null());
    ASSERT_EQ(c.results[1].rows.size(), 1u);
    EXPECT_EQ(c.results[1].rows[0][0].text(), "z");
    ASSERT_EQ(c.orders.size(), 1u);
    EXPECT_EQ(c.orders[0], std::vector<uint16_t>{1});
    ASSERT_EQ(c.dones.size(), 2u);
    EXPECT_EQ(c.dones[0].rowCount, 2u);
    EXPECT_TRUE(c.dones[0].more());
    EXPECT_FALSE(c.dones[1].more());
}

TEST(TokenStream, PausesAfterARowAndResumesWhereItStopped)
{
    Decoded d(twoResultSets(), 5);
    RowCollector c(&d.decoder);
    c.pauseAfterEachRow = true;
    int pauses = 0;
    while (d.run(c) == TokenDecoder::Progress::Paused) {
        ++pauses;
        const size_t rows = c.results.back().rows.size();
        EXPECT_GE(rows, 1u);
    }
    EXPECT_EQ(pauses, 3);
    EXPECT_EQ(c.results[0].rows.size(), 2u);
    EXPECT_EQ(c.results[1].rows.size(), 1u);
}

TEST(TokenStream, ReturnValuesAndStatusOfAProcedure)
{
    Stream s;
    s.u8(0x79).u32(uint32_t(-3));
    s.u8(0xAC).u16(1).bVarchar("@out").u8(1).u32(0).u16(1).raw(ti::intn(4)).u8(4).u32(77);
    s.u8(0xAC).u16(2).bVarchar("@text").u8(1).u32(0).u16(1).raw(ti::nvarcharMax()).raw(std::vector<uint8_t>(8, 0xFF));
    s.u8(0xAC).u16(3).bVarchar("@d").u8(1).u32(0).u16(1).raw(ti::decimaln(9, 18, 4)).u8(9).u8(1).u64(123456);
    s.done(0, 0, 0xFE);
    Decoded d(s);
    RowCollector c(&d.decoder);
    d.run(c);
    ASSERT_EQ(c.returnStatuses, std::vector<int32_t>{-3});
    ASSERT_EQ(c.returnValues.size(), 3u);
    EXPECT_EQ(c.returnValues[0].name, "@out");
    EXPECT_EQ(c.returnValues[0].ordinal, 1);
    EXPECT_EQ(c.returnValues[0].status, 1);
    EXPECT_FALSE(c.returnValues[0].isNull);
    EXPECT_EQ(c.returnValues[0].value, (std::vector<uint8_t>{77, 0, 0, 0}));
    EXPECT_TRUE(c.returnValues[1].isNull);
    EXPECT_EQ(c.returnValues[1].column.type.name(), "nvarchar(max)");
    DecimalValue dv;
    ASSERT_EQ(c.returnValues[2].value.size(), sizeof dv);
    std::memcpy(&dv, c.returnValues[2].value.data(), sizeof dv);
    EXPECT_EQ(dv.low, 123456u);
    EXPECT_EQ(dv.scale, 4);
    EXPECT_EQ(c.dones.at(0).token, 0xFE);
}

TEST(TokenStream, AValueLongerThanItsSlotIsTruncatedWithItsFullLength)
{
    Stream s;
    s.colmetadata(1).column(ti::varchar(100), "v");
    s.u8(0xD1).u16(10).raw({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
    s.done();
    Decoded d(s);
    RowCollector c(&d.decoder, 4);
    d.run(c);
    const Cell &cell = c.results.at(0).rows.at(0).at(0);
    EXPECT_EQ(cell.status, ValueStatus::Truncated);
    EXPECT_EQ(cell.length, 10u);
    EXPECT_EQ(cell.text(), "0123");
}

TEST(TokenStream, LongValuesStreamToASinkInTheirPieces)
{
    struct Sink : LongValueSink {
        std::vector<std::string> events;
        std::string data;
        void begin(size_t column, uint64_t total) override
        {
            events.push_back("begin " + std::to_string(column) + " " + std::to_string(total));
        }
        void append(size_t, const uint8_t *p, size_t n) override { data.append(reinterpret_cast<const char *>(p), n); }
        void end(size_t column) override { events.push_back("end " + std::to_string(column)); }
    } sink;
    struct Handler : TokenHandler {
        Sink *sink;
        RowLayout layout;
        std::vector<uint8_t> row;
        bool onColumns(const std::vector<ColumnInfo> &columns) override
        {
            layout = RowLayout::packed(columns);
            row.assign(layout.rowSize, 0);
            return true;
        }
        RowTarget rowTarget() override { return {row.data(), &layout, sink}; }
    } handler;
    handler.sink = &sink;
    std::string big(70000, 'q');
    Stream s;
    s.colmetadata(2).column(ti::intn(4), "id").column(ti::varcharMax(), "big");
    s.u8(0xD1).u8(4).u32(1).u64(big.size()).u32(65536).raw(std::vector<uint8_t>(big.begin(), big.begin() + 65536));
    s.u32(uint32_t(big.size() - 65536)).raw(std::vector<uint8_t>(big.begin() + 65536, big.end())).u32(0);
    s.done();
    Decoded d(s, 4096);
    d.run(handler);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"begin 1 70000", "end 1"}));
    EXPECT_EQ(sink.data, big);
    EXPECT_EQ(rowLength(handler.row.data(), handler.layout.columns[1]), 70000u);
}

TEST(TokenStream, TheLongValueAreaIsReusedFromRowToRow)
{
    Stream s;
    s.colmetadata(1).column(ti::varbinaryMax(), "b");
    s.u8(0xD1).u64(3).u32(3).raw({1, 2, 3}).u32(0);
    s.u8(0xD1).u64(1).u32(1).raw({9}).u32(0);
    s.u8(0xD1).raw(std::vector<uint8_t>(8, 0xFF));
    s.done();
    Decoded d(s);
    RowCollector c(&d.decoder);
    d.run(c);
    const auto &rows = c.results.at(0).rows;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0].bytes, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(rows[1][0].bytes, (std::vector<uint8_t>{9}));
    EXPECT_TRUE(rows[2][0].null());
}

TEST(TokenStream, RowsWithoutATargetAreReadAndDropped)
{
    Decoded d(twoResultSets(), 2);
    struct CountRows : TokenHandler {
        int rows = 0;
        bool onRow() override
        {
            ++rows;
            return true;
        }
    } counter;
    EXPECT_EQ(d.run(counter), TokenDecoder::Progress::EndOfMessage);
    EXPECT_EQ(counter.rows, 3);
}

TEST(TokenStream, ALayoutForOtherColumnsIsRefused)
{
    Stream s;
    s.colmetadata(1).column(ti::intn(8), "n");
    s.u8(0xD1).u8(8).u64(5).done();
    struct Handler : TokenHandler {
        RowLayout layout;
        std::vector<uint8_t> row = std::vector<uint8_t>(64);
        RowTarget rowTarget() override { return {row.data(), &layout, nullptr}; }
    } handler;
    handler.layout.rowSize = 64;
    handler.layout.columns.resize(1);
    handler.layout.columns[0].valueOffset = 60;   // 8 bytes do not fit at 60 in 64
    handler.layout.columns[0].valueCapacity = 8;
    Decoded d(s);
    EXPECT_THROW(d.run(handler), TdsError);
}

struct Malformed {
    const char *what;
    Stream stream;
};

TEST(TokenStream, MalformedValuesAreProtocolErrors)
{
    std::vector<Malformed> cases;
    auto one = [&](const char *what, const std::vector<uint8_t> &type, const std::vector<uint8_t> &value) {
        Stream s;
        s.colmetadata(1).column(type, "v").u8(0xD1).raw(value).done();
        cases.push_back({what, s});
    };
    one("INTN(4) value of 2 bytes", ti::intn(4), {2, 1, 0});
    one("time(7) value of 3 bytes", ti::time(7), {3, 1, 2, 3});
    one("time past midnight", ti::time(0), Stream().u8(3).le(86400, 3).bytes);
    one("date past 9999", ti::date(), Stream().u8(3).le(3652059, 3).bytes);
    one("offset past 14 hours", ti::datetimeoffset(0), Stream().u8(8).le(0, 3).le(0, 3).u16(900).bytes);
    one("decimal sign 2", ti::decimaln(5, 9, 0), {5, 2, 0, 0, 0, 0});
    one("decimal of 18 bytes", ti::decimaln(17, 38, 0), std::vector<uint8_t>(19, 18));
    one("varchar longer than declared", ti::varchar(2), {3, 0, 'a', 'b', 'c'});
    one("PLP longer than announced", ti::varcharMax(), Stream().u64(2).u32(3).raw({1, 2, 3}).u32(0).bytes);
    one("PLP shorter than announced", ti::varcharMax(), Stream().u64(4).u32(3).raw({1, 2, 3}).u32(0).bytes);
    one("datetime fraction past a day", ti::datetimn(8), Stream().u8(8).u32(0).u32(300 * 86400).bytes);
    one("smalldatetime minutes past a day", ti::datetimn(4), Stream().u8(4).u16(0).u16(1440).bytes);
    one("sql_variant too long", ti::variant(), Stream().u32(9000).bytes);
    for (const auto &[what, type] : {std::pair<const char *, std::vector<uint8_t>>{"INTN of 3 bytes", {0x26, 3}},
                                     {"decimal scale above precision", {0x6A, 5, 3, 4}},
                                     {"time scale 8", {0x29, 8}}})
        cases.push_back({what, Stream().colmetadata(1).column(type, "v")});
    for (auto &c : cases) {
        Decoded d(c.stream);
        RowCollector collector(&d.decoder);
        EXPECT_EQ(thrownBy([&] { d.run(collector); }).kind, ErrorKind::Protocol) << c.what;
    }
}
