#include "provider/objects/session.h"

#include "platform/com/comobject.h"
#include "platform/com/oletext.h"
#include "provider/objects/command.h"
#include "provider/diagnostics/errors.h"
#include "provider/objects/propertystore.h"
#include "provider/objects/rowset.h"
#include "provider/objects/rowsetproperties.h"
#include "provider/resultstream.h"
#include "provider/objects/supporterrorinfo.h"
#include "provider/sql/tablename.h"

namespace rz::provider {

namespace {

class Session final : public rz::ComObject<IOpenRowset, IDBCreateCommand, ITransactionLocal, IGetDataSource,
                                           ISessionProperties, ISupportErrorInfo> {
public:
    Session(rz::ComPtr<IUnknown> dataSource, std::shared_ptr<ServerConnection> connection, std::atomic<int> *openSessions)
        : dataSource_(std::move(dataSource)), connection_(std::move(connection)), openSessions_(openSessions)
    {
        ++*openSessions_;
        properties_.supportI4(DBPROPSET_SESSION, DBPROP_SESS_AUTOCOMMITISOLEVELS, ISOLATIONLEVEL_READCOMMITTED);
    }

    ~Session() override
    {
        // An open transaction dies with its session.
        connection_->abandonTransaction();
        --*openSessions_;
    }

    // IOpenRowset
    HRESULT OpenRowset(IUnknown *outer, DBID *tableId, DBID *indexId, REFIID iid, ULONG setCount, DBPROPSET sets[],
                       IUnknown **rowset) override
    {
        beginCall();
        if (rowset)
            *rowset = nullptr;
        if (outer && iid != IID_IUnknown)
            return DB_E_NOAGGREGATION;
        if (!tableId && !indexId)
            return E_INVALIDARG;
        if (indexId)
            return reportFailure(DB_E_NOINDEX, IID_IOpenRowset, u"The provider opens tables, not indexes.");
        if (tableId->eKind != DBKIND_NAME || !tableId->uName.pwszName)
            return reportFailure(DB_E_NOTABLE, IID_IOpenRowset, u"The table is not given by name.");
        const std::u16string table = quotedTableName(rz::asUtf16(tableId->uName.pwszName));
        if (table.empty())
            return reportFailure(DB_E_NOTABLE, IID_IOpenRowset, u"The table name cannot be read.");

        PropertyStore properties;
        declareRowsetProperties(properties);
        const HRESULT propertyResult = properties.setProperties(setCount, sets);
        if (FAILED(propertyResult))
            return propertyResult;

        std::shared_ptr<ResultStream> stream;
        // No row is wanted: the result of WHERE 1=0 carries the columns alone.
        // Opening a table is a request of the session, not a command: the general time-out holds.
        const HRESULT hr = connection_->execute(u"SELECT * FROM " + table + u" WHERE 1=0", nullptr,
                                                connection_->generalTimeoutSeconds(), stream);
        if (FAILED(hr)) {
            for (const auto &d : pendingDiagnostics())
                if (d.sqlState == u"42S02")
                    return reportFailure(DB_E_NOTABLE, IID_IOpenRowset);
            return reportFailure(hr, IID_IOpenRowset);
        }
        if (!rowset)
            return propertyResult;
        const HRESULT opened = openRowset(stream, nullptr, rowsetOptions(properties), nullptr, iid, rowset);
        if (FAILED(opened))
            return reportFailure(opened, IID_IOpenRowset);
        return propertyResult;
    }

    // IDBCreateCommand
    HRESULT CreateCommand(IUnknown *outer, REFIID iid, IUnknown **command) override
    {
        beginCall();
        if (!command)
            return E_INVALIDARG;
        *command = nullptr;
        if (outer && iid != IID_IUnknown)
            return DB_E_NOAGGREGATION;
        return createCommand(rz::ComPtr<IUnknown>::share(identity()), connection_, iid, command);
    }

    // ITransaction
    HRESULT Commit(BOOL retaining, DWORD commitType, DWORD) override
    {
        beginCall();
        if (commitType & XACTTC_ASYNC)
            return reportFailure(XACT_E_NOTSUPPORTED, IID_ITransaction, u"Asynchronous commits are not supported.");
        return endTransaction(true, retaining);
    }

    HRESULT Abort(BOID *, BOOL retaining, BOOL async) override
    {
        beginCall();
        if (async)
            return reportFailure(XACT_E_NOTSUPPORTED, IID_ITransaction, u"Asynchronous aborts are not supported.");
        return endTransaction(false, retaining);
    }

    HRESULT GetTransactionInfo(XACTTRANSINFO *info) override
    {
        beginCall();
        if (!info)
            return E_INVALIDARG;
        if (!connection_->inTransaction())
            return reportFailure(XACT_E_NOTRANSACTION, IID_ITransaction, u"No transaction is active.");
        std::memset(info, 0, sizeof *info);
        info->isoLevel = isolation_;
        info->grfTCSupported = XACTTC_SYNC;
        return S_OK;
    }

    // ITransactionLocal
    HRESULT GetOptionsObject(ITransactionOptions **options) override
    {
        if (options)
            *options = nullptr;
        return E_NOTIMPL;
    }

    HRESULT StartTransaction(ISOLEVEL level, ULONG flags, ITransactionOptions *, ULONG *transactionLevel) override
    {
        beginCall();
        if (flags != 0)
            return reportFailure(XACT_E_NOISORETAIN, IID_ITransactionLocal, u"Isolation flags are not supported.");
        if (connection_->inTransaction())
            return reportFailure(XACT_E_XTIONEXISTS, IID_ITransactionLocal, u"A transaction is already active.");
        switch (level) {
        case ISOLATIONLEVEL_READUNCOMMITTED: case ISOLATIONLEVEL_READCOMMITTED:
        case ISOLATIONLEVEL_REPEATABLEREAD: case ISOLATIONLEVEL_SERIALIZABLE:
            break;
        default:
            return reportFailure(XACT_E_ISOLATIONLEVEL, IID_ITransactionLocal, u"The isolation level is not supported.");
        }
        if (!connection_->beginTransaction(level))
            return reportFailure(E_FAIL, IID_ITransactionLocal);
        isolation_ = level;
        if (transactionLevel)
            *transactionLevel = 1;
        return S_OK;
    }

    // IGetDataSource
    HRESULT GetDataSource(REFIID iid, IUnknown **dataSource) override
    {
        if (!dataSource)
            return E_INVALIDARG;
        *dataSource = nullptr;
        return dataSource_->QueryInterface(iid, reinterpret_cast<void **>(dataSource));
    }

    // ISessionProperties
    HRESULT GetProperties(ULONG idSetCount, const DBPROPIDSET idSets[], ULONG *setCount, DBPROPSET **sets) override
    {
        return properties_.getProperties(idSetCount, idSets, setCount, sets);
    }

    HRESULT SetProperties(ULONG setCount, DBPROPSET sets[]) override { return properties_.setProperties(setCount, sets); }

    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override
    {
        return supportsErrorInfo(iid, {&IID_IOpenRowset, &IID_IDBCreateCommand, &IID_ITransactionLocal,
                                       &IID_ITransaction, &IID_IGetDataSource, &IID_ISessionProperties});
    }

private:
    HRESULT endTransaction(bool commit, BOOL retaining)
    {
        if (!connection_->inTransaction())
            return reportFailure(XACT_E_NOTRANSACTION, IID_ITransaction, u"No transaction is active.");
        if (!connection_->endTransaction(commit, retaining != FALSE))
            return reportFailure(commit ? XACT_E_COMMITFAILED : E_FAIL, IID_ITransaction);
        return S_OK;
    }

    rz::ComPtr<IUnknown> dataSource_;
    std::shared_ptr<ServerConnection> connection_;
    std::atomic<int> *openSessions_;
    PropertyStore properties_;
    ISOLEVEL isolation_ = ISOLATIONLEVEL_READCOMMITTED;
};

} // namespace

HRESULT createSession(rz::ComPtr<IUnknown> dataSource, std::shared_ptr<ServerConnection> connection,
                      std::atomic<int> *openSessions, REFIID iid, IUnknown **session)
{
    auto object = rz::ComPtr<IOpenRowset>::adopt(new (std::nothrow) Session(std::move(dataSource), std::move(connection), openSessions));
    if (!object)
        return E_OUTOFMEMORY;
    return object->QueryInterface(iid, reinterpret_cast<void **>(session));
}

} // namespace rz::provider
