#include "scriptedprovider.h"
#include "scriptedrowset.h"
#include "classregistration.h"

#include "platform/com/comobject.h"
#include "platform/com/comptr.h"
#include "platform/services/errorobject.h"
#include "qtcompat/oletext.h"

#include <QtCore/QString>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace rztest {

struct ScriptedProvider::State
{
    ProviderScript script;
    CallLog log;
    CLSID clsid = {};
};

namespace {

using StatePtr = std::shared_ptr<ScriptedProvider::State>;

std::string utf8(const OLECHAR *text, int length = -1)
{
    if (!text)
        return std::string();
    return rz::fromOleText(text, length).toStdString();
}

const char *pointer(const void *p)
{
    return p ? "ptr" : "null";
}

BSTR copyString(const std::string &text)
{
    const QString wide = QString::fromStdString(text);
    return SysAllocStringLen(rz::oleText(wide), UINT(wide.size()));
}

// An error object without IErrorRecords: one plain description.
class SingleError final : public rz::ComObject<IErrorInfo>
{
public:
    explicit SingleError(std::string text) : description(std::move(text)) {}

    HRESULT GetGUID(GUID *guid) override { *guid = GUID{}; return S_OK; }
    HRESULT GetSource(BSTR *source) override { *source = copyString("RZ.Scripted"); return S_OK; }
    HRESULT GetDescription(BSTR *text) override
    {
        *text = copyString(description);
        return *text ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT GetHelpFile(BSTR *file) override { *file = nullptr; return S_OK; }
    HRESULT GetHelpContext(DWORD *context) override { *context = 0; return S_OK; }

private:
    std::string description;
};

// Shared by data source and session: the script's answer for one call.
HRESULT answer(ScriptedProvider::State &state, Answers &answers)
{
    return failWith(answers.next(), state.script.errorRecords, state.script.errorRecordsInterface);
}

void record(ScriptedProvider::State &state, std::string call)
{
    state.log.calls.push_back(std::move(call));
}

// A call the script has no answer for: recorded, its results emptied.
template <class... Out>
HRESULT unanswered(ScriptedProvider::State &state, std::string call, Out *...out)
{
    record(state, std::move(call));
    ((out ? void(*out = Out{}) : void()), ...);
    return E_NOTIMPL;
}

// ISupportErrorInfo, answered from the script, for data sources and sessions.
HRESULT supportsErrorInfo(ScriptedProvider::State &state, REFIID iid)
{
    record(state, "InterfaceSupportsErrorInfo(" + interfaceName(iid) + ")");
    return state.script.supportsErrorInfo;
}

class Session final
    : public rz::ComObject<IOpenRowset, IDBCreateCommand, ITransactionLocal, ISupportErrorInfo>
{
public:
    explicit Session(StatePtr s) : state(std::move(s)) { ++state->log.liveSessions; }

    HRESULT QueryInterface(REFIID iid, void **out) override
    {
        return withholds(state->script.missingInterfaces, iid, out) ? E_NOINTERFACE
                                                                    : ComObject::QueryInterface(iid, out);
    }

    HRESULT OpenRowset(IUnknown *outer, DBID *table, DBID *index, REFIID iid, ULONG setCount,
                       DBPROPSET sets[], IUnknown **rowset) override
    {
        SetErrorInfo(0, nullptr);
        std::string name = "?";
        if (table && table->eKind == DBKIND_NAME)
            name = utf8(table->uName.pwszName);
        const std::string call = "OpenRowset(" + name + "," + interfaceName(iid) + ")";
        if (!state->script.onOpenRowset)
            return unanswered(*state, call, rowset);
        record(*state, call);
        return state->script.onOpenRowset(outer, table, index, iid, setCount, sets, rowset);
    }

    HRESULT CreateCommand(IUnknown *outer, REFIID iid, IUnknown **command) override
    {
        SetErrorInfo(0, nullptr);
        const std::string call = std::string("CreateCommand(") + pointer(outer) + "," + interfaceName(iid) + ")";
        if (!state->script.onCreateCommand)
            return unanswered(*state, call, command);
        record(*state, call);
        return state->script.onCreateCommand(outer, iid, command);
    }

    HRESULT Commit(BOOL retaining, DWORD commitType, DWORD resourceFlags) override
    {
        SetErrorInfo(0, nullptr);
        record(*state, "Commit(" + std::to_string(retaining) + "," + std::to_string(commitType) + ","
                           + std::to_string(resourceFlags) + ")");
        return answer(*state, state->script.commit);
    }
    HRESULT Abort(BOID *reason, BOOL retaining, BOOL async) override
    {
        SetErrorInfo(0, nullptr);
        record(*state, std::string("Abort(") + pointer(reason) + "," + std::to_string(retaining) + ","
                           + std::to_string(async) + ")");
        return answer(*state, state->script.abort);
    }
    HRESULT GetTransactionInfo(XACTTRANSINFO *info) override
    {
        return unanswered(*state, "GetTransactionInfo()", info);
    }
    HRESULT GetOptionsObject(ITransactionOptions **options) override
    {
        return unanswered(*state, "GetOptionsObject()", options);
    }
    HRESULT StartTransaction(ISOLEVEL level, ULONG flags, ITransactionOptions *options,
                             ULONG *nestingLevel) override
    {
        SetErrorInfo(0, nullptr);
        record(*state, "StartTransaction(" + std::to_string(level) + "," + std::to_string(flags) + ","
                           + pointer(options) + "," + pointer(nestingLevel) + ")");
        const HRESULT hr = answer(*state, state->script.startTransaction);
        if (nestingLevel && SUCCEEDED(hr))
            *nestingLevel = 1;
        return hr;
    }

    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override { return supportsErrorInfo(*state, iid); }

private:
    ~Session() override
    {
        --state->log.liveSessions;
        record(*state, "~Session");
    }
    StatePtr state;
};

class DataSource final
    : public rz::ComObject<IDBInitialize, IDBProperties, IDBCreateSession, ISupportErrorInfo>
{
public:
    explicit DataSource(StatePtr s) : state(std::move(s)) { ++state->log.liveDataSources; }

    HRESULT QueryInterface(REFIID iid, void **out) override
    {
        return withholds(state->script.missingInterfaces, iid, out) ? E_NOINTERFACE
                                                                    : ComObject::QueryInterface(iid, out);
    }

    HRESULT Initialize() override
    {
        SetErrorInfo(0, nullptr);
        record(*state, "Initialize()");
        return answer(*state, state->script.initialize);
    }
    HRESULT Uninitialize() override
    {
        record(*state, "Uninitialize()");
        return S_OK;
    }

    HRESULT GetProperties(ULONG, const DBPROPIDSET[], ULONG *count, DBPROPSET **sets) override
    {
        return unanswered(*state, "GetProperties()", count, sets);
    }
    HRESULT GetPropertyInfo(ULONG, const DBPROPIDSET[], ULONG *count, DBPROPINFOSET **sets,
                            OLECHAR **descriptions) override
    {
        return unanswered(*state, "GetPropertyInfo()", count, sets, descriptions);
    }
    HRESULT SetProperties(ULONG setCount, DBPROPSET sets[]) override
    {
        SetErrorInfo(0, nullptr);
        record(*state, "SetProperties(" + std::to_string(setCount) + ")");
        for (ULONG i = 0; i < setCount && sets; ++i)
            state->log.sets.push_back(recordSet(sets[i]));
        return answer(*state, state->script.setProperties);
    }

    HRESULT CreateSession(IUnknown *outer, REFIID iid, IUnknown **session) override
    {
        SetErrorInfo(0, nullptr);
        record(*state, std::string("CreateSession(") + pointer(outer) + "," + interfaceName(iid) + ")");
        if (!session)
            return E_INVALIDARG;
        *session = nullptr;
        const HRESULT hr = answer(*state, state->script.createSession);
        if (FAILED(hr) || state->script.nullSession)
            return hr;
        rz::ComPtr<Session> made = rz::ComPtr<Session>::adopt(new Session(state));
        return made->QueryInterface(iid, reinterpret_cast<void **>(session));
    }

    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override { return supportsErrorInfo(*state, iid); }

private:
    ~DataSource() override
    {
        --state->log.liveDataSources;
        record(*state, "~DataSource");
    }
    StatePtr state;
};

HRESULT createDataSource(const StatePtr &state, IUnknown *outer, REFIID iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    const HRESULT hr = state->script.createInstance.next();
    if (FAILED(hr))
        return hr;
    rz::ComPtr<DataSource> made = rz::ComPtr<DataSource>::adopt(new DataSource(state));
    return made->QueryInterface(iid, object);
}

CLSID nextClassId()
{
    static std::atomic<unsigned> counter{0};
    // {52A5C000-0000-4000-8000-0000000000NN}: private to this test process.
    CLSID id = {0x52A5C000u, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0}};
    const unsigned n = ++counter;
    id.Data2 = USHORT(n >> 16);
    id.Data4[6] = BYTE(n >> 8);
    id.Data4[7] = BYTE(n);
    return id;
}

} // namespace

const RecordedProperty *RecordedPropertySet::find(DBPROPID id) const
{
    for (const RecordedProperty &p : properties) {
        if (p.id == id)
            return &p;
    }
    return nullptr;
}

std::vector<std::string> CallLog::dataSources() const
{
    std::vector<std::string> hosts;
    for (const RecordedPropertySet &set : sets) {
        if (!(set.guid == DBPROPSET_DBINIT))
            continue;
        if (const RecordedProperty *p = set.find(DBPROP_INIT_DATASOURCE))
            hosts.push_back(p->text);
    }
    return hosts;
}

int countCalls(const std::vector<std::string> &calls, const std::string &prefix)
{
    int n = 0;
    for (const std::string &call : calls)
        n += call.compare(0, prefix.size(), prefix) == 0;
    return n;
}

ScriptedProvider::ScriptedProvider(const std::string &progId)
    : state(std::make_shared<State>()), script(state->script), log(state->log)
{
    state->clsid = nextClassId();
    const std::weak_ptr<State> weak = state;
    registration = std::make_unique<ClassRegistration>(progId, state->clsid,
                      [weak](IUnknown *outer, REFIID iid, void **object) -> HRESULT {
                          const StatePtr alive = weak.lock();
                          if (!alive) {
                              if (object)
                                  *object = nullptr;
                              return REGDB_E_CLASSNOTREG;
                          }
                          return createDataSource(alive, outer, iid, object);
                      });
}

ScriptedProvider::~ScriptedProvider() = default;

const CLSID &ScriptedProvider::clsid() const
{
    return state->clsid;
}

HRESULT createScriptedDataSource(ScriptedProvider &provider, REFIID iid, void **object)
{
    // The factory is the registered one, so it answers createInstance too.
    return CoCreateInstance(provider.clsid(), nullptr, CLSCTX_INPROC_SERVER, iid, object);
}

void leaveErrorObject(const std::vector<std::string> &descriptions, bool withRecords)
{
    if (withRecords) {
        std::vector<rz::ErrorRecordText> records;
        for (const std::string &text : descriptions) {
            rz::ErrorRecordText record;
            const QString wide = QString::fromStdString(text);
            record.description.assign(reinterpret_cast<const char16_t *>(wide.utf16()), size_t(wide.size()));
            record.source = u"RZ.Scripted";
            records.push_back(std::move(record));
        }
        rz::setErrorRecords(records);
        return;
    }
    auto object = rz::ComPtr<IErrorInfo>::adopt(
        new SingleError(descriptions.empty() ? std::string() : descriptions.front()));
    SetErrorInfo(0, object.get());
}

RecordedPropertySet recordSet(const DBPROPSET &set)
{
    RecordedPropertySet recorded;
    recorded.guid = set.guidPropertySet;
    for (ULONG i = 0; i < set.cProperties; ++i) {
        const DBPROP &prop = set.rgProperties[i];
        RecordedProperty r;
        r.id = prop.dwPropertyID;
        r.options = prop.dwOptions;
        r.type = prop.vValue.vt;
        switch (prop.vValue.vt) {
        case VT_BSTR:
            r.nullString = prop.vValue.bstrVal == nullptr;
            if (prop.vValue.bstrVal)
                r.text = utf8(prop.vValue.bstrVal, int(SysStringLen(prop.vValue.bstrVal)));
            break;
        case VT_I4: r.number = prop.vValue.lVal; break;
        case VT_I2: r.number = prop.vValue.iVal; break;
        case VT_BOOL: r.number = prop.vValue.boolVal; break;
        default: break;
        }
        recorded.properties.push_back(r);
    }
    return recorded;
}

HRESULT failWith(HRESULT hr, const std::vector<std::string> &descriptions, bool withRecords)
{
    if (FAILED(hr) && !descriptions.empty())
        leaveErrorObject(descriptions, withRecords);
    return hr;
}

bool withholds(const std::vector<IID> &withheld, REFIID iid, void **out, bool alsoWithheld)
{
    const bool refused = iid != IID_IUnknown
                         && (alsoWithheld || std::find(withheld.begin(), withheld.end(), iid) != withheld.end());
    if (refused && out)
        *out = nullptr;
    return refused;
}

std::string interfaceName(REFIID iid)
{
    struct Named { const IID *iid; const char *name; };
    static const Named names[] = {{&IID_IOpenRowset, "IID_IOpenRowset"}, {&IID_ITransaction, "IID_ITransaction"},
                                  {&IID_IRowset, "IID_IRowset"}, {&IID_IMultipleResults, "IID_IMultipleResults"}};
    for (const Named &n : names) {
        if (*n.iid == iid)
            return n.name;
    }
    return toString(iid);
}

std::string toString(const GUID &guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  unsigned(guid.Data1), unsigned(guid.Data2), unsigned(guid.Data3),
                  guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

} // namespace rztest
