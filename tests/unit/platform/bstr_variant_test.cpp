// BSTR, task memory, VARIANT and SAFEARRAY behave as on Windows: layout of a
// BSTR, what VariantClear frees and releases, deep copies.

#include "testobjects.h"

#include "platform/sdk/oledb.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using rz::test::Tracked;

TEST(Bstr, carriesItsByteLengthBeforeTheCharactersEmbeddedNulsAndOddLengthsIncluded)
{
    BSTR s = SysAllocString(u"h\u00e9llo");
    ASSERT_NE(s, nullptr);
    ULONG prefix;
    std::memcpy(&prefix, reinterpret_cast<const char *>(s) - 4, 4);
    EXPECT_EQ(prefix, 10u);
    EXPECT_EQ(SysStringLen(s), 5u);
    EXPECT_EQ(SysStringByteLen(s), 10u);
    EXPECT_EQ(s[1], u'\u00e9');
    EXPECT_EQ(s[5], u'\0');
    SysFreeString(s);

    const OLECHAR text[] = {u'a', u'\0', u'b'};
    s = SysAllocStringLen(text, 3);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(s[2], u'b');
    SysFreeString(s);

    BSTR bytes = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(bytes), 3u);
    EXPECT_EQ(SysStringLen(bytes), 1u);
    EXPECT_EQ(std::memcmp(bytes, "abc\0\0", 5), 0);
    SysFreeString(bytes);
}

TEST(Bstr, nullAndEmptyAreDifferentButBothHaveLengthZero)
{
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);

    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(empty[0], u'\0');
    SysFreeString(empty);

    BSTR blank = SysAllocStringLen(nullptr, 4);
    EXPECT_EQ(SysStringLen(blank), 4u);
    EXPECT_EQ(blank[4], u'\0');
    SysFreeString(blank);
}

TEST(TaskMemory, reallocToZeroFreesAndReallocFromNullAllocates)
{
    void *p = CoTaskMemRealloc(nullptr, 16);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xab, 16);
    p = CoTaskMemRealloc(p, 64);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(static_cast<unsigned char *>(p)[15], 0xab);
    EXPECT_EQ(CoTaskMemRealloc(p, 0), nullptr); // freed: LeakSanitizer would report it otherwise
    void *zero = CoTaskMemAlloc(0);
    EXPECT_NE(zero, nullptr);
    CoTaskMemFree(zero);
    CoTaskMemFree(nullptr);
}

TEST(Variant, clearFreesStringsAndArraysWithTheirStringsAndRefusesAnUnknownType)
{
    // LeakSanitizer checks that the strings went.
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"owned by the variant");
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);

    SAFEARRAY *array = SafeArrayCreateVector(VT_BSTR, 0, 3);
    ASSERT_NE(array, nullptr);
    BSTR *items = static_cast<BSTR *>(array->pvData);
    items[0] = SysAllocString(u"one");
    items[2] = SysAllocString(u"three");
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = array;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);

    v.vt = 0x0fff;
    v.llVal = 42;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    EXPECT_EQ(v.vt, 0x0fff);
    EXPECT_EQ(v.llVal, 42);
}

TEST(Variant, clearReleasesTheInterfaceButNotAByReferenceValue)
{
    int alive = 0;
    auto *object = new Tracked(&alive);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = object->identity(); // the variant owns the creator's reference
    object->AddRef();               // and the test keeps one of its own
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(object->references(), 1u);

    IUnknown *borrowed = object->identity();
    v.vt = VT_UNKNOWN | VT_BYREF;
    v.ppunkVal = &borrowed;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(object->references(), 1u);
    object->Release();
    EXPECT_EQ(alive, 0);
}

TEST(Variant, aLockedArrayIsNotDestroyed)
{
    SAFEARRAY *array = SafeArrayCreateVector(VT_I4, 0, 2);
    array->cLocks = 1;
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    array->cLocks = 0;
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(Variant, copyDuplicatesStringsAndAddsInterfaceReferences)
{
    VARIANT source, target;
    VariantInit(&source);
    VariantInit(&target);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(u"copy me");
    target.vt = VT_BSTR;
    target.bstrVal = SysAllocString(u"overwritten and freed");
    ASSERT_EQ(VariantCopy(&target, &source), S_OK);
    EXPECT_NE(target.bstrVal, source.bstrVal);
    EXPECT_EQ(std::u16string(target.bstrVal), u"copy me");
    VariantClear(&source);
    EXPECT_EQ(std::u16string(target.bstrVal), u"copy me");
    VariantClear(&target);

    int alive = 0;
    auto *object = new Tracked(&alive);
    source.vt = VT_UNKNOWN;
    source.punkVal = object->identity();
    ASSERT_EQ(VariantCopy(&target, &source), S_OK);
    EXPECT_EQ(object->references(), 2u);
    VariantClear(&target);
    VariantClear(&source);
    EXPECT_EQ(alive, 0);
}

} // namespace
