// Parameter values the server could never store (a date of year 0, a time of
// hour 24) are refused by the provider before anything is sent: the
// execution fails with a status per bad parameter and the session goes on.

#include "liveserver.h"

using namespace providertest;

namespace {

using InvalidValues = LiveSession;

int rowCount(IUnknown *session, const std::string &table)
{
    Rows rows;
    if (!selectAll(session, "SELECT COUNT(*) FROM " + table, rows) || rows.size() != 1)
        return -1;
    return rows[0][0].as<int32_t>();
}

} // namespace

TEST_F(InvalidValues, EveryBadDateTimeAndTimestampIsMarkedAndTheCommandGoesOn)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE invalid_parts (d DATE, t TIME, ts DATETIME2, d2 DATE)"), S_OK)
        << errorText();
    auto insert = createCommand(session.get(), u"INSERT INTO invalid_parts VALUES (?, ?, ?, ?)");
    ASSERT_TRUE(insert);

    std::vector<Param> bad = {
        fixed(DBTYPE_DBDATE, DBDATE{0, 0, 0}),                                   // all zero
        fixed(DBTYPE_DBTIME, DBTIME{24, 0, 0}),                                  // hour 24
        fixed(DBTYPE_DBTIMESTAMP, DBTIMESTAMP{2021, 1, 1, 0, 0, 0, 1000000000}), // a whole second of fraction
        fixed(DBTYPE_DBDATE, DBDATE{2000, 2, 29}),                               // a leap year: fine
    };
    const std::string reasons = "Invalid date value for parameter 1. | Invalid time value for parameter 2. | "
                                "Invalid time value for parameter 3.";
    EXPECT_EQ(executeWith(insert.get(), bad, IID_NULL, nullptr), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(errorText(), reasons);
    EXPECT_EQ(bad[0].status, DBSTATUS_E_CANTCONVERTVALUE);
    EXPECT_EQ(bad[1].status, DBSTATUS_E_CANTCONVERTVALUE);
    EXPECT_EQ(bad[2].status, DBSTATUS_E_CANTCONVERTVALUE);
    EXPECT_EQ(bad[3].status, DBSTATUS_S_OK) << "a good value keeps its status";
    // Sent again as they came back, the values are refused for the same reasons.
    EXPECT_EQ(executeWith(insert.get(), bad, IID_NULL, nullptr), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(errorText(), reasons);

    std::vector<Param> badDays = {
        fixed(DBTYPE_DBDATE, DBDATE{2023, 2, 29}), // no leap year
        fixed(DBTYPE_DBTIME, DBTIME{23, 59, 59}),
        fixed(DBTYPE_DBTIMESTAMP, DBTIMESTAMP{10000, 1, 1, 0, 0, 0, 0}),
        fixed(DBTYPE_DBDATE, DBDATE{1, 1, 1}),
    };
    EXPECT_EQ(executeWith(insert.get(), badDays, IID_NULL, nullptr), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(errorText(), "Invalid date value for parameter 1. | Invalid date value for parameter 3.");
    EXPECT_EQ(rowCount(session.get(), "invalid_parts"), 0) << "nothing of a refused execution is stored";

    // The extremes of each type are values, and go through the same command.
    std::vector<Param> edges = {
        fixed(DBTYPE_DBDATE, DBDATE{9999, 12, 31}),
        fixed(DBTYPE_DBTIME, DBTIME{23, 59, 59}),
        fixed(DBTYPE_DBTIMESTAMP, DBTIMESTAMP{9999, 12, 31, 23, 59, 59, 999999900}),
        fixed(DBTYPE_DBDATE, DBDATE{1, 1, 2}), // FreeTDS sends 0001-01-01 as day -1
    };
    EXPECT_EQ(executeWith(insert.get(), edges, IID_NULL, nullptr), S_OK) << errorText();
    EXPECT_EQ(rowCount(session.get(), "invalid_parts"), 1);
}
