// The scripted provider that every unit test stands on: registration that
// hides and then restores a real name, and objects that outlive it.

#include "platform/comptr.h"
#include "scriptedprovider.h"

#include <gtest/gtest.h>

namespace {

using rztest::ScriptedProvider;

rz::ComPtr<IDBInitialize> createByName(const char16_t *name)
{
    CLSID clsid;
    rz::ComPtr<IDBInitialize> dataSource;
    if (CLSIDFromProgID(name, &clsid) == S_OK)
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, dataSource.putVoid());
    return dataSource;
}

TEST(ScriptedProviderItself, ALaterRegistrationHidesAnEarlierOneUntilItEnds)
{
    ScriptedProvider outer("MSOLEDBSQL19");
    {
        ScriptedProvider inner("msoledbsql19");
        ASSERT_TRUE(createByName(u"MSOLEDBSQL19"));
        EXPECT_EQ(inner.log.count("~DataSource"), 1);
        EXPECT_EQ(outer.log.count("~DataSource"), 0);
    }
    ASSERT_TRUE(createByName(u"MSOLEDBSQL19"));
    EXPECT_EQ(outer.log.count("~DataSource"), 1);
}

TEST(ScriptedProviderItself, ObjectsOutliveTheProviderButItsNameDoesNot)
{
    rz::ComPtr<IDBInitialize> dataSource;
    {
        ScriptedProvider provider("RZ.Scripted.Outlived");
        dataSource = createByName(u"RZ.Scripted.Outlived");
        ASSERT_TRUE(dataSource);
    }
    EXPECT_EQ(dataSource->Initialize(), S_OK);
    EXPECT_FALSE(createByName(u"RZ.Scripted.Outlived"));
}

TEST(ScriptedProviderItself, AnswersAreTakenInTurnAndTheLastOneRepeats)
{
    ScriptedProvider provider("RZ.Scripted.Answers");
    provider.script.initialize = {S_FALSE, E_FAIL, S_OK};
    auto dataSource = createByName(u"RZ.Scripted.Answers");
    ASSERT_TRUE(dataSource);
    EXPECT_EQ(dataSource->Initialize(), S_FALSE);
    EXPECT_EQ(dataSource->Initialize(), E_FAIL);
    EXPECT_EQ(dataSource->Initialize(), S_OK);
    EXPECT_EQ(dataSource->Initialize(), S_OK);
    EXPECT_EQ(provider.log.count("Initialize()"), 4);
}

} // namespace
