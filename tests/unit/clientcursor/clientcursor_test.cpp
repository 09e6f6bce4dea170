// The client cursor over a forward-only scripted rowset: everything read
// up front, then any move, the exact row count, values and long values
// served from memory; and what it costs in memory. The plug-in's moves over
// a scrollable rowset are the result's move tests (tests/unit/result).

#include "scriptedrowset.h"

#include "oledb/oledbrowset.h"
#include "platform/com/comptr.h"
#include "platform/services/clientcursor.h"
#include "qtcompat/oletext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer run time (its header is not always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

using namespace rztest;

size_t allocatedBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#elif defined(_WIN32)
    size_t used = 0;
    _HEAPINFO block = {};
    while (_heapwalk(&block) == _HEAPOK)
        used += block._useflag == _USEDENTRY ? block._size : 0;
    return used;
#else
    // Large blocks come from mmap and count apart from the heap's.
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

class ClientCursor : public ::testing::Test
{
protected:
    void SetUp() override { script.scrollable = false; }
    void TearDown() override
    {
        consumer.close();
        cursor.reset();
        EXPECT_EQ(log.liveRowsets, 0);
        EXPECT_EQ(log.liveRows, 0);
        EXPECT_EQ(log.liveStreams, 0);
        EXPECT_EQ(log.liveAccessors, 0);
    }

    // Builds the cursor over a fresh forward-only scripted rowset and lets
    // the source go, as a provider does.
    HRESULT build()
    {
        rz::ComPtr<IRowset> source;
        EXPECT_EQ(createScriptedRowset(state, IID_IRowset, source.putUnknown()), S_OK);
        return rz::createClientCursor(source.get(), IID_IRowset, cursor.putUnknown());
    }
    // Binds the cursor the way the plug-in binds every rowset.
    void bind()
    {
        consumer.setMaxBlobSize(1000000);
        consumer.attachRowset(cursor);
        ASSERT_EQ(consumer.bindColumns(consumer.rowsetInterface()), S_OK);
    }
    qint32 id() const
    {
        qint32 v = -1;
        std::memcpy(&v, consumer.columnValue(1), sizeof v);
        return v;
    }
    DBCOUNTITEM rowCount()
    {
        rz::ComPtr<IRowsetScroll> scroll;
        EXPECT_EQ(cursor.query(IID_IRowsetScroll, scroll), S_OK);
        DBCOUNTITEM rows = 0;
        EXPECT_EQ(scroll->GetApproximatePosition(DB_NULL_HCHAPTER, 0, nullptr, nullptr, &rows), S_OK);
        return rows;
    }

    std::shared_ptr<StatementState> state = std::make_shared<StatementState>();
    RowsetScript &script = state->rowset;
    StatementLog &log = state->log;
    rz::ComPtr<IRowset> cursor;
    OLEDBAccessorRowset<OLEDBParameterAccessor> consumer;
};

TEST_F(ClientCursor, AHundredThousandRowsScrollFreelyInLittleMoreThanTheirOwnBytes)
{
    const int n = 100000;
    script.columns = {{"id", DBTYPE_I4, 4}, {"name", DBTYPE_WSTR, 20}, {"amount", DBTYPE_R8, 8}};
    size_t rawBytes = 0;
    script.rows.reserve(n);
    for (int i = 0; i < n; ++i) {
        const QString number = QString::number(i);
        const std::u16string name =
            u"name" + std::u16string(reinterpret_cast<const char16_t *>(number.utf16()), size_t(number.size()));
        script.rows.push_back({cell<qint32>(i), wideText(name), i % 10 == 0 ? nullCell() : cell<double>(i * 0.5)});
        rawBytes += 4 + name.size() * 2 + (i % 10 == 0 ? 0 : 8);
    }

    // Only the cursor's own memory is measured: the source keeps no notes.
    state->quiet = true;
    const size_t before = allocatedBytes();
    ASSERT_EQ(build(), S_OK);
    const size_t held = allocatedBytes() - before;
    state->quiet = false;
    std::cout << "[ client cursor ] " << n << " rows, raw value bytes " << rawBytes << ", held "
              << held << " bytes (" << double(held) / double(rawBytes) << " x raw, "
              << double(held) / n << " bytes a row)" << std::endl;
    EXPECT_LT(held, rawBytes * 2 + (size_t(2) << 20));
    EXPECT_EQ(log.liveRowsets, 0) << "the source is let go";

    bind();
    EXPECT_EQ(rowCount(), DBCOUNTITEM(n));
    // The last row straight from the start, as fetchLast() asks for it.
    ASSERT_EQ(consumer.moveLast(), S_OK);
    EXPECT_EQ(id(), n - 1);
    // seek(50000): restart, skip, fetch.
    ASSERT_EQ(consumer.moveFirst(), S_OK);
    ASSERT_EQ(consumer.moveNext(49999, true), S_OK);
    EXPECT_EQ(id(), 50000);
    EXPECT_EQ(*consumer.columnStatus(3), DWORD(DBSTATUS_S_ISNULL)) << "every tenth amount is NULL";
    EXPECT_EQ(QString::fromUtf16(static_cast<const char16_t *>(consumer.columnValue(2))), "name50000");
    // previous(): two back, one forward.
    ASSERT_EQ(consumer.moveNext(-2, true), S_OK);
    EXPECT_EQ(id(), 49999);
    double amount;
    std::memcpy(&amount, consumer.columnValue(3), sizeof amount);
    EXPECT_EQ(amount, 24999.5);
    EXPECT_EQ(*consumer.columnStatus(3), DWORD(DBSTATUS_S_OK));
    ASSERT_EQ(consumer.moveNext(0, false), S_OK) << "a backward fetch";
    EXPECT_EQ(id(), 49999);
    ASSERT_EQ(consumer.moveNext(0, false), S_OK);
    EXPECT_EQ(id(), 49998);
    EXPECT_EQ(rowCount(), DBCOUNTITEM(n)) << "at any position";
}

TEST_F(ClientCursor, MovesFollowTheNextFetchPosition)
{
    script.columns = {{"id", DBTYPE_I4, 4}};
    for (int i = 0; i < 5; ++i)
        script.rows.push_back({cell<qint32>(i)});
    ASSERT_EQ(build(), S_OK);

    HROW *rows = nullptr;
    DBCOUNTITEM obtained = 0;
    // Several rows at once: the cursor allocates the handle array.
    ASSERT_EQ(cursor->GetNextRows(DB_NULL_HCHAPTER, 0, 3, &obtained, &rows), S_OK);
    ASSERT_EQ(obtained, 3u);
    EXPECT_EQ(rows[0], 1u);
    EXPECT_EQ(rows[2], 3u);
    EXPECT_EQ(cursor->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr), S_OK);
    CoTaskMemFree(rows);
    rows = nullptr;
    // Asking for more than is left gives what is left and the end code.
    EXPECT_EQ(cursor->GetNextRows(DB_NULL_HCHAPTER, 0, 5, &obtained, &rows), DB_S_ENDOFROWSET);
    EXPECT_EQ(obtained, 2u);
    CoTaskMemFree(rows);
    rows = nullptr;
    EXPECT_EQ(cursor->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows), DB_S_ENDOFROWSET);
    EXPECT_EQ(obtained, 0u);
    EXPECT_EQ(cursor->GetNextRows(DB_NULL_HCHAPTER, 3, 1, &obtained, &rows), DB_E_BADSTARTPOSITION);
    // Backward from the end.
    HROW one = 0;
    HROW *handle = &one;
    ASSERT_EQ(cursor->GetNextRows(DB_NULL_HCHAPTER, 0, -1, &obtained, &handle), S_OK);
    EXPECT_EQ(one, 5u);
    ASSERT_EQ(cursor->GetNextRows(DB_NULL_HCHAPTER, 0, -1, &obtained, &handle), S_OK);
    EXPECT_EQ(one, 4u);
    ASSERT_EQ(cursor->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &handle), S_OK);
    EXPECT_EQ(one, 4u) << "forward again from between rows 3 and 4";
    ASSERT_EQ(cursor->RestartPosition(DB_NULL_HCHAPTER), S_OK);
    ASSERT_EQ(cursor->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &handle), S_OK);
    EXPECT_EQ(one, 1u);
    EXPECT_EQ(cursor->GetNextRows(DB_NULL_HCHAPTER, -2, 1, &obtained, &handle), DB_S_ENDOFROWSET)
        << "no row before the first";
}

TEST_F(ClientCursor, LongValuesAreReadOnceAndServedAsStreams)
{
    script.columns = {{"id", DBTYPE_I4, 4},
                      {"doc", DBTYPE_WSTR, ~DBLENGTH(0), DBCOLUMNFLAGS_ISLONG},
                      {"bin", DBTYPE_BYTES, ~DBLENGTH(0), DBCOLUMNFLAGS_ISLONG}};
    script.rows = {{cell<qint32>(1), wideText(std::u16string(70000, u'q')), narrowText(std::string(65536, 'b'))},
                   {cell<qint32>(2), nullCell(), narrowText("")}};
    ASSERT_EQ(build(), S_OK);
    EXPECT_EQ(log.liveStreams, 0) << "the source's storage objects are released while reading";

    rz::ComPtr<IColumnsInfo> info;
    ASSERT_EQ(cursor.query(IID_IColumnsInfo, info), S_OK);
    DBORDINAL count = 0;
    DBCOLUMNINFO *columns = nullptr;
    OLECHAR *names = nullptr;
    ASSERT_EQ(info->GetColumnInfo(&count, &columns, &names), S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(columns[1].wType, DBTYPE_WSTR) << "reported as the source reported it";
    EXPECT_EQ(columns[1].ulColumnSize, ~DBLENGTH(0));
    EXPECT_TRUE(columns[1].dwFlags & DBCOLUMNFLAGS_ISLONG);
    EXPECT_EQ(rz::fromOleText(columns[2].pwszName), "bin");
    CoTaskMemFree(columns);
    CoTaskMemFree(names);

    bind();
    EXPECT_EQ(consumer.boundColumn(1).wType, DBTYPE_IUNKNOWN);
    ASSERT_EQ(consumer.moveNext(), S_OK);
    for (int column : {2, 3}) {
        IUnknown *object;
        std::memcpy(&object, consumer.columnValue(DBORDINAL(column)), sizeof object);
        ASSERT_NE(object, nullptr);
        rz::ComPtr<ISequentialStream> stream;
        ASSERT_EQ(object->QueryInterface(IID_ISequentialStream, stream.putVoid()), S_OK);
        std::string all;
        char chunk[65536];
        ULONG read = 0;
        do {
            ASSERT_EQ(stream->Read(chunk, sizeof chunk, &read), S_OK);
            all.append(chunk, read);
        } while (read == sizeof chunk);
        EXPECT_EQ(all.size(), column == 2 ? 140000u : 65536u);
        EXPECT_EQ(all.find_first_not_of(column == 2 ? std::string("q\0", 2) : std::string("b")), std::string::npos);
    }
    ASSERT_EQ(consumer.moveNext(), S_OK);
    EXPECT_EQ(*consumer.columnStatus(2), DWORD(DBSTATUS_S_ISNULL));
    EXPECT_EQ(*consumer.columnStatus(3), DWORD(DBSTATUS_S_OK)) << "an empty value is not NULL";
}

TEST_F(ClientCursor, ASourceThatFailsGivesNoCursor)
{
    script.columns = {{"id", DBTYPE_I4, 4}, {"doc", DBTYPE_BYTES, ~DBLENGTH(0), DBCOLUMNFLAGS_ISLONG}};
    for (int i = 0; i < 100; ++i)
        script.rows.push_back({cell<qint32>(i), narrowText(std::string(10, 'x'))});
    script.getNextRows = {S_OK, E_FAIL};
    EXPECT_EQ(build(), E_FAIL);
    EXPECT_FALSE(cursor);

    script.getNextRows = S_OK;
    script.streamFailsAfter = 5;
    EXPECT_EQ(build(), E_FAIL) << "a long value that cannot be read";
    EXPECT_FALSE(cursor);

    script.streamFailsAfter = -1;
    script.missingInterfaces = {IID_IColumnsInfo};
    EXPECT_EQ(build(), E_NOINTERFACE);
}

TEST_F(ClientCursor, ItDescribesItselfAsAReadOnlyClientCursor)
{
    script.columns = {{"id", DBTYPE_I4, 4}};
    script.rows = {{cell<qint32>(1)}};
    ASSERT_EQ(build(), S_OK);
    bind();
    const DBPROPID ids[] = {DBPROP_CLIENTCURSOR, DBPROP_CANFETCHBACKWARDS, DBPROP_ISequentialStream, DBPROP_IStream};
    LONG values[4] = {};
    EXPECT_EQ(queryRowsetProperties(cursor.get(), ids, values, 4), S_OK);
    EXPECT_EQ(values[0], -1);
    EXPECT_EQ(values[1], -1);
    EXPECT_EQ(values[2], -1);
    EXPECT_EQ(values[3], 0);
    rz::ComPtr<IRowsetChange> change;
    ASSERT_EQ(cursor.query(IID_IRowsetChange, change), S_OK);
    EXPECT_EQ(change->DeleteRows(DB_NULL_HCHAPTER, 0, nullptr, nullptr), DB_E_NOTSUPPORTED);
    HACCESSOR bad = 0;
    DBBINDING binding = {};
    binding.iOrdinal = 7;
    binding.dwPart = DBPART_VALUE;
    binding.wType = DBTYPE_I4;
    binding.cbMaxLen = 4;
    DBBINDSTATUS status = 0;
    rz::ComPtr<IAccessor> accessor;
    ASSERT_EQ(cursor.query(IID_IAccessor, accessor), S_OK);
    EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 4, &bad, &status), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status, DWORD(DBBINDSTATUS_BADORDINAL));
    EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &binding, 4, &bad, nullptr),
              DB_E_BADACCESSORFLAGS);

    // GetBindings hands out the array and each DBOBJECT apart: the consumer frees each.
    DBOBJECT object = {STGM_READ, IID_ISequentialStream};
    binding.iOrdinal = 1;
    binding.pObject = &object;
    HACCESSOR good = 0;
    ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 4, &good, nullptr), S_OK);
    DBACCESSORFLAGS flags = 0;
    DBCOUNTITEM count = 0;
    DBBINDING *copies = nullptr;
    ASSERT_EQ(accessor->GetBindings(good, &flags, &count, &copies), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(flags, DWORD(DBACCESSOR_ROWDATA));
    ASSERT_NE(copies[0].pObject, &object);
    EXPECT_EQ(copies[0].pObject->iid, IID_ISequentialStream);
    CoTaskMemFree(copies[0].pObject);
    CoTaskMemFree(copies);
    EXPECT_EQ(accessor->ReleaseAccessor(good, nullptr), S_OK);
}

} // namespace
