// Running statements: parameters as the server describes them, long values
// both ways, counts, several results, errors, two statements at once, and
// which time-out bounds which request.

#include "liveserver.h"

#include "platform/com/comobject.h"

#include <chrono>

using namespace providertest;

namespace {

using Commands = LiveSession;
using Parameters = LiveSession;
using Transactions = LiveSession;

// The consumer's in-memory stream for long parameter values.
class MemoryStream final : public rz::ComObject<ISequentialStream> {
public:
    explicit MemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}
    HRESULT Read(void *data, ULONG size, ULONG *read) override
    {
        const size_t n = std::min<size_t>(size, bytes_.size() - position_);
        std::memcpy(data, bytes_.data() + position_, n);
        position_ += n;
        if (read)
            *read = ULONG(n);
        return n == size ? S_OK : S_FALSE;
    }
    HRESULT Write(const void *, ULONG, ULONG *) override { return STG_E_ACCESSDENIED; }

private:
    std::string bytes_;
    size_t position_ = 0;
};

struct ParameterInfo {
    std::vector<DBPARAMINFO> params;
    DBPARAMINFO *table = nullptr;
    OLECHAR *names = nullptr;
    ~ParameterInfo()
    {
        CoTaskMemFree(table);
        CoTaskMemFree(names);
    }
    std::vector<DBTYPE> types() const
    {
        std::vector<DBTYPE> result;
        for (const DBPARAMINFO &param : params)
            result.push_back(param.wType);
        return result;
    }
};

HRESULT describe(ICommandText *command, ParameterInfo &info)
{
    rz::ComPtr<ICommandWithParameters> with;
    HRESULT hr = rz::ComPtr<ICommandText>::share(command).query(IID_ICommandWithParameters, with);
    if (FAILED(hr))
        return hr;
    DB_UPARAMS count = 0;
    hr = with->GetParameterInfo(&count, &info.table, &info.names);
    if (SUCCEEDED(hr))
        info.params.assign(info.table, info.table + count);
    return hr;
}

// One parameter value laid out in a consumer buffer.
struct Param {
    DBTYPE type;
    std::string value; // raw bytes of the value part
    DBSTATUS status = DBSTATUS_S_OK;
    DBLENGTH length = 0;
    DBLENGTH maxLength = 0;
};

// Executes the command with the parameters bound in order (ordinal i + 1).
HRESULT executeWith(ICommandText *command, std::vector<Param> &params, REFIID iid, IUnknown **result,
                    DBROWCOUNT *affected = nullptr)
{
    rz::ComPtr<IAccessor> accessor;
    HRESULT hr = rz::ComPtr<ICommandText>::share(command).query(IID_IAccessor, accessor);
    if (FAILED(hr))
        return hr;
    std::vector<DBBINDING> bindings;
    std::vector<DBOBJECT> objects(params.size());
    size_t offset = 0;
    for (size_t i = 0; i < params.size(); ++i) {
        DBBINDING b{};
        b.iOrdinal = i + 1;
        b.wType = params[i].type;
        b.eParamIO = DBPARAMIO_INPUT;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.cbMaxLen = params[i].maxLength ? params[i].maxLength : std::max<size_t>(params[i].value.size(), 8);
        if (params[i].type == DBTYPE_IUNKNOWN) {
            objects[i] = {STGM_READ, IID_ISequentialStream};
            b.pObject = &objects[i];
            b.cbMaxLen = sizeof(void *);
        }
        b.obValue = offset;
        offset += (b.cbMaxLen + 7) & ~DBLENGTH(7);
        b.obLength = offset;
        offset += 8;
        b.obStatus = offset;
        offset += 8;
        bindings.push_back(b);
    }
    std::vector<unsigned char> buffer(offset + 8, 0);
    for (size_t i = 0; i < params.size(); ++i) {
        std::memcpy(buffer.data() + bindings[i].obValue, params[i].value.data(),
                    std::min<size_t>(params[i].value.size(), bindings[i].cbMaxLen));
        std::memcpy(buffer.data() + bindings[i].obLength, &params[i].length, sizeof(DBLENGTH));
        std::memcpy(buffer.data() + bindings[i].obStatus, &params[i].status, sizeof(DBSTATUS));
    }
    HACCESSOR handle = 0;
    hr = accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, bindings.size(), bindings.data(), buffer.size(), &handle, nullptr);
    if (FAILED(hr))
        return hr;
    DBPARAMS dbParams{buffer.data(), 1, handle};
    hr = command->Execute(nullptr, iid, &dbParams, affected, result);
    accessor->ReleaseAccessor(handle, nullptr);
    return hr;
}

template <class T>
Param fixed(DBTYPE type, T value)
{
    Param p;
    p.type = type;
    p.value.assign(reinterpret_cast<const char *>(&value), sizeof value);
    p.length = sizeof value;
    return p;
}

Param wide(const std::string &text)
{
    const std::u16string w = u16(text);
    Param p;
    p.type = DBTYPE_WSTR;
    p.value.assign(reinterpret_cast<const char *>(w.c_str()), (w.size() + 1) * 2);
    p.length = w.size() * 2;
    return p;
}

Param nullOf(DBTYPE type)
{
    Param p;
    p.type = type;
    p.status = DBSTATUS_S_ISNULL;
    p.maxLength = 8;
    return p;
}

Param stream(IUnknown *object, DBLENGTH length)
{
    Param p;
    p.type = DBTYPE_IUNKNOWN;
    p.value.assign(reinterpret_cast<const char *>(&object), sizeof object);
    p.length = length;
    return p;
}

} // namespace

TEST_F(Parameters, DescriptionsComeFromTheServerAndValuesRoundTrip)
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

    DB_NUMERIC numeric{};
    numeric.precision = 9;
    numeric.scale = 2;
    numeric.sign = 0;
    numeric.val[0] = 0x39; // 12345 -> -123.45
    numeric.val[1] = 0x30;
    DBTIMESTAMP ts{2021, 2, 3, 4, 5, 6, 789000000};
    std::vector<Param> params = {fixed<int32_t>(DBTYPE_I4, -42), fixed<int64_t>(DBTYPE_I8, 1LL << 40),
                                 fixed<double>(DBTYPE_R8, 0.125), fixed(DBTYPE_NUMERIC, numeric),
                                 wide("naïve ☃"), Param{DBTYPE_BYTES, std::string("\x01\x00\x02", 3), 0, 3, 10},
                                 fixed(DBTYPE_DBTIMESTAMP, ts), fixed<VARIANT_BOOL>(DBTYPE_BOOL, VARIANT_TRUE)};
    DBROWCOUNT affected = 0;
    ASSERT_EQ(executeWith(insert.get(), params, IID_NULL, nullptr, &affected), S_OK) << errorText();
    EXPECT_EQ(affected, 1);
    std::vector<Param> nulls = {nullOf(DBTYPE_I4), nullOf(DBTYPE_I8), nullOf(DBTYPE_R8), nullOf(DBTYPE_NUMERIC),
                                nullOf(DBTYPE_WSTR), nullOf(DBTYPE_BYTES), nullOf(DBTYPE_DBTIMESTAMP), nullOf(DBTYPE_BOOL)};
    ASSERT_EQ(executeWith(insert.get(), nulls, IID_NULL, nullptr), S_OK) << errorText();

    Rows rows;
    ASSERT_TRUE(selectAll(session.get(), "SELECT * FROM param_values ORDER BY i DESC", rows));
    ASSERT_EQ(rows.size(), 2u);
    const auto &v = rows[0];
    EXPECT_EQ(v[0].as<int32_t>(), -42);
    EXPECT_EQ(v[1].as<int64_t>(), 1LL << 40);
    EXPECT_EQ(v[2].as<double>(), 0.125);
    const auto back = v[3].as<DB_NUMERIC>();
    EXPECT_EQ(back.sign, 0);
    EXPECT_EQ(back.val[0], 0x39);
    EXPECT_EQ(back.val[1], 0x30);
    EXPECT_EQ(v[4].text(), "naïve ☃");
    EXPECT_EQ(v[5].bytes, std::string("\x01\x00\x02", 3));
    EXPECT_EQ(fields(v[6].as<DBTIMESTAMP>()), fields(ts));
    EXPECT_EQ(v[7].as<int16_t>(), VARIANT_TRUE);
    for (size_t c = 0; c < rows[1].size(); ++c)
        EXPECT_TRUE(rows[1][c].isNull()) << "column " << c;
}

TEST_F(Parameters, ParametersTheServerCannotDescribeAreUnavailableWithItsReason)
{
    auto select = createCommand(session.get(), u"SELECT ? WHERE 'unclosed");
    ASSERT_TRUE(select);
    ParameterInfo info;
    EXPECT_EQ(describe(select.get(), info), DB_E_PARAMUNAVAILABLE);
    const std::string text = errorText();
    EXPECT_NE(text.find("could not describe parameter 1 of 1 of the statement \"SELECT ? WHERE 'unclosed\""),
              std::string::npos) << text;
    EXPECT_NE(text.find("Unclosed quotation mark"), std::string::npos) << text;
    // Executing with a long value, which needs the description, fails the same way.
    std::vector<Param> values = {stream(nullptr, 0)};
    EXPECT_EQ(executeWith(select.get(), values, IID_NULL, nullptr), DB_E_PARAMUNAVAILABLE);
}

TEST_F(Parameters, ADescriptionWithoutARowForAMarkerIsNoDescription)
{
    TestServer shortDescriptions("127.0.0.29", {"--refuse-descriptions", "short"});
    ASSERT_TRUE(shortDescriptions.running());
    Login login = loginAt("127.0.0.29");
    auto shortSession = openSession(login);
    ASSERT_TRUE(shortSession) << errorText();
    auto select = createCommand(shortSession.get(), u"SELECT ? + 1, ? + 2");
    ASSERT_TRUE(select);
    ParameterInfo info;
    EXPECT_EQ(describe(select.get(), info), DB_E_PARAMUNAVAILABLE);
    EXPECT_TRUE(info.params.empty());
    const std::string text = errorText();
    EXPECT_NE(text.find("parameter 2 of 2"), std::string::npos) << text;
    EXPECT_NE(text.find("no type for it"), std::string::npos) << text;
}

TEST_F(Parameters, TimeDateGuidMoneyAndNarrowTextRoundTrip)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE param_more (t TIME, d DATE, g UNIQUEIDENTIFIER, m MONEY, s SMALLINT, "
                                 "vc VARCHAR(10))"),
              S_OK)
        << errorText();
    auto insert = createCommand(session.get(), u"INSERT INTO param_more VALUES (?, ?, ?, ?, ?, ?)");
    ParameterInfo info;
    ASSERT_EQ(describe(insert.get(), info), S_OK) << errorText();
    ASSERT_EQ(info.types(),
              (std::vector<DBTYPE>{DBTYPE_DBTIME, DBTYPE_DBDATE, DBTYPE_GUID, DBTYPE_CY, DBTYPE_I2, DBTYPE_STR}));
    EXPECT_EQ(info.params[5].ulParamSize, 10u);

    const DBTIME time{13, 14, 15};
    const DBDATE date{1969, 7, 20};
    const GUID guid = {0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
    CY money;
    money.int64 = -1234567; // -123.4567
    Param narrow;
    narrow.type = DBTYPE_STR;
    narrow.value = std::string("caf\xE9", 4) + '\0'; // Latin-1, as the plug-in sends QString::toLatin1()
    narrow.length = 4;
    std::vector<Param> params = {fixed(DBTYPE_DBTIME, time), fixed(DBTYPE_DBDATE, date), fixed(DBTYPE_GUID, guid),
                                 fixed(DBTYPE_CY, money), fixed<int16_t>(DBTYPE_I2, -300), narrow};
    ASSERT_EQ(executeWith(insert.get(), params, IID_NULL, nullptr), S_OK) << errorText();

    Rows rows;
    ASSERT_TRUE(selectAll(session.get(), "SELECT t, d, g, m, s, vc FROM param_more", rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(fields(rows[0][0].as<DBTIME>()), fields(time));
    EXPECT_EQ(fields(rows[0][1].as<DBDATE>()), fields(date));
    EXPECT_TRUE(rows[0][2].as<GUID>() == guid);
    EXPECT_EQ(rows[0][3].as<int64_t>(), -1234567);
    EXPECT_EQ(rows[0][4].as<int16_t>(), -300);
    EXPECT_EQ(rows[0][5].text(), "caf\xC3\xA9") << "narrow text comes back as UTF-8";
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
    auto shared = rz::ComPtr<ISequentialStream>::adopt(new MemoryStream(textBytes + binary));
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

TEST_F(Commands, AffectedRowsAndTheServersErrorMessages)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE counted (n INT)"), S_OK) << errorText();
    DBROWCOUNT affected = 0;
    ASSERT_EQ(run(session.get(), "INSERT INTO counted VALUES (1), (2), (3)", &affected), S_OK) << errorText();
    EXPECT_EQ(affected, 3);
    ASSERT_EQ(run(session.get(), "UPDATE counted SET n = n + 10 WHERE n >= 2", &affected), S_OK) << errorText();
    EXPECT_EQ(affected, 2);
    ASSERT_EQ(run(session.get(), "DELETE FROM counted WHERE n > 100", &affected), S_OK) << errorText();
    EXPECT_EQ(affected, 0);

    rz::ComPtr<IRowset> rowset;
    EXPECT_EQ(query(session.get(), "SELECT * FROM no_such_table", rowset), DB_E_ERRORSINCOMMAND);
    EXPECT_EQ(errorText(), "Invalid object name 'no_such_table'.");
    EXPECT_FALSE(rowset);

    rz::ComPtr<ISupportErrorInfo> support;
    auto command = createCommand(session.get(), u"SELECT 1");
    ASSERT_EQ(command.query(IID_ISupportErrorInfo, support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ICommand), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IRowset), S_FALSE);
}

TEST_F(Commands, MultipleResultsAreWalkedInOrder)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE multi (n INT)"), S_OK) << errorText();
    auto command = createCommand(session.get(), u"SELECT 1 AS a; INSERT INTO multi VALUES (5), (6); SELECT n FROM multi ORDER BY n");
    rz::ComPtr<IMultipleResults> results;
    ASSERT_EQ(command->Execute(nullptr, IID_IMultipleResults, nullptr, nullptr, results.putUnknown()), S_OK) << errorText();
    ASSERT_TRUE(results);

    DBROWCOUNT affected = 0;
    rz::ComPtr<IRowset> first;
    ASSERT_EQ(results->GetResult(nullptr, 0, IID_IRowset, &affected, first.putUnknown()), S_OK) << errorText();
    ASSERT_TRUE(first);
    RowReader firstReader(first.get());
    Rows rows;
    // The first rowset is left unread: moving on keeps its row for it.
    // The INSERT's count may come as a result of its own, depending on the ODBC driver.
    rz::ComPtr<IRowset> later;
    for (int guard = 0; guard < 3 && !later; ++guard) {
        ASSERT_EQ(results->GetResult(nullptr, 0, IID_IRowset, &affected, later.putUnknown()), S_OK) << errorText();
        if (!later) {
            EXPECT_EQ(affected, 2) << "a result without rows carries the INSERT's count";
        }
    }
    ASSERT_TRUE(later);
    ASSERT_TRUE(readAll(later.get(), rows));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0].as<int32_t>(), 5);
    EXPECT_EQ(rows[1][0].as<int32_t>(), 6);
    // Only the first result can be run again to start over.
    EXPECT_EQ(later->RestartPosition(DB_NULL_HCHAPTER), DB_E_CANNOTRESTART);
    EXPECT_EQ(errorText(), "The rowset cannot be restarted.");
    rz::ComPtr<IRowset> none;
    EXPECT_EQ(results->GetResult(nullptr, 0, IID_IRowset, &affected, none.putUnknown()), DB_S_NORESULT);
    EXPECT_FALSE(none);

    rows.clear();
    ASSERT_EQ(firstReader.all(rows), S_OK);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].as<int32_t>(), 1);
}

TEST_F(Commands, SecondStatementRunsWhileFirstRowsetIsStillOpen)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE open_rows (n INT)"), S_OK) << errorText();
    std::string sql = "INSERT INTO open_rows VALUES (0)";
    for (int i = 1; i < 700; ++i)
        sql += ", (" + std::to_string(i) + ")";
    ASSERT_EQ(run(session.get(), sql), S_OK) << errorText();

    rz::ComPtr<IRowset> outer;
    ASSERT_EQ(query(session.get(), "SELECT n FROM open_rows ORDER BY n", outer), S_OK) << errorText();
    RowReader outerReader(outer.get());
    Rows outerRows;
    ASSERT_EQ(outerReader.next(outerRows, 3), S_OK);

    DBROWCOUNT affected = 0;
    ASSERT_EQ(run(session.get(), "UPDATE open_rows SET n = n + 1000 WHERE n = 699", &affected), S_OK) << errorText();
    EXPECT_EQ(affected, 1);
    Rows innerRows;
    ASSERT_TRUE(selectAll(session.get(), "SELECT COUNT(*) FROM open_rows", innerRows));
    EXPECT_EQ(innerRows.at(0).at(0).as<int32_t>(), 700);

    ASSERT_EQ(outerReader.all(outerRows), S_OK) << errorText();
    ASSERT_EQ(outerRows.size(), 700u);
    EXPECT_EQ(outerRows.back()[0].as<int32_t>(), 699) << "the open rowset keeps the rows it was running over";
}

TEST_F(Transactions, AbortUndoesCommitKeepsAndNoneActiveIsAnError)
{
    ASSERT_EQ(run(session.get(), "CREATE TABLE tx_rows (n INT)"), S_OK) << errorText();
    rz::ComPtr<ITransactionLocal> tx;
    ASSERT_EQ(session.query(IID_ITransactionLocal, tx), S_OK);

    EXPECT_EQ(tx->Commit(FALSE, XACTTC_SYNC, 0), XACT_E_NOTRANSACTION);
    EXPECT_FALSE(errorText().empty());

    ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK) << errorText();
    EXPECT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), XACT_E_XTIONEXISTS);
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

TEST(Connection, DroppedByTheServerGivesErrorsNotCrashes)
{
    TestServer dropping("127.0.0.24", {"--drop-after-rows", "10"});
    ASSERT_TRUE(dropping.running());
    Login login = loginAt("127.0.0.24");
    auto session = openSession(login);
    ASSERT_TRUE(session) << errorText();
    ASSERT_EQ(run(session.get(), "CREATE TABLE dropped (n INT)"), S_OK) << errorText();
    std::string sql = "INSERT INTO dropped VALUES (0)";
    for (int i = 1; i < 50; ++i)
        sql += ", (" + std::to_string(i) + ")";
    ASSERT_EQ(run(session.get(), sql), S_OK) << errorText();
    rz::ComPtr<IRowset> rowset;
    const HRESULT executed = query(session.get(), "SELECT n FROM dropped", rowset);
    if (SUCCEEDED(executed)) {
        RowReader reader(rowset.get());
        Rows rows;
        const HRESULT hr = reader.all(rows);
        EXPECT_TRUE(FAILED(hr)) << "rows read: " << rows.size();
        EXPECT_LE(rows.size(), 10u);
    }
    EXPECT_FALSE(errorText().empty());
    // Everything after the drop fails cleanly.
    EXPECT_TRUE(FAILED(run(session.get(), "SELECT 1")));
    EXPECT_FALSE(errorText().empty());
    rz::ComPtr<ITransactionLocal> tx;
    ASSERT_EQ(session.query(IID_ITransactionLocal, tx), S_OK);
    EXPECT_TRUE(FAILED(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr)));
}

TEST(Connection, ACommitTheServerNeverAnswersFailsAsACommit)
{
    TestServer dropping("127.0.0.23", {"--drop-during-commit"});
    ASSERT_TRUE(dropping.running());
    Login login = loginAt("127.0.0.23");
    auto session = openSession(login);
    ASSERT_TRUE(session) << errorText();
    rz::ComPtr<ITransactionLocal> tx;
    ASSERT_EQ(session.query(IID_ITransactionLocal, tx), S_OK);
    ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK) << errorText();
    ASSERT_EQ(run(session.get(), "CREATE TABLE never_committed (n INT)"), S_OK) << errorText();
    EXPECT_EQ(tx->Commit(FALSE, XACTTC_SYNC, 0), XACT_E_COMMITFAILED);
    EXPECT_FALSE(errorText().empty());
    EXPECT_TRUE(FAILED(run(session.get(), "SELECT 1"))) << "the connection is gone";
}

TEST_F(Commands, ACommandWithoutTextNeitherRunsNorPreparesNorDescribesItsParameters)
{
    rz::ComPtr<IDBCreateCommand> create;
    ASSERT_EQ(session.query(IID_IDBCreateCommand, create), S_OK);
    rz::ComPtr<ICommandText> command;
    ASSERT_EQ(create->CreateCommand(nullptr, IID_ICommandText, command.putUnknown()), S_OK);

    DBROWCOUNT affected = 0;
    rz::ComPtr<IUnknown> rowset;
    EXPECT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, &affected, rowset.put()), DB_E_NOCOMMAND);
    EXPECT_EQ(errorText(), "The command has no text.");
    rz::ComPtr<ICommandPrepare> prepare;
    ASSERT_EQ(command.query(IID_ICommandPrepare, prepare), S_OK);
    EXPECT_EQ(prepare->Prepare(0), DB_E_NOCOMMAND);
    rz::ComPtr<ICommandWithParameters> parameters;
    ASSERT_EQ(command.query(IID_ICommandWithParameters, parameters), S_OK);
    DB_UPARAMS count = 7;
    DBPARAMINFO *info = nullptr;
    EXPECT_EQ(parameters->GetParameterInfo(&count, &info, nullptr), DB_E_NOCOMMAND);
    EXPECT_EQ(count, 0u);
}

TEST_F(Commands, CommandTimeoutStopsAStatementTheServerSitsOn)
{
    TestServer slow("127.0.0.25", {"--delay-ms", "3000"});
    ASSERT_TRUE(slow.running());
    Login login = loginAt("127.0.0.25");
    login.loginTimeout = 15;
    auto slowSession = openSession(login);
    ASSERT_TRUE(slowSession) << errorText();
    auto command = createCommand(slowSession.get(), u"SELECT 1");
    ASSERT_TRUE(command);
    DBPROP timeout = i4Property(DBPROP_COMMANDTIMEOUT, 1);
    DBPROPSET set{&timeout, 1, DBPROPSET_ROWSET};
    rz::ComPtr<ICommandProperties> properties;
    ASSERT_EQ(command.query(IID_ICommandProperties, properties), S_OK);
    ASSERT_EQ(properties->SetProperties(1, &set), S_OK);
    const auto start = std::chrono::steady_clock::now();
    rz::ComPtr<IRowset> rowset;
    const HRESULT hr = command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.putUnknown());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(FAILED(hr));
    EXPECT_LT(seconds, 2.5) << seconds << " s: the time-out, not the server's delay, ends the wait";
    EXPECT_FALSE(errorText().empty());

    // The cancelled statement leaves nothing behind: the next one gets its own answer.
    // (FreeTDS's ODBC driver gives up the connection after a time-out instead.)
    if (!testingTdsBackend())
        return;
    Rows rows;
    ASSERT_TRUE(selectAll(slowSession.get(), "SELECT 2 AS two", rows)) << errorText();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].as<int32_t>(), 2);
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
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].as<int32_t>(), 5);
    auto bound = createCommand(impatient.get(), u"WAITFOR DELAY '00:00:01.500'; SELECT 10 + ?");
    ASSERT_TRUE(bound);
    std::vector<Param> values = {fixed<int32_t>(DBTYPE_I4, 6)};
    rz::ComPtr<IRowset> rowset;
    ASSERT_EQ(executeWith(bound.get(), values, IID_IRowset, rowset.putUnknown()), S_OK) << errorText();
    rows.clear();
    ASSERT_TRUE(readAll(rowset.get(), rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].as<int32_t>(), 16);
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
    rows.clear();
    ASSERT_TRUE(selectAll(impatient.get(), "SELECT 2 AS two", rows)) << errorText();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].as<int32_t>(), 2);
}

// A server that answers every request 3 s late: the general time-out (1 s)
// ends opening a table by name and the begin of a transaction, both requests
// of the session; had it not held, the server's late answers would have come.
TEST_F(Commands, TheGeneralTimeOutBoundsOpeningATableAndBeginningATransaction)
{
    TestServer late("127.0.0.29", {"--delay-ms", "3000"});
    ASSERT_TRUE(late.running());
    Login login = loginAt("127.0.0.29");
    login.loginTimeout = 15;
    login.generalTimeout = 1;

    auto tableSession = openSession(login);
    ASSERT_TRUE(tableSession) << errorText();
    DBID table{};
    table.eKind = DBKIND_NAME;
    std::u16string name = u"param_values";
    table.uName.pwszName = name.data();
    rz::ComPtr<IRowset> opened;
    EXPECT_TRUE(FAILED(tableSession->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr,
                                                opened.putUnknown())));
    std::string text = errorText();
    EXPECT_NE(text.find("timeout expired"), std::string::npos) << text;

    auto transactionSession = openSession(login);
    ASSERT_TRUE(transactionSession) << errorText();
    rz::ComPtr<ITransactionLocal> tx;
    ASSERT_EQ(transactionSession.query(IID_ITransactionLocal, tx), S_OK);
    EXPECT_TRUE(FAILED(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr)));
    text = errorText();
    EXPECT_NE(text.find("imeout"), std::string::npos) << text;
}
