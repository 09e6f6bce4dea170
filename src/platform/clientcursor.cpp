#include "platform/clientcursor.h"

#include "platform/comobject.h"
#include "platform/comptr.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace rz {
namespace {

// Standard bookmarks (one byte each).
constexpr BYTE bookmarkFirst = 1;
constexpr BYTE bookmarkLast = 2;

// Values longer than this, and columns flagged long, are read through their
// storage objects.
constexpr DBLENGTH inlineLimit = 8000;
constexpr size_t streamChunk = 65536;
constexpr size_t blockSize = size_t(1) << 20;
constexpr DBCOUNTITEM fetchBatch = 64;

// The bytes of a fixed-size value of `type`, or 0 for types held as
// length + bytes.
size_t fixedSize(DBTYPE type)
{
    switch (type) {
    case DBTYPE_I1: case DBTYPE_UI1: return 1;
    case DBTYPE_I2: case DBTYPE_UI2: case DBTYPE_BOOL: return 2;
    case DBTYPE_I4: case DBTYPE_UI4: case DBTYPE_R4: case DBTYPE_ERROR: return 4;
    case DBTYPE_I8: case DBTYPE_UI8: case DBTYPE_R8: case DBTYPE_CY: case DBTYPE_DATE:
    case DBTYPE_FILETIME: return 8;
    case DBTYPE_GUID: case DBTYPE_DECIMAL: case DBTYPE_DBTIMESTAMP: return 16;
    case DBTYPE_NUMERIC: return sizeof(DB_NUMERIC);
    case DBTYPE_DBDATE: return sizeof(DBDATE);
    case DBTYPE_DBTIME: return sizeof(DBTIME);
    default: return 0;
    }
}

DBBYTEOFFSET roundUp(DBBYTEOFFSET value, DBBYTEOFFSET multiple)
{
    return (value + multiple - 1) / multiple * multiple;
}

struct Column
{
    DBCOLUMNINFO info;        // as reported (name pointer unused)
    std::u16string name;
    bool hasName = false;
    enum Kind { Fixed, Variable, Long } kind = Fixed;
    DBTYPE storedType = 0;    // how the value is held
    size_t fixedOffset = 0;   // Fixed: offset in the row's fixed part
    size_t size = 0;          // Fixed: bytes
    size_t varIndex = 0;      // Variable/Long: position among them
    // The source binding.
    DBTYPE sourceType = 0;
    DBLENGTH sourceMax = 0;
    DBBYTEOFFSET value = 0, length = 0, status = 0;
};

// One value of one row, as read back from a record.
struct Value
{
    bool isNull = true;
    const BYTE *data = nullptr;
    size_t size = 0;
};

// All rows in large blocks; a row is one record: null bits, the fixed part,
// then length (4 bytes) + bytes for every variable or long column.
class RowStore
{
public:
    BYTE *allocate(size_t bytes)
    {
        if (blocks.empty() || used + bytes > capacity) {
            capacity = std::max(blockSize, bytes);
            blocks.emplace_back(new (std::nothrow) BYTE[capacity]);
            if (!blocks.back()) {
                blocks.pop_back();
                capacity = 0;
                return nullptr;
            }
            used = 0;
        }
        BYTE *p = blocks.back().get() + used;
        used += bytes;
        return p;
    }
    void finish() { rows.shrink_to_fit(); }

    std::vector<const BYTE *> rows;

private:
    std::vector<std::unique_ptr<BYTE[]>> blocks;
    size_t used = 0;
    size_t capacity = 0;
};

struct Accessor
{
    std::vector<DBBINDING> bindings; // pObject points into objects
    std::vector<DBOBJECT> objects;
    DBACCESSORFLAGS flags = 0;
    DBLENGTH rowSize = 0;
    ULONG refs = 1;
};

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
    HRESULT load(IRowset *source);

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

    // ---- IRowsetLocate
    HRESULT Compare(HCHAPTER, DBBKMARK size1, const BYTE *bookmark1, DBBKMARK size2,
                    const BYTE *bookmark2, DBCOMPARE *comparison) override;
    HRESULT GetRowsAt(HWATCHREGION, HCHAPTER, DBBKMARK size, const BYTE *bookmark,
                      DBROWOFFSET offset, DBROWCOUNT count, DBCOUNTITEM *obtained,
                      HROW **rows) override;
    HRESULT GetRowsByBookmark(HCHAPTER, DBCOUNTITEM count, const DBBKMARK sizes[],
                              const BYTE *bookmarks[], HROW rows[], DBROWSTATUS statuses[]) override;
    HRESULT Hash(HCHAPTER, DBBKMARK count, const DBBKMARK sizes[], const BYTE *bookmarks[],
                 DBHASHVALUE hashes[], DBROWSTATUS statuses[]) override;

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

    HRESULT planColumns(IRowset *source, std::vector<DBBINDING> &bindings,
                        std::vector<DBOBJECT> &objects, DBLENGTH &rowSize);
    HRESULT storeRow(IRowset *source, HROW row, HACCESSOR accessor, std::vector<BYTE> &buffer,
                     std::string &scratch);
    Value valueOf(size_t row, const Column &column) const;
    HRESULT handOut(long long first, long long step, DBROWCOUNT count, DBCOUNTITEM *obtained, HROW **rows);
    HRESULT touchRows(DBCOUNTITEM count, const HROW rows[], DBREFCOUNT refCounts[], DBROWSTATUS statuses[]);
    bool rowIndex(DBBKMARK size, const BYTE *bookmark, long long *index) const;
    DBSTATUS writeValue(const DBBINDING &binding, const Column &column, const Value &value, BYTE *out,
                        DBLENGTH *length);

    std::vector<Column> columns_;
    std::vector<unsigned char> rowNulls_; // storeRow's scratch: which values of the row are NULL
    size_t nullBytes_ = 0;
    size_t fixedBytes_ = 0;
    size_t varColumns_ = 0;
    RowStore store_;
    std::unordered_map<HACCESSOR, Accessor> accessors_;
    HACCESSOR nextAccessor_ = 1;
    long long position_ = 0;
    bool atStart_ = true;
};

HRESULT ClientCursor::planColumns(IRowset *source, std::vector<DBBINDING> &bindings,
                                  std::vector<DBOBJECT> &objects, DBLENGTH &rowSize)
{
    ComPtr<IColumnsInfo> columnsInfo;
    HRESULT hr = source->QueryInterface(IID_IColumnsInfo, columnsInfo.putVoid());
    if (FAILED(hr))
        return hr;
    DBORDINAL count = 0;
    DBCOLUMNINFO *info = nullptr;
    OLECHAR *names = nullptr;
    hr = columnsInfo->GetColumnInfo(&count, &info, &names);
    if (FAILED(hr))
        return hr;

    for (DBORDINAL i = 0; i < count; ++i) {
        if (info[i].iOrdinal == 0)
            continue; // a bookmark column of the source is not carried over
        Column c;
        c.info = info[i];
        c.info.pwszName = nullptr;
        c.info.pTypeInfo = nullptr;
        c.hasName = info[i].pwszName != nullptr;
        if (c.hasName)
            c.name = info[i].pwszName;
        const DBTYPE type = DBTYPE(info[i].wType & ~DBTYPE_BYREF);
        const DBLENGTH size = info[i].ulColumnSize;
        const bool isText = type == DBTYPE_STR || type == DBTYPE_WSTR || type == DBTYPE_BYTES;
        if (type == DBTYPE_IUNKNOWN || (info[i].dwFlags & DBCOLUMNFLAGS_ISLONG)
            || (isText && size > inlineLimit)) {
            c.kind = Column::Long;
            c.storedType = type;
            c.sourceType = DBTYPE_IUNKNOWN;
            c.sourceMax = sizeof(IUnknown *);
        } else if (fixedSize(type) != 0) {
            c.kind = Column::Fixed;
            c.storedType = type;
            c.size = fixedSize(type);
            c.sourceType = type;
            c.sourceMax = c.size;
        } else {
            c.kind = Column::Variable;
            if (isText) {
                c.storedType = type;
                c.sourceType = type;
                c.sourceMax = type == DBTYPE_STR ? size + 1 : type == DBTYPE_WSTR ? size * 2 + 2 : size;
            } else {
                // Anything else travels as text.
                c.storedType = DBTYPE_WSTR;
                c.sourceType = DBTYPE_WSTR;
                c.sourceMax = 4000 * 2 + 2;
                c.info.wType = DBTYPE_WSTR;
                c.info.ulColumnSize = 4000;
            }
        }
        columns_.push_back(std::move(c));
    }
    CoTaskMemFree(info);
    CoTaskMemFree(names);

    nullBytes_ = (columns_.size() + 7) / 8;
    DBBYTEOFFSET offset = 0;
    bindings.resize(columns_.size());
    objects.resize(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) {
        Column &c = columns_[i];
        if (c.kind == Column::Fixed) {
            c.fixedOffset = fixedBytes_;
            fixedBytes_ += c.size;
        } else {
            c.varIndex = varColumns_++;
        }
        c.value = roundUp(offset, 8);
        c.length = roundUp(c.value + c.sourceMax, 8);
        c.status = c.length + sizeof(DBLENGTH);
        offset = c.status + sizeof(DBSTATUS);

        DBBINDING &b = bindings[i];
        std::memset(&b, 0, sizeof b);
        b.iOrdinal = c.info.iOrdinal;
        b.obValue = c.value;
        b.obLength = c.length;
        b.obStatus = c.status;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
        b.eParamIO = DBPARAMIO_NOTPARAM;
        b.cbMaxLen = c.sourceMax;
        b.wType = c.sourceType;
        b.bPrecision = c.info.bPrecision;
        b.bScale = c.info.bScale;
        if (c.kind == Column::Long) {
            objects[i] = DBOBJECT{STGM_READ, IID_ISequentialStream};
            b.pObject = &objects[i];
        }
    }
    rowSize = offset;
    return S_OK;
}

HRESULT ClientCursor::storeRow(IRowset *source, HROW row, HACCESSOR accessor,
                               std::vector<BYTE> &buffer, std::string &scratch)
{
    std::fill(buffer.begin(), buffer.end(), BYTE(0));
    HRESULT hr = source->GetData(row, accessor, buffer.data());
    if (FAILED(hr))
        return hr;

    // Long values are read first: their size decides the record's size.
    std::vector<std::string> longValues;
    size_t recordSize = nullBytes_ + fixedBytes_;
    std::vector<unsigned char> &nulls = rowNulls_;
    nulls.assign(columns_.size(), 0);
    for (size_t i = 0; i < columns_.size(); ++i) {
        const Column &c = columns_[i];
        DBSTATUS status;
        std::memcpy(&status, buffer.data() + c.status, sizeof status);
        nulls[i] = status == DBSTATUS_S_ISNULL;
        if (c.kind == Column::Fixed)
            continue;
        recordSize += sizeof(uint32_t);
        if (c.kind == Column::Long) {
            IUnknown *object;
            std::memcpy(&object, buffer.data() + c.value, sizeof object);
            scratch.clear();
            if (!nulls[i] && object) {
                ComPtr<IUnknown> owned = ComPtr<IUnknown>::adopt(object);
                ComPtr<ISequentialStream> stream;
                hr = owned.query(IID_ISequentialStream, stream);
                if (FAILED(hr))
                    return hr;
                for (;;) {
                    const size_t at = scratch.size();
                    scratch.resize(at + streamChunk);
                    ULONG read = 0;
                    hr = stream->Read(&scratch[at], ULONG(streamChunk), &read);
                    scratch.resize(at + std::min<size_t>(read, streamChunk));
                    if (FAILED(hr))
                        return hr;
                    if (read == 0 || hr != S_OK)
                        break;
                }
            }
            longValues.push_back(scratch);
            recordSize += scratch.size();
        } else if (!nulls[i]) {
            DBLENGTH length;
            std::memcpy(&length, buffer.data() + c.length, sizeof length);
            recordSize += std::min<DBLENGTH>(length, c.sourceMax);
        }
    }
    if (recordSize > UINT32_MAX)
        return E_OUTOFMEMORY;

    BYTE *record = store_.allocate(recordSize);
    if (!record)
        return E_OUTOFMEMORY;
    std::memset(record, 0, nullBytes_);
    BYTE *fixed = record + nullBytes_;
    BYTE *var = fixed + fixedBytes_;
    size_t longIndex = 0;
    for (size_t i = 0; i < columns_.size(); ++i) {
        const Column &c = columns_[i];
        if (nulls[i])
            record[i / 8] |= BYTE(1u << (i % 8));
        if (c.kind == Column::Fixed) {
            if (!nulls[i])
                std::memcpy(fixed + c.fixedOffset, buffer.data() + c.value, c.size);
            else
                std::memset(fixed + c.fixedOffset, 0, c.size);
            continue;
        }
        const BYTE *bytes = nullptr;
        uint32_t size = 0;
        if (c.kind == Column::Long) {
            const std::string &value = longValues[longIndex++];
            bytes = reinterpret_cast<const BYTE *>(value.data());
            size = uint32_t(value.size());
        } else if (!nulls[i]) {
            DBLENGTH length;
            std::memcpy(&length, buffer.data() + c.length, sizeof length);
            bytes = buffer.data() + c.value;
            size = uint32_t(std::min<DBLENGTH>(length, c.sourceMax));
        }
        std::memcpy(var, &size, sizeof size);
        if (size)
            std::memcpy(var + sizeof size, bytes, size);
        var += sizeof size + size;
    }
    store_.rows.push_back(record);
    return S_OK;
}

HRESULT ClientCursor::load(IRowset *source)
{
    if (!source)
        return E_INVALIDARG;
    std::vector<DBBINDING> bindings;
    std::vector<DBOBJECT> objects;
    DBLENGTH rowSize = 0;
    HRESULT hr = planColumns(source, bindings, objects, rowSize);
    if (FAILED(hr))
        return hr;

    ComPtr<IAccessor> accessor;
    hr = source->QueryInterface(IID_IAccessor, accessor.putVoid());
    if (FAILED(hr))
        return hr;
    HACCESSOR handle = 0;
    if (!bindings.empty()) {
        hr = accessor->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), rowSize,
                                      &handle, nullptr);
        if (FAILED(hr))
            return hr;
    }

    std::vector<BYTE> buffer(rowSize ? rowSize : 1);
    std::string scratch;
    HROW handles[fetchBatch];
    for (;;) {
        DBCOUNTITEM obtained = 0;
        HROW *rows = handles;
        hr = source->GetNextRows(DB_NULL_HCHAPTER, 0, DBROWCOUNT(fetchBatch), &obtained, &rows);
        if (FAILED(hr))
            break;
        const HRESULT fetched = hr;
        for (DBCOUNTITEM i = 0; i < obtained && SUCCEEDED(hr); ++i) {
            if (!bindings.empty())
                hr = storeRow(source, handles[i], handle, buffer, scratch);
            else
                store_.rows.push_back(nullptr);
        }
        if (obtained > 0)
            source->ReleaseRows(obtained, handles, nullptr, nullptr, nullptr);
        if (FAILED(hr) || fetched != S_OK || obtained == 0)
            break;
    }
    if (handle)
        accessor->ReleaseAccessor(handle, nullptr);
    store_.finish();
    return FAILED(hr) ? hr : S_OK;
}

Value ClientCursor::valueOf(size_t row, const Column &column) const
{
    Value v;
    const BYTE *record = store_.rows[row];
    const size_t index = size_t(&column - columns_.data());
    if (!record || (record[index / 8] & (1u << (index % 8))))
        return v;
    v.isNull = false;
    if (column.kind == Column::Fixed) {
        v.data = record + nullBytes_ + column.fixedOffset;
        v.size = column.size;
        return v;
    }
    const BYTE *var = record + nullBytes_ + fixedBytes_;
    for (size_t k = 0;; ++k) {
        uint32_t size;
        std::memcpy(&size, var, sizeof size);
        if (k == column.varIndex) {
            v.data = var + sizeof size;
            v.size = size;
            return v;
        }
        var += sizeof size + size;
    }
}

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
        std::memcpy(out, value.data, n);
        return n < value.size ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
    }
    }
}

HRESULT ClientCursor::GetData(HROW row, HACCESSOR handle, void *data)
{
    auto found = accessors_.find(handle);
    if (found == accessors_.end())
        return DB_E_BADACCESSORHANDLE;
    if (row == 0 || row > store_.rows.size())
        return DB_E_BADROWHANDLE;
    if (!data && !found->second.bindings.empty())
        return E_INVALIDARG;
    BYTE *buffer = static_cast<BYTE *>(data);
    size_t failures = 0;
    for (const DBBINDING &binding : found->second.bindings) {
        const Column &column = columns_[binding.iOrdinal - 1];
        const Value value = valueOf(row - 1, column);
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
    return failures == found->second.bindings.size() ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

// Hands out up to |count| row handles from row `first` on, one `step` apart.
HRESULT ClientCursor::handOut(long long first, long long step, DBROWCOUNT count,
                              DBCOUNTITEM *obtained, HROW **rows)
{
    const long long n = (long long)store_.rows.size();
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
    const long long n = (long long)store_.rows.size();
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
        const bool valid = rows[i] != 0 && rows[i] <= store_.rows.size();
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
    const long long n = (long long)store_.rows.size();
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
        DBBKMARK value;
        std::memcpy(&value, bookmark, sizeof value);
        *index = (long long)value - 1;
        return *index >= 0 && *index < n;
    }
    return false;
}

HRESULT ClientCursor::Compare(HCHAPTER, DBBKMARK size1, const BYTE *bookmark1, DBBKMARK size2,
                              const BYTE *bookmark2, DBCOMPARE *comparison)
{
    long long a, b;
    if (!comparison || !rowIndex(size1, bookmark1, &a) || !rowIndex(size2, bookmark2, &b))
        return DB_E_BADBOOKMARK;
    *comparison = a < b ? DBCOMPARE_LT : a > b ? DBCOMPARE_GT : DBCOMPARE_EQ;
    return S_OK;
}

HRESULT ClientCursor::GetRowsAt(HWATCHREGION, HCHAPTER, DBBKMARK size, const BYTE *bookmark,
                                DBROWOFFSET offset, DBROWCOUNT count, DBCOUNTITEM *obtained,
                                HROW **rows)
{
    if (!obtained || !rows)
        return E_INVALIDARG;
    *obtained = 0;
    long long start;
    if (!rowIndex(size, bookmark, &start))
        return DB_E_BADBOOKMARK;
    const long long first = start + offset;
    if (first < 0 || first >= (long long)store_.rows.size())
        return DB_S_ENDOFROWSET;
    return handOut(first, count >= 0 ? 1 : -1, count, obtained, rows);
}

HRESULT ClientCursor::GetRowsByBookmark(HCHAPTER, DBCOUNTITEM count, const DBBKMARK sizes[],
                                        const BYTE *bookmarks[], HROW rows[], DBROWSTATUS statuses[])
{
    if (!rows || !sizes || !bookmarks)
        return E_INVALIDARG;
    DBCOUNTITEM bad = 0;
    for (DBCOUNTITEM i = 0; i < count; ++i) {
        long long index;
        const bool ok = rowIndex(sizes[i], bookmarks[i], &index);
        rows[i] = ok ? HROW(index + 1) : 0;
        if (statuses)
            statuses[i] = ok ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID;
        bad += ok ? 0 : 1;
    }
    return bad == 0 ? S_OK : bad == count ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

HRESULT ClientCursor::Hash(HCHAPTER, DBBKMARK count, const DBBKMARK sizes[], const BYTE *bookmarks[],
                           DBHASHVALUE hashes[], DBROWSTATUS statuses[])
{
    if (!hashes || !sizes || !bookmarks)
        return E_INVALIDARG;
    DBBKMARK bad = 0;
    for (DBBKMARK i = 0; i < count; ++i) {
        long long index = 0;
        const bool ok = rowIndex(sizes[i], bookmarks[i], &index);
        hashes[i] = ok ? DBHASHVALUE(index) : 0;
        if (statuses)
            statuses[i] = ok ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID;
        bad += ok ? 0 : 1;
    }
    return bad == 0 ? S_OK : bad == count ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

HRESULT ClientCursor::GetApproximatePosition(HCHAPTER, DBBKMARK size, const BYTE *bookmark,
                                             DBCOUNTITEM *position, DBCOUNTITEM *rows)
{
    const DBCOUNTITEM n = store_.rows.size();
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
    const long long n = (long long)store_.rows.size();
    long long first = (long long)(double(numerator) / double(denominator) * double(n));
    if (count < 0)
        first -= 1;
    if (first < 0 || first >= n)
        return DB_S_ENDOFROWSET;
    return handOut(first, count >= 0 ? 1 : -1, count, obtained, rows);
}

HRESULT ClientCursor::AddRefAccessor(HACCESSOR handle, DBREFCOUNT *refs)
{
    auto found = accessors_.find(handle);
    if (found == accessors_.end())
        return DB_E_BADACCESSORHANDLE;
    ++found->second.refs;
    if (refs)
        *refs = found->second.refs;
    return S_OK;
}

HRESULT ClientCursor::CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count,
                                     const DBBINDING bindings[], DBLENGTH rowSize,
                                     HACCESSOR *handle, DBBINDSTATUS statuses[])
{
    if (!handle)
        return E_INVALIDARG;
    *handle = 0;
    if (count > 0 && !bindings)
        return E_INVALIDARG;
    if (!(flags & DBACCESSOR_ROWDATA) || (flags & DBACCESSOR_PARAMETERDATA))
        return DB_E_BADACCESSORFLAGS;
    if (count == 0)
        return DB_E_NULLACCESSORNOTSUPPORTED;
    Accessor accessor;
    accessor.flags = flags;
    accessor.rowSize = rowSize;
    accessor.bindings.assign(bindings, bindings + count);
    accessor.objects.resize(count);
    bool bad = false;
    for (DBCOUNTITEM i = 0; i < count; ++i) {
        DBBINDING &b = accessor.bindings[i];
        const bool ordinalOk = b.iOrdinal >= 1 && b.iOrdinal <= columns_.size();
        if (b.pObject) {
            accessor.objects[i] = *b.pObject;
            b.pObject = &accessor.objects[i];
        }
        b.pTypeInfo = nullptr;
        b.pBindExt = nullptr;
        if (statuses)
            statuses[i] = ordinalOk ? DBBINDSTATUS_OK : DBBINDSTATUS_BADORDINAL;
        bad = bad || !ordinalOk;
    }
    if (bad)
        return DB_E_ERRORSOCCURRED;
    // The objects vector never moves again: the bindings point into it.
    const HACCESSOR id = nextAccessor_++;
    accessors_.emplace(id, std::move(accessor));
    *handle = id;
    return S_OK;
}

HRESULT ClientCursor::GetBindings(HACCESSOR handle, DBACCESSORFLAGS *flags, DBCOUNTITEM *count,
                                  DBBINDING **bindings)
{
    if (!flags || !count || !bindings)
        return E_INVALIDARG;
    *count = 0;
    *bindings = nullptr;
    auto found = accessors_.find(handle);
    if (found == accessors_.end())
        return DB_E_BADACCESSORHANDLE;
    const Accessor &a = found->second;
    *flags = a.flags;
    *bindings = static_cast<DBBINDING *>(CoTaskMemAlloc(a.bindings.size() * sizeof(DBBINDING)));
    if (!*bindings)
        return E_OUTOFMEMORY;
    for (size_t i = 0; i < a.bindings.size(); ++i) {
        (*bindings)[i] = a.bindings[i];
        if (a.bindings[i].pObject) {
            auto *object = static_cast<DBOBJECT *>(CoTaskMemAlloc(sizeof(DBOBJECT)));
            if (object)
                *object = *a.bindings[i].pObject;
            (*bindings)[i].pObject = object;
        }
    }
    *count = a.bindings.size();
    return S_OK;
}

HRESULT ClientCursor::ReleaseAccessor(HACCESSOR handle, DBREFCOUNT *refs)
{
    auto found = accessors_.find(handle);
    if (found == accessors_.end())
        return DB_E_BADACCESSORHANDLE;
    const ULONG left = --found->second.refs;
    if (left == 0)
        accessors_.erase(found);
    if (refs)
        *refs = left;
    return S_OK;
}

HRESULT ClientCursor::GetColumnInfo(DBORDINAL *count, DBCOLUMNINFO **info, OLECHAR **names)
{
    if (!count || !info || !names)
        return E_INVALIDARG;
    *count = 0;
    *info = nullptr;
    *names = nullptr;
    size_t chars = 0;
    for (const Column &c : columns_)
        chars += c.hasName ? c.name.size() + 1 : 0;
    auto *table = static_cast<DBCOLUMNINFO *>(CoTaskMemAlloc(sizeof(DBCOLUMNINFO) * (columns_.size() ? columns_.size() : 1)));
    auto *text = static_cast<OLECHAR *>(CoTaskMemAlloc(sizeof(OLECHAR) * (chars ? chars : 1)));
    if (!table || !text) {
        CoTaskMemFree(table);
        CoTaskMemFree(text);
        return E_OUTOFMEMORY;
    }
    OLECHAR *next = text;
    for (size_t i = 0; i < columns_.size(); ++i) {
        table[i] = columns_[i].info;
        table[i].pwszName = nullptr;
        if (columns_[i].hasName) {
            std::memcpy(next, columns_[i].name.c_str(), (columns_[i].name.size() + 1) * sizeof(OLECHAR));
            table[i].pwszName = next;
            next += columns_[i].name.size() + 1;
        }
        // Column ids by name are not kept: ordinals identify columns.
        table[i].columnid = DB_NULLID;
    }
    *count = columns_.size();
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
            const std::u16string wanted = ids[i].uName.pwszName;
            for (const Column &c : columns_) {
                if (c.hasName && c.name == wanted)
                    ordinals[i] = c.info.iOrdinal;
            }
        } else if (ids[i].eKind == DBKIND_PROPID && ids[i].uName.ulPropid >= 1
                   && ids[i].uName.ulPropid <= columns_.size()) {
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
