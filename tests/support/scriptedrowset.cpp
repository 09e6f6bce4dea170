#include "scriptedrowset.h"

#include "platform/com/comobject.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace rztest {

Cell wideText(const std::u16string &text)
{
    return std::string(reinterpret_cast<const char *>(text.data()), text.size() * 2);
}

int StatementLog::indexOf(const std::string &prefix) const
{
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].compare(0, prefix.size(), prefix) == 0)
            return int(i);
    }
    return -1;
}

namespace {

using StatePtr = std::shared_ptr<StatementState>;

HRESULT failed(StatementState &state, HRESULT hr)
{
    return failWith(hr, state.rowset.errorRecords);
}

// The storage object of one long value.
class ScriptedStream final : public rz::ComObject<ISequentialStream>
{
public:
    ScriptedStream(StatePtr s, std::string bytes) : state(std::move(s)), data(std::move(bytes))
    {
        ++state->log.liveStreams;
    }

    HRESULT Read(void *out, ULONG size, ULONG *read) override
    {
        state->log.streamReads.push_back(size);
        if (read)
            *read = 0;
        if (!out)
            return STG_E_INVALIDPOINTER;
        const long long limit = state->rowset.streamFailsAfter;
        if (limit >= 0 && (long long)position >= limit)
            return E_FAIL;
        size_t n = std::min<size_t>(size, data.size() - position);
        if (limit >= 0)
            n = std::min<size_t>(n, size_t(limit) - position);
        std::memcpy(out, data.data() + position, n);
        position += n;
        if (read)
            *read = ULONG(n);
        if (n < size && state->rowset.shortReadIsFalse)
            return S_FALSE;
        return S_OK;
    }
    HRESULT Write(const void *, ULONG, ULONG *) override { return STG_E_ACCESSDENIED; }

private:
    ~ScriptedStream() override
    {
        --state->log.liveStreams;
        state->record("~Stream");
    }

    StatePtr state;
    std::string data;
    size_t position = 0;
};

class ScriptedRowset final
    : public rz::ComObject<IRowsetScroll, IAccessor, IColumnsInfo, IRowsetInfo, IRowsetChange,
                           ISupportErrorInfo>
{
public:
    explicit ScriptedRowset(StatePtr s) : state(std::move(s)) { ++state->log.liveRowsets; }

    HRESULT QueryInterface(REFIID iid, void **out) override
    {
        const bool scrolls = iid == IID_IRowsetScroll || iid == IID_IRowsetLocate;
        return withholds(script().missingInterfaces, iid, out, !script().scrollable && scrolls)
                   ? E_NOINTERFACE
                   : ComObject::QueryInterface(iid, out);
    }

    // ---- IRowset
    HRESULT AddRefRows(DBCOUNTITEM count, const HROW[], DBREFCOUNT[], DBROWSTATUS[]) override
    {
        state->log.liveRows += int(count);
        return S_OK;
    }

    HRESULT GetData(HROW row, HACCESSOR handle, void *data) override
    {
        state->record("Rowset.GetData(" + std::to_string(row) + "," + std::to_string(handle) + ")");
        const HRESULT scripted = script().getData.next();
        if (scripted != S_OK)
            return failed(*state, scripted);
        auto found = accessors.find(handle);
        if (found == accessors.end())
            return DB_E_BADACCESSORHANDLE;
        if (row == 0 || row > script().rows.size())
            return DB_E_BADROWHANDLE;
        if (!data)
            return E_INVALIDARG;
        const std::vector<Cell> &cells = script().rows[row - 1];
        BYTE *buffer = static_cast<BYTE *>(data);
        for (const DBBINDING &binding : found->second.bindings)
            fill(binding, cells, buffer, found->second.rowSize);
        return S_OK;
    }

    HRESULT GetNextRows(HCHAPTER, DBROWOFFSET offset, DBROWCOUNT count, DBCOUNTITEM *obtained,
                        HROW **rows) override
    {
        state->record("Rowset.GetNextRows(" + std::to_string(offset) + "," + std::to_string(count) + ")");
        if (obtained)
            *obtained = 0;
        const HRESULT scripted = script().getNextRows.next();
        if (scripted != S_OK)
            return failed(*state, scripted);
        if (!obtained || !rows)
            return E_INVALIDARG;
        if (!script().scrollable && offset < 0)
            return failed(*state, DB_E_CANTSCROLLBACKWARDS);
        if (!script().scrollable && count < 0)
            return failed(*state, DB_E_CANTFETCHBACKWARDS);
        fetchedOnce = true;
        const long long n = (long long)script().rows.size();
        if (count == 0)
            return S_OK;
        long long first;
        long long step = count > 0 ? 1 : -1;
        if (count > 0)
            first = (atStart && offset < 0 ? n : position) + offset;
        else
            first = (atStart ? n : position) + offset - 1;
        if (first < -1 || first > n)
            return failed(*state, DB_E_BADSTARTPOSITION);
        std::vector<HROW> fetched;
        for (long long r = first; (long long)fetched.size() < std::llabs(count) && r >= 0 && r < n; r += step)
            fetched.push_back(HROW(r + 1));
        atStart = false;
        if (!fetched.empty())
            position = count > 0 ? (long long)(fetched.back()) : (long long)(fetched.back()) - 1;
        else
            position = std::clamp<long long>(first, 0, n);
        if (!fetched.empty()) {
            if (!*rows) {
                *rows = static_cast<HROW *>(CoTaskMemAlloc(fetched.size() * sizeof(HROW)));
                if (!*rows)
                    return E_OUTOFMEMORY;
            }
            std::copy(fetched.begin(), fetched.end(), *rows);
        }
        *obtained = fetched.size();
        state->log.liveRows += int(fetched.size());
        return (long long)fetched.size() < std::llabs(count) ? DB_S_ENDOFROWSET : S_OK;
    }

    HRESULT ReleaseRows(DBCOUNTITEM count, const HROW rows[], DBROWOPTIONS[], DBREFCOUNT[],
                        DBROWSTATUS[]) override
    {
        for (DBCOUNTITEM i = 0; i < count; ++i)
            state->record("Rowset.ReleaseRows(" + std::to_string(rows[i]) + ")");
        state->log.liveRows -= int(count);
        return S_OK;
    }

    HRESULT RestartPosition(HCHAPTER) override
    {
        state->record("Rowset.RestartPosition()");
        const HRESULT scripted = script().restartPosition.next();
        if (FAILED(scripted))
            return failed(*state, scripted);
        const bool rerun = !script().scrollable && fetchedOnce;
        atStart = true;
        position = 0;
        fetchedOnce = false;
        if (scripted != S_OK)
            return scripted;
        return rerun ? DB_S_COMMANDREEXECUTED : S_OK;
    }

    // ---- IRowsetLocate / IRowsetScroll: only what the consumer uses
    HRESULT Compare(HCHAPTER, DBBKMARK, const BYTE *, DBBKMARK, const BYTE *, DBCOMPARE *) override { return E_NOTIMPL; }
    HRESULT GetRowsAt(HWATCHREGION, HCHAPTER, DBBKMARK, const BYTE *, DBROWOFFSET, DBROWCOUNT,
                      DBCOUNTITEM *, HROW **) override { return E_NOTIMPL; }
    HRESULT GetRowsByBookmark(HCHAPTER, DBCOUNTITEM, const DBBKMARK[], const BYTE *[], HROW[],
                              DBROWSTATUS[]) override { return E_NOTIMPL; }
    HRESULT Hash(HCHAPTER, DBBKMARK, const DBBKMARK[], const BYTE *[], DBHASHVALUE[], DBROWSTATUS[]) override { return E_NOTIMPL; }
    HRESULT GetApproximatePosition(HCHAPTER, DBBKMARK, const BYTE *, DBCOUNTITEM *position,
                                   DBCOUNTITEM *rows) override
    {
        state->record("Rowset.GetApproximatePosition()");
        const HRESULT scripted = script().getApproximatePosition.next();
        if (FAILED(scripted))
            return failed(*state, scripted);
        if (position)
            *position = 0;
        if (rows)
            *rows = script().rows.size();
        return scripted;
    }
    HRESULT GetRowsAtRatio(HWATCHREGION, HCHAPTER, DBCOUNTITEM, DBCOUNTITEM, DBROWCOUNT,
                           DBCOUNTITEM *, HROW **) override { return E_NOTIMPL; }

    // ---- IAccessor
    HRESULT AddRefAccessor(HACCESSOR, DBREFCOUNT *) override { return E_NOTIMPL; }
    HRESULT CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[],
                           DBLENGTH rowSize, HACCESSOR *handle, DBBINDSTATUS[]) override
    {
        state->record("Rowset.CreateAccessor(" + std::to_string(flags) + "," + std::to_string(count)
                      + "," + std::to_string(rowSize) + ")");
        if (handle)
            *handle = 0;
        const HRESULT scripted = script().createAccessor.next();
        if (FAILED(scripted))
            return failed(*state, scripted);
        if (!handle || (count > 0 && !bindings))
            return E_INVALIDARG;
        Accessor accessor;
        accessor.rowSize = rowSize;
        std::vector<IID> objects;
        for (DBCOUNTITEM i = 0; i < count; ++i) {
            objects.push_back(bindings[i].pObject ? bindings[i].pObject->iid : IID_NULL);
            accessor.bindings.push_back(bindings[i]);
            accessor.bindings.back().pObject = nullptr;
            state->log.bindingsOutOfRow += !fitsRow(bindings[i], rowSize);
        }
        state->log.rowBindings.push_back(accessor.bindings);
        state->log.rowObjects.push_back(objects);
        *handle = nextHandle++;
        accessors[*handle] = accessor;
        ++state->log.liveAccessors;
        return scripted;
    }
    HRESULT GetBindings(HACCESSOR, DBACCESSORFLAGS *, DBCOUNTITEM *, DBBINDING **) override { return E_NOTIMPL; }
    HRESULT ReleaseAccessor(HACCESSOR handle, DBREFCOUNT *refs) override
    {
        state->record("Rowset.ReleaseAccessor(" + std::to_string(handle) + ")");
        if (refs)
            *refs = 0;
        if (accessors.erase(handle) == 0)
            return DB_E_BADACCESSORHANDLE;
        --state->log.liveAccessors;
        return S_OK;
    }

    // ---- IColumnsInfo
    HRESULT GetColumnInfo(DBORDINAL *count, DBCOLUMNINFO **info, OLECHAR **names) override
    {
        state->record("Rowset.GetColumnInfo()");
        *count = 0;
        *info = nullptr;
        *names = nullptr;
        const HRESULT scripted = script().getColumnInfo.next();
        if (FAILED(scripted))
            return failed(*state, scripted);
        const std::vector<ScriptedColumn> &columns = script().columns;
        size_t chars = 0;
        for (const ScriptedColumn &c : columns)
            chars += c.name.size() + 1;
        *info = static_cast<DBCOLUMNINFO *>(CoTaskMemAlloc(sizeof(DBCOLUMNINFO) * (columns.size() + 1)));
        *names = static_cast<OLECHAR *>(CoTaskMemAlloc(sizeof(OLECHAR) * (chars + 1)));
        OLECHAR *name = *names;
        for (size_t i = 0; i < columns.size(); ++i) {
            DBCOLUMNINFO &ci = (*info)[i];
            std::memset(&ci, 0, sizeof ci);
            ci.pwszName = name;
            for (char ch : columns[i].name)
                *name++ = OLECHAR(ch);
            *name++ = 0;
            ci.iOrdinal = i + 1;
            ci.dwFlags = columns[i].flags;
            ci.ulColumnSize = columns[i].size;
            ci.wType = columns[i].type;
            ci.bPrecision = columns[i].precision;
            ci.bScale = columns[i].scale;
        }
        *count = columns.size();
        return scripted;
    }
    HRESULT MapColumnIDs(DBORDINAL, const DBID[], DBORDINAL[]) override { return E_NOTIMPL; }

    // ---- IRowsetInfo
    HRESULT GetProperties(const ULONG idSetCount, const DBPROPIDSET idSets[], ULONG *setCount,
                          DBPROPSET **sets) override
    {
        state->record("Rowset.GetProperties()");
        *setCount = 0;
        *sets = nullptr;
        if (idSetCount != 1 || !idSets)
            return E_INVALIDARG;
        const DBPROPIDSET &ids = idSets[0];
        *sets = static_cast<DBPROPSET *>(CoTaskMemAlloc(sizeof(DBPROPSET)));
        (*sets)->guidPropertySet = ids.guidPropertySet;
        (*sets)->cProperties = ids.cPropertyIDs;
        (*sets)->rgProperties = static_cast<DBPROP *>(CoTaskMemAlloc(sizeof(DBPROP) * (ids.cPropertyIDs + 1)));
        bool allKnown = true;
        for (ULONG i = 0; i < ids.cPropertyIDs; ++i) {
            DBPROP &prop = (*sets)->rgProperties[i];
            std::memset(&prop, 0, sizeof prop);
            prop.dwPropertyID = ids.rgPropertyIDs[i];
            VariantInit(&prop.vValue);
            prop.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
            for (const auto &known : script().properties) {
                if (known.first == prop.dwPropertyID) {
                    prop.vValue.vt = VT_BOOL;
                    prop.vValue.boolVal = known.second ? VARIANT_TRUE : VARIANT_FALSE;
                    prop.dwStatus = DBPROPSTATUS_OK;
                }
            }
            allKnown = allKnown && prop.dwStatus == DBPROPSTATUS_OK;
        }
        *setCount = 1;
        return allKnown ? S_OK : DB_S_ERRORSOCCURRED;
    }
    HRESULT GetReferencedRowset(DBORDINAL, REFIID, IUnknown **) override { return E_NOTIMPL; }
    HRESULT GetSpecification(REFIID, IUnknown **) override { return E_NOTIMPL; }

    // ---- IRowsetChange
    HRESULT DeleteRows(HCHAPTER, DBCOUNTITEM, const HROW[], DBROWSTATUS[]) override { return DB_E_NOTSUPPORTED; }
    HRESULT SetData(HROW, HACCESSOR, void *) override { return DB_E_NOTSUPPORTED; }
    HRESULT InsertRow(HCHAPTER, HACCESSOR, void *, HROW *) override { return DB_E_NOTSUPPORTED; }

    // ---- ISupportErrorInfo
    HRESULT InterfaceSupportsErrorInfo(REFIID) override { return S_OK; }

private:
    struct Accessor
    {
        std::vector<DBBINDING> bindings;
        DBLENGTH rowSize = 0;
    };

    ~ScriptedRowset() override
    {
        --state->log.liveRowsets;
        state->record("~Rowset");
    }

    RowsetScript &script() { return state->rowset; }

    static bool fitsRow(const DBBINDING &b, DBLENGTH rowSize)
    {
        if ((b.dwPart & DBPART_VALUE) && b.obValue + b.cbMaxLen > rowSize)
            return false;
        if ((b.dwPart & DBPART_LENGTH) && b.obLength + sizeof(DBLENGTH) > rowSize)
            return false;
        if ((b.dwPart & DBPART_STATUS) && b.obStatus + sizeof(DBSTATUS) > rowSize)
            return false;
        return true;
    }

    void fill(const DBBINDING &b, const std::vector<Cell> &cells, BYTE *buffer, DBLENGTH rowSize)
    {
        if (!fitsRow(b, rowSize) || b.iOrdinal == 0 || b.iOrdinal > cells.size())
            return;
        const Cell &cell = cells[b.iOrdinal - 1];
        DBSTATUS status = DBSTATUS_S_OK;
        DBLENGTH length = 0;
        BYTE *value = buffer + b.obValue;
        if (!cell) {
            status = DBSTATUS_S_ISNULL;
        } else {
            const std::string &bytes = *cell;
            length = bytes.size();
            if (b.wType == DBTYPE_IUNKNOWN) {
                ISequentialStream *stream = new ScriptedStream(state, bytes);
                std::memcpy(value, &stream, sizeof stream);
            } else {
                // Text keeps room for its terminator, and UTF-16 whole units.
                const size_t terminator = b.wType == DBTYPE_STR ? 1 : b.wType == DBTYPE_WSTR ? 2 : 0;
                const size_t room = b.cbMaxLen >= terminator ? b.cbMaxLen - terminator : 0;
                const size_t n = std::min(bytes.size(), terminator == 2 ? room & ~size_t(1) : room);
                std::memcpy(value, bytes.data(), n);
                std::memset(value + n, 0, std::min<size_t>(terminator, b.cbMaxLen - n));
                if (n < bytes.size())
                    status = DBSTATUS_S_TRUNCATED;
            }
        }
        if (b.dwPart & DBPART_LENGTH)
            std::memcpy(buffer + b.obLength, &length, sizeof length);
        if (b.dwPart & DBPART_STATUS)
            std::memcpy(buffer + b.obStatus, &status, sizeof status);
    }

    StatePtr state;
    std::map<HACCESSOR, Accessor> accessors;
    HACCESSOR nextHandle = 1;
    long long position = 0;
    bool atStart = true;
    bool fetchedOnce = false;
};

} // namespace

HRESULT createScriptedRowset(const std::shared_ptr<StatementState> &state, REFIID iid, IUnknown **rowset)
{
    auto *object = new ScriptedRowset(state);
    const HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void **>(rowset));
    object->Release();
    return hr;
}

} // namespace rztest
