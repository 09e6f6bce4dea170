#include "platform/services/clientcursorrows.h"

#include "platform/com/comptr.h"
#include "platform/services/alignment.h"
#include "platform/com/oletext.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace rz {
namespace {

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

// The bytes of a NUMERIC's value a column of `precision` digits can need.
size_t numericValueBytes(BYTE precision)
{
    if (precision == 0 || precision > 38)
        return sizeof(DB_NUMERIC::val);
    // Smallest w with 256^w > 10^precision - 1.
    unsigned __int128 largest = 1;
    for (BYTE i = 0; i < precision; ++i)
        largest *= 10;
    largest -= 1;
    size_t bytes = 1;
    while (bytes < sizeof(DB_NUMERIC::val) && (largest >> (8 * bytes)) != 0)
        ++bytes;
    return bytes;
}

constexpr size_t packedTimestampSize = 2 + 5 + 4;

// A variable value's length goes before it: four bytes for a long value,
// one or two for an inline one (at most inlineLimit + 2 bytes).
size_t lengthBytesFor(const ClientCursorRows::Column &c)
{
    if (c.kind == ClientCursorRows::Column::Long)
        return sizeof(uint32_t);
    return c.sourceMax <= 0xFF ? 1 : sizeof(uint16_t);
}

void writeLength(BYTE *at, size_t lengthBytes, uint32_t size)
{
    if (lengthBytes == 1) {
        *at = BYTE(size);
    } else if (lengthBytes == 4) {
        std::memcpy(at, &size, sizeof size);
    } else {
        const uint16_t shortSize = uint16_t(size);
        std::memcpy(at, &shortSize, sizeof shortSize);
    }
}

// Packs a value into its record form; false when it does not fit.
bool pack(const ClientCursorRows::Column &c, const BYTE *in, BYTE *out)
{
    switch (c.packing) {
    case ClientCursorRows::Column::Numeric: {
        const size_t valueBytes = c.storedSize - 3;
        for (size_t i = valueBytes; i < sizeof(DB_NUMERIC::val); ++i)
            if (in[offsetof(DB_NUMERIC, val) + i] != 0)
                return false;
        out[0] = in[offsetof(DB_NUMERIC, precision)];
        out[1] = in[offsetof(DB_NUMERIC, scale)];
        out[2] = in[offsetof(DB_NUMERIC, sign)];
        std::memcpy(out + 3, in + offsetof(DB_NUMERIC, val), valueBytes);
        return true;
    }
    case ClientCursorRows::Column::Timestamp: {
        DBTIMESTAMP t;
        std::memcpy(&t, in, sizeof t);
        const USHORT parts[5] = {t.month, t.day, t.hour, t.minute, t.second};
        std::memcpy(out, &t.year, 2);
        for (size_t i = 0; i < 5; ++i) {
            if (parts[i] > 0xFF)
                return false;
            out[2 + i] = BYTE(parts[i]);
        }
        std::memcpy(out + 7, &t.fraction, 4);
        return true;
    }
    case ClientCursorRows::Column::Plain:
        break;
    }
    if (c.size == 8)
        std::memcpy(out, in, 8); // the commonest sizes, copied inline
    else if (c.size == 4)
        std::memcpy(out, in, 4);
    else
        std::memcpy(out, in, c.size);
    return true;
}

} // namespace

void ClientCursorRows::unpack(const Column &c, const BYTE *in, BYTE *out)
{
    if (c.packing == ClientCursorRows::Column::Numeric) {
        DB_NUMERIC n{};
        n.precision = in[0];
        n.scale = in[1];
        n.sign = in[2];
        std::memcpy(n.val, in + 3, c.storedSize - 3);
        std::memcpy(out, &n, sizeof n);
    } else {
        DBTIMESTAMP t{};
        std::memcpy(&t.year, in, 2);
        t.month = in[2];
        t.day = in[3];
        t.hour = in[4];
        t.minute = in[5];
        t.second = in[6];
        std::memcpy(&t.fraction, in + 7, 4);
        std::memcpy(out, &t, sizeof t);
    }
}

BYTE *ClientCursorRows::allocate(size_t bytes)
{
    if (blocks_.empty() || used_ + bytes > capacity_) {
        capacity_ = std::max(blockSize, bytes);
        blocks_.emplace_back(new (std::nothrow) BYTE[capacity_]);
        if (!blocks_.back()) {
            blocks_.pop_back();
            capacity_ = 0;
            return nullptr;
        }
        used_ = 0;
        blockFirstRow_.push_back(rowOffsets_.size());
    }
    BYTE *p = blocks_.back().get() + used_;
    used_ += bytes;
    return p;
}

HRESULT ClientCursorRows::planColumns(IRowset *source, std::vector<DBBINDING> &bindings,
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
            c.name = rz::asUtf16(info[i].pwszName);
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
            c.storedSize = c.size;
            if (type == DBTYPE_NUMERIC) {
                c.packing = Column::Numeric;
                c.storedSize = 3 + numericValueBytes(info[i].bPrecision);
            } else if (type == DBTYPE_DBTIMESTAMP) {
                c.packing = Column::Timestamp;
                c.storedSize = packedTimestampSize;
            }
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
            fixedBytes_ += c.storedSize;
        } else {
            c.varIndex = varColumns_++;
            c.lengthBytes = lengthBytesFor(c);
            varLengthBytes_.push_back(BYTE(c.lengthBytes));
            varLengthTotal_ += c.lengthBytes;
            hasLong_ = hasLong_ || c.kind == Column::Long;
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

HRESULT ClientCursorRows::readThroughGetData(IRowset *source, HROW row, HACCESSOR accessor,
                                             std::vector<BYTE> &buffer)
{
    std::fill(buffer.begin(), buffer.end(), BYTE(0));
    HRESULT hr = source->GetData(row, accessor, buffer.data());
    if (FAILED(hr))
        return hr;
    size_t longIndex = 0;
    varValueBytes_ = 0;
    for (size_t i = 0; i < columns_.size(); ++i) {
        const Column &c = columns_[i];
        SourceValue &v = rowValues_[i];
        DBSTATUS status;
        std::memcpy(&status, buffer.data() + c.status, sizeof status);
        v.isNull = status == DBSTATUS_S_ISNULL;
        v.data = buffer.data() + c.value;
        v.size = 0;
        if (c.kind == Column::Fixed) {
            v.size = c.size;
        } else if (c.kind == Column::Long) {
            IUnknown *object;
            std::memcpy(&object, buffer.data() + c.value, sizeof object);
            std::string &bytes = longValues_[longIndex++];
            bytes.clear();
            if (!v.isNull && object) {
                ComPtr<IUnknown> owned = ComPtr<IUnknown>::adopt(object);
                ComPtr<ISequentialStream> stream;
                hr = owned.query(IID_ISequentialStream, stream);
                if (FAILED(hr))
                    return hr;
                for (;;) {
                    const size_t at = bytes.size();
                    bytes.resize(at + streamChunk);
                    ULONG read = 0;
                    hr = stream->Read(&bytes[at], ULONG(streamChunk), &read);
                    bytes.resize(at + std::min<size_t>(read, streamChunk));
                    if (FAILED(hr))
                        return hr;
                    if (read == 0 || hr != S_OK)
                        break;
                }
            }
            v.data = reinterpret_cast<const BYTE *>(bytes.data());
            v.size = bytes.size();
            varValueBytes_ += v.size;
        } else if (!v.isNull) {
            DBLENGTH length;
            std::memcpy(&length, buffer.data() + c.length, sizeof length);
            v.size = size_t(std::min<DBLENGTH>(length, c.sourceMax));
            varValueBytes_ += v.size;
        }
    }
    return S_OK;
}

bool ClientCursorRows::readThroughViews(IRowValueViews *views, HROW row, HACCESSOR accessor)
{
    if (views->GetValueViews(row, accessor, views_.data()) != S_OK)
        return false;
    size_t varBytes = 0;
    for (size_t i = 0; i < columns_.size(); ++i) {
        const Column &c = columns_[i];
        const RowValueView &view = views_[i];
        SourceValue &v = rowValues_[i];
        v.isNull = view.status == DBSTATUS_S_ISNULL;
        v.data = static_cast<const BYTE *>(view.data);
        v.size = v.isNull ? 0 : size_t(view.length);
        // The sizes GetData would have written, or that path decides.
        if (c.kind == Column::Fixed ? !v.isNull && v.size != c.size : v.size > c.sourceMax)
            return false;
        varBytes += c.kind == Column::Fixed ? 0 : v.size;
    }
    varValueBytes_ = varBytes;
    return true;
}

HRESULT ClientCursorRows::storeRow()
{
    const size_t recordSize = nullBytes_ + fixedBytes_ + varLengthTotal_ + varValueBytes_;
    if (recordSize > UINT32_MAX)
        return E_OUTOFMEMORY;

    BYTE *record = allocate(recordSize);
    if (!record)
        return E_OUTOFMEMORY;
    std::memset(record, 0, nullBytes_);
    BYTE *fixed = record + nullBytes_;
    BYTE *var = fixed + fixedBytes_;
    for (size_t i = 0; i < columns_.size(); ++i) {
        const Column &c = columns_[i];
        const SourceValue &v = rowValues_[i];
        if (v.isNull)
            record[i / 8] |= BYTE(1u << (i % 8));
        if (c.kind == Column::Fixed) {
            if (!v.isNull) {
                if (!pack(c, v.data, fixed + c.fixedOffset))
                    return DB_E_DATAOVERFLOW;
            } else {
                std::memset(fixed + c.fixedOffset, 0, c.storedSize);
            }
            continue;
        }
        const uint32_t size = uint32_t(v.size);
        writeLength(var, c.lengthBytes, size);
        if (size)
            std::memcpy(var + c.lengthBytes, v.data, size);
        var += c.lengthBytes + size;
    }
    rowOffsets_.push_back(uint32_t(record - blocks_.back().get()));
    return S_OK;
}

HRESULT ClientCursorRows::load(IRowset *source)
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
    // Long values come through storage objects, which only GetData hands out.
    ComPtr<IRowValueViews> views;
    if (!hasLong_ && !bindings.empty() && FAILED(source->QueryInterface(IID_IRowValueViews, views.putVoid())))
        views.reset();

    rowValues_.resize(columns_.size());
    views_.resize(columns_.size());
    longValues_.resize(varColumns_);
    std::vector<BYTE> buffer(rowSize ? rowSize : 1);
    HROW handles[fetchBatch];
    for (;;) {
        DBCOUNTITEM obtained = 0;
        HROW *rows = handles;
        hr = source->GetNextRows(DB_NULL_HCHAPTER, 0, DBROWCOUNT(fetchBatch), &obtained, &rows);
        if (FAILED(hr))
            break;
        const HRESULT fetched = hr;
        for (DBCOUNTITEM i = 0; i < obtained && SUCCEEDED(hr); ++i) {
            if (bindings.empty()) {
                rowOffsets_.push_back(0);
                continue;
            }
            if (!views || !readThroughViews(views.get(), handles[i], handle))
                hr = readThroughGetData(source, handles[i], handle, buffer);
            if (SUCCEEDED(hr))
                hr = storeRow();
        }
        if (obtained > 0)
            source->ReleaseRows(obtained, handles, nullptr, nullptr, nullptr);
        if (FAILED(hr) || fetched != S_OK || obtained == 0)
            break;
    }
    if (handle)
        accessor->ReleaseAccessor(handle, nullptr);
    rowValues_ = {};
    views_ = {};
    longValues_ = {};
    return FAILED(hr) ? hr : S_OK;
}

const BYTE *ClientCursorRows::record(size_t row) const
{
    if (columns_.empty())
        return nullptr;
    // The last block that starts at or before the row.
    const auto after = std::upper_bound(blockFirstRow_.begin(), blockFirstRow_.end(), row);
    return blocks_[size_t(after - blockFirstRow_.begin()) - 1].get() + rowOffsets_[row];
}

ClientCursorRows::RowReader::RowReader(const ClientCursorRows &rows, size_t row)
    : rows_(rows), record_(rows.record(row))
{
    if (record_)
        walkedAt_ = record_ + rows.nullBytes_ + rows.fixedBytes_;
}

} // namespace rz
