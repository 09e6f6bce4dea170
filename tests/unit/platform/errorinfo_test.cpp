// Error objects: the thread's current error object (reading it clears it)
// and the provider-side object with one record per diagnostic, read the way
// OLE DB consumers read it.

#include "platform/com/comptr.h"
#include "platform/sdk/oledb.h"
#include "platform/services/errorobject.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using rz::ComPtr;

std::u16string description(IErrorInfo *info)
{
    BSTR text = nullptr;
    EXPECT_EQ(info->GetDescription(&text), S_OK);
    std::u16string result(text ? text : u"", SysStringLen(text));
    SysFreeString(text);
    return result;
}

ComPtr<IErrorInfo> takeThreadError(HRESULT expected = S_OK)
{
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(GetErrorInfo(0, info.put()), expected);
    return info;
}

ComPtr<IErrorInfo> simpleError(const char16_t *text)
{
    std::vector<rz::ErrorRecordText> records(1);
    records[0].description = text;
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(rz::createErrorObject(records, info.put()), S_OK);
    return info;
}

TEST(ThreadErrorObject, isEmptyUntilSetEmptyAgainOnceReadReplacedByANewObjectAndClearedByNull)
{
    ComPtr<IErrorInfo> leftover; // whatever an earlier test left
    GetErrorInfo(0, leftover.put());
    ComPtr<IErrorInfo> none = takeThreadError(S_FALSE);
    EXPECT_FALSE(none);

    ComPtr<IErrorInfo> error = simpleError(u"first");
    ASSERT_EQ(SetErrorInfo(0, error.get()), S_OK);
    ComPtr<IErrorInfo> read = takeThreadError(S_OK);
    EXPECT_EQ(read.get(), error.get());
    EXPECT_EQ(description(read.get()), u"first");
    takeThreadError(S_FALSE);

    // A new object replaces the old (LeakSanitizer checks that the replaced
    // objects were released), and null clears it.
    SetErrorInfo(0, error.get());
    SetErrorInfo(0, simpleError(u"second").get());
    EXPECT_EQ(description(takeThreadError().get()), u"second");

    SetErrorInfo(0, error.get());
    SetErrorInfo(0, nullptr);
    takeThreadError(S_FALSE);
    EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
}

TEST(ThreadErrorObject, belongsToTheThreadThatSetIt)
{
    SetErrorInfo(0, simpleError(u"main thread").get());
    std::thread([] {
        ComPtr<IErrorInfo> info;
        EXPECT_EQ(GetErrorInfo(0, info.put()), S_FALSE);
        SetErrorInfo(0, simpleError(u"worker").get()); // released when the thread ends
    }).join();
    EXPECT_EQ(description(takeThreadError().get()), u"main thread");
}

std::vector<rz::ErrorRecordText> threeRecords()
{
    std::vector<rz::ErrorRecordText> records(3);
    records[0].description = u"Incorrect syntax near 'FROM'.";
    records[0].hr = DB_E_ERRORSINCOMMAND;
    records[0].minor = 102;
    records[0].iid = IID_ICommand;
    records[1].description = u"Statement(s) could not be prepared.";
    records[1].minor = 8180;
    records[2].description = u"";
    return records;
}

TEST(ErrorObject, givesOneRecordPerDiagnosticInOrder)
{
    ASSERT_EQ(rz::setErrorRecords(threeRecords()), S_OK);
    ComPtr<IErrorInfo> info = takeThreadError();
    ComPtr<IErrorRecords> records;
    ASSERT_EQ(info.query(IID_IErrorRecords, records), S_OK);
    ULONG count = 0;
    ASSERT_EQ(records->GetRecordCount(&count), S_OK);
    ASSERT_EQ(count, 3u);

    const char16_t *expected[] = {u"Incorrect syntax near 'FROM'.", u"Statement(s) could not be prepared.", u""};
    for (ULONG i = 0; i < count; ++i) {
        ComPtr<IErrorInfo> record;
        ASSERT_EQ(records->GetErrorInfo(i, GetUserDefaultLCID(), record.put()), S_OK);
        EXPECT_EQ(description(record.get()), expected[i]) << "record " << i;
    }
    ERRORINFO basic;
    ASSERT_EQ(records->GetBasicErrorInfo(0, &basic), S_OK);
    EXPECT_EQ(basic.hrError, DB_E_ERRORSINCOMMAND);
    EXPECT_EQ(basic.dwMinor, 102u);
    EXPECT_EQ(basic.iid, IID_ICommand);

    // The object's own IErrorInfo describes the first record.
    EXPECT_EQ(description(info.get()), expected[0]);
}

TEST(ErrorObject, refusesRecordNumbersPastTheEnd)
{
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(rz::createErrorObject(threeRecords(), info.put()), S_OK);
    ComPtr<IErrorRecords> records;
    ASSERT_EQ(info.query(IID_IErrorRecords, records), S_OK);
    ComPtr<IErrorInfo> record;
    EXPECT_EQ(records->GetErrorInfo(3, 0x0409, record.put()), DB_E_BADRECORDNUM);
    EXPECT_FALSE(record);
    ERRORINFO basic;
    EXPECT_EQ(records->GetBasicErrorInfo(3, &basic), DB_E_BADRECORDNUM);
    EXPECT_EQ(records->GetRecordCount(nullptr), E_INVALIDARG);
}

} // namespace
