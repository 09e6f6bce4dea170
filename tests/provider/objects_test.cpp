// The OLE DB objects on a backend that answers from a script: rows in
// blocks, results walked and kept in memory, restarts, parameter
// descriptions, and failures at each step where a server can fail.

#include "memorybackend.h"
#include "oledbclient.h"

#include "provider/objects/datasource.h"

#include <gtest/gtest.h>

#include <cstddef>

using namespace providertest;

namespace {

const std::u16string kNumbers = u"SELECT n, note FROM numbers";
const std::u16string kDivided = u"SELECT 1 / (5 - n), note FROM numbers"; // five rows, then the error

// Rows n = first .. first + count - 1, each with a long note "note n".
MemoryResult numbers(int count, int first = 0)
{
    MemoryResult result;
    result.columns = {memoryColumn(u"n", u"int"), memoryColumn(u"note", u"nvarchar", -1)};
    for (int n = first; n < first + count; ++n)
        result.rows.push_back({bytesOf<int32_t>(n), utf16Value(u"note " + u16(std::to_string(n)))});
    return result;
}

MemoryResult affected(int64_t rows)
{
    MemoryResult result;
    result.affectedRows = rows;
    return result;
}

MemoryResult failure(std::u16string message, int32_t number, std::u16string state = u"42000")
{
    MemoryResult result;
    result.failure = {{std::move(state), number, std::move(message)}};
    return result;
}

class Memory : public ::testing::Test {
protected:
    void SetUp() override
    {
        script->answers[kNumbers] = {numbers(20)};
        script->answers[kDivided] = {numbers(5)};
        script->answers[kDivided][0].failure = {{u"22012", 8134, u"Divide by zero error encountered."}};
        login.host = "memory";
        session = openSession(dataSource().get(), login);
        ASSERT_TRUE(session) << errorText();
    }

    rz::ComPtr<IDBInitialize> dataSource()
    {
        rz::ComPtr<IDBInitialize> source;
        EXPECT_EQ(rz::provider::createDataSource(makeMemoryBackend(script), nullptr, IID_IDBInitialize,
                                                 source.putVoid()),
                  S_OK);
        return source;
    }

    rz::ComPtr<IRowset> rowsetOf(const std::u16string &sql, HRESULT expected = S_OK)
    {
        rz::ComPtr<IRowset> rowset;
        auto command = createCommand(session.get(), sql);
        EXPECT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.putUnknown()), expected)
            << errorText();
        return rowset;
    }

    std::shared_ptr<MemoryScript> script = std::make_shared<MemoryScript>();
    Login login;
    rz::ComPtr<IOpenRowset> session;
};

using MemoryRowset = Memory;
using MemoryResults = Memory;
using MemoryParameters = Memory;
using MemoryFailures = Memory;
using MemoryCommands = Memory;

// n and the long note of a row, read through one accessor.
struct NumberRow {
    int32_t n;
    char16_t note[20];
};

} // namespace

TEST_F(MemoryRowset, RowsCrossBlocksInOrderAndHeldRowsOutliveTheirBlocks)
{
    rz::ComPtr<IRowset> rowset = rowsetOf(kNumbers);
    ASSERT_TRUE(rowset);
    rz::ComPtr<IAccessor> accessor;
    ASSERT_EQ(rowset.query(IID_IAccessor, accessor), S_OK);
    DBBINDING b[2] = {};
    b[0].iOrdinal = 1;
    b[0].wType = DBTYPE_I4;
    b[0].cbMaxLen = 4;
    b[1].iOrdinal = 2;
    b[1].wType = DBTYPE_WSTR;
    b[1].cbMaxLen = sizeof NumberRow::note;
    b[1].obValue = offsetof(NumberRow, note);
    b[0].dwPart = b[1].dwPart = DBPART_VALUE;
    HACCESSOR handle = 0;
    ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 2, b, sizeof(NumberRow), &handle, nullptr), S_OK);

    // Blocks hold three rows: the held row's block is long gone from the stream.
    HROW first = 0;
    HROW *firstArray = &first;
    DBCOUNTITEM got = 0;
    ASSERT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 2, 1, &got, &firstArray), S_OK) << "skips two rows";
    HROW *rest = nullptr;
    ASSERT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 10, &got, &rest), S_OK);
    ASSERT_EQ(got, 10u);
    NumberRow row{};
    ASSERT_EQ(rowset->GetData(first, handle, &row), S_OK);
    EXPECT_EQ(row.n, 2);
    EXPECT_EQ(std::u16string(row.note), u"note 2");
    ASSERT_EQ(rowset->GetData(rest[9], handle, &row), S_OK);
    EXPECT_EQ(row.n, 12);
    EXPECT_EQ(std::u16string(row.note), u"note 12");
    EXPECT_EQ(rowset->ReleaseRows(10, rest, nullptr, nullptr, nullptr), S_OK);
    CoTaskMemFree(rest);
    EXPECT_EQ(rowset->RestartPosition(DB_NULL_HCHAPTER), DB_E_ROWSNOTRELEASED) << "a row is still held";
    EXPECT_EQ(rowset->ReleaseRows(1, &first, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(rowset->GetData(first, handle, &row), DB_E_BADROWHANDLE);
    accessor->ReleaseAccessor(handle, nullptr);

    RowReader reader(rowset.get());
    Rows rows;
    EXPECT_EQ(reader.next(rows, 1), S_OK);
    EXPECT_EQ(reader.all(rows), S_OK);
    ASSERT_EQ(rows.size(), 7u);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(rows[size_t(i)][0].as<int32_t>(), 13 + i);
    EXPECT_EQ(reader.next(rows, 1), DB_S_ENDOFROWSET);
    EXPECT_EQ(script->runs(kNumbers), 1u);
}

TEST_F(MemoryRowset, RestartRunsTheStatementAgainWithItsParametersWhileItGivesTheSameColumns)
{
    const std::u16string sql = u"SELECT n, note FROM numbers WHERE n < ?";
    script->answers[sql] = {numbers(3)};
    auto command = createCommand(session.get(), sql);
    std::vector<Param> values = {fixed<int32_t>(DBTYPE_I4, 3)};
    rz::ComPtr<IRowset> rowset;
    ASSERT_EQ(executeWith(command.get(), values, IID_IRowset, rowset.putUnknown()), S_OK) << errorText();
    EXPECT_EQ(rowset->RestartPosition(DB_NULL_HCHAPTER), S_OK);
    EXPECT_EQ(script->runs(sql), 1u) << "nothing fetched yet: nothing to run again";

    RowReader reader(rowset.get());
    Rows rows;
    EXPECT_EQ(reader.next(rows, 2), S_OK);
    DBCOUNTITEM got = 0;
    HROW *handles = nullptr;
    EXPECT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, -2, 1, &got, &handles), DB_E_CANTSCROLLBACKWARDS);
    EXPECT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, -1, &got, &handles), DB_E_CANTFETCHBACKWARDS);
    EXPECT_EQ(rowset->RestartPosition(DB_NULL_HCHAPTER), DB_S_COMMANDREEXECUTED);
    ASSERT_EQ(script->runs(sql), 2u);
    const auto &again = script->executions.back().parameters;
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].type, DBTYPE_I4);
    EXPECT_EQ(again[0].bytes, *bytesOf<int32_t>(3));
    rows.clear();
    EXPECT_EQ(reader.all(rows), S_OK);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0].as<int32_t>(), 0);

    script->answers[sql] = {failure(u"Invalid object name 'numbers'.", 208)};
    EXPECT_EQ(rowset->RestartPosition(DB_NULL_HCHAPTER), DB_E_ERRORSINCOMMAND);
    EXPECT_EQ(errorText(), "Invalid object name 'numbers'.");
    script->answers[sql] = {MemoryResult{{memoryColumn(u"n", u"int")}, {}, -1, {}}};
    EXPECT_EQ(rowset->RestartPosition(DB_NULL_HCHAPTER), DB_E_CANNOTRESTART);
    EXPECT_EQ(errorText(), "The statement no longer gives the same columns.");
}

TEST_F(MemoryRowset, AccessorsRefuseWhatNoColumnCanFillAndValuesThatDoNotFitAreMarked)
{
    script->answers[u"SELECT 300, 'hello world'"] = {
        MemoryResult{{memoryColumn(u"n", u"int"), memoryColumn(u"word", u"varchar", 11)},
                     {{bytesOf<int32_t>(300), std::string("hello world")}}, -1, {}}};
    rz::ComPtr<IRowset> rowset = rowsetOf(u"SELECT 300, 'hello world'");
    rz::ComPtr<IAccessor> accessor;
    ASSERT_EQ(rowset.query(IID_IAccessor, accessor), S_OK);
    struct Buffer {
        uint8_t small;
        int32_t number;
        char text[6];
        char16_t digits[8];
        DBSTATUS status[4];
        DBLENGTH length[4];
    } buffer{};
    const DBORDINAL ordinals[4] = {1, 2, 2, 1};
    const DBTYPE types[4] = {DBTYPE_UI1, DBTYPE_I4, DBTYPE_STR, DBTYPE_WSTR};
    const size_t offsets[4] = {offsetof(Buffer, small), offsetof(Buffer, number), offsetof(Buffer, text),
                               offsetof(Buffer, digits)};
    const DBLENGTH sizes[4] = {1, 4, sizeof buffer.text, sizeof buffer.digits};
    DBBINDING b[4] = {};
    for (size_t i = 0; i < 4; ++i) {
        b[i].iOrdinal = ordinals[i];
        b[i].wType = types[i];
        b[i].cbMaxLen = sizes[i];
        b[i].obValue = offsets[i];
        b[i].obStatus = offsetof(Buffer, status) + sizeof(DBSTATUS) * i;
        b[i].obLength = offsetof(Buffer, length) + sizeof(DBLENGTH) * i;
        b[i].dwPart = DBPART_VALUE | DBPART_STATUS | DBPART_LENGTH;
    }
    DBBINDING refused[2] = {b[0], b[1]};
    refused[0].wType = DBTYPE_GUID;
    refused[1].iOrdinal = 3;
    DBBINDSTATUS status[2] = {};
    HACCESSOR handle = 0;
    EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 2, refused, sizeof buffer, &handle, status),
              DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status[0], DBBINDSTATUS_UNSUPPORTEDCONVERSION);
    EXPECT_EQ(status[1], DBBINDSTATUS_BADORDINAL);
    EXPECT_EQ(handle, 0u);

    ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 4, b, sizeof buffer, &handle, nullptr), S_OK);
    HROW row = 0;
    HROW *rows = &row;
    DBCOUNTITEM got = 0;
    ASSERT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &got, &rows), S_OK);
    EXPECT_EQ(rowset->GetData(row, handle, &buffer), DB_S_ERRORSOCCURRED) << "the texts still arrived";
    EXPECT_EQ(buffer.status[0], DBSTATUS_E_DATAOVERFLOW);
    EXPECT_EQ(buffer.status[1], DBSTATUS_E_CANTCONVERTVALUE);
    EXPECT_EQ(buffer.status[2], DBSTATUS_S_TRUNCATED);
    EXPECT_EQ(std::string(buffer.text), "hello") << "cut to the binding, terminated";
    EXPECT_EQ(buffer.length[2], 11u) << "the length part keeps the whole length";
    EXPECT_EQ(std::u16string(buffer.digits), u"300") << "an integer read as text";
    EXPECT_FALSE(errorText().empty());
    rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
    accessor->ReleaseAccessor(handle, nullptr);
}

TEST_F(MemoryResults, WalkedInOrderWhileEarlierRowsetsKeepTheirRows)
{
    const std::u16string batch = u"SELECT ...; INSERT ...; SELECT ...";
    script->answers[batch] = {numbers(5), affected(2), numbers(4, 100)};
    auto command = createCommand(session.get(), batch);
    rz::ComPtr<IMultipleResults> results;
    ASSERT_EQ(command->Execute(nullptr, IID_IMultipleResults, nullptr, nullptr, results.putUnknown()), S_OK);
    DBROWCOUNT count = 0;
    rz::ComPtr<IRowset> first, none, later, end;
    ASSERT_EQ(results->GetResult(nullptr, 0, IID_IRowset, &count, first.putUnknown()), S_OK) << errorText();
    RowReader firstReader(first.get());
    Rows firstRows, laterRows;
    ASSERT_EQ(firstReader.next(firstRows, 1), S_OK) << "one row read, two more in its block, two on the wire";

    ASSERT_EQ(results->GetResult(nullptr, 0, IID_IRowset, &count, none.putUnknown()), S_OK) << errorText();
    EXPECT_FALSE(none);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(results->GetResult(nullptr, 0, IID_IRowset, &count, later.putUnknown()), S_OK) << errorText();
    RowReader laterReader(later.get());
    ASSERT_EQ(laterReader.all(laterRows), S_OK);
    ASSERT_EQ(laterRows.size(), 4u);
    EXPECT_EQ(laterRows[0][0].as<int32_t>(), 100);
    EXPECT_EQ(later->RestartPosition(DB_NULL_HCHAPTER), DB_E_CANNOTRESTART) << "only the first result runs again";
    EXPECT_EQ(results->GetResult(nullptr, 0, IID_IRowset, &count, end.putUnknown()), DB_S_NORESULT);

    ASSERT_EQ(firstReader.all(firstRows), S_OK);
    ASSERT_EQ(firstRows.size(), 5u);
    for (int n = 0; n < 5; ++n)
        EXPECT_EQ(firstRows[size_t(n)][1].bytes, *utf16Value(u"note " + u16(std::to_string(n))));
    EXPECT_EQ(script->runs(batch), 1u);
}

TEST_F(MemoryResults, ASecondStatementLeavesTheOpenRowsetItsRowsAndItsFailure)
{
    script->answers[u"UPDATE numbers"] = {affected(1)};
    rz::ComPtr<IRowset> open = rowsetOf(kNumbers);
    RowReader openReader(open.get());
    Rows openRows;
    ASSERT_EQ(openReader.next(openRows, 4), S_OK);
    DBROWCOUNT count = 0;
    ASSERT_EQ(run(session.get(), "UPDATE numbers", &count), S_OK) << errorText();
    EXPECT_EQ(count, 1);
    ASSERT_EQ(openReader.all(openRows), S_OK);
    ASSERT_EQ(openRows.size(), 20u);
    EXPECT_EQ(openRows.back()[0].as<int32_t>(), 19);

    // Reading ahead meets the failure: it is the rowset's, reported after its rows.
    rz::ComPtr<IRowset> doomed = rowsetOf(kDivided);
    RowReader doomedReader(doomed.get());
    Rows doomedRows;
    ASSERT_EQ(doomedReader.next(doomedRows, 1), S_OK);
    ASSERT_EQ(run(session.get(), "UPDATE numbers"), S_OK) << errorText();
    EXPECT_EQ(doomedReader.all(doomedRows), DB_E_ERRORSINCOMMAND);
    EXPECT_EQ(doomedRows.size(), 5u);
    EXPECT_EQ(errorText(), "Divide by zero error encountered.");
}

TEST_F(MemoryCommands, ACommandWithoutTextNeitherRunsNorPreparesNorDescribesItsParameters)
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

TEST_F(MemoryParameters, DescribedByTheServerInTheOrderOfTheirMarkers)
{
    const std::u16string request =
        u"EXEC sp_describe_undeclared_parameters N'UPDATE t SET a = @P1 WHERE b = @P2 -- ''?'''";
    MemoryResult description;
    // parameter_ordinal, name, suggested_system_type_id, suggested_system_type_name,
    // suggested_max_length, suggested_precision, suggested_scale
    for (const char16_t *type : {u"int", u"sysname", u"int", u"nvarchar", u"smallint", u"tinyint", u"tinyint"})
        description.columns.push_back(memoryColumn(u"", type, 256));
    auto row = [](int32_t ordinal, std::u16string_view name, int32_t id, std::u16string_view type, int16_t length,
                  uint8_t precision) {
        return std::vector<MemoryValue>{bytesOf(ordinal), utf16Value(name), bytesOf(id), utf16Value(type),
                                        bytesOf(length), bytesOf(precision), bytesOf(uint8_t(0))};
    };
    // The server may list them in any order.
    description.rows = {row(2, u"@P2", 231, u"nvarchar(40)", 80, 0), row(1, u"@P1", 106, u"decimal(9,0)", 5, 9)};
    script->answers[request] = {description};

    auto command = createCommand(session.get(), u"UPDATE t SET a = ? WHERE b = ? -- '?'");
    ParameterInfo info;
    ASSERT_EQ(describe(command.get(), info), S_OK) << errorText();
    EXPECT_EQ(info.types(), (std::vector<DBTYPE>{DBTYPE_NUMERIC, DBTYPE_WSTR}));
    EXPECT_EQ(info.params[0].bPrecision, 9);
    EXPECT_EQ(info.params[1].ulParamSize, 40u);
    EXPECT_EQ(u8(info.params[1].pwszName), "@P2");
    ParameterInfo again;
    ASSERT_EQ(describe(command.get(), again), S_OK);
    EXPECT_EQ(script->runs(request), 1u) << "a command asks once";

    description.rows.pop_back();
    script->answers[request] = {description};
    auto shortOne = createCommand(session.get(), u"UPDATE t SET a = ? WHERE b = ? -- '?'");
    ParameterInfo none;
    EXPECT_EQ(describe(shortOne.get(), none), DB_E_PARAMUNAVAILABLE);
    EXPECT_NE(errorText().find("parameter 1 of 2 of the statement \"UPDATE t SET a = ? WHERE b = ? -- '?'\": the "
                               "server's description has no type for it"),
              std::string::npos)
        << errorText();
}

TEST_F(MemoryParameters, AStatementTheServerCannotDescribeGivesItsReasonAndRunsNoLongValue)
{
    script->answers[u"EXEC sp_describe_undeclared_parameters N'SELECT @P1 WHERE ''unclosed'"] = {
        failure(u"Unclosed quotation mark after the character string 'unclosed'.", 105)};
    auto select = createCommand(session.get(), u"SELECT ? WHERE 'unclosed");
    ParameterInfo info;
    EXPECT_EQ(describe(select.get(), info), DB_E_PARAMUNAVAILABLE);
    EXPECT_EQ(errorText(), "The server could not describe parameter 1 of 1 of the statement \"SELECT ? WHERE "
                           "'unclosed\": Unclosed quotation mark after the character string 'unclosed'. Its type is "
                           "not guessed; give the marker a context the server can describe "
                           "(for example CAST(? AS int)).");
    std::vector<Param> values = {stream(nullptr, 0)};
    EXPECT_EQ(executeWith(select.get(), values, IID_NULL, nullptr), DB_E_PARAMUNAVAILABLE);
    EXPECT_EQ(script->runs(u"SELECT ? WHERE 'unclosed"), 0u);
}

TEST_F(MemoryFailures, AFetchFailingMidResultGivesTheRowsBeforeItThenTheError)
{
    rz::ComPtr<IRowset> rowset = rowsetOf(kDivided);
    RowReader reader(rowset.get());
    Rows rows;
    EXPECT_EQ(reader.all(rows), DB_E_ERRORSINCOMMAND);
    EXPECT_EQ(rows.size(), 5u);
    EXPECT_EQ(errorText(), "Divide by zero error encountered.");
    rz::ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(rowset.query(IID_ISupportErrorInfo, support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IRowset), S_OK);

    // The client cursor, which reads the rows in batches, meets the failure too.
    auto command = createCommand(session.get(), kDivided);
    DBPROP clientCursor = i4Property(DBPROP_CLIENTCURSOR, 0);
    clientCursor.vValue.vt = VT_BOOL;
    clientCursor.vValue.boolVal = VARIANT_TRUE;
    DBPROPSET set{&clientCursor, 1, DBPROPSET_ROWSET};
    rz::ComPtr<ICommandProperties> properties;
    ASSERT_EQ(command.query(IID_ICommandProperties, properties), S_OK);
    ASSERT_EQ(properties->SetProperties(1, &set), S_OK);
    rz::ComPtr<IRowset> cursor;
    EXPECT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, cursor.putUnknown()), DB_E_ERRORSINCOMMAND);
    EXPECT_EQ(errorText(), "Divide by zero error encountered.");
}

TEST_F(MemoryFailures, BatchesFailWhereTheServerSaysWithEveryMessage)
{
    script->answers[u"SELECT *"] = {MemoryResult{}};
    script->answers[u"SELECT *"][0].failure = {{u"42S02", 208, u"Invalid object name 't'."},
                                               {u"42000", 8180, u"Statement(s) could not be prepared."}};
    rz::ComPtr<IRowset> none = rowsetOf(u"SELECT *", DB_E_ERRORSINCOMMAND);
    EXPECT_FALSE(none);
    EXPECT_EQ(errorText(), "Invalid object name 't'. | Statement(s) could not be prepared.");
    script->answers[u"SELECT 2"] = {failure(u"Communication link failure", 0, u"08S01")};
    rowsetOf(u"SELECT 2", E_FAIL);

    // Without a rowset wanted the whole batch runs: its counts add up, and a failure fails it.
    script->answers[u"INSERT; INSERT"] = {affected(3), affected(4)};
    script->answers[u"INSERT; INSERT 0"] = {affected(3), failure(u"The INSERT conflicted.", 547)};
    DBROWCOUNT count = 0;
    EXPECT_EQ(run(session.get(), "INSERT; INSERT", &count), S_OK) << errorText();
    EXPECT_EQ(count, 7);
    EXPECT_EQ(run(session.get(), "INSERT; INSERT 0", &count), DB_E_ERRORSINCOMMAND);
    EXPECT_EQ(errorText(), "The INSERT conflicted.");

    // Walked one by one, the results after a failing one still come.
    script->answers[u"SELECT; SELECT 1 / 0; SELECT"] = {numbers(1), failure(u"Divide by zero.", 8134), numbers(1, 7)};
    auto command = createCommand(session.get(), u"SELECT; SELECT 1 / 0; SELECT");
    rz::ComPtr<IMultipleResults> results;
    ASSERT_EQ(command->Execute(nullptr, IID_IMultipleResults, nullptr, nullptr, results.putUnknown()), S_OK);
    rz::ComPtr<IRowset> first, failed, last;
    EXPECT_EQ(results->GetResult(nullptr, 0, IID_IRowset, nullptr, first.putUnknown()), S_OK);
    EXPECT_EQ(results->GetResult(nullptr, 0, IID_IRowset, nullptr, failed.putUnknown()), DB_E_ERRORSINCOMMAND);
    EXPECT_EQ(errorText(), "Divide by zero.");
    ASSERT_EQ(results->GetResult(nullptr, 0, IID_IRowset, nullptr, last.putUnknown()), S_OK);
    Rows rows;
    RowReader reader(last.get());
    ASSERT_EQ(reader.all(rows), S_OK);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].as<int32_t>(), 7);
}

TEST_F(MemoryFailures, LoginsThatFailGiveTheServersMessageFirst)
{
    auto source = dataSource();
    script->connectFailure = {{u"28000", 18456, u"Login failed for user 'sa'."},
                              {u"08001", 0, u"Unable to connect to data source"}};
    HRESULT hr = S_OK;
    EXPECT_FALSE(openSession(source.get(), login, &hr));
    EXPECT_EQ(hr, DB_SEC_E_AUTH_FAILED);
    EXPECT_EQ(errorText(), "Login failed for user 'sa'. | Unable to connect to data source");

    // The first session takes the login's connection; the next one logs in again.
    script->connectFailure.clear();
    auto other = dataSource();
    auto firstSession = openSession(other.get(), login);
    ASSERT_TRUE(firstSession);
    EXPECT_EQ(other->Initialize(), DB_E_ALREADYINITIALIZED);
    script->connectFailure = {{u"08001", 0, u"The server went away."}};
    rz::ComPtr<IDBCreateSession> create;
    ASSERT_EQ(other.query(IID_IDBCreateSession, create), S_OK);
    rz::ComPtr<IOpenRowset> second;
    EXPECT_EQ(create->CreateSession(nullptr, IID_IOpenRowset, second.putUnknown()), E_FAIL);
    EXPECT_EQ(errorText(), "The server went away.");
    EXPECT_EQ(other->Uninitialize(), DB_E_OBJECTOPEN) << "its first session is open";
    firstSession.reset();
    EXPECT_EQ(other->Uninitialize(), S_OK);
}

TEST_F(MemoryFailures, ATransactionTheServerCannotEndLeavesAutoCommit)
{
    rz::ComPtr<ITransactionLocal> tx;
    ASSERT_EQ(session.query(IID_ITransactionLocal, tx), S_OK);
    script->transactionFailure = {{u"08S01", 0, u"The connection broke."}};
    EXPECT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(errorText(), "The connection broke.");
    EXPECT_EQ(tx->Commit(FALSE, XACTTC_SYNC, 0), XACT_E_NOTRANSACTION) << "none began";

    script->transactionFailure.clear();
    ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK) << errorText();
    EXPECT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), XACT_E_XTIONEXISTS);
    script->transactionFailure = {{u"40001", 1205, u"Chosen as deadlock victim."}};
    EXPECT_EQ(tx->Commit(FALSE, XACTTC_SYNC, 0), XACT_E_COMMITFAILED);
    EXPECT_EQ(errorText(), "Chosen as deadlock victim.");
    EXPECT_EQ(tx->Abort(nullptr, FALSE, FALSE), XACT_E_NOTRANSACTION) << "back in auto-commit";

    script->transactionFailure.clear();
    ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK) << errorText();
    tx.reset();
    session.reset();
    EXPECT_EQ(script->executions.back().text, u"ROLLBACK") << "a session that goes rolls back what it began";
}
