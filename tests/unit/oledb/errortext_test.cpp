// The provider's error text: its error records in order, or the fall-back
// "Critical Error".

#include "oledb/oledberror.h"
#include "platform/com/comptr.h"
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

TEST(ProviderErrorText, RecordsAreJoinedInOrderUnlessTheObjectCannotBeAsked)
{
    const QString critical = QStringLiteral("Critical Error");
    const struct
    {
        std::vector<std::string> records;
        bool recordsInterface;
        bool supportErrorInfo; // whether the data source offers ISupportErrorInfo
        HRESULT supportAnswer;
        QString expected;
    } cases[] = {
        {{"Login failed for user 'x'.", "Cannot open database \"y\".", "third"}, true, true, S_OK,
         QStringLiteral("Login failed for user 'x'. Cannot open database \"y\". third")},
        // An error object without IErrorRecords is one record.
        {{"only this"}, false, true, S_OK, QStringLiteral("only this")},
        {{"Ungültiger Objektname 'Bücher' — 表"}, true, true, S_OK,
         QString::fromUtf8("Ungültiger Objektname 'Bücher' — 表")},
        // The call failed but left no error object.
        {{}, true, true, S_OK, critical},
        // Only a failing support answer stops the lookup.
        {{"unread"}, true, false, S_OK, critical},
        {{"still read"}, true, true, S_FALSE, QStringLiteral("still read")},
        {{"never read"}, true, true, E_FAIL, critical},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        ScriptedProvider provider("RZ.ErrorText." + std::to_string(++n));
        provider.script.errorRecords = c.records;
        provider.script.errorRecordsInterface = c.recordsInterface;
        if (!c.supportErrorInfo)
            provider.script.missingInterfaces = {IID_ISupportErrorInfo};
        provider.script.supportsErrorInfo = c.supportAnswer;
        auto dataSource = failedInitialize(provider);
        EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize), c.expected);
    }
}

TEST(ProviderErrorText, TheObjectIsReadOnceForTheNamedInterface)
{
    const QString critical = QStringLiteral("Critical Error");
    EXPECT_EQ(qOLEDBErrorText(nullptr, IID_IDBInitialize), critical);
    {   // Reading the error object takes it off the thread.
        ScriptedProvider provider("RZ.ErrorText.once");
        provider.script.errorRecords = {"once"};
        auto dataSource = failedInitialize(provider);
        EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_ITransaction), QStringLiteral("once"));
        EXPECT_EQ(provider.log.count("InterfaceSupportsErrorInfo(IID_ITransaction)"), 1);
        EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize), critical);
    }
    {   // An error object that holds no records.
        ScriptedProvider provider("RZ.ErrorText.empty");
        rz::ComPtr<IDBInitialize> dataSource;
        ASSERT_EQ(rztest::createScriptedDataSource(provider, IID_IDBInitialize, dataSource.putVoid()), S_OK);
        rztest::leaveErrorObject({});
        EXPECT_EQ(qOLEDBErrorText(dataSource.get(), IID_IDBInitialize), critical);
    }
}

} // namespace
