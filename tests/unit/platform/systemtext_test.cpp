// System message texts, _com_error, MultiByteToWideChar and the locale, as
// the plug-in's error reporting and data source set-up use them.

#include "platform/sdk/oledb.h"

#include <gtest/gtest.h>

namespace {

TEST(SystemText, comErrorGivesTheSystemTextWithoutTheLineBreak)
{
    EXPECT_EQ(std::u16string(_com_error(E_FAIL).ErrorMessage()), u"Unspecified error");
    EXPECT_EQ(std::u16string(_com_error(E_NOINTERFACE).ErrorMessage()), u"No such interface supported");
    EXPECT_EQ(std::u16string(_com_error(E_OUTOFMEMORY).ErrorMessage()),
              u"Not enough memory resources are available to complete this operation.");
    EXPECT_EQ(std::u16string(_com_error(REGDB_E_CLASSNOTREG).ErrorMessage()), u"Class not registered");
    EXPECT_EQ(std::u16string(_com_error(CO_E_CLASSSTRING).ErrorMessage()), u"Invalid class string");
    EXPECT_EQ(std::u16string(_com_error(E_INVALIDARG).ErrorMessage()), u"The parameter is incorrect.");
}

TEST(SystemText, codesWithoutASystemTextFallBackAsComdefDoes)
{
    // DB_E_ERRORSOCCURRED: an interface code, numbered from 0x80040200.
    EXPECT_EQ(std::u16string(_com_error(DB_E_ERRORSOCCURRED).ErrorMessage()), u"IDispatch error #3105");
    EXPECT_EQ(std::u16string(_com_error(static_cast<HRESULT>(0x80040201)).ErrorMessage()), u"IDispatch error #1");
    EXPECT_EQ(std::u16string(_com_error(static_cast<HRESULT>(0xA0001234)).ErrorMessage()),
              u"Unknown error 0xA0001234");
    EXPECT_EQ(std::u16string(_com_error(static_cast<HRESULT>(0x8004FFFF)).ErrorMessage()),
              u"IDispatch error #65023");
    EXPECT_EQ(rz::systemMessage(static_cast<HRESULT>(0x80040200)), u"Unknown error 0x80040200");
}

TEST(SystemText, formatMessageAllocatesTheTextWithItsLineBreak)
{
    LPWSTR text = nullptr;
    const DWORD chars = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(E_FAIL), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    ASSERT_EQ(chars, 19u);
    EXPECT_EQ(std::u16string(text), u"Unspecified error\r\n");
    LocalFree(text);

    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                             nullptr, static_cast<DWORD>(DB_E_ERRORSINCOMMAND), 0,
                             reinterpret_cast<LPWSTR>(&text), 0, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    // A Win32 code is known as an HRESULT too.
    EXPECT_EQ(rz::systemMessage(HRESULT_FROM_WIN32(10061)),
              u"No connection could be made because the target machine actively refused it.");
}

TEST(TextConversion, narrowTextBecomesUtf16)
{
    WCHAR buffer[16] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "Optional", -1, nullptr, 0), 9);
    ASSERT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "Optional", -1, buffer, 16), 9);
    EXPECT_EQ(std::u16string(buffer), u"Optional");
    // Without -1 the terminator is not part of the input.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "SSPI", 4, buffer, 16), 4);

    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "caf\xc3\xa9 \xf0\x9f\x98\x80", -1, buffer, 16), 8);
    EXPECT_EQ(std::u16string(buffer), u"caf\u00e9 \U0001F600");
}

TEST(TextConversion, invalidBytesAreHandledPerCodePage)
{
    WCHAR buffer[8] = {};
    // The ANSI code page reads bytes that are not UTF-8 as Latin-1.
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "caf\xe9", -1, buffer, 8), 5);
    EXPECT_EQ(std::u16string(buffer), u"caf\u00e9");
    // UTF-8 replaces them, or refuses them when asked to.
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xff" "b", 3, buffer, 8), 3);
    EXPECT_EQ(buffer[1], u'\uFFFD');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xff" "b", 3, buffer, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    // A truncated sequence at the end is invalid too.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xc3", 1, buffer, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "too long", -1, buffer, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(TextConversion, theUserLocaleIsUsEnglish)
{
    EXPECT_EQ(GetUserDefaultLCID(), 0x0409u);
}

} // namespace
