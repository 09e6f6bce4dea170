#include "scriptedcommand.h"

#include "platform/com/comobject.h"
#include "qtcompat/oletext.h"

#include <QtCore/QString>

#include <cstring>
#include <map>

namespace rztest {

struct ScriptedCommands::State
{
    CommandScript script;
    std::shared_ptr<StatementState> statement = std::make_shared<StatementState>();
};

namespace {

using CommandStatePtr = std::shared_ptr<ScriptedCommands::State>;

class ScriptedMultipleResults final : public rz::ComObject<IMultipleResults>
{
public:
    explicit ScriptedMultipleResults(CommandStatePtr s) : state(std::move(s)) {}

    HRESULT GetResult(IUnknown *, DBRESULTFLAG, REFIID iid, DBROWCOUNT *rows, IUnknown **rowset) override
    {
        StatementState &statement = *state->statement;
        statement.record("MultipleResults.GetResult(" + interfaceName(iid) + ")");
        if (rowset)
            *rowset = nullptr;
        const HRESULT scripted = failWith(state->script.getResult.next(), state->script.errorRecords);
        if (FAILED(scripted))
            return scripted;
        if (taken)
            return DB_S_NORESULT;
        taken = true;
        if (rows)
            *rows = state->script.rowsAffected;
        if (!state->script.returnsRowset || !rowset)
            return scripted;
        const HRESULT hr = createScriptedRowset(state->statement, iid, rowset);
        return FAILED(hr) ? hr : scripted;
    }

private:
    ~ScriptedMultipleResults() override { state->statement->record("~MultipleResults"); }

    CommandStatePtr state;
    bool taken = false;
};

class ScriptedCommand final
    : public rz::ComObject<ICommandText, ICommandPrepare, ICommandProperties, ICommandWithParameters,
                           IAccessor, ISupportErrorInfo>
{
public:
    explicit ScriptedCommand(CommandStatePtr s) : state(std::move(s)) { ++log().liveCommands; }

    HRESULT QueryInterface(REFIID iid, void **out) override
    {
        return withholds(state->script.missingInterfaces, iid, out) ? E_NOINTERFACE
                                                                    : ComObject::QueryInterface(iid, out);
    }

    // ---- ICommand / ICommandText
    HRESULT Cancel() override { return S_OK; }
    HRESULT Execute(IUnknown *, REFIID iid, DBPARAMS *params, DBROWCOUNT *rows, IUnknown **rowset) override
    {
        record("Command.Execute(" + interfaceName(iid) + ")");
        if (rowset)
            *rowset = nullptr;
        const bool forResults = iid == IID_IMultipleResults;
        const HRESULT scripted = (forResults ? state->script.execute : state->script.executeRowset).next();
        if (FAILED(scripted))
            return fail(scripted);
        if (forResults && withholds(state->script.missingInterfaces, iid, nullptr))
            return fail(E_NOINTERFACE);
        if (params) {
            const HRESULT hr = receive(*params);
            if (FAILED(hr))
                return fail(hr);
        }
        if (rows)
            *rows = state->script.rowsAffected;
        if (forResults) {
            if (state->script.multipleResultsWithoutObject || !rowset)
                return scripted;
            *rowset = static_cast<IMultipleResults *>(new ScriptedMultipleResults(state));
            return scripted;
        }
        if (!state->script.returnsRowset || !rowset)
            return scripted;
        const HRESULT hr = createScriptedRowset(state->statement, iid, rowset);
        return FAILED(hr) ? hr : scripted;
    }
    HRESULT GetDBSession(REFIID, IUnknown **session) override
    {
        if (session)
            *session = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetCommandText(GUID *, LPOLESTR *) override { return E_NOTIMPL; }
    HRESULT SetCommandText(REFGUID dialect, LPCOLESTR text) override
    {
        const std::string utf8 = text ? rz::fromOleText(text).toStdString() : std::string();
        record("Command.SetCommandText(" + std::string(dialect == DBGUID_DEFAULT ? "DBGUID_DEFAULT" : toString(dialect))
               + "," + utf8 + ")");
        return S_OK;
    }

    // ---- ICommandPrepare
    HRESULT Prepare(ULONG runs) override
    {
        record("Command.Prepare(" + std::to_string(runs) + ")");
        return answer(state->script.prepare);
    }
    HRESULT Unprepare() override { return S_OK; }

    // ---- ICommandProperties
    HRESULT GetProperties(const ULONG, const DBPROPIDSET[], ULONG *, DBPROPSET **) override { return E_NOTIMPL; }
    HRESULT SetProperties(ULONG setCount, DBPROPSET sets[]) override
    {
        record("Command.SetProperties(" + std::to_string(setCount) + ")");
        for (ULONG s = 0; s < setCount; ++s)
            log().propertySets.push_back(recordSet(sets[s]));
        return S_OK;
    }

    // ---- ICommandWithParameters
    HRESULT GetParameterInfo(DB_UPARAMS *count, DBPARAMINFO **info, OLECHAR **names) override
    {
        record("Command.GetParameterInfo()");
        *count = 0;
        *info = nullptr;
        if (names)
            *names = nullptr;
        const HRESULT scripted = state->script.getParameterInfo.next();
        if (FAILED(scripted))
            return fail(scripted);
        const auto &params = state->script.parameters;
        size_t chars = 0;
        for (const ScriptedParameter &p : params)
            chars += p.name.size() + 1;
        *info = static_cast<DBPARAMINFO *>(CoTaskMemAlloc(sizeof(DBPARAMINFO) * (params.size() + 1)));
        OLECHAR *buffer = static_cast<OLECHAR *>(CoTaskMemAlloc(sizeof(OLECHAR) * (chars + 1)));
        OLECHAR *name = buffer;
        for (size_t i = 0; i < params.size(); ++i) {
            DBPARAMINFO &pi = (*info)[i];
            std::memset(&pi, 0, sizeof pi);
            pi.dwFlags = params[i].flags;
            pi.iOrdinal = i + 1;
            pi.pwszName = name;
            for (char ch : params[i].name)
                *name++ = OLECHAR(ch);
            *name++ = 0;
            pi.ulParamSize = params[i].size;
            pi.wType = params[i].type;
            pi.bPrecision = params[i].precision;
            pi.bScale = params[i].scale;
        }
        *count = params.size();
        if (names)
            *names = buffer;
        else
            CoTaskMemFree(buffer);
        return scripted;
    }
    HRESULT MapParameterNames(DB_UPARAMS, const OLECHAR *[], DB_LPARAMS[]) override { return E_NOTIMPL; }
    HRESULT SetParameterInfo(DB_UPARAMS, const DB_UPARAMS[], const DBPARAMBINDINFO[]) override { return E_NOTIMPL; }

    // ---- IAccessor (parameter accessors)
    HRESULT AddRefAccessor(HACCESSOR, DBREFCOUNT *) override { return E_NOTIMPL; }
    HRESULT CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[],
                           DBLENGTH size, HACCESSOR *handle, DBBINDSTATUS[]) override
    {
        record("Command.CreateAccessor(" + std::to_string(flags) + "," + std::to_string(count) + ","
               + std::to_string(size) + ")");
        if (!handle)
            return E_INVALIDARG;
        ParameterAccessor accessor;
        accessor.size = size;
        for (DBCOUNTITEM i = 0; i < count; ++i) {
            DBBINDING copy = bindings[i];
            accessor.objectIids.push_back(copy.pObject ? copy.pObject->iid : IID_NULL);
            accessor.objectFlags.push_back(copy.pObject ? copy.pObject->dwFlags : 0);
            copy.pObject = nullptr;
            accessor.bindings.push_back(copy);
        }
        *handle = nextHandle++;
        accessors[*handle] = accessor;
        ++log().liveAccessors;
        return S_OK;
    }
    HRESULT GetBindings(HACCESSOR, DBACCESSORFLAGS *, DBCOUNTITEM *, DBBINDING **) override { return E_NOTIMPL; }
    HRESULT ReleaseAccessor(HACCESSOR handle, DBREFCOUNT *refs) override
    {
        record("Command.ReleaseAccessor(" + std::to_string(handle) + ")");
        if (refs)
            *refs = 0;
        if (accessors.erase(handle) == 0)
            return DB_E_BADACCESSORHANDLE;
        --log().liveAccessors;
        return S_OK;
    }

    // ---- ISupportErrorInfo
    HRESULT InterfaceSupportsErrorInfo(REFIID) override { return S_OK; }

private:
    struct ParameterAccessor
    {
        std::vector<DBBINDING> bindings;
        std::vector<IID> objectIids;
        std::vector<DWORD> objectFlags;
        DBLENGTH size = 0;
    };

    ~ScriptedCommand() override
    {
        --log().liveCommands;
        record("~Command");
    }

    StatementLog &log() { return state->statement->log; }
    void record(std::string call) { state->statement->record(std::move(call)); }
    HRESULT fail(HRESULT hr) { return failWith(hr, state->script.errorRecords); }
    HRESULT answer(Answers &answers) { return fail(answers.next()); }

    // Reads the parameter buffer as a provider does during Execute: the
    // accessor's parts, and every long value through its stream.
    HRESULT receive(const DBPARAMS &params)
    {
        auto found = accessors.find(params.hAccessor);
        if (found == accessors.end())
            return DB_E_BADACCESSORHANDLE;
        if (!params.pData)
            return E_INVALIDARG;
        const ParameterAccessor &accessor = found->second;
        ReceivedExecution execution;
        execution.buffer.assign(static_cast<const char *>(params.pData), accessor.size);
        execution.bindings = accessor.bindings;
        execution.objectInterfaces = accessor.objectIids;
        execution.objectFlags = accessor.objectFlags;
        const BYTE *data = static_cast<const BYTE *>(params.pData);
        ISequentialStream *firstStream = nullptr;
        for (const DBBINDING &b : accessor.bindings) {
            std::string bytes;
            bool same = false;
            DBSTATUS status = DBSTATUS_S_OK;
            if (b.dwPart & DBPART_STATUS)
                std::memcpy(&status, data + b.obStatus, sizeof status);
            if (b.wType == DBTYPE_IUNKNOWN && status == DBSTATUS_S_OK) {
                ISequentialStream *stream;
                std::memcpy(&stream, data + b.obValue, sizeof stream);
                DBLENGTH length = 0;
                if (b.dwPart & DBPART_LENGTH)
                    std::memcpy(&length, data + b.obLength, sizeof length);
                if (stream) {
                    if (!firstStream)
                        firstStream = stream;
                    same = stream == firstStream;
                    // A provider holds a reference while it reads.
                    stream->AddRef();
                    std::string chunk(length, '\0');
                    ULONG read = 0;
                    if (length > 0)
                        stream->Read(&chunk[0], ULONG(length), &read);
                    chunk.resize(read);
                    bytes = chunk;
                    stream->Release();
                }
            }
            execution.streams.push_back(bytes);
            execution.sameStream.push_back(same);
        }
        log().executions.push_back(std::move(execution));
        return S_OK;
    }

    CommandStatePtr state;
    std::map<HACCESSOR, ParameterAccessor> accessors;
    HACCESSOR nextHandle = 1;
};

} // namespace

ScriptedCommands::ScriptedCommands(ScriptedProvider &provider)
    : state(std::make_shared<State>()), script(state->script)
{
    CommandStatePtr shared = state;
    provider.script.onCreateCommand = [shared](IUnknown *outer, REFIID iid, IUnknown **command) -> HRESULT {
        if (command)
            *command = nullptr;
        if (outer)
            return DB_E_NOAGGREGATION;
        auto *object = new ScriptedCommand(shared);
        const HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void **>(command));
        object->Release();
        return hr;
    };
}

RowsetScript &ScriptedCommands::rowset()
{
    return state->statement->rowset;
}

StatementLog &ScriptedCommands::log()
{
    return state->statement->log;
}

} // namespace rztest
