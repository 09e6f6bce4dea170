// Local transactions on the session: the calls and arguments the provider
// receives, and what every kind of failure reports.

#include "loopbacklistener.h"
#include "driver/oledbmanager.h"
#include "scriptedprovider.h"

#include "driver/rezuvedovdriver.h"

#include <gtest/gtest.h>

namespace {

using rztest::ScriptedProvider;

class TransactionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OLEDBManager::instance()->setProviderName(QString());
        ASSERT_TRUE(driver.open(QStringLiteral("db"), QStringLiteral("u"), QStringLiteral("p"),
                                QStringLiteral("127.0.0.89"), 1433, QString()));
        provider.log.calls.clear();
    }

    void expectTransactionError(const QString &text)
    {
        const QSqlError error = driver.lastError();
        EXPECT_EQ(error.type(), QSqlError::TransactionError);
        EXPECT_EQ(error.driverText(), QStringLiteral("MSSQL DB: "));
        EXPECT_EQ(error.databaseText(), text);
        EXPECT_TRUE(error.nativeErrorCode().isEmpty());
    }

    rztest::LoopbackListener listener{"127.0.0.89"};
    ScriptedProvider provider{"SQLOLEDB"};
    REzuVEDOVDriver driver;
};

TEST_F(TransactionTest, BeginCommitAndRollbackSendTheirArguments)
{
    EXPECT_TRUE(driver.beginTransaction());
    EXPECT_TRUE(driver.commitTransaction());
    EXPECT_TRUE(driver.beginTransaction());
    EXPECT_TRUE(driver.rollbackTransaction());
    EXPECT_EQ(provider.log.calls, (std::vector<std::string>{
        "StartTransaction(4096,0,null,null)", "Commit(0,2,0)",
        "StartTransaction(4096,0,null,null)", "Abort(null,0,0)"}));
    EXPECT_EQ(driver.lastError().type(), QSqlError::NoError);
}

TEST_F(TransactionTest, FailuresReportTheProvidersText)
{
    provider.script.startTransaction = XACT_E_XTIONEXISTS;
    provider.script.errorRecords = {"Only one transaction", "may be active."};
    EXPECT_FALSE(driver.beginTransaction());
    expectTransactionError(QStringLiteral("Only one transaction may be active."));
    EXPECT_EQ(provider.log.count("InterfaceSupportsErrorInfo(IID_ITransaction)"), 1);

    provider.script.commit = XACT_E_NOTRANSACTION;
    provider.script.abort = XACT_E_NOTRANSACTION;
    provider.script.errorRecords = {"No transaction is active."};
    EXPECT_FALSE(driver.commitTransaction());
    expectTransactionError(QStringLiteral("No transaction is active."));

    provider.script.errorRecords = {"Nothing to roll back."};
    EXPECT_FALSE(driver.rollbackTransaction());
    expectTransactionError(QStringLiteral("Nothing to roll back."));
}

TEST_F(TransactionTest, OnlyExactlyS_OKIsSuccess)
{
    provider.script.startTransaction = S_FALSE;
    provider.script.commit = S_FALSE;
    provider.script.abort = DB_S_ERRORSOCCURRED;
    EXPECT_FALSE(driver.beginTransaction());
    expectTransactionError(QStringLiteral("Critical Error"));
    EXPECT_FALSE(driver.commitTransaction());
    EXPECT_FALSE(driver.rollbackTransaction());
    expectTransactionError(QStringLiteral("Critical Error"));
}

TEST_F(TransactionTest, AMissingInterfaceIsACriticalError)
{
    provider.script.missingInterfaces = {IID_ITransactionLocal};
    EXPECT_FALSE(driver.beginTransaction());
    expectTransactionError(QStringLiteral("Critical Error"));
    EXPECT_TRUE(driver.commitTransaction()); // ITransaction is still there

    provider.script.missingInterfaces = {IID_ITransaction};
    EXPECT_FALSE(driver.commitTransaction());
    expectTransactionError(QStringLiteral("Critical Error"));
    EXPECT_FALSE(driver.rollbackTransaction());
    EXPECT_EQ(provider.log.count("Commit"), 1);
    EXPECT_EQ(provider.log.count("Abort"), 0);
}

TEST_F(TransactionTest, AClosedDriverRefusesQuietly)
{
    // A known error first, to see that nothing overwrites it.
    provider.script.commit = E_FAIL;
    provider.script.errorRecords = {"earlier"};
    EXPECT_FALSE(driver.commitTransaction());
    driver.close();
    provider.log.calls.clear();

    EXPECT_FALSE(driver.beginTransaction());
    EXPECT_FALSE(driver.commitTransaction());
    EXPECT_FALSE(driver.rollbackTransaction());
    expectTransactionError(QStringLiteral("earlier"));
    EXPECT_TRUE(provider.log.calls.empty());
}

} // namespace
