// The cursor of the consumer layer: moves, what a row owns, and closing.

#include "scriptedrowset.h"

#include "oledb/oledbrowset.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace rztest;

class Cursor : public ::testing::Test
{
protected:
    void SetUp() override
    {
        script.columns = {{"id", DBTYPE_I4, 4}, {"t", DBTYPE_BYTES, ~DBLENGTH(0)}};
        for (int i = 0; i < 5; ++i)
            script.rows.push_back({cell<qint32>(i), narrowText("row" + std::to_string(i))});
        rz::ComPtr<IRowset> rowset;
        ASSERT_EQ(createScriptedRowset(state, IID_IRowset, rowset.putUnknown()), S_OK);
        rs.attachRowset(std::move(rowset));
        ASSERT_EQ(rs.bindColumns(rs.rowsetInterface()), S_OK);
    }
    void TearDown() override
    {
        rs.close();
        EXPECT_EQ(log.liveRowsets, 0);
        EXPECT_EQ(log.liveRows, 0);
        EXPECT_EQ(log.liveStreams, 0);
        EXPECT_EQ(log.liveAccessors, 0);
    }
    qint32 id() const
    {
        qint32 v;
        std::memcpy(&v, rs.columnValue(1), sizeof v);
        return v;
    }

    std::shared_ptr<StatementState> state = std::make_shared<StatementState>();
    RowsetScript &script = state->rowset;
    StatementLog &log = state->log;
    OLEDBAccessorRowset<OLEDBAccessor> rs;
};

TEST_F(Cursor, MovesForwardBackwardAndBySkipping)
{
    ASSERT_EQ(rs.moveNext(), S_OK);
    EXPECT_EQ(id(), 0);
    ASSERT_EQ(rs.moveNext(2, true), S_OK) << "skips two rows";
    EXPECT_EQ(id(), 3);
    ASSERT_EQ(rs.moveNext(0, false), S_OK) << "one row backward";
    EXPECT_EQ(id(), 3);
    ASSERT_EQ(rs.moveNext(-1, true), S_OK);
    EXPECT_EQ(id(), 2);
    ASSERT_EQ(rs.moveFirst(), S_OK);
    EXPECT_EQ(id(), 0);
    EXPECT_EQ(log.liveRows, 1);
}

TEST_F(Cursor, PastTheEndNoRowIsHeldAndTheStreamIsGone)
{
    ASSERT_EQ(rs.moveNext(4, true), S_OK);
    EXPECT_EQ(log.liveStreams, 1);
    EXPECT_EQ(rs.moveNext(), DB_S_ENDOFROWSET);
    EXPECT_EQ(rs.currentRowHandle(), 0u);
    EXPECT_EQ(log.liveStreams, 0);
    EXPECT_EQ(log.liveRows, 0);
    IUnknown *pointer;
    std::memcpy(&pointer, rs.columnValue(2), sizeof pointer);
    EXPECT_EQ(pointer, nullptr) << "freed and nulled before the fetch";
}

TEST_F(Cursor, AStreamWhoseStatusIsNotOkIsLeftAlone)
{
    ASSERT_EQ(rs.moveNext(), S_OK);
    DBSTATUS *status = rs.columnStatus(2);
    IUnknown *stream;
    std::memcpy(&stream, rs.columnValue(2), sizeof stream);
    *status = DBSTATUS_S_TRUNCATED;
    rs.freeRecordMemory(rs.rowsetInterface());
    EXPECT_EQ(log.liveStreams, 1);
    *status = DBSTATUS_S_OK;
    rs.freeRecordMemory(rs.rowsetInterface());
    EXPECT_EQ(log.liveStreams, 0);
    (void)stream;
}

TEST_F(Cursor, ARestartThatFailsLeavesNoRow)
{
    script.restartPosition = DB_E_CANNOTRESTART;
    ASSERT_EQ(rs.moveNext(), S_OK);
    EXPECT_EQ(rs.moveFirst(), DB_E_CANNOTRESTART);
    EXPECT_EQ(rs.currentRowHandle(), 0u);
    EXPECT_EQ(log.liveRows, 0);
}

TEST_F(Cursor, CloseReleasesAccessorsBeforeRowsAndRowset)
{
    ASSERT_EQ(rs.moveNext(), S_OK);
    log.clear();
    rs.close();
    ASSERT_GE(log.calls.size(), 4u);
    EXPECT_EQ(log.calls[0], "~Stream");
    EXPECT_EQ(log.calls[1], "Rowset.ReleaseAccessor(1)");
    EXPECT_EQ(log.calls[2], "Rowset.ReleaseRows(1)");
    EXPECT_EQ(log.calls[3], "~Rowset");
    EXPECT_EQ(rs.rowBuffer(), nullptr);
    EXPECT_EQ(rs.boundColumnCount(), 0u);
    rs.close();
    EXPECT_EQ(log.calls.size(), 4u) << "a second close does nothing";
    EXPECT_EQ(rs.releaseAccessors(nullptr), E_FAIL);
}

} // namespace
