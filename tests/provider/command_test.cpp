// Running statements on the server: parameters it describes, values both
// ways, long values through streams, transactions, and which time-out
// bounds which request.

#include "liveserver.h"

using namespace providertest;

namespace {

using Commands = LiveSession;
using Parameters = LiveSession;
using Transactions = LiveSession;

} // namespace

TEST_F(Parameters, DescriptionsComeFromTheServerAndDecimalsAndNullsRoundTrip)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE param_values (i INT, b BIGINT, f FLOAT, d DECIMAL(9,2), "
                                 "nv NVARCHAR(40), vb VARBINARY(10), dt DATETIME2, bt BIT)"),
              S_OK)
        << errorText();
    auto insert = createCommand(session.get(), u"INSERT INTO param_values VALUES (?, ?, ?, ?, ?, ?, ?, ?) -- '?'");
    ASSERT_TRUE(insert);
    ParameterInfo info;
    ASSERT_EQ(describe(insert.get(), info), S_OK) << errorText();
    ASSERT_EQ(info.params.size(), 8u) << "the marker in the comment is not a parameter";
    EXPECT_EQ(info.types(), (std::vector<DBTYPE>{DBTYPE_I4, DBTYPE_I8, DBTYPE_R8, DBTYPE_NUMERIC, DBTYPE_WSTR,
                                                 DBTYPE_BYTES, DBTYPE_DBTIMESTAMP, DBTYPE_BOOL}));
    EXPECT_EQ(info.params[3].bPrecision, 9);
    EXPECT_EQ(info.params[3].bScale, 2);
    EXPECT_EQ(info.params[4].ulParamSize, 40u);
    EXPECT_NE(info.params[0].dwFlags & DBPARAMFLAGS_ISINPUT, 0u);

    // A decimal's fraction and every type's NULL: the plug-in binds decimals
    // from whole numbers and NULL only for date-times.
    const DB_NUMERIC numeric{9, 2, 0, {0x39, 0x30}}; // -123.45
    std::vector<Param> nulls = {nullOf(DBTYPE_I4), nullOf(DBTYPE_I8), nullOf(DBTYPE_R8), nullOf(DBTYPE_NUMERIC),
                                nullOf(DBTYPE_WSTR), nullOf(DBTYPE_BYTES), nullOf(DBTYPE_DBTIMESTAMP), nullOf(DBTYPE_BOOL)};
    ASSERT_EQ(executeWith(insert.get(), nulls, IID_NULL, nullptr), S_OK) << errorText();
    nulls[0] = fixed<int32_t>(DBTYPE_I4, 1);
    nulls[3] = fixed(DBTYPE_NUMERIC, numeric);
    ASSERT_EQ(executeWith(insert.get(), nulls, IID_NULL, nullptr), S_OK) << errorText();

    Rows rows;
    ASSERT_TRUE(selectAll(session.get(), "SELECT * FROM param_values ORDER BY i DESC", rows));
    ASSERT_EQ(rows.size(), 2u);
    const auto back = rows[0][3].as<DB_NUMERIC>();
    EXPECT_EQ(std::memcmp(&back, &numeric, sizeof numeric), 0);
    for (size_t c = 0; c < rows[1].size(); ++c)
        EXPECT_TRUE(rows[1][c].isNull()) << "column " << c;
}

TEST_F(Parameters, FiveMegabyteValuesTravelThroughStreamsBothWays)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE long_values (id INT, txt NVARCHAR(MAX), bin VARBINARY(MAX))"), S_OK)
        << errorText();
    auto insert = createCommand(session.get(), u"INSERT INTO long_values VALUES (?, ?, ?)");
    ParameterInfo info;
    ASSERT_EQ(describe(insert.get(), info), S_OK) << errorText();
    ASSERT_EQ(info.params.size(), 3u);
    EXPECT_EQ(info.params[1].ulParamSize, ~DBLENGTH(0));
    EXPECT_NE(info.params[1].dwFlags & DBPARAMFLAGS_ISLONG, 0u);

    std::u16string text;
    for (int i = 0; text.size() < 2'500'000; ++i)
        text += u"line " + u16(std::to_string(i)) + u" äöü\n";
    std::string textBytes(reinterpret_cast<const char *>(text.data()), text.size() * 2);
    std::string binary(5 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 131) >> 3);
    // One stream carries both values back to back, as the plug-in sends them.
    auto shared = memoryStream(textBytes + binary);
    std::vector<Param> params = {fixed<int32_t>(DBTYPE_I4, 1), stream(shared.get(), textBytes.size()),
                                 stream(shared.get(), binary.size())};
    ASSERT_EQ(executeWith(insert.get(), params, IID_NULL, nullptr), S_OK) << errorText();

    rz::ComPtr<IRowset> rowset;
    ASSERT_EQ(query(session.get(), "SELECT txt, bin, DATALENGTH(bin) FROM long_values WHERE id = 1", rowset), S_OK)
        << errorText();
    RowReader reader(rowset.get());
    ASSERT_TRUE(reader.ok());
    EXPECT_NE(reader.columns()[0].flags & DBCOLUMNFLAGS_ISLONG, 0u);
    Rows rows;
    ASSERT_EQ(reader.all(rows), S_OK) << errorText();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].bytes.size(), textBytes.size());
    EXPECT_TRUE(rows[0][0].bytes == textBytes) << "long text comes back as its UTF-16 bytes";
    EXPECT_EQ(rows[0][1].bytes.size(), binary.size());
    EXPECT_TRUE(rows[0][1].bytes == binary);
}

TEST_F(Transactions, AbortUndoesAndCommitKeeps)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE tx_rows (n INT)"), S_OK) << errorText();
    rz::ComPtr<ITransactionLocal> tx;
    ASSERT_EQ(session.query(IID_ITransactionLocal, tx), S_OK);
    ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK) << errorText();
    ASSERT_EQ(run(session.get(), "INSERT INTO tx_rows VALUES (1)"), S_OK) << errorText();
    ASSERT_EQ(tx->Abort(nullptr, FALSE, FALSE), S_OK) << errorText();

    ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK) << errorText();
    ASSERT_EQ(run(session.get(), "INSERT INTO tx_rows VALUES (2)"), S_OK) << errorText();
    // A rowset still open when the transaction ends keeps its rows.
    rz::ComPtr<IRowset> open;
    ASSERT_EQ(query(session.get(), "SELECT n FROM tx_rows", open), S_OK) << errorText();
    ASSERT_EQ(tx->Commit(FALSE, XACTTC_SYNC, 0), S_OK) << errorText();
    EXPECT_EQ(tx->Abort(nullptr, FALSE, FALSE), XACT_E_NOTRANSACTION);

    auto other = mainSession();
    ASSERT_TRUE(other);
    Rows rows;
    ASSERT_TRUE(selectAll(other.get(), "SELECT n FROM tx_rows", rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].as<int32_t>(), 2);
    rows.clear();
    ASSERT_TRUE(readAll(open.get(), rows));
    EXPECT_EQ(rows.size(), 1u);
}

// The general time-out (1 s here) covers requests other than a command's
// execution; the command's own DBPROP_COMMANDTIMEOUT alone bounds it, 0
// (the default) for no limit. The server is slow on purpose (WAITFOR).
TEST_F(Commands, OnlyTheCommandTimeOutBoundsAStatement)
{
    Login login = mainLogin();
    login.generalTimeout = 1;
    auto impatient = openSession(login);
    ASSERT_TRUE(impatient) << errorText();

    Rows rows;
    ASSERT_TRUE(selectAll(impatient.get(), "WAITFOR DELAY '00:00:01.500'; SELECT 5 AS five", rows)) << errorText();
    auto bound = createCommand(impatient.get(), u"WAITFOR DELAY '00:00:01.500'; SELECT 10 + ?");
    ASSERT_TRUE(bound);
    std::vector<Param> values = {fixed<int32_t>(DBTYPE_I4, 6)};
    rz::ComPtr<IRowset> rowset;
    ASSERT_EQ(executeWith(bound.get(), values, IID_IRowset, rowset.putUnknown()), S_OK) << errorText();
    ASSERT_TRUE(readAll(rowset.get(), rows));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0].as<int32_t>(), 5);
    EXPECT_EQ(rows[1][0].as<int32_t>(), 16);
    rowset.reset();

    auto slow = createCommand(impatient.get(), u"WAITFOR DELAY '00:00:03'; SELECT 1");
    ASSERT_TRUE(slow);
    DBPROP timeout = i4Property(DBPROP_COMMANDTIMEOUT, 1);
    DBPROPSET set{&timeout, 1, DBPROPSET_ROWSET};
    rz::ComPtr<ICommandProperties> properties;
    ASSERT_EQ(slow.query(IID_ICommandProperties, properties), S_OK);
    ASSERT_EQ(properties->SetProperties(1, &set), S_OK);
    rz::ComPtr<IRowset> stopped;
    EXPECT_TRUE(FAILED(slow->Execute(nullptr, IID_IRowset, nullptr, nullptr, stopped.putUnknown())));
    const std::string text = errorText();
    EXPECT_NE(text.find("Query timeout expired"), std::string::npos) << text;

    // The server was told to stop: the connection answers the next statement at once.
    ASSERT_TRUE(selectAll(impatient.get(), "SELECT 2 AS two", rows)) << errorText();
    EXPECT_EQ(rows.back()[0].as<int32_t>(), 2);
}

// A server that answers every request 3 s late: the general time-out (1 s)
// ends opening a table by name and the begin of a transaction, both requests
// of the session; had it not held, the server's late answers would have come.
TEST_F(Commands, TheGeneralTimeOutBoundsOpeningATableAndBeginningATransaction)
{
    Login login;
    login.loginTimeout = 15;
    login.generalTimeout = 1;
    OwnServer late = sessionAt("127.0.0.29", {"--delay-ms", "3000"}, login);
    auto &tableSession = late.session;
    ASSERT_TRUE(tableSession);
    DBID table{};
    table.eKind = DBKIND_NAME;
    std::u16string name = u"param_values";
    table.uName.pwszName = name.data();
    rz::ComPtr<IRowset> opened;
    EXPECT_TRUE(FAILED(tableSession->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr,
                                                opened.putUnknown())));
    std::string text = errorText();
    EXPECT_NE(text.find("timeout expired"), std::string::npos) << text;

    auto transactionSession = openSession(late.login);
    ASSERT_TRUE(transactionSession) << errorText();
    rz::ComPtr<ITransactionLocal> tx;
    ASSERT_EQ(transactionSession.query(IID_ITransactionLocal, tx), S_OK);
    EXPECT_TRUE(FAILED(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr)));
    text = errorText();
    EXPECT_NE(text.find("imeout"), std::string::npos) << text;
}
