// Values of every type decoded from hand-built rows into the row buffer.
#include "rowcollector.h"
#include "everytype.h"

#include <gtest/gtest.h>

using namespace rz::tds;
using namespace tdstest;

namespace {

void decodeInto(RowCollector &collector, const Stream &s, size_t chunk)
{
    BufferSource source(s.bytes.data(), s.bytes.size(), chunk);
    WireReader reader(source);
    TokenDecoder decoder;
    collector.setDecoder(&decoder);
    ASSERT_EQ(decoder.run(reader, collector), TokenDecoder::Progress::EndOfMessage);
}

// Field by field: the structures have padding.
std::tuple<uint64_t, uint64_t, int, int, bool> decimalParts(const Cell &c)
{
    const auto d = c.as<DecimalValue>();
    return {d.low, d.high, d.precision, d.scale, d.negative != 0};
}
std::tuple<int32_t, int64_t, int> dateTimeParts(const Cell &c)
{
    const auto v = c.as<DateTimeValue>();
    return {v.days, v.ticks, v.offsetMinutes};
}

class EveryType : public ::testing::TestWithParam<size_t> {};

} // namespace

TEST_P(EveryType, DecodesEachValueIntoItsSlot)
{
    const auto columns = everyType();
    Stream s = metadata(columns);
    s.u8(0xD1);
    for (const Column &c : columns)
        s.raw(c.value);
    s.done(0x10, 1);
    RowCollector collector;
    decodeInto(collector, s, GetParam());
    ASSERT_EQ(collector.results.size(), 1u);
    ASSERT_EQ(collector.results[0].rows.size(), 1u);
    const auto &row = collector.results[0].rows[0];
    for (size_t i = 0; i < row.size(); ++i)
        EXPECT_EQ(row[i].status, ValueStatus::Ok) << "column " << i;
    size_t i = 0;
    EXPECT_EQ(row[i++].as<uint8_t>(), 255);
    EXPECT_EQ(row[i++].as<int16_t>(), -2);
    EXPECT_EQ(row[i++].as<int32_t>(), -100000);
    EXPECT_EQ(row[i++].as<int64_t>(), int64_t(1) << 40);
    EXPECT_EQ(row[i++].as<uint8_t>(), 1) << "any non-zero bit is 1";
    EXPECT_EQ(row[i++].as<double>(), 1.5);
    EXPECT_EQ(row[i++].as<float>(), -0.25f);
    EXPECT_EQ(decimalParts(row[i++]), std::make_tuple(0xFEDCBA9876543210u, 0x0123456789ABCDEFu, 38, 10, true));
    EXPECT_EQ(decimalParts(row[i++]), std::make_tuple(12345u, 0u, 5, 2, false));
    EXPECT_EQ(row[i++].as<int64_t>(), 123456789012);
    EXPECT_EQ(row[i++].as<int64_t>(), -1);
    EXPECT_EQ(row[i++].as<int64_t>(), -50000);
    EXPECT_EQ(row[i].length, 3u);
    EXPECT_EQ(row[i++].text(), "abc");
    EXPECT_EQ(row[i++].bytes, (std::vector<uint8_t>{'h', 0, 0xE9, 0})) << "UTF-16 copied as it arrived";
    EXPECT_EQ(row[i++].text(), "ab  ");
    EXPECT_EQ(row[i++].bytes, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(row[i++].bytes, (std::vector<uint8_t>{0, 9}));
    EXPECT_EQ(row[i].length, 11u);
    EXPECT_EQ(row[i++].text(), "hello world");
    EXPECT_EQ(row[i++].utf16Ascii(), "abc");
    EXPECT_EQ(row[i].length, 0u);
    EXPECT_TRUE(row[i++].bytes.empty()) << "an empty varbinary(max) is not NULL";
    EXPECT_EQ(row[i++].text(), "some text");
    EXPECT_EQ(row[i++].utf16Ascii(), "wide");
    EXPECT_EQ(row[i++].bytes, (std::vector<uint8_t>{0xDE, 0xAD}));
    EXPECT_EQ(row[i++].as<int32_t>(), 3652058) << "9999-12-31";
    EXPECT_EQ(row[i++].as<int64_t>(), 863999999999) << "23:59:59.9999999";
    EXPECT_EQ(row[i++].as<int64_t>(), 10000000) << "one second at scale 0";
    EXPECT_EQ(dateTimeParts(row[i++]), std::make_tuple(738944, 452967890000, 0));
    EXPECT_EQ(dateTimeParts(row[i++]), std::make_tuple(738944, 36000000000, 120)) << "UTC 01:00 at +02:00";
    EXPECT_EQ(dateTimeParts(row[i++]), std::make_tuple(kDaysTo1900, 30000, 0))
        << "1/300 s shown as .003, as SQL Server's clients show it";
    EXPECT_EQ(dateTimeParts(row[i++]), std::make_tuple(kDaysTo1900 - 1, kTicksPerDay - 30000, 0)) << "23:59:59.997";
    EXPECT_EQ(dateTimeParts(row[i++]), std::make_tuple(730119, 630LL * 600000000, 0)) << "2000-01-01 10:30";
    EXPECT_EQ(row[i++].bytes, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_EQ(row[i++].bytes, (std::vector<uint8_t>{0x38, 0, 42, 0, 0, 0})) << "sql_variant as it arrived";
    EXPECT_EQ(row[i++].as<int32_t>(), 7);
    EXPECT_EQ(i, columns.size());
}

TEST_P(EveryType, DecodesTheNullOfEachType)
{
    auto columns = everyType();
    columns.pop_back();   // int is not nullable
    Stream s = metadata(columns);
    s.u8(0xD1);
    for (const Column &c : columns)
        s.raw(c.null);
    s.done();
    RowCollector collector;
    decodeInto(collector, s, GetParam());
    const auto &row = collector.results.at(0).rows.at(0);
    for (size_t i = 0; i < row.size(); ++i) {
        EXPECT_EQ(row[i].status, ValueStatus::Null) << "column " << i;
        EXPECT_EQ(row[i].length, 0u) << "column " << i;
    }
}

TEST_P(EveryType, NbcRowSkipsTheNullColumns)
{
    const auto columns = everyType();
    Stream s = metadata(columns);
    s.u8(0xD2);
    // Every odd column is NULL.
    std::vector<uint8_t> bitmap((columns.size() + 7) / 8, 0);
    for (size_t i = 1; i < columns.size(); i += 2)
        bitmap[i / 8] = uint8_t(bitmap[i / 8] | (1 << (i % 8)));
    s.raw(bitmap);
    for (size_t i = 0; i < columns.size(); i += 2)
        s.raw(columns[i].value);
    s.done();
    RowCollector collector;
    decodeInto(collector, s, GetParam());
    const auto &row = collector.results.at(0).rows.at(0);
    for (size_t i = 0; i < row.size(); ++i)
        EXPECT_EQ(row[i].status, i % 2 ? ValueStatus::Null : ValueStatus::Ok) << "column " << i;
    EXPECT_EQ(row[0].as<uint8_t>(), 255);
    EXPECT_EQ(row[12].text(), "abc");
}

// Whole stream in one piece, and cut into pieces of 1, 3 and 64 bytes so
// that values cross every chunk boundary.
INSTANTIATE_TEST_SUITE_P(Chunked, EveryType, ::testing::Values(SIZE_MAX, 1, 3, 64));

// Servers send NOT NULL columns in the fixed types: each reads, and is
// named, as its nullable form of the same length.
TEST(FixedTypes, ReadAsTheirNullableFormsOfTheSameLength)
{
    const std::vector<std::pair<uint8_t, std::vector<uint8_t>>> cases = {
        {0x30, ti::intn(1)}, {0x32, ti::bitn()},     {0x34, ti::intn(2)},     {0x7F, ti::intn(8)},
        {0x3B, ti::fltn(4)}, {0x3E, ti::fltn(8)},    {0x3C, ti::moneyn(8)},   {0x7A, ti::moneyn(4)},
        {0x3D, ti::datetimn(8)}, {0x3A, ti::datetimn(4)}};
    for (const auto &[fixed, nullable] : cases) {
        std::vector<uint8_t> value(nullable.back(), 0);
        value[0] = 1;   // a valid value of each type: money's high word, datetime's day
        Stream s;
        s.colmetadata(2).column({fixed}, "f").column(nullable, "n");
        s.u8(0xD1).raw(value).u8(uint8_t(value.size())).raw(value).done();
        RowCollector collector;
        decodeInto(collector, s, SIZE_MAX);
        const auto &columns = collector.results.at(0).columns;
        const auto &row = collector.results.at(0).rows.at(0);
        const std::string name = columns[1].type.name();
        EXPECT_EQ(columns[0].type.name(), name);
        ASSERT_EQ(columns[0].type.kind, columns[1].type.kind) << name;
        if (columns[0].type.kind == ValueKind::DateTime)
            EXPECT_EQ(dateTimeParts(row[0]), dateTimeParts(row[1])) << name;
        else
            EXPECT_EQ(row[0].bytes, row[1].bytes) << name;
    }
}
