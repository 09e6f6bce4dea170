// The in-memory stream that carries long parameter values.

#include "result/cisshelper.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(CISSHelper, ReadsBackWhatWasWrittenAcrossWritesAndReportsTheShortRead)
{
    CISSHelper stream;
    ULONG written = 99;
    ASSERT_EQ(stream.Write("abc", 3, &written), S_OK);
    EXPECT_EQ(written, 3u);
    ASSERT_EQ(stream.Write("defgh", 5, &written), S_OK);
    EXPECT_EQ(stream.length(), 8u);

    char out[16] = {};
    ULONG read = 0;
    EXPECT_EQ(stream.Read(out, 4, &read), S_OK);
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(std::memcmp(out, "abcd", 4), 0);
    EXPECT_EQ(stream.Read(out, 10, &read), S_FALSE);
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(std::memcmp(out, "efgh", 4), 0);
    EXPECT_EQ(stream.Read(out, 10, &read), S_FALSE);
    EXPECT_EQ(read, 0u);
}

TEST(CISSHelper, ZeroSizesAndNullPointers)
{
    CISSHelper stream;
    char out[4];
    ULONG read = 7;
    EXPECT_EQ(stream.Read(out, 0, &read), S_OK);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(stream.Read(out, 4, &read), S_FALSE) << "an empty stream has nothing to give";
    EXPECT_EQ(stream.Read(nullptr, 4, &read), STG_E_INVALIDPOINTER);
    ULONG written = 7;
    EXPECT_EQ(stream.Write(nullptr, 4, &written), STG_E_INVALIDPOINTER);
    EXPECT_EQ(written, 7u) << "a null source is refused before the count is touched";
    EXPECT_EQ(stream.Write("x", 0, &written), S_OK);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(stream.buffer(), nullptr);
}

TEST(CISSHelper, AnswersOnlyForItsTwoInterfacesAndOutlivesItsLastRelease)
{
    CISSHelper stream;
    void *object = &stream;
    EXPECT_EQ(stream.QueryInterface(IID_IStream, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(stream.QueryInterface(IID_ISequentialStream, &object), S_OK);
    EXPECT_EQ(object, static_cast<ISequentialStream *>(&stream));
    ASSERT_EQ(stream.QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(stream.refCount(), 2u);
    EXPECT_EQ(stream.Release(), 1u);
    EXPECT_EQ(stream.Release(), 0u);
    // Still usable: exec() owns it, not the counter.
    EXPECT_EQ(stream.Write("ok", 2, nullptr), S_OK);
    EXPECT_EQ(stream.length(), 2u);
    EXPECT_EQ(stream.Clear(), S_OK);
    EXPECT_EQ(stream.length(), 0u);
    EXPECT_EQ(stream.buffer(), nullptr);
}

} // namespace
