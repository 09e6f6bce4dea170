// The client cursor's COM face: IRowset, IRowsetScroll,
// IAccessor, IColumnsInfo and IRowsetInfo over the rows it has read
// (clientcursorrows.h), with a read-only IRowsetChange.

#include "platform/services/clientcursor.h"

#include "common/bytes.h"
#include "platform/com/comobject.h"
#include "platform/com/comptr.h"
#include "platform/services/accessortable.h"
#include "platform/services/clientcursorrows.h"
#include "platform/com/oletext.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace rz {
namespace {

// Standard bookmarks (one byte each).
constexpr BYTE bookmarkFirst = 1;
constexpr BYTE bookmarkLast = 2;

using Column = ClientCursorRows::Column;
using Value = ClientCursorRows::Value;

class ClientCursor;

// The storage object of one value: reads from the cursor's own memory and
// keeps the cursor alive while it exists.
class ValueStream final : public ComObject<ISequentialStream>
{
public:
    ValueStream(IUnknown *owner, const BYTE *data, size_t size)
        : owner_(ComPtr<IUnknown>::share(owner)), data_(data), size_(size) {}

    HRESULT Read(void *out, ULONG size, ULONG *read) override
    {
        if (read)
            *read = 0;
        if (!out)
            return STG_E_INVALIDPOINTER;
        const size_t n = std::min<size_t>(size, size_ - position_);
        std::memcpy(out, data_ + position_, n);
        position_ += n;
        if (read)
            *read = ULONG(n);
        return S_OK;
    }
    HRESULT Write(const void *, ULONG, ULONG *) override { return STG_E_ACCESSDENIED; }

private:
    ComPtr<IUnknown> owner_;
    const BYTE *data_;
    size_t size_;
    size_t position_ = 0;
};

class ClientCursor final
    : public ComObject<IRowsetScroll, IAccessor, IColumnsInfo, IRowsetInfo, IRowsetChange>
{
public:
    HRESULT load(IRowset *source) { return rows_.load(source); }

    // ---- IRowset
    HRESULT AddRefRows(DBCOUNTITEM count, const HROW rows[], DBREFCOUNT refCounts[],
                       DBROWSTATUS statuses[]) override
    {
        return touchRows(count, rows, refCounts, statuses);
    }
    HRESULT GetData(HROW row, HACCESSOR handle, void *data) override;
    HRESULT GetNextRows(HCHAPTER, DBROWOFFSET offset, DBROWCOUNT count, DBCOUNTITEM *obtained,
                        HROW **rows) override;
    HRESULT ReleaseRows(DBCOUNTITEM count, const HROW rows[], DBROWOPTIONS[], DBREFCOUNT refCounts[],
                        DBROWSTATUS statuses[]) override
    {
        return touchRows(count, rows, refCounts, statuses);
    }
    HRESULT RestartPosition(HCHAPTER) override
    {
        position_ = 0;
        atStart_ = true;
        return S_OK;
    }

    // ---- IRowsetLocate: IRowsetScroll derives from it, but with no bookmark
    // column (DBPROP_BOOKMARKS is false) nobody looks rows up by bookmark.
    HRESULT Compare(HCHAPTER, DBBKMARK, const BYTE *, DBBKMARK, const BYTE *, DBCOMPARE *) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetRowsAt(HWATCHREGION, HCHAPTER, DBBKMARK, const BYTE *, DBROWOFFSET, DBROWCOUNT,
                      DBCOUNTITEM *, HROW **) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetRowsByBookmark(HCHAPTER, DBCOUNTITEM, const DBBKMARK[], const BYTE *[], HROW[],
                              DBROWSTATUS[]) override
    {
        return E_NOTIMPL;
    }
    HRESULT Hash(HCHAPTER, DBBKMARK, const DBBKMARK[], const BYTE *[], DBHASHVALUE[],
                 DBROWSTATUS[]) override
    {
        return E_NOTIMPL;
    }

    // ---- IRowsetScroll
    HRESULT GetApproximatePosition(HCHAPTER, DBBKMARK size, const BYTE *bookmark,
                                   DBCOUNTITEM *position, DBCOUNTITEM *rows) override;
    HRESULT GetRowsAtRatio(HWATCHREGION, HCHAPTER, DBCOUNTITEM numerator, DBCOUNTITEM denominator,
                           DBROWCOUNT count, DBCOUNTITEM *obtained, HROW **rows) override;

    // ---- IAccessor
    HRESULT AddRefAccessor(HACCESSOR handle, DBREFCOUNT *refs) override;
    HRESULT CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[],
                           DBLENGTH rowSize, HACCESSOR *handle, DBBINDSTATUS statuses[]) override;
    HRESULT GetBindings(HACCESSOR handle, DBACCESSORFLAGS *flags, DBCOUNTITEM *count,
                        DBBINDING **bindings) override;
    HRESULT ReleaseAccessor(HACCESSOR handle, DBREFCOUNT *refs) override;

    // ---- IColumnsInfo
    HRESULT GetColumnInfo(DBORDINAL *count, DBCOLUMNINFO **info, OLECHAR **names) override;
    HRESULT MapColumnIDs(DBORDINAL count, const DBID ids[], DBORDINAL ordinals[]) override;

    // ---- IRowsetInfo
    HRESULT GetProperties(const ULONG idSetCount, const DBPROPIDSET idSets[], ULONG *setCount,
                          DBPROPSET **sets) override;
    HRESULT GetReferencedRowset(DBORDINAL, REFIID, IUnknown **rowset) override
    {
        if (rowset)
            *rowset = nullptr;
        return DB_E_NOTAREFERENCECOLUMN;
    }
    HRESULT GetSpecification(REFIID, IUnknown **specification) override
    {
        if (specification)
            *specification = nullptr;
        return S_FALSE;
    }

    // ---- IRowsetChange: the cursor is read-only.
    HRESULT DeleteRows(HCHAPTER, DBCOUNTITEM, const HROW[], DBROWSTATUS[]) override { return DB_E_NOTSUPPORTED; }
    HRESULT SetData(HROW, HACCESSOR, void *) override { return DB_E_NOTSUPPORTED; }
    HRESULT InsertRow(HCHAPTER, HACCESSOR, void *, HROW *) override { return DB_E_NOTSUPPORTED; }

private:
    ~ClientCursor() override = default;

    HRESULT handOut(long long first, long long step, DBROWCOUNT count, DBCOUNTITEM *obtained, HROW **rows);
    HRESULT touchRows(DBCOUNTITEM count, const HROW rows[], DBREFCOUNT refCounts[], DBROWSTATUS statuses[]);
    bool rowIndex(DBBKMARK size, const BYTE *bookmark, long long *index) const;
    DBSTATUS writeValue(const DBBINDING &binding, const Column &column, const Value &value, BYTE *out,
                        DBLENGTH *length);

    ClientCursorRows rows_;
    AccessorTable accessors_;
    long long position_ = 0;
    bool atStart_ = true;
};

DBSTATUS ClientCursor::writeValue(const DBBINDING &binding, const Column &column, const Value &value,
                                  BYTE *out, DBLENGTH *length)
{
    *length = value.size;
    const DBTYPE type = binding.wType;
    if (type == DBTYPE_IUNKNOWN) {
        if (binding.pObject && !(binding.pObject->iid == IID_ISequentialStream
                                 || binding.pObject->iid == IID_IUnknown))
            return DBSTATUS_E_CANTCONVERTVALUE;
        ValueStream *stream = new (std::nothrow) ValueStream(identity(), value.data, value.size);
        if (!stream)
            return DBSTATUS_E_CANTCREATE;
        ISequentialStream *pointer = stream;
        std::memcpy(out, &pointer, sizeof pointer);
        return DBSTATUS_S_OK;
    }
    if (type != column.storedType)
        return DBSTATUS_E_CANTCONVERTVALUE;
    const DBLENGTH room = binding.cbMaxLen;
    switch (type) {
    case DBTYPE_STR: {
        if (room == 0)
            return DBSTATUS_S_TRUNCATED;
        const size_t n = std::min<size_t>(value.size, room - 1);
        std::memcpy(out, value.data, n);
        out[n] = 0;
        return n < value.size ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
    }
    case DBTYPE_WSTR: {
        if (room < 2)
            return DBSTATUS_S_TRUNCATED;
        const size_t units = std::min<size_t>(value.size / 2, room / 2 - 1);
        std::memcpy(out, value.data, units * 2);
        out[units * 2] = 0;
        out[units * 2 + 1] = 0;
        return units * 2 < value.size ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
    }
    default: {
        // Fixed types and bytes: as much as the consumer gave room for.
        const size_t n = std::min<size_t>(value.size, room);
        if (n == 8)
            std::memcpy(out, value.data, 8); // the commonest sizes, copied inline
        else if (n == 4)
            std::memcpy(out, value.data, 4);
        else
            std::memcpy(out, value.data, n);
        return n < value.size ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
    }
    }
}

HRESULT ClientCursor::GetData(HROW row, HACCESSOR handle, void *data)
{
    const Accessor *accessor = accessors_.find(handle);
    if (!accessor)
        return DB_E_BADACCESSORHANDLE;
    if (row == 0 || row > rows_.rowCount())
        return DB_E_BADROWHANDLE;
    if (!data && !accessor->bindings.empty())
        return E_INVALIDARG;
    BYTE *buffer = static_cast<BYTE *>(data);
    size_t failures = 0;
    ClientCursorRows::Scratch scratch;
    ClientCursorRows::RowReader reader(rows_, row - 1);
    for (const DBBINDING &binding : accessor->bindings) {
        const size_t index = size_t(binding.iOrdinal - 1);
        const Column &column = rows_.columns()[index];
        const Value value = reader.value(index, scratch);
        DBSTATUS status = DBSTATUS_S_ISNULL;
        DBLENGTH length = 0;
        if (!value.isNull) {
            if (binding.dwPart & DBPART_VALUE)
                status = writeValue(binding, column, value, buffer + binding.obValue, &length);
            else
                status = DBSTATUS_S_OK, length = value.size;
        }
        if (status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL && status != DBSTATUS_S_TRUNCATED)
            ++failures;
        if (binding.dwPart & DBPART_LENGTH)
            std::memcpy(buffer + binding.obLength, &length, sizeof length);
        if (binding.dwPart & DBPART_STATUS)
            std::memcpy(buffer + binding.obStatus, &status, sizeof status);
    }
    if (failures == 0)
        return S_OK;
    return failures == accessor->bindings.size() ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

// Hands out up to |count| row handles from row `first` on, one `step` apart.
HRESULT ClientCursor::handOut(long long first, long long step, DBROWCOUNT count,
                              DBCOUNTITEM *obtained, HROW **rows)
{
    const long long n = (long long)rows_.rowCount();
    const long long wanted = count < 0 ? -(long long)count : (long long)count;
    long long available = 0;
    if (first >= 0 && first < n)
        available = step > 0 ? n - first : first + 1;
    const long long take = std::min(wanted, available);
    if (take > 0) {
        if (!*rows) {
            *rows = static_cast<HROW *>(CoTaskMemAlloc(size_t(take) * sizeof(HROW)));
            if (!*rows)
                return E_OUTOFMEMORY;
        }
        for (long long i = 0; i < take; ++i)
            (*rows)[i] = HROW(first + i * step + 1);
    }
    *obtained = DBCOUNTITEM(take);
    return take < wanted ? DB_S_ENDOFROWSET : S_OK;
}

HRESULT ClientCursor::GetNextRows(HCHAPTER, DBROWOFFSET offset, DBROWCOUNT count,
                                  DBCOUNTITEM *obtained, HROW **rows)
{
    if (!obtained || !rows)
        return E_INVALIDARG;
    *obtained = 0;
    if (count == 0)
        return S_OK;
    const long long n = (long long)rows_.rowCount();
    // The next-fetch position lies between rows; right after a restart a
    // backward fetch or a negative offset counts from the end.
    long long base = position_;
    if (atStart_ && (count < 0 || offset < 0))
        base = n;
    const long long first = count > 0 ? base + offset : base + offset - 1;
    if (first < -1 || first > n)
        return DB_E_BADSTARTPOSITION;
    const HRESULT hr = handOut(first, count > 0 ? 1 : -1, count, obtained, rows);
    if (FAILED(hr))
        return hr;
    atStart_ = false;
    if (*obtained > 0) {
        const long long last = first + (count > 0 ? 1 : -1) * ((long long)*obtained - 1);
        position_ = count > 0 ? last + 1 : last;
    } else {
        position_ = std::clamp(first + (count > 0 ? 0 : 1), 0LL, n);
    }
    return hr;
}

HRESULT ClientCursor::touchRows(DBCOUNTITEM count, const HROW rows[], DBREFCOUNT refCounts[],
                                DBROWSTATUS statuses[])
{
    if (count > 0 && !rows)
        return E_INVALIDARG;
    DBCOUNTITEM bad = 0;
    for (DBCOUNTITEM i = 0; i < count; ++i) {
        const bool valid = rows[i] != 0 && rows[i] <= rows_.rowCount();
        if (!valid)
            ++bad;
        if (refCounts)
            refCounts[i] = 1; // rows live as long as the cursor
        if (statuses)
            statuses[i] = valid ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID;
    }
    if (bad == 0)
        return S_OK;
    return bad == count ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

bool ClientCursor::rowIndex(DBBKMARK size, const BYTE *bookmark, long long *index) const
{
    const long long n = (long long)rows_.rowCount();
    if (!bookmark)
        return false;
    if (size == 1 && bookmark[0] == bookmarkFirst) {
        *index = 0;
        return true;
    }
    if (size == 1 && bookmark[0] == bookmarkLast) {
        *index = n - 1;
        return true;
    }
    if (size == sizeof(DBBKMARK)) {
        *index = (long long)loadUnaligned<DBBKMARK>(bookmark) - 1;
        return *index >= 0 && *index < n;
    }
    return false;
}

HRESULT ClientCursor::GetApproximatePosition(HCHAPTER, DBBKMARK size, const BYTE *bookmark,
                                             DBCOUNTITEM *position, DBCOUNTITEM *rows)
{
    const DBCOUNTITEM n = rows_.rowCount();
    if (rows)
        *rows = n;
    if (!position)
        return S_OK;
    if (size == 0) {
        *position = 0;
        return S_OK;
    }
    long long index;
    if (!rowIndex(size, bookmark, &index))
        return DB_E_BADBOOKMARK;
    *position = n == 0 ? 0 : DBCOUNTITEM(index + 1);
    return S_OK;
}

HRESULT ClientCursor::GetRowsAtRatio(HWATCHREGION, HCHAPTER, DBCOUNTITEM numerator,
                                     DBCOUNTITEM denominator, DBROWCOUNT count,
                                     DBCOUNTITEM *obtained, HROW **rows)
{
    if (!obtained || !rows)
        return E_INVALIDARG;
    *obtained = 0;
    if (denominator == 0 || numerator > denominator)
        return DB_E_BADRATIO;
    const long long n = (long long)rows_.rowCount();
    long long first = (long long)(double(numerator) / double(denominator) * double(n));
    if (count < 0)
        first -= 1;
    if (first < 0 || first >= n)
        return DB_S_ENDOFROWSET;
    return handOut(first, count >= 0 ? 1 : -1, count, obtained, rows);
}

HRESULT ClientCursor::AddRefAccessor(HACCESSOR handle, DBREFCOUNT *refs)
{
    return accessors_.addRef(handle, refs);
}

HRESULT ClientCursor::CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count,
                                     const DBBINDING bindings[], DBLENGTH rowSize,
                                     HACCESSOR *handle, DBBINDSTATUS statuses[])
{
    // A rowset has no parameters.
    if (flags & DBACCESSOR_PARAMETERDATA) {
        if (handle)
            *handle = DB_NULL_HACCESSOR;
        return handle ? DB_E_BADACCESSORFLAGS : E_INVALIDARG;
    }
    const DBORDINAL columns = rows_.columns().size();
    return accessors_.create(flags, count, bindings, rowSize, handle, statuses, [columns](const DBBINDING &b) {
        return b.iOrdinal >= 1 && b.iOrdinal <= columns ? DBBINDSTATUS_OK : DBBINDSTATUS_BADORDINAL;
    });
}

HRESULT ClientCursor::GetBindings(HACCESSOR handle, DBACCESSORFLAGS *flags, DBCOUNTITEM *count,
                                  DBBINDING **bindings)
{
    return accessors_.getBindings(handle, flags, count, bindings);
}

HRESULT ClientCursor::ReleaseAccessor(HACCESSOR handle, DBREFCOUNT *refs)
{
    return accessors_.release(handle, refs);
}

HRESULT ClientCursor::GetColumnInfo(DBORDINAL *count, DBCOLUMNINFO **info, OLECHAR **names)
{
    if (!count || !info || !names)
        return E_INVALIDARG;
    *count = 0;
    *info = nullptr;
    *names = nullptr;
    size_t chars = 0;
    for (const Column &c : rows_.columns())
        chars += c.hasName ? c.name.size() + 1 : 0;
    auto *table = static_cast<DBCOLUMNINFO *>(CoTaskMemAlloc(sizeof(DBCOLUMNINFO) * (rows_.columns().size() ? rows_.columns().size() : 1)));
    auto *text = static_cast<OLECHAR *>(CoTaskMemAlloc(sizeof(OLECHAR) * (chars ? chars : 1)));
    if (!table || !text) {
        CoTaskMemFree(table);
        CoTaskMemFree(text);
        return E_OUTOFMEMORY;
    }
    OLECHAR *next = text;
    for (size_t i = 0; i < rows_.columns().size(); ++i) {
        table[i] = rows_.columns()[i].info;
        table[i].pwszName = nullptr;
        if (rows_.columns()[i].hasName) {
            std::memcpy(next, rows_.columns()[i].name.c_str(), (rows_.columns()[i].name.size() + 1) * sizeof(OLECHAR));
            table[i].pwszName = next;
            next += rows_.columns()[i].name.size() + 1;
        }
        // Column ids by name are not kept: ordinals identify columns.
        table[i].columnid = DB_NULLID;
    }
    *count = rows_.columns().size();
    *info = table;
    *names = text;
    return S_OK;
}

HRESULT ClientCursor::MapColumnIDs(DBORDINAL count, const DBID ids[], DBORDINAL ordinals[])
{
    if (count > 0 && (!ids || !ordinals))
        return E_INVALIDARG;
    DBORDINAL bad = 0;
    for (DBORDINAL i = 0; i < count; ++i) {
        ordinals[i] = DB_INVALIDCOLUMN;
        if (ids[i].eKind == DBKIND_NAME && ids[i].uName.pwszName) {
            const std::u16string wanted = rz::asUtf16(ids[i].uName.pwszName);
            for (const Column &c : rows_.columns()) {
                if (c.hasName && c.name == wanted)
                    ordinals[i] = c.info.iOrdinal;
            }
        } else if (ids[i].eKind == DBKIND_PROPID && ids[i].uName.ulPropid >= 1
                   && ids[i].uName.ulPropid <= rows_.columns().size()) {
            ordinals[i] = ids[i].uName.ulPropid;
        }
        bad += ordinals[i] == DB_INVALIDCOLUMN ? 1 : 0;
    }
    return bad == 0 ? S_OK : bad == count ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

HRESULT ClientCursor::GetProperties(const ULONG idSetCount, const DBPROPIDSET idSets[],
                                    ULONG *setCount, DBPROPSET **sets)
{
    struct Known { DBPROPID id; bool value; };
    static const Known known[] = {
        {DBPROP_CLIENTCURSOR, true},        {DBPROP_IRowsetChange, true},
        {DBPROP_ISequentialStream, true},   {DBPROP_IStream, false},
        {DBPROP_CANSCROLLBACKWARDS, true},  {DBPROP_CANFETCHBACKWARDS, true},
        {DBPROP_CANHOLDROWS, true},         {DBPROP_IRowsetScroll, true},
        {DBPROP_IRowsetLocate, true},       {DBPROP_BOOKMARKS, false},
        {DBPROP_IAccessor, true},           {DBPROP_IColumnsInfo, true},
        {DBPROP_IRowset, true},             {DBPROP_IRowsetInfo, true},
    };
    if (!setCount || !sets || (idSetCount > 0 && !idSets))
        return E_INVALIDARG;
    *setCount = 0;
    *sets = nullptr;

    std::vector<DBPROPID> wanted;
    if (idSetCount == 0) {
        for (const Known &k : known)
            wanted.push_back(k.id);
    } else {
        for (ULONG s = 0; s < idSetCount; ++s) {
            if (!(idSets[s].guidPropertySet == DBPROPSET_ROWSET))
                continue;
            if (idSets[s].cPropertyIDs == 0) {
                for (const Known &k : known)
                    wanted.push_back(k.id);
            }
            for (ULONG i = 0; i < idSets[s].cPropertyIDs; ++i)
                wanted.push_back(idSets[s].rgPropertyIDs[i]);
        }
    }
    auto *set = static_cast<DBPROPSET *>(CoTaskMemAlloc(sizeof(DBPROPSET)));
    auto *props = static_cast<DBPROP *>(CoTaskMemAlloc(sizeof(DBPROP) * (wanted.size() ? wanted.size() : 1)));
    if (!set || !props) {
        CoTaskMemFree(set);
        CoTaskMemFree(props);
        return E_OUTOFMEMORY;
    }
    size_t unknown = 0;
    for (size_t i = 0; i < wanted.size(); ++i) {
        DBPROP &p = props[i];
        std::memset(&p, 0, sizeof p);
        p.dwPropertyID = wanted[i];
        p.colid = DB_NULLID;
        VariantInit(&p.vValue);
        p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
        for (const Known &k : known) {
            if (k.id == wanted[i]) {
                p.dwStatus = DBPROPSTATUS_OK;
                p.vValue.vt = VT_BOOL;
                p.vValue.boolVal = k.value ? VARIANT_TRUE : VARIANT_FALSE;
            }
        }
        unknown += p.dwStatus == DBPROPSTATUS_OK ? 0 : 1;
    }
    set->rgProperties = props;
    set->cProperties = ULONG(wanted.size());
    set->guidPropertySet = DBPROPSET_ROWSET;
    *sets = set;
    *setCount = 1;
    if (unknown == 0)
        return S_OK;
    return unknown == wanted.size() ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

} // namespace

HRESULT createClientCursor(IRowset *forwardOnly, REFIID riid, IUnknown **out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ClientCursor *cursor = new (std::nothrow) ClientCursor;
    if (!cursor)
        return E_OUTOFMEMORY;
    ComPtr<IUnknown> owner = ComPtr<IUnknown>::adopt(cursor->identity());
    HRESULT hr = cursor->load(forwardOnly);
    if (FAILED(hr))
        return hr;
    return owner->QueryInterface(riid, reinterpret_cast<void **>(out));
}

} // namespace rz
