#pragma once
// A driver whose private data holds a scripted session, and QSqlQuery
// objects over REzuVEDOVResult on it: statements and rows end to end
// through the Qt API, against scripted commands and rowsets.

#include "scriptedcommand.h"
#include "scriptedprovider.h"

#include "driver/rezuvedovdriver.h"
#include "driver/rezuvedovdriver_p.h"
#include "platform/com/comptr.h"
#include "result/rezuvedovresult.h"

#include <QtSql/QSqlQuery>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace rztest {

class OpenDriver : public REzuVEDOVDriver
{
public:
    OpenDriver() { setOpen(true); }
    using QSqlDriver::setOpen;
};

// The result with the QSqlResult calls that QSqlQuery filters reachable.
class TestResult : public REzuVEDOVResult
{
public:
    using REzuVEDOVResult::REzuVEDOVResult;
    using REzuVEDOVResult::numRowsAffected;
    using REzuVEDOVResult::size;
    using REzuVEDOVResult::data;
    using REzuVEDOVResult::isNull;
    using REzuVEDOVResult::fetch;
    using REzuVEDOVResult::prepare;
    using REzuVEDOVResult::fetchNext;
    using REzuVEDOVResult::at;
};

class ResultTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        rz::ComPtr<IDBCreateSession> dataSource;
        ASSERT_EQ(createScriptedDataSource(provider, IID_IDBCreateSession, dataSource.putVoid()), S_OK);
        ASSERT_EQ(dataSource->CreateSession(nullptr, IID_IOpenRowset, connection.session.putUnknown()), S_OK);
        commands.rowset().columns = {{"id", DBTYPE_I4, 4}};
    }
    void TearDown() override
    {
        connection.session.reset();
        // Nothing of a statement outlives its query.
        EXPECT_EQ(log().liveCommands, 0);
        EXPECT_EQ(log().liveRowsets, 0);
        EXPECT_EQ(log().liveStreams, 0);
        EXPECT_EQ(log().liveRows, 0);
    }

    // The query owns the result; `result` stays valid as long as it lives.
    QSqlQuery query()
    {
        result = new TestResult(&driver, &connection);
        return QSqlQuery(result);
    }
    StatementLog &log() { return commands.log(); }
    CommandScript &command() { return commands.script; }
    RowsetScript &rowset() { return commands.rowset(); }

    ScriptedProvider provider{"MSOLEDBSQL19"};
    ScriptedCommands commands{provider};
    OpenDriver driver;
    REzuVEDOVDriverPrivate connection;
    TestResult *result = nullptr;
};

template <class T>
T bytesAt(const std::string &buffer, DBBYTEOFFSET offset)
{
    T value{};
    if (offset + sizeof value <= buffer.size())
        std::memcpy(&value, buffer.data() + offset, sizeof value);
    return value;
}

} // namespace rztest
