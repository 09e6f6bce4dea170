// The "big query=" option: statements of that connection go to the provider
// without the default rowset properties, for the life of the driver object.

#include "loopbacklistener.h"
#include "platform/comobject.h"
#include "plugin/oledbmanager.h"
#include "scriptedprovider.h"

#include "driver/rezuvedovdriver.h"

#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlQuery>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using rztest::ScriptedProvider;

// What the commands of one connection were given through ICommandProperties.
struct CommandLog
{
    std::vector<GUID> propertySets;
    int statements = 0; // prepared ones
};

// Just enough of a command to take text, prepare, receive rowset properties
// and fail its execution.
class RecordingCommand final
    : public rz::ComObject<ICommandText, ICommandPrepare, ICommandProperties>
{
public:
    explicit RecordingCommand(std::shared_ptr<CommandLog> log) : log(std::move(log)) {}

    HRESULT Cancel() override { return S_OK; }
    HRESULT Execute(IUnknown *, REFIID, DBPARAMS *, DBROWCOUNT *rows, IUnknown **rowset) override
    {
        if (rows)
            *rows = 0;
        if (rowset)
            *rowset = nullptr;
        return DB_E_ERRORSINCOMMAND;
    }
    HRESULT GetDBSession(REFIID, IUnknown **session) override
    {
        *session = nullptr;
        return S_FALSE;
    }
    HRESULT GetCommandText(GUID *, LPOLESTR *text) override
    {
        *text = nullptr;
        return DB_E_NOCOMMAND;
    }
    HRESULT SetCommandText(REFGUID, LPCOLESTR) override { return S_OK; }
    HRESULT Prepare(ULONG) override
    {
        ++log->statements;
        return S_OK;
    }
    HRESULT Unprepare() override { return S_OK; }
    HRESULT GetProperties(ULONG, const DBPROPIDSET[], ULONG *count, DBPROPSET **sets) override
    {
        *count = 0;
        *sets = nullptr;
        return S_OK;
    }
    HRESULT SetProperties(ULONG count, DBPROPSET sets[]) override
    {
        for (ULONG i = 0; i < count; ++i)
            log->propertySets.push_back(sets[i].guidPropertySet);
        return S_OK;
    }

private:
    std::shared_ptr<CommandLog> log;
};

class BigQueryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OLEDBManager::instance()->setProviderName(QString());
        provider.script.onCreateCommand = [log = commands](IUnknown *, REFIID iid, IUnknown **out) {
            auto command = rz::ComPtr<ICommandText>::adopt(new RecordingCommand(log));
            return command->QueryInterface(iid, reinterpret_cast<void **>(out));
        };
    }

    // Runs one statement on a new connection with `options`.
    void runStatement(const QString &name, const QString &options)
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(new REzuVEDOVDriver, name);
            db.setHostName(QStringLiteral("127.0.0.80"));
            db.setConnectOptions(options);
            ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
            QSqlQuery query(db);
            query.exec(QStringLiteral("SELECT 1"));
            // The option outlives a reopening of the same connection.
            db.close();
            ASSERT_TRUE(db.open());
            QSqlQuery again(db);
            again.exec(QStringLiteral("SELECT 2"));
        }
        QSqlDatabase::removeDatabase(name);
    }

    rztest::LoopbackListener listener{"127.0.0.80"};
    ScriptedProvider provider{"SQLOLEDB"};
    std::shared_ptr<CommandLog> commands = std::make_shared<CommandLog>();
};

TEST_F(BigQueryTest, PlainConnectionsAskForTheRowsetProperties)
{
    runStatement(QStringLiteral("plain"), QString());
    ASSERT_EQ(commands->statements, 2);
    ASSERT_EQ(commands->propertySets.size(), 2u);
    EXPECT_TRUE(commands->propertySets[0] == DBPROPSET_ROWSET);
}

TEST_F(BigQueryTest, BigQueryInAnyCaseAndSpacingTurnsThemOff)
{
    int run = 0;
    for (const char *options : {"big query=1", "  BIG QUERY=  ", "failover partner=x; Big Query=no"}) {
        commands->propertySets.clear();
        commands->statements = 0;
        runStatement(QStringLiteral("big%1").arg(++run), QString::fromLatin1(options));
        EXPECT_EQ(commands->statements, 2) << options;
        EXPECT_TRUE(commands->propertySets.empty()) << options;
    }
}

} // namespace
