// Binding every column of a rowset into one row buffer: the layout rule,
// long columns as storage objects, the reported types, and failures.

#include "scriptedrowset.h"

#include "oledb/oledberror.h"
#include "oledb/oledbrowset.h"

#include <gtest/gtest.h>

namespace {

using namespace rztest;

class Accessor : public ::testing::Test
{
protected:
    template <class A>
    HRESULT open(OLEDBAccessorRowset<A> &rs)
    {
        rz::ComPtr<IRowset> rowset;
        const HRESULT hr = createScriptedRowset(state, IID_IRowset, rowset.putUnknown());
        EXPECT_EQ(hr, S_OK);
        rs.attachRowset(std::move(rowset));
        return rs.bindColumns(rs.rowsetInterface());
    }
    void TearDown() override
    {
        EXPECT_EQ(state->log.liveRowsets, 0);
        EXPECT_EQ(state->log.liveAccessors, 0);
        EXPECT_EQ(state->log.bindingsOutOfRow, 0);
    }

    std::shared_ptr<StatementState> state = std::make_shared<StatementState>();
    RowsetScript &script = state->rowset;
    StatementLog &log = state->log;
};

TEST_F(Accessor, ColumnsAreLaidOutValueLengthStatusInOrder)
{
    script.columns = {{"id", DBTYPE_I4, 4}, {"name", DBTYPE_WSTR, 10}};
    OLEDBAccessorRowset<OLEDBAccessor> rs;
    ASSERT_EQ(open(rs), S_OK);
    ASSERT_EQ(log.rowBindings.size(), 1u);
    const std::vector<DBBINDING> &b = log.rowBindings[0];
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[0].obValue, 0u);
    EXPECT_EQ(b[0].obLength, 8u);
    EXPECT_EQ(b[0].obStatus, 16u);
    EXPECT_EQ(b[1].obValue, 20u);
    EXPECT_EQ(b[1].cbMaxLen, 22u);
    EXPECT_EQ(b[1].obLength, 48u);
    EXPECT_EQ(b[1].obStatus, 56u);
    EXPECT_EQ(rs.rowBufferSize(), 60u);
    for (const DBBINDING &one : b) {
        EXPECT_EQ(one.dwPart, DWORD(DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS));
        EXPECT_EQ(one.eParamIO, DWORD(DBPARAMIO_NOTPARAM));
        EXPECT_EQ(one.dwMemOwner, DWORD(DBMEMOWNER_CLIENTOWNED));
    }
    EXPECT_EQ(columnValueOffset(rs.boundColumn(1)), 20u);
    EXPECT_EQ(rs.boundColumn(1).ulColumnSize, 22u) << "rewritten to the bound size";
    EXPECT_EQ(log.count("Rowset.CreateAccessor(2,2,60)"), 1) << "row data";
    EXPECT_FALSE(rs.searchesByOrdinal());
}

TEST_F(Accessor, EightByteIntegersFollowAtFourModEightAndDoublesMoveOn)
{
    script.columns = {{"a", DBTYPE_I4, 4}, {"b", DBTYPE_I8, 8}, {"c", DBTYPE_R8, 8},
                      {"d", DBTYPE_STR, 3}, {"e", DBTYPE_NUMERIC, 19}};
    OLEDBAccessorRowset<OLEDBAccessor> rs;
    ASSERT_EQ(open(rs), S_OK);
    const std::vector<DBBINDING> &b = log.rowBindings[0];
    EXPECT_EQ(b[1].obValue, 20u) << "alignment 1 for I8";
    EXPECT_EQ(b[2].obValue, 48u) << "20+8 -> L 32, S 40, end 44; R8 rounds to 48";
    EXPECT_EQ(b[3].obValue, 68u);
    EXPECT_EQ(b[3].cbMaxLen, 4u) << "room for the terminator";
    EXPECT_EQ(b[4].obValue, 84u) << "68+4 -> L 72, S 80, end 84";
    for (const DBBINDING &one : b)
        EXPECT_EQ(one.obStatus % 8, 0u);
}

TEST_F(Accessor, ColumnsLongerThanTheThresholdBecomeStorageObjects)
{
    script.columns = {{"a", DBTYPE_WSTR, 4000}, {"b", DBTYPE_WSTR, 8000}, {"c", DBTYPE_WSTR, 8001},
                      {"d", DBTYPE_BYTES, ~DBLENGTH(0)}, {"e", DBTYPE_IUNKNOWN, 0}};
    OLEDBAccessorRowset<OLEDBParameterAccessor> rs;
    ASSERT_EQ(open(rs), S_OK);
    const std::vector<DBBINDING> &b = log.rowBindings[0];
    EXPECT_EQ(b[0].wType, DBTYPE_WSTR);
    EXPECT_EQ(b[0].cbMaxLen, 8002u);
    EXPECT_EQ(b[1].wType, DBTYPE_WSTR) << "a size equal to the threshold stays inline";
    for (int i : {2, 3, 4}) {
        EXPECT_EQ(b[i].wType, DBTYPE_IUNKNOWN) << i;
        EXPECT_EQ(b[i].cbMaxLen, 8u) << i;
        EXPECT_EQ(rs.boundColumn(i).wType, DBTYPE_IUNKNOWN) << i;
        EXPECT_EQ(rs.boundColumn(i).ulColumnSize, 8u) << i;
    }
    EXPECT_EQ(rs.reportedColumnTypes(), (QList<DBTYPE>{DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_WSTR, DBTYPE_BYTES, DBTYPE_IUNKNOWN}));
    EXPECT_EQ(log.count("Rowset.GetProperties"), 1) << "the stream interface is chosen once";
    rs.close();
    EXPECT_EQ(rs.boundColumnCount(), 0u);
    rs.close();
}

TEST_F(Accessor, TheStreamInterfaceFollowsTheRowsetProperties)
{
    script.columns = {{"a", DBTYPE_STR, ~DBLENGTH(0)}};
    struct Case { std::vector<std::pair<DBPROPID, bool>> properties; IID expected; };
    const Case cases[] = {{{{DBPROP_ISequentialStream, true}, {DBPROP_IStream, true}}, IID_ISequentialStream},
                          {{{DBPROP_ISequentialStream, false}, {DBPROP_IStream, true}}, IID_IStream},
                          {{}, IID_ISequentialStream}};
    for (const Case &c : cases) {
        script.properties = c.properties;
        OLEDBAccessorRowset<OLEDBAccessor> rs;
        ASSERT_EQ(open(rs), S_OK);
        EXPECT_TRUE(log.rowObjects.back()[0] == c.expected) << toString(log.rowObjects.back()[0]);
    }
    // A column that is an object already asks for IUnknown.
    script.columns = {{"o", DBTYPE_IUNKNOWN, 8}};
    OLEDBAccessorRowset<OLEDBAccessor> rs;
    ASSERT_EQ(open(rs), S_OK);
    EXPECT_TRUE(log.rowObjects.back()[0] == IID_IUnknown);
}

TEST_F(Accessor, ARowsetWithoutColumnsGetsAnEmptyAccessor)
{
    script.columns = {};
    OLEDBAccessorRowset<OLEDBAccessor> rs;
    ASSERT_EQ(open(rs), S_OK);
    EXPECT_EQ(rs.rowBufferSize(), 0u);
    EXPECT_EQ(log.count("Rowset.CreateAccessor(2,0,0)"), 1);
}

TEST_F(Accessor, FailuresComeBackAsTheProviderGaveThem)
{
    script.columns = {{"id", DBTYPE_I4, 4}, {"t", DBTYPE_WSTR, ~DBLENGTH(0)}};
    {
        OLEDBAccessorRowset<OLEDBParameterAccessor> rs;
        ASSERT_EQ(open(rs), S_OK);
        rs.close();
        ASSERT_FALSE(rs.reportedColumnTypes().isEmpty());
        script.missingInterfaces = {IID_IAccessor};
        EXPECT_EQ(open(rs), E_NOINTERFACE);
        EXPECT_EQ(rs.boundColumnCount(), 0u);
        EXPECT_TRUE(rs.reportedColumnTypes().isEmpty()) << "emptied before anything else";
        script.missingInterfaces.clear();
    }
    {
        script.getColumnInfo = DB_E_NOTABLE;
        OLEDBAccessorRowset<OLEDBAccessor> rs;
        EXPECT_EQ(open(rs), DB_E_NOTABLE);
        EXPECT_EQ(rs.rowBuffer(), nullptr);
        script.getColumnInfo = S_OK;
    }
    {
        script.createAccessor = DB_E_BADBINDINFO;
        OLEDBAccessorRowset<OLEDBAccessor> rs;
        EXPECT_EQ(open(rs), DB_E_BADBINDINFO);
        EXPECT_EQ(rs.boundColumnCount(), 2u) << "the column table stays until close";
        script.createAccessor = S_OK;
    }
    OLEDBAccessor plain;
    EXPECT_EQ(plain.bindColumns(nullptr), E_FAIL);
}

TEST_F(Accessor, BindEntryAndCreateAccessorGuardTheirArguments)
{
    EXPECT_THROW(bindEntry(nullptr, 1, DBTYPE_I4, 4, 0, 0, 0, 0, 8, 16, nullptr), CAtlException);
    DBBINDING b;
    bindEntry(&b, 1, DBTYPE_I4 | DBTYPE_BYREF, 4, 0, 0, DBPARAMIO_INPUT, 0, 0, 16, nullptr);
    EXPECT_EQ(b.dwPart, DWORD(DBPART_VALUE | DBPART_STATUS)) << "a zero offset is not bound";
    EXPECT_EQ(b.dwMemOwner, DWORD(DBMEMOWNER_PROVIDEROWNED));
    HACCESSOR h = 0;
    EXPECT_EQ(createAccessor(nullptr, 1, &h, 8, nullptr), E_FAIL);
}

TEST_F(Accessor, RowsetPropertiesAreReadAsSignExtendedBooleans)
{
    script.properties = {{DBPROP_ISequentialStream, true}, {DBPROP_IStream, false}};
    rz::ComPtr<IUnknown> rowset;
    ASSERT_EQ(createScriptedRowset(state, IID_IUnknown, rowset.put()), S_OK);
    const DBPROPID ids[2] = {DBPROP_ISequentialStream, DBPROP_IStream};
    LONG results[2] = {5, 5};
    EXPECT_EQ(queryRowsetProperties(rowset.get(), ids, results, 2), S_OK);
    EXPECT_EQ(results[0], -1);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(queryRowsetProperties(nullptr, ids, results, 2), E_FAIL);
}

} // namespace
