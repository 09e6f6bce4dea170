#include "provider/objects/rowset.h"

#include "platform/com/comobject.h"
#include "platform/services/accessortable.h"
#include "platform/services/clientcursor.h"
#include "platform/services/rowvalueviews.h"
#include "platform/com/oletext.h"
#include "provider/diagnostics/errors.h"
#include "provider/objects/supporterrorinfo.h"
#include "provider/values/columnconversion.h"
#include "provider/values/columninplace.h"

#include <cstring>
#include <deque>

namespace rz::provider {

namespace {

class Rowset final
    : public rz::ComObject<IRowset, IAccessor, IColumnsInfo, IRowsetInfo, IConvertType, ISupportErrorInfo,
                           rz::IRowValueViews> {
public:
    Rowset(std::shared_ptr<ResultStream> stream, rz::ComPtr<IUnknown> creator, const RowsetOptions &options,
           Reexecute reexecute)
        : stream_(std::move(stream)), result_(stream_->currentResult()), columns_(stream_->columns()),
          creator_(std::move(creator)), reexecute_(std::move(reexecute))
    {
        stream_->addReader(result_);
        declareRowsetProperties(properties_);
        DBPROPSET set;
        DBPROP prop;
        std::memset(&prop, 0, sizeof prop);
        prop.dwPropertyID = DBPROP_COMMANDTIMEOUT;
        prop.vValue.vt = VT_I4;
        prop.vValue.lVal = options.commandTimeout;
        set.guidPropertySet = DBPROPSET_ROWSET;
        set.cProperties = 1;
        set.rgProperties = &prop;
        properties_.setProperties(1, &set);
        properties_.setReadOnly(true);
    }

    ~Rowset() override
    {
        held_.clear();
        current_.reset();
        stream_->removeReader(result_);
    }

    // IRowset
    HRESULT AddRefRows(DBCOUNTITEM count, const HROW rows[], DBREFCOUNT refCounts[], DBROWSTATUS statuses[]) override
    {
        return changeRowRefs(count, rows, refCounts, statuses, +1);
    }

    HRESULT ReleaseRows(DBCOUNTITEM count, const HROW rows[], DBROWOPTIONS[], DBREFCOUNT refCounts[],
                        DBROWSTATUS statuses[]) override
    {
        return changeRowRefs(count, rows, refCounts, statuses, -1);
    }

    HRESULT GetData(HROW row, HACCESSOR handle, void *data) override
    {
        const HeldRow *heldRow = findHeld(row);
        if (!heldRow) {
            beginCall();
            return reportFailure(DB_E_BADROWHANDLE, IID_IRowset, u"The row handle is not valid.");
        }
        const Accessor *accessor = accessors_.find(handle);
        if (!accessor || !(accessor->flags & DBACCESSOR_ROWDATA)) {
            beginCall();
            return reportFailure(DB_E_BADACCESSORHANDLE, IID_IRowset, u"The accessor handle is not valid.");
        }
        if (!data && !accessor->bindings.empty())
            return E_INVALIDARG;
        const RowBlock &block = *heldRow->block;
        size_t failures = 0;
        for (const DBBINDING &b : accessor->bindings) {
            const FetchedValue value = fetchedValue(columns_[b.iOrdinal - 1], block, heldRow->index, rowSize_,
                                                    longColumnCount_);
            const DBSTATUS status = writeColumnBinding(value, b, static_cast<BYTE *>(data));
            if (status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL && status != DBSTATUS_S_TRUNCATED)
                ++failures;
        }
        if (failures == 0)
            return S_OK;
        beginCall();
        const HRESULT hr = failures == accessor->bindings.size() ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
        return reportFailure(hr, IID_IRowset, u"A value could not be converted to its binding's type; see the status parts.");
    }

    // IRowValueViews: GetData's conversions, without the buffer.
    HRESULT GetValueViews(HROW row, HACCESSOR handle, rz::RowValueView views[]) override
    {
        const HeldRow *heldRow = findHeld(row);
        if (!heldRow)
            return DB_E_BADROWHANDLE;
        // The accessor's bindings were checked when it was made.
        const Accessor *accessor = accessors_.find(handle);
        if (!accessor || !(accessor->flags & DBACCESSOR_ROWDATA))
            return DB_E_BADACCESSORHANDLE;
        const RowBlock &block = *heldRow->block;
        rz::RowValueView *view = views;
        for (const DBBINDING &b : accessor->bindings) {
            const FetchedValue value = fetchedValue(columns_[b.iOrdinal - 1], block, heldRow->index, rowSize_,
                                                    longColumnCount_);
            if (!columnValueInPlace(value, b, view->room, view->status, view->data, view->length))
                return S_FALSE;
            ++view;
        }
        return S_OK;
    }

    HRESULT GetNextRows(HCHAPTER, DBROWOFFSET offset, DBROWCOUNT count, DBCOUNTITEM *obtained, HROW **rows) override
    {
        beginCall();
        if (!obtained || !rows)
            return E_INVALIDARG;
        *obtained = 0;
        if (offset < 0)
            return reportFailure(DB_E_CANTSCROLLBACKWARDS, IID_IRowset, u"The rowset cannot scroll backwards.");
        if (count < 0)
            return reportFailure(DB_E_CANTFETCHBACKWARDS, IID_IRowset, u"The rowset cannot fetch backwards.");
        started_ = true;
        for (DBROWOFFSET skipped = 0; skipped < offset; ++skipped) {
            const HRESULT hr = ensureRow();
            if (hr != S_OK)
                return hr == DB_S_ENDOFROWSET ? DB_S_ENDOFROWSET : reportFailure(hr, IID_IRowset);
            ++currentIndex_;
        }
        if (count == 0)
            return S_OK;
        const bool allocated = *rows == nullptr;
        if (allocated) {
            *rows = static_cast<HROW *>(CoTaskMemAlloc(sizeof(HROW) * size_t(count)));
            if (!*rows)
                return E_OUTOFMEMORY;
        }
        DBROWCOUNT k = 0;
        HRESULT hr = S_OK;
        for (; k < count; ++k) {
            hr = ensureRow();
            if (hr != S_OK)
                break;
            (*rows)[k] = firstHeld_ + held_.size();
            held_.push_back(HeldRow{current_, currentIndex_++, 1});
            ++heldCount_;
        }
        *obtained = DBCOUNTITEM(k);
        const bool failureDeferred = FAILED(hr) && k > 0;
        if (failureDeferred) {
            deferredFailure_ = takePendingDiagnostics(); // reported by the next call
            hr = S_OK;
        } else if (FAILED(hr)) {
            hr = reportFailure(hr, IID_IRowset);
        }
        if (k == 0 && allocated) {
            CoTaskMemFree(*rows);
            *rows = nullptr;
        }
        if (FAILED(hr))
            return hr;
        // Fewer rows with a failure to come is no end: a consumer that stops
        // at DB_S_ENDOFROWSET would never ask for the failure.
        return k == count || failureDeferred ? S_OK : DB_S_ENDOFROWSET;
    }

    HRESULT RestartPosition(HCHAPTER) override
    {
        beginCall();
        if (!started_)
            return S_OK;
        if (heldCount_ != 0)
            return reportFailure(DB_E_ROWSNOTRELEASED, IID_IRowset, u"Rows of the rowset are still held.");
        if (!reexecute_)
            return reportFailure(DB_E_CANNOTRESTART, IID_IRowset, u"The rowset cannot be restarted.");
        std::shared_ptr<ResultStream> fresh;
        const HRESULT hr = reexecute_(fresh);
        if (FAILED(hr))
            return reportFailure(hr, IID_IRowset);
        if (!fresh || fresh->columns().size() != columns_.size())
            return reportFailure(DB_E_CANNOTRESTART, IID_IRowset, u"The statement no longer gives the same columns.");
        current_.reset();
        currentIndex_ = 0;
        deferredFailure_.clear();
        stream_->removeReader(result_);
        stream_ = std::move(fresh);
        result_ = stream_->currentResult();
        stream_->addReader(result_);
        started_ = false;
        return DB_S_COMMANDREEXECUTED;
    }

    // IAccessor
    HRESULT AddRefAccessor(HACCESSOR handle, DBREFCOUNT *refCount) override { return accessors_.addRef(handle, refCount); }

    HRESULT CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH rowSize,
                           HACCESSOR *handle, DBBINDSTATUS statuses[]) override
    {
        beginCall();
        if (flags & DBACCESSOR_PARAMETERDATA)
            return DB_E_BADACCESSORFLAGS;
        return accessors_.create(flags, count, bindings, rowSize, handle, statuses, [this](const DBBINDING &b) {
            if (b.iOrdinal < 1 || b.iOrdinal > columns_.size())
                return DBBINDSTATUS_BADORDINAL;
            const SqlServerType &type = columns_[b.iOrdinal - 1].type;
            if ((b.wType & ~DBTYPE_BYREF) == DBTYPE_IUNKNOWN && b.pObject && b.pObject->iid != IID_ISequentialStream
                && b.pObject->iid != IID_IUnknown)
                return DBBINDSTATUS_NOINTERFACE;
            if ((b.wType & DBTYPE_BYREF) || !canBindColumnAs(type, b.wType))
                return DBBINDSTATUS_UNSUPPORTEDCONVERSION;
            return DBBINDSTATUS_OK;
        });
    }

    HRESULT GetBindings(HACCESSOR handle, DBACCESSORFLAGS *flags, DBCOUNTITEM *count, DBBINDING **bindings) override
    {
        return accessors_.getBindings(handle, flags, count, bindings);
    }

    HRESULT ReleaseAccessor(HACCESSOR handle, DBREFCOUNT *refCount) override { return accessors_.release(handle, refCount); }

    // IColumnsInfo
    HRESULT GetColumnInfo(DBORDINAL *count, DBCOLUMNINFO **info, OLECHAR **names) override
    {
        if (!count || !info || !names)
            return E_INVALIDARG;
        *count = 0;
        *info = nullptr;
        *names = nullptr;
        if (columns_.empty())
            return S_OK;
        size_t nameUnits = 0;
        for (const auto &c : columns_)
            nameUnits += c.name.size() + 1;
        auto *table = static_cast<DBCOLUMNINFO *>(CoTaskMemAlloc(sizeof(DBCOLUMNINFO) * columns_.size()));
        auto *buffer = static_cast<OLECHAR *>(CoTaskMemAlloc(sizeof(OLECHAR) * nameUnits));
        if (!table || !buffer) {
            CoTaskMemFree(table);
            CoTaskMemFree(buffer);
            return E_OUTOFMEMORY;
        }
        OLECHAR *name = buffer;
        for (size_t i = 0; i < columns_.size(); ++i) {
            const ColumnDescription &c = columns_[i];
            DBCOLUMNINFO &out = table[i];
            std::memset(&out, 0, sizeof out);
            std::memcpy(name, c.name.c_str(), (c.name.size() + 1) * sizeof(OLECHAR));
            out.pwszName = name;
            name += c.name.size() + 1;
            out.iOrdinal = i + 1;
            out.dwFlags = columnFlags(c);
            out.ulColumnSize = c.type.size;
            out.wType = c.type.dbType;
            out.bPrecision = c.type.precision;
            out.bScale = c.type.scale;
            out.columnid.eKind = DBKIND_NAME;
            out.columnid.uName.pwszName = out.pwszName;
        }
        *count = columns_.size();
        *info = table;
        *names = buffer;
        return S_OK;
    }

    HRESULT MapColumnIDs(DBORDINAL count, const DBID ids[], DBORDINAL ordinals[]) override
    {
        if (count && (!ids || !ordinals))
            return E_INVALIDARG;
        DBORDINAL found = 0;
        for (DBORDINAL i = 0; i < count; ++i) {
            ordinals[i] = DB_INVALIDCOLUMN;
            if (ids[i].eKind != DBKIND_NAME || !ids[i].uName.pwszName)
                continue;
            const std::u16string_view wanted(rz::asUtf16(ids[i].uName.pwszName));
            for (size_t c = 0; c < columns_.size(); ++c)
                if (columns_[c].name == wanted) {
                    ordinals[i] = c + 1;
                    ++found;
                    break;
                }
        }
        if (found == count)
            return S_OK;
        return found == 0 ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
    }

    // IRowsetInfo
    HRESULT GetProperties(const ULONG idSetCount, const DBPROPIDSET idSets[], ULONG *setCount, DBPROPSET **sets) override
    {
        return properties_.getProperties(idSetCount, idSets, setCount, sets);
    }

    HRESULT GetReferencedRowset(DBORDINAL, REFIID, IUnknown **rowset) override
    {
        if (rowset)
            *rowset = nullptr;
        return DB_E_NOTAREFERENCECOLUMN;
    }

    HRESULT GetSpecification(REFIID iid, IUnknown **specification) override
    {
        if (!specification)
            return E_INVALIDARG;
        *specification = nullptr;
        if (!creator_)
            return S_FALSE;
        return creator_->QueryInterface(iid, reinterpret_cast<void **>(specification));
    }

    // IConvertType
    HRESULT CanConvert(DBTYPE from, DBTYPE to, DBCONVERTFLAGS flags) override
    {
        if (flags & DBCONVERTFLAGS_PARAMETER)
            return DB_E_BADCONVERTFLAG;
        for (const auto &c : columns_)
            if (c.type.dbType == from)
                return canBindColumnAs(c.type, to) ? S_OK : S_FALSE;
        return from == to ? S_OK : S_FALSE;
    }

    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override
    {
        return supportsErrorInfo(iid, {&IID_IRowset, &IID_IAccessor, &IID_IColumnsInfo, &IID_IRowsetInfo, &IID_IConvertType});
    }

    void setLayout(size_t rowSize, size_t longCount)
    {
        rowSize_ = rowSize;
        longColumnCount_ = longCount;
    }

private:
    struct HeldRow {
        std::shared_ptr<RowBlock> block;
        size_t index;
        DBREFCOUNT refs;
    };

    static DBCOLUMNFLAGS columnFlags(const ColumnDescription &c)
    {
        DBCOLUMNFLAGS flags = DBCOLUMNFLAGS_WRITEUNKNOWN;
        if (c.type.fixedLength)
            flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
        if (c.nullable)
            flags |= DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
        if (c.type.isLong)
            flags |= DBCOLUMNFLAGS_ISLONG;
        return flags;
    }

    // S_OK when current_ has a row at currentIndex_, DB_S_ENDOFROWSET at the
    // end, a failure code with diagnostics pending.
    HRESULT ensureRow()
    {
        if (current_ && currentIndex_ < current_->rowCount)
            return S_OK;
        if (!deferredFailure_.empty()) {
            for (auto &d : deferredFailure_)
                addPendingDiagnostic(std::move(d));
            deferredFailure_.clear();
            return executionFailureCode();
        }
        currentIndex_ = 0;
        switch (stream_->nextBlock(result_, current_)) {
        case ResultStream::Fetch::Rows: return S_OK;
        case ResultStream::Fetch::End:
            if (current_)
                current_->rowCount = 0;
            return DB_S_ENDOFROWSET;
        case ResultStream::Fetch::Failed: break;
        }
        if (current_)
            current_->rowCount = 0;
        return executionFailureCode();
    }

    HRESULT changeRowRefs(DBCOUNTITEM count, const HROW rows[], DBREFCOUNT refCounts[], DBROWSTATUS statuses[], int delta)
    {
        if (count && !rows)
            return E_INVALIDARG;
        DBCOUNTITEM bad = 0;
        for (DBCOUNTITEM i = 0; i < count; ++i) {
            HeldRow *held = findHeld(rows[i]);
            DBREFCOUNT left = 0;
            DBROWSTATUS status = DBROWSTATUS_S_OK;
            if (!held) {
                status = DBROWSTATUS_E_INVALID;
                ++bad;
            } else {
                left = held->refs = DBREFCOUNT(held->refs + delta);
                if (left == 0) {
                    held->block.reset();
                    --heldCount_;
                }
            }
            if (refCounts)
                refCounts[i] = left;
            if (statuses)
                statuses[i] = status;
        }
        // Handles are handed out in order: released ones at the front go.
        while (!held_.empty() && held_.front().refs == 0) {
            held_.pop_front();
            ++firstHeld_;
        }
        if (bad == 0)
            return S_OK;
        return bad == count ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
    }

    HeldRow *findHeld(HROW row)
    {
        if (row < firstHeld_ || row - firstHeld_ >= held_.size())
            return nullptr;
        HeldRow &held = held_[row - firstHeld_];
        return held.refs ? &held : nullptr;
    }

    std::shared_ptr<ResultStream> stream_;
    int result_;
    std::vector<ColumnDescription> columns_;
    size_t rowSize_ = 0;
    size_t longColumnCount_ = 0;
    rz::ComPtr<IUnknown> creator_;
    Reexecute reexecute_;
    PropertyStore properties_;
    AccessorTable accessors_;
    std::shared_ptr<RowBlock> current_;
    size_t currentIndex_ = 0;
    // Row handles are sequence numbers; held_[i] is the row with handle firstHeld_ + i.
    HROW firstHeld_ = 1;
    std::deque<HeldRow> held_;
    size_t heldCount_ = 0;
    std::vector<Diagnostic> deferredFailure_;
    bool started_ = false;
};

} // namespace

HRESULT openRowset(std::shared_ptr<ResultStream> stream, rz::ComPtr<IUnknown> creator, const RowsetOptions &options,
                   Reexecute reexecute, REFIID iid, IUnknown **rowset)
{
    if (!rowset)
        return E_INVALIDARG;
    *rowset = nullptr;
    auto *object = new (std::nothrow) Rowset(stream, std::move(creator), options, std::move(reexecute));
    if (!object)
        return E_OUTOFMEMORY;
    object->setLayout(stream->rowSize(), stream->longColumnCount());
    auto own = rz::ComPtr<IRowset>::adopt(object);
    if (options.clientCursor)
        return rz::createClientCursor(own.get(), iid, rowset);
    return own->QueryInterface(iid, reinterpret_cast<void **>(rowset));
}

} // namespace rz::provider
