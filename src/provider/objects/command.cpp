#include "provider/objects/command.h"

#include "platform/com/comobject.h"
#include "platform/services/accessortable.h"
#include "platform/com/oletext.h"
#include "provider/diagnostics/errors.h"
#include "provider/objects/multipleresults.h"
#include "provider/objects/parameterdescription.h"
#include "provider/values/parametervalues.h"
#include "provider/objects/propertystore.h"
#include "provider/objects/rowset.h"
#include "provider/objects/rowsetproperties.h"
#include "provider/resultstream.h"
#include "provider/objects/supporterrorinfo.h"

#include <cstring>
#include <optional>

namespace rz::provider {

namespace {

bool isSupportedParameterType(DBTYPE type)
{
    switch (type) {
    case DBTYPE_I1: case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_I8: case DBTYPE_UI1: case DBTYPE_UI2:
    case DBTYPE_UI4: case DBTYPE_UI8: case DBTYPE_BOOL: case DBTYPE_R4: case DBTYPE_R8: case DBTYPE_CY:
    case DBTYPE_NUMERIC: case DBTYPE_DBTIMESTAMP: case DBTYPE_DBDATE: case DBTYPE_DBTIME: case DBTYPE_GUID:
    case DBTYPE_WSTR: case DBTYPE_STR: case DBTYPE_BSTR: case DBTYPE_BYTES: case DBTYPE_IUNKNOWN:
        return true;
    default:
        return false;
    }
}

class Command final : public rz::ComObject<ICommandText, ICommandPrepare, ICommandProperties, ICommandWithParameters,
                                           IAccessor, IConvertType, ISupportErrorInfo> {
public:
    Command(rz::ComPtr<IUnknown> session, std::shared_ptr<ServerConnection> connection)
        : session_(std::move(session)), connection_(std::move(connection))
    {
        declareRowsetProperties(properties_);
    }

    // ICommand
    HRESULT Cancel() override { return S_OK; } // execution is synchronous: nothing runs between calls

    HRESULT Execute(IUnknown *outer, REFIID iid, DBPARAMS *params, DBROWCOUNT *rowsAffected, IUnknown **rowset) override
    {
        beginCall();
        if (rowsAffected)
            *rowsAffected = -1; // DB_COUNTUNAVAILABLE
        if (rowset)
            *rowset = nullptr;
        if (outer && iid != IID_IUnknown)
            return DB_E_NOAGGREGATION;
        if (iid != IID_NULL && !rowset)
            return E_INVALIDARG;
        if (!text_)
            return reportFailure(DB_E_NOCOMMAND, IID_ICommand, u"The command has no text.");

        std::vector<ParameterValue> values;
        if (params && params->pData && params->cParamSets > 0) {
            const Accessor *accessor = accessors_.find(params->hAccessor);
            if (!accessor || !(accessor->flags & DBACCESSOR_PARAMETERDATA))
                return reportFailure(DB_E_BADACCESSORHANDLE, IID_ICommand, u"The parameter accessor is not valid.");
            if (needsDescription(*accessor) && !described_ && !describe())
                return reportFailure(DB_E_PARAMUNAVAILABLE, IID_ICommand);
            std::vector<SqlServerType> types;
            if (described_) {
                types.reserve(described_->size());
                for (const auto &p : *described_)
                    types.push_back(p.type);
            }
            const HRESULT hr = readParameterValues(accessor->bindings, static_cast<BYTE *>(params->pData), types, values);
            if (FAILED(hr))
                return reportFailure(hr, IID_ICommand);
        }

        const RowsetOptions options = rowsetOptions(properties_);
        std::shared_ptr<ResultStream> stream;
        HRESULT hr = connection_->execute(*text_, &values, options.commandTimeout, stream);
        if (FAILED(hr))
            return reportFailure(hr, IID_ICommand);
        if (rowsAffected)
            *rowsAffected = stream->affectedRows();

        // The values go with the rowset, which runs the statement again on a restart.
        Reexecute reexecute = makeReexecute(std::move(values), options.commandTimeout);
        if (iid == IID_IMultipleResults) {
            hr = createMultipleResults(stream, rz::ComPtr<IUnknown>::share(identity()), options, std::move(reexecute), rowset);
            return FAILED(hr) ? reportFailure(hr, IID_ICommand) : S_OK;
        }
        if (iid == IID_NULL || !stream->hasColumns()) {
            // No rowset wanted or none produced: run the rest of the batch so
            // its errors and counts are not lost.
            DBROWCOUNT total = stream->affectedRows();
            for (;;) {
                const auto next = stream->nextResult();
                if (next == ResultStream::Next::End)
                    break;
                if (next == ResultStream::Next::Failed)
                    return reportFailure(executionFailureCode(), IID_ICommand);
                if (stream->affectedRows() >= 0)
                    total = (total < 0 ? 0 : total) + stream->affectedRows();
            }
            stream->close();
            if (rowsAffected)
                *rowsAffected = total;
            return S_OK;
        }
        hr = openRowset(stream, rz::ComPtr<IUnknown>::share(identity()), options, std::move(reexecute), iid, rowset);
        return FAILED(hr) ? passOnFailure(hr, IID_ICommand) : S_OK;
    }

    HRESULT GetDBSession(REFIID iid, IUnknown **session) override
    {
        if (!session)
            return E_INVALIDARG;
        *session = nullptr;
        return session_->QueryInterface(iid, reinterpret_cast<void **>(session));
    }

    // ICommandText
    HRESULT GetCommandText(GUID *dialect, LPOLESTR *text) override
    {
        beginCall();
        if (!text)
            return E_INVALIDARG;
        *text = nullptr;
        if (!text_) {
            if (dialect)
                *dialect = GUID_NULL;
            return reportFailure(DB_E_NOCOMMAND, IID_ICommandText, u"The command has no text.");
        }
        if (dialect)
            *dialect = DBGUID_DEFAULT;
        auto *copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text_->size() + 1) * sizeof(OLECHAR)));
        if (!copy)
            return E_OUTOFMEMORY;
        std::memcpy(copy, text_->c_str(), (text_->size() + 1) * sizeof(OLECHAR));
        *text = copy;
        return S_OK;
    }

    HRESULT SetCommandText(REFGUID dialect, LPCOLESTR text) override
    {
        beginCall();
        if (dialect != DBGUID_DEFAULT && dialect != DBGUID_SQL)
            return reportFailure(DB_E_DIALECTNOTSUPPORTED, IID_ICommandText, u"Only SQL text is supported.");
        described_.reset();
        if (text && *text)
            text_ = std::u16string(rz::asUtf16(text));
        else
            text_.reset();
        return S_OK;
    }

    // ICommandPrepare
    HRESULT Prepare(ULONG) override
    {
        beginCall();
        if (!text_)
            return reportFailure(DB_E_NOCOMMAND, IID_ICommandPrepare, u"The command has no text.");
        // Every execution sends the text (a batch, or sp_executesql with
        // parameters) and the server's plan cache recognises it: preparing
        // here would cost a round trip without saving one.
        return S_OK;
    }

    HRESULT Unprepare() override { return S_OK; }

    // ICommandProperties
    HRESULT GetProperties(const ULONG idSetCount, const DBPROPIDSET idSets[], ULONG *setCount, DBPROPSET **sets) override
    {
        beginCall();
        return properties_.getProperties(idSetCount, idSets, setCount, sets);
    }

    HRESULT SetProperties(ULONG setCount, DBPROPSET sets[]) override
    {
        beginCall();
        const HRESULT hr = properties_.setProperties(setCount, sets);
        if (hr == DB_E_ERRORSOCCURRED)
            return reportFailure(hr, IID_ICommandProperties, u"None of the properties could be set; see their status.");
        return hr;
    }

    // ICommandWithParameters
    HRESULT GetParameterInfo(DB_UPARAMS *count, DBPARAMINFO **info, OLECHAR **names) override
    {
        beginCall();
        if (!count || !info)
            return E_INVALIDARG;
        *count = 0;
        *info = nullptr;
        if (names)
            *names = nullptr;
        if (!text_)
            return reportFailure(DB_E_NOCOMMAND, IID_ICommandWithParameters, u"The command has no text.");
        if (!described_ && !describe())
            return reportFailure(DB_E_PARAMUNAVAILABLE, IID_ICommandWithParameters);
        const auto &params = *described_;
        if (params.empty())
            return S_OK;
        size_t nameUnits = 0;
        for (const auto &p : params)
            nameUnits += p.name.size() + 1;
        auto *table = static_cast<DBPARAMINFO *>(CoTaskMemAlloc(sizeof(DBPARAMINFO) * params.size()));
        auto *buffer = names ? static_cast<OLECHAR *>(CoTaskMemAlloc(sizeof(OLECHAR) * nameUnits)) : nullptr;
        if (!table || (names && !buffer)) {
            CoTaskMemFree(table);
            CoTaskMemFree(buffer);
            return E_OUTOFMEMORY;
        }
        OLECHAR *name = buffer;
        for (size_t i = 0; i < params.size(); ++i) {
            const DescribedParameter &p = params[i];
            DBPARAMINFO &out = table[i];
            std::memset(&out, 0, sizeof out);
            out.dwFlags = DBPARAMFLAGS_ISINPUT | DBPARAMFLAGS_ISNULLABLE | (p.type.isLong ? DBPARAMFLAGS(DBPARAMFLAGS_ISLONG) : DBPARAMFLAGS(0));
            out.iOrdinal = i + 1;
            if (name) {
                std::memcpy(name, p.name.c_str(), (p.name.size() + 1) * sizeof(OLECHAR));
                out.pwszName = name;
                name += p.name.size() + 1;
            }
            out.ulParamSize = p.type.size;
            out.wType = p.type.dbType;
            out.bPrecision = p.type.precision;
            out.bScale = p.type.scale;
        }
        *count = params.size();
        *info = table;
        if (names)
            *names = buffer;
        return S_OK;
    }

    HRESULT MapParameterNames(DB_UPARAMS count, const OLECHAR *names[], DB_LPARAMS ordinals[]) override
    {
        beginCall();
        if (count && (!names || !ordinals))
            return E_INVALIDARG;
        if (!text_)
            return reportFailure(DB_E_NOCOMMAND, IID_ICommandWithParameters, u"The command has no text.");
        if (!described_ && !describe())
            return reportFailure(DB_E_PARAMUNAVAILABLE, IID_ICommandWithParameters);
        DB_UPARAMS found = 0;
        for (DB_UPARAMS i = 0; i < count; ++i) {
            ordinals[i] = 0;
            for (size_t p = 0; names[i] && p < described_->size(); ++p)
                if ((*described_)[p].name == rz::asUtf16(names[i])) {
                    ordinals[i] = DB_LPARAMS(p + 1);
                    ++found;
                    break;
                }
        }
        if (found == count)
            return S_OK;
        return found == 0 ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
    }

    HRESULT SetParameterInfo(DB_UPARAMS count, const DB_UPARAMS[], const DBPARAMBINDINFO[]) override
    {
        // The server's own description is used; a cleared description is asked for again.
        if (count == 0) {
            described_.reset();
            return S_OK;
        }
        return E_NOTIMPL;
    }

    // IAccessor
    HRESULT AddRefAccessor(HACCESSOR handle, DBREFCOUNT *refCount) override { return accessors_.addRef(handle, refCount); }

    HRESULT CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH rowSize,
                           HACCESSOR *handle, DBBINDSTATUS statuses[]) override
    {
        beginCall();
        return accessors_.create(flags, count, bindings, rowSize, handle, statuses, [flags](const DBBINDING &b) {
            if (!(flags & DBACCESSOR_PARAMETERDATA))
                return DBBINDSTATUS_OK; // row accessors are checked by the rowset that uses them
            if (b.iOrdinal == 0)
                return DBBINDSTATUS_BADORDINAL;
            if ((b.wType & DBTYPE_BYREF) || !isSupportedParameterType(b.wType))
                return DBBINDSTATUS_UNSUPPORTEDCONVERSION;
            return DBBINDSTATUS_OK;
        });
    }

    HRESULT GetBindings(HACCESSOR handle, DBACCESSORFLAGS *flags, DBCOUNTITEM *count, DBBINDING **bindings) override
    {
        return accessors_.getBindings(handle, flags, count, bindings);
    }

    HRESULT ReleaseAccessor(HACCESSOR handle, DBREFCOUNT *refCount) override { return accessors_.release(handle, refCount); }

    // IConvertType
    HRESULT CanConvert(DBTYPE from, DBTYPE to, DBCONVERTFLAGS flags) override
    {
        if (flags & DBCONVERTFLAGS_PARAMETER)
            return isSupportedParameterType(from) ? S_OK : S_FALSE;
        return from == to || to == DBTYPE_WSTR || to == DBTYPE_STR ? S_OK : S_FALSE;
    }

    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override
    {
        return supportsErrorInfo(iid, {&IID_ICommand, &IID_ICommandText, &IID_ICommandPrepare, &IID_ICommandProperties,
                                       &IID_ICommandWithParameters, &IID_IAccessor, &IID_IConvertType});
    }

private:
    bool describe()
    {
        std::vector<DescribedParameter> params;
        // Part of the command's work: its own time-out holds, not the general one.
        if (!describeParameters(connection_, *text_, rowsetOptions(properties_).commandTimeout, params))
            return false;
        described_ = std::move(params);
        return true;
    }

    // Long values and NULLs need the server's types to travel in the right form.
    static bool needsDescription(const Accessor &accessor)
    {
        for (const auto &b : accessor.bindings)
            if ((b.wType & ~DBTYPE_BYREF) == DBTYPE_IUNKNOWN)
                return true;
        return false;
    }

    Reexecute makeReexecute(std::vector<ParameterValue> values, long timeout)
    {
        rz::ComPtr<IUnknown> self = rz::ComPtr<IUnknown>::share(identity());
        auto connection = connection_;
        std::u16string text = *text_;
        return [self, connection, text, values = std::move(values), timeout](std::shared_ptr<ResultStream> &stream) mutable -> HRESULT {
            std::vector<ParameterValue> again = values;
            const HRESULT hr = connection->execute(text, &again, timeout, stream);
            if (FAILED(hr))
                return hr;
            // The rowset reads the first result that has columns.
            while (!stream->hasColumns()) {
                const auto next = stream->nextResult();
                if (next == ResultStream::Next::Failed)
                    return executionFailureCode();
                if (next == ResultStream::Next::End)
                    return DB_E_CANNOTRESTART;
            }
            return S_OK;
        };
    }

    rz::ComPtr<IUnknown> session_;
    std::shared_ptr<ServerConnection> connection_;
    std::optional<std::u16string> text_;
    std::optional<std::vector<DescribedParameter>> described_;
    PropertyStore properties_;
    AccessorTable accessors_;
};

} // namespace

HRESULT createCommand(rz::ComPtr<IUnknown> session, std::shared_ptr<ServerConnection> connection, REFIID iid,
                      IUnknown **command)
{
    auto object = rz::ComPtr<ICommandText>::adopt(new (std::nothrow) Command(std::move(session), std::move(connection)));
    if (!object)
        return E_OUTOFMEMORY;
    return object->QueryInterface(iid, reinterpret_cast<void **>(command));
}

} // namespace rz::provider
