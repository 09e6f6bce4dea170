// Error texts: the provider's error records, the fall-back "Critical Error",
// the system message of a bare HRESULT, and the one QSqlError shape.

#include "driver/errors.h"
#include "platform/comptr.h"
#include "scriptedprovider.h"

#include <gtest/gtest.h>

namespace {

using rztest::ScriptedProvider;

// A scripted data source whose Initialize fails as `provider` says.
rz::ComPtr<IDBInitialize> failedInitialize(ScriptedProvider &provider)
{
    provider.script.initialize = DB_E_ERRORSOCCURRED;
    rz::ComPtr<IDBInitialize> dataSource;
    EXPECT_EQ(rztest::createScriptedDataSource(provider, IID_IDBInitialize, dataSource.putVoid()), S_OK);
    if (dataSource) {
        EXPECT_EQ(dataSource->Initialize(), DB_E_ERRORSOCCURRED);
    }
    return dataSource;
}

TEST(ProviderErrorText, RecordsAreJoinedInOrderWithSingleBlanks)
{
    ScriptedProvider provider("RZ.ErrorText.1");
    provider.script.errorRecords = {"Login failed for user 'x'.", "Cannot open database \"y\".", "third"};
    auto dataSource = failedInitialize(provider);
    EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize),
              QStringLiteral("Login failed for user 'x'. Cannot open database \"y\". third"));
}

TEST(ProviderErrorText, AnErrorObjectWithoutRecordsIsOneRecord)
{
    ScriptedProvider provider("RZ.ErrorText.3");
    provider.script.errorRecords = {"only this"};
    provider.script.errorRecordsInterface = false;
    auto dataSource = failedInitialize(provider);
    EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize), QStringLiteral("only this"));
}

TEST(ProviderErrorText, UnicodeDescriptionsSurvive)
{
    ScriptedProvider provider("RZ.ErrorText.4");
    provider.script.errorRecords = {"Ungültiger Objektname 'Bücher' — 表"};
    auto dataSource = failedInitialize(provider);
    EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize),
              QString::fromUtf8("Ungültiger Objektname 'Bücher' — 表"));
}

TEST(ProviderErrorText, NothingToReadGivesCriticalError)
{
    const QString critical = QStringLiteral("Critical Error");
    EXPECT_EQ(qOLEDBErrorText(nullptr, IID_IDBInitialize), critical);

    {   // The call failed but left no error object.
        ScriptedProvider provider("RZ.ErrorText.5");
        auto dataSource = failedInitialize(provider);
        EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize), critical);
    }
    {   // Reading the error object takes it off the thread.
        ScriptedProvider provider("RZ.ErrorText.6");
        provider.script.errorRecords = {"once"};
        auto dataSource = failedInitialize(provider);
        EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize), QStringLiteral("once"));
        EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize), critical);
    }
    {   // An object without ISupportErrorInfo is not asked further.
        ScriptedProvider provider("RZ.ErrorText.7");
        provider.script.errorRecords = {"unread"};
        provider.script.missingInterfaces = {IID_ISupportErrorInfo};
        auto dataSource = failedInitialize(provider);
        EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize), critical);
    }
    {   // An error object that holds no records.
        ScriptedProvider provider("RZ.ErrorText.8");
        rz::ComPtr<IDBInitialize> dataSource;
        ASSERT_EQ(rztest::createScriptedDataSource(provider, IID_IDBInitialize, dataSource.putVoid()), S_OK);
        rztest::leaveErrorObject({});
        EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize), critical);
    }
}

TEST(ProviderErrorText, OnlyAFailingSupportAnswerStopsTheLookup)
{
    {
        ScriptedProvider provider("RZ.ErrorText.9");
        provider.script.errorRecords = {"still read"};
        provider.script.supportsErrorInfo = S_FALSE;
        auto dataSource = failedInitialize(provider);
        EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize), QStringLiteral("still read"));
    }
    {
        ScriptedProvider provider("RZ.ErrorText.10");
        provider.script.errorRecords = {"never read"};
        provider.script.supportsErrorInfo = E_FAIL;
        auto dataSource = failedInitialize(provider);
        EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize), QStringLiteral("Critical Error"));
    }
    {   // The interface asked about is the one named by the caller.
        ScriptedProvider provider("RZ.ErrorText.11");
        provider.script.errorRecords = {"x"};
        auto dataSource = failedInitialize(provider);
        qOLEDBErrorText(dataSource.get(), IID_ITransaction);
        EXPECT_EQ(provider.log.count("InterfaceSupportsErrorInfo(IID_ITransaction)"), 1);
    }
}

TEST(SystemMessage, CodesWithoutSystemTextFallBackAsCOMDoes)
{
    EXPECT_EQ(qSystemMessage(HRESULT(0x80040E21)), QStringLiteral("IDispatch error #3105"));
    EXPECT_EQ(qSystemMessage(HRESULT(0x80040201)), QStringLiteral("IDispatch error #1"));
    EXPECT_EQ(qSystemMessage(HRESULT(0x8004FFFF)), QStringLiteral("IDispatch error #65023"));
    EXPECT_EQ(qSystemMessage(HRESULT(0x8123ABCD)), QStringLiteral("Unknown error 0x8123ABCD"));
}

TEST(SystemMessage, SystemTextsLoseTheirLineBreak)
{
    EXPECT_EQ(qSystemMessage(E_FAIL), QStringLiteral("Unspecified error"));
    EXPECT_EQ(qSystemMessage(E_NOINTERFACE), QStringLiteral("No such interface supported"));
    for (HRESULT hr : {E_FAIL, E_OUTOFMEMORY, E_INVALIDARG, REGDB_E_CLASSNOTREG, CO_E_CLASSSTRING}) {
        const QString text = qSystemMessage(hr);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) << text.toStdString();
        EXPECT_FALSE(text.startsWith(QLatin1String("Unknown error"))) << text.toStdString();
    }
}

TEST(ErrorShape, EveryErrorCarriesTheDriverTextAndNoCode)
{
    for (auto type : {QSqlError::ConnectionError, QSqlError::StatementError, QSqlError::TransactionError}) {
        const QSqlError error = qMakeError(QStringLiteral("what happened"), type);
        EXPECT_EQ(error.driverText(), QStringLiteral("MSSQL DB: "));
        EXPECT_EQ(error.databaseText(), QStringLiteral("what happened"));
        EXPECT_EQ(error.type(), type);
        EXPECT_TRUE(error.nativeErrorCode().isEmpty());
    }
}

} // namespace
