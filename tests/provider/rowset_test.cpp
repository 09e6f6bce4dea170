// Reading results from the server: column descriptions, and the values no
// double or plain date holds exactly (the differential test reads the rest
// on both backends).

#include "liveserver.h"

using namespace providertest;

namespace {

using Columns = LiveSession;

const ColumnInfo *column(const RowReader &reader, const std::string &name)
{
    for (const auto &c : reader.columns())
        if (c.name == name)
            return &c;
    return nullptr;
}

} // namespace

TEST_F(Columns, TypesSizesAndFlagsFollowTheServersTypes)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE col_types (i INT NOT NULL, s SMALLINT, t TINYINT, b BIGINT, bt BIT, "
                                 "f FLOAT, r REAL, d DECIMAL(10,3), m MONEY, c CHAR(5), vc VARCHAR(20), "
                                 "nc NCHAR(4), nv NVARCHAR(30), vb VARBINARY(16), nmax NVARCHAR(MAX), "
                                 "vmax VARCHAR(MAX), bmax VARBINARY(MAX), dt DATETIME, dt2 DATETIME2, dd DATE, "
                                 "g UNIQUEIDENTIFIER)"),
              S_OK)
        << errorText();
    rz::ComPtr<IRowset> rowset;
    ASSERT_EQ(query(session.get(), "SELECT * FROM col_types", rowset), S_OK) << errorText();
    RowReader reader(rowset.get());
    ASSERT_TRUE(reader.ok());
    ASSERT_EQ(reader.columns().size(), 21u);

    struct Expected { const char *name; DBTYPE type; DBLENGTH size; bool fixed; bool isLong; };
    const Expected expected[] = {
        {"i", DBTYPE_I4, 4, true, false},       {"s", DBTYPE_I2, 2, true, false},
        {"t", DBTYPE_UI1, 1, true, false},      {"b", DBTYPE_I8, 8, true, false},
        {"bt", DBTYPE_BOOL, 2, true, false},    {"f", DBTYPE_R8, 8, true, false},
        {"r", DBTYPE_R4, 4, true, false},       {"d", DBTYPE_NUMERIC, 19, true, false},
        {"m", DBTYPE_CY, 8, true, false},       {"c", DBTYPE_STR, 5, true, false},
        {"vc", DBTYPE_STR, 20, false, false},   {"nc", DBTYPE_WSTR, 4, true, false},
        {"nv", DBTYPE_WSTR, 30, false, false},  {"vb", DBTYPE_BYTES, 16, false, false},
        {"nmax", DBTYPE_WSTR, ~DBLENGTH(0), false, true}, {"vmax", DBTYPE_STR, ~DBLENGTH(0), false, true},
        {"bmax", DBTYPE_BYTES, ~DBLENGTH(0), false, true}, {"dt", DBTYPE_DBTIMESTAMP, 16, true, false},
        {"dt2", DBTYPE_DBTIMESTAMP, 16, true, false}, {"dd", DBTYPE_DBDATE, 6, true, false},
        {"g", DBTYPE_GUID, 16, true, false},
    };
    for (const auto &e : expected) {
        const ColumnInfo *c = column(reader, e.name);
        ASSERT_TRUE(c) << e.name;
        EXPECT_EQ(c->type, e.type) << e.name;
        EXPECT_EQ(c->size, e.size) << e.name;
        EXPECT_EQ((c->flags & DBCOLUMNFLAGS_ISFIXEDLENGTH) != 0, e.fixed) << e.name;
        EXPECT_EQ((c->flags & DBCOLUMNFLAGS_ISLONG) != 0, e.isLong) << e.name;
    }
    EXPECT_EQ(column(reader, "i")->flags & DBCOLUMNFLAGS_ISNULLABLE, 0u) << "NOT NULL column";
    EXPECT_NE(column(reader, "s")->flags & DBCOLUMNFLAGS_ISNULLABLE, 0u);
    EXPECT_EQ(column(reader, "d")->precision, 10);
    EXPECT_EQ(column(reader, "d")->scale, 3);

    // OpenRowset of the table describes the same columns without reading rows.
    DBID table{};
    table.eKind = DBKIND_NAME;
    std::u16string name = u"col_types";
    table.uName.pwszName = name.data();
    rz::ComPtr<IRowset> opened;
    ASSERT_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr, opened.putUnknown()), S_OK)
        << errorText();
    RowReader tableReader(opened.get(), 8000);
    ASSERT_TRUE(tableReader.ok());
    ASSERT_EQ(tableReader.columns().size(), 21u);
    EXPECT_EQ(column(tableReader, "m")->type, DBTYPE_CY);
    EXPECT_EQ(column(tableReader, "nv")->size, 30u);

    std::u16string missing = u"no_such_table";
    table.uName.pwszName = missing.data();
    rz::ComPtr<IRowset> none;
    EXPECT_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr, none.putUnknown()), DB_E_NOTABLE);
    EXPECT_FALSE(none);
}

TEST_F(Columns, ExtremeDatesExactDecimalsAndLatinTextSurviveTheWire)
{
    rz::ComPtr<IRowset> rowset;
    ASSERT_EQ(query(session.get(), "SELECT CAST('0001-01-01' AS DATE) AS d, "
                                   "CAST('9999-12-31 23:59:59.9999999' AS DATETIME2(7)) AS t, "
                                   "CAST('-1234567890123456789.123456789' AS DECIMAL(38,9)) AS n, "
                                   "CAST(-123456789012.3456 AS MONEY) AS m, "
                                   "CAST('caf' + CHAR(233) AS VARCHAR(10)) AS v",
                    rowset),
              S_OK)
        << errorText();
    RowReader reader(rowset.get());
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(reader.columns()[2].type, DBTYPE_NUMERIC);
    EXPECT_EQ(reader.columns()[2].precision, 38);
    EXPECT_EQ(reader.columns()[2].scale, 9);
    EXPECT_EQ(reader.columns()[4].type, DBTYPE_STR);
    Rows rows;
    ASSERT_EQ(reader.all(rows), S_OK) << errorText();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(fields(rows[0][0].as<DBDATE>()), std::make_tuple(1, 1, 1));
    EXPECT_EQ(fields(rows[0][1].as<DBTIMESTAMP>()), std::make_tuple(9999, 12, 31, 23, 59, 59, 999999900u));
    const DB_NUMERIC n = rows[0][2].as<DB_NUMERIC>();
    EXPECT_EQ(n.sign, 0);
    EXPECT_EQ(n.scale, 9);
    // 1234567890123456789123456789 = 0x03FD35EB6D797A91C4D85F15
    const unsigned char magnitude[12] = {0x15, 0x5F, 0xD8, 0xC4, 0x91, 0x7A, 0x79, 0x6D, 0xEB, 0x35, 0xFD, 0x03};
    EXPECT_EQ(std::memcmp(n.val, magnitude, sizeof magnitude), 0);
    EXPECT_EQ(rows[0][3].as<int64_t>(), -1234567890123456LL) << "money in units of 1/10000, exactly";
    EXPECT_EQ(rows[0][4].bytes, "caf\xC3\xA9") << "narrow text reaches the consumer as UTF-8";
}
