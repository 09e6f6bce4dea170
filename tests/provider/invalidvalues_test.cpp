// Parameter values the server could never store (a date of year 0, a time of
// hour 24) are refused by the provider before anything is sent: the
// execution fails with a status per bad parameter and the session goes on.

#include "liveserver.h"

using namespace providertest;

namespace {

using InvalidValues = LiveSession;

// A consumer buffer holding fixed-size values, each bound with value,
// length and status parts (ordinal i + 1).
class ParameterBuffer {
public:
    template <class T>
    void add(DBTYPE type, const T &value)
    {
        DBBINDING b{};
        b.iOrdinal = bindings_.size() + 1;
        b.wType = type;
        b.eParamIO = DBPARAMIO_INPUT;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.cbMaxLen = sizeof value;
        b.obValue = bytes_.size();
        b.obLength = b.obValue + 16;
        b.obStatus = b.obLength + 8;
        bytes_.resize(b.obStatus + 8, 0);
        std::memcpy(&bytes_[b.obValue], &value, sizeof value);
        const DBLENGTH length = sizeof value;
        std::memcpy(&bytes_[b.obLength], &length, sizeof length);
        bindings_.push_back(b);
    }

    DBSTATUS status(size_t index) const
    {
        DBSTATUS s;
        std::memcpy(&s, &bytes_[bindings_[index].obStatus], sizeof s);
        return s;
    }

    HRESULT execute(ICommandText *command)
    {
        rz::ComPtr<IAccessor> accessor;
        HRESULT hr = rz::ComPtr<ICommandText>::share(command).query(IID_IAccessor, accessor);
        if (FAILED(hr))
            return hr;
        HACCESSOR handle = 0;
        hr = accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, bindings_.size(), bindings_.data(), bytes_.size(),
                                      &handle, nullptr);
        if (FAILED(hr))
            return hr;
        DBPARAMS params{bytes_.data(), 1, handle};
        hr = command->Execute(nullptr, IID_NULL, &params, nullptr, nullptr);
        rz::ComPtr<IErrorInfo> error;
        GetErrorInfo(0, error.put()); // kept across ReleaseAccessor, which clears it
        accessor->ReleaseAccessor(handle, nullptr);
        SetErrorInfo(0, error.get());
        return hr;
    }

private:
    std::vector<DBBINDING> bindings_;
    std::vector<BYTE> bytes_;
};

int rowCount(IUnknown *session, const std::string &table)
{
    Rows rows;
    if (!selectAll(session, "SELECT COUNT(*) FROM " + table, rows) || rows.size() != 1)
        return -1;
    return rows[0][0].as<int32_t>();
}

} // namespace

TEST_F(InvalidValues, AnAllZeroDateFailsTheExecutionAndTheSessionGoesOn)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE invalid_zero_date (id INT, d DATE)"), S_OK) << errorText();
    auto insert = createCommand(session.get(), u"INSERT INTO invalid_zero_date VALUES (?, ?)");
    ASSERT_TRUE(insert);

    ParameterBuffer bad;
    bad.add<int32_t>(DBTYPE_I4, 1);
    bad.add(DBTYPE_DBDATE, DBDATE{0, 0, 0});
    EXPECT_EQ(bad.execute(insert.get()), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(errorText(), "Invalid date value for parameter 2.");
    EXPECT_EQ(bad.status(0), DBSTATUS_S_OK) << "a good value keeps its status";
    EXPECT_EQ(bad.status(1), DBSTATUS_E_CANTCONVERTVALUE);
    // Sent again as it came back, the value is refused for the same reason.
    EXPECT_EQ(bad.execute(insert.get()), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(errorText(), "Invalid date value for parameter 2.");

    // The same command and the same session work for the next values.
    ParameterBuffer good;
    good.add<int32_t>(DBTYPE_I4, 2);
    good.add(DBTYPE_DBDATE, DBDATE{2024, 2, 29});
    EXPECT_EQ(good.execute(insert.get()), S_OK) << errorText();
    Rows rows;
    ASSERT_TRUE(selectAll(session.get(), "SELECT id, d FROM invalid_zero_date", rows));
    ASSERT_EQ(rows.size(), 1u) << "nothing of the refused execution was stored";
    EXPECT_EQ(rows[0][0].as<int32_t>(), 2);
    EXPECT_EQ(rows[0][1].as<DBDATE>().day, 29);
}

TEST_F(InvalidValues, EveryBadDateTimeAndTimestampIsMarked)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE invalid_parts (d DATE, t TIME, ts DATETIME2, d2 DATE)"), S_OK)
        << errorText();
    auto insert = createCommand(session.get(), u"INSERT INTO invalid_parts VALUES (?, ?, ?, ?)");
    ASSERT_TRUE(insert);

    ParameterBuffer bad;
    bad.add(DBTYPE_DBDATE, DBDATE{2023, 2, 29});                               // no leap year
    bad.add(DBTYPE_DBTIME, DBTIME{24, 0, 0});                                  // hour 24
    bad.add(DBTYPE_DBTIMESTAMP, DBTIMESTAMP{2021, 1, 1, 0, 0, 0, 1000000000}); // a whole second of fraction
    bad.add(DBTYPE_DBDATE, DBDATE{2000, 2, 29});                               // a leap year: fine
    EXPECT_EQ(bad.execute(insert.get()), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(errorText(), "Invalid date value for parameter 1. | Invalid time value for parameter 2. | "
                           "Invalid time value for parameter 3.");
    EXPECT_EQ(bad.status(0), DBSTATUS_E_CANTCONVERTVALUE);
    EXPECT_EQ(bad.status(1), DBSTATUS_E_CANTCONVERTVALUE);
    EXPECT_EQ(bad.status(2), DBSTATUS_E_CANTCONVERTVALUE);
    EXPECT_EQ(bad.status(3), DBSTATUS_S_OK);

    ParameterBuffer badYear;
    badYear.add(DBTYPE_DBDATE, DBDATE{9999, 12, 31});
    badYear.add(DBTYPE_DBTIME, DBTIME{23, 59, 59});
    badYear.add(DBTYPE_DBTIMESTAMP, DBTIMESTAMP{10000, 1, 1, 0, 0, 0, 0});
    badYear.add(DBTYPE_DBDATE, DBDATE{1, 1, 1});
    EXPECT_EQ(badYear.execute(insert.get()), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(errorText(), "Invalid date value for parameter 3.");
    EXPECT_EQ(badYear.status(2), DBSTATUS_E_CANTCONVERTVALUE);
    EXPECT_EQ(rowCount(session.get(), "invalid_parts"), 0);

    // The extremes of each type are values, and go through.
    ParameterBuffer edges;
    edges.add(DBTYPE_DBDATE, DBDATE{9999, 12, 31});
    edges.add(DBTYPE_DBTIME, DBTIME{23, 59, 59});
    edges.add(DBTYPE_DBTIMESTAMP, DBTIMESTAMP{9999, 12, 31, 23, 59, 59, 999999900});
    edges.add(DBTYPE_DBDATE, DBDATE{1, 1, 2}); // FreeTDS sends 0001-01-01 as day -1
    EXPECT_EQ(edges.execute(insert.get()), S_OK) << errorText();
    EXPECT_EQ(rowCount(session.get(), "invalid_parts"), 1);
}
