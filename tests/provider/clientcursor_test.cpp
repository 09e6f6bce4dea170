// Commands asked for the plug-in's rowset properties hand back the client
// cursor, read from the provider's forward-only rowset.

#include "liveserver.h"

using namespace providertest;

namespace {

using ClientCursor = LiveSession;

// The five rowset properties the plug-in sets, as it sets them: the first
// three true as VT_I2.
HRESULT setPluginRowsetProperties(ICommandText *command, DBPROP (&props)[5])
{
    props[0] = i4Property(DBPROP_CLIENTCURSOR, 0);
    props[1] = i4Property(DBPROP_IRowsetChange, 0);
    props[2] = i4Property(DBPROP_ISequentialStream, 0);
    props[3] = i4Property(DBPROP_COMMANDTIMEOUT, 30);
    props[4] = i4Property(DBPROP_UPDATABILITY, 7);
    for (int i = 0; i < 3; ++i) {
        props[i].vValue.vt = VT_I2;
        props[i].vValue.iVal = -1;
    }
    DBPROPSET set{props, 5, DBPROPSET_ROWSET};
    rz::ComPtr<ICommandProperties> properties;
    HRESULT hr = rz::ComPtr<ICommandText>::share(command).query(IID_ICommandProperties, properties);
    return SUCCEEDED(hr) ? properties->SetProperties(1, &set) : hr;
}

} // namespace

TEST_F(ClientCursor, PackedNumericsAndTimestampsComeBackAsTheForwardOnlyRowsetGaveThem)
{
    const std::string sql = "SELECT CAST('9999999999.99' AS DECIMAL(12,2)) AS a, CAST('-9999999999.99' AS DECIMAL(12,2)) AS b, "
                            "CAST('-1234567890123456789.123456789' AS DECIMAL(38,9)) AS c, "
                            "CAST('9999-12-31 23:59:59.997' AS DATETIME) AS d, CAST('1753-01-01' AS DATETIME) AS e";
    Rows plain;
    ASSERT_TRUE(selectAll(session.get(), sql, plain));

    auto command = createCommand(session.get(), std::u16string(sql.begin(), sql.end()));
    ASSERT_TRUE(command);
    DBPROP props[5];
    ASSERT_EQ(setPluginRowsetProperties(command.get(), props), S_OK);
    for (const auto &p : props)
        EXPECT_EQ(p.dwStatus, DBPROPSTATUS_OK);
    rz::ComPtr<IMultipleResults> results;
    DBROWCOUNT affected = 0;
    ASSERT_EQ(command->Execute(nullptr, IID_IMultipleResults, nullptr, &affected, results.putUnknown()), S_OK) << errorText();
    rz::ComPtr<IRowset> rowset;
    ASSERT_EQ(results->GetResult(nullptr, 0, IID_IRowset, &affected, rowset.putUnknown()), S_OK) << errorText();
    Rows cursor;
    ASSERT_TRUE(readAll(rowset.get(), cursor));
    ASSERT_EQ(cursor.size(), 1u);
    ASSERT_EQ(plain.size(), 1u);
    ASSERT_EQ(cursor[0].size(), plain[0].size());
    for (size_t i = 0; i < plain[0].size(); ++i) {
        EXPECT_EQ(cursor[0][i].status, plain[0][i].status) << "column " << i;
        EXPECT_EQ(cursor[0][i].bytes, plain[0][i].bytes) << "column " << i;
    }
    DBCOUNTITEM got = 0;
    HROW *handles = nullptr;
    EXPECT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, -1, 1, &got, &handles), S_OK) << "the cursor scrolls back";
    EXPECT_EQ(got, 1u);
    rowset->ReleaseRows(got, handles, nullptr, nullptr, nullptr);
    CoTaskMemFree(handles);
}
