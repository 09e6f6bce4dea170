#include "provider/objects/datasource.h"

#include "platform/com/comobject.h"
#include "platform/com/oletext.h"
#include "provider/diagnostics/errors.h"
#include "provider/objects/propertystore.h"
#include "provider/objects/session.h"
#include "provider/objects/supporterrorinfo.h"

#include <atomic>
#include <memory>

namespace rz::provider {

namespace {

// Login time-out when the consumer gives none: FreeTDS would otherwise wait
// for minutes on a server that accepts the connection and never answers.
constexpr LONG kDefaultLoginTimeout = 15;

class DataSource final : public rz::ComObject<IDBInitialize, IDBProperties, IDBCreateSession, ISupportErrorInfo> {
public:
    explicit DataSource(std::shared_ptr<Backend> backend) : backend_(std::move(backend))
    {
        const GUID &init = DBPROPSET_DBINIT;
        properties_.supportString(init, DBPROP_INIT_DATASOURCE);
        properties_.supportString(init, DBPROP_INIT_CATALOG);
        properties_.supportString(init, DBPROP_AUTH_USERID);
        properties_.supportString(init, DBPROP_AUTH_PASSWORD);
        properties_.supportString(init, DBPROP_AUTH_INTEGRATED);
        properties_.supportString(init, DBPROP_INIT_PROVIDERSTRING);
        properties_.supportI4(init, DBPROP_INIT_TIMEOUT, kDefaultLoginTimeout);
        properties_.supportI4(init, DBPROP_INIT_GENERALTIMEOUT, 0);
        properties_.supportI4(init, DBPROP_INIT_LCID, 0);
        properties_.supportI4(init, DBPROP_INIT_OLEDBSERVICES, -1);
        properties_.supportI4(init, DBPROP_INIT_MODE, 0);
        properties_.supportBool(init, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, false);
        VARIANT prompt;
        VariantInit(&prompt);
        prompt.vt = VT_I2;
        prompt.iVal = DBPROMPT_NOPROMPT;
        properties_.support(init, DBPROP_INIT_PROMPT, VT_I2, prompt);
        properties_.supportString(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_ENCRYPT);
    }

    // IDBInitialize
    HRESULT Initialize() override
    {
        beginCall();
        if (initialized_)
            return reportFailure(DB_E_ALREADYINITIALIZED, IID_IDBInitialize, u"The data source is already initialized.");
        settings_ = currentSettings();
        if (!parseServerAddress(settings_.dataSource))
            return reportFailure(E_FAIL, IID_IDBInitialize,
                                 u"The server name is not one SQL Server clients accept (host, host,port or host\\instance).");
        auto connection = backend_->connect(settings_);
        if (!connection)
            return reportFailure(loginFailureCode(), IID_IDBInitialize);
        spare_ = std::move(connection);
        initialized_ = true;
        properties_.setReadOnly(true);
        return S_OK;
    }

    HRESULT Uninitialize() override
    {
        beginCall();
        if (openSessions_.load() > 0)
            return reportFailure(DB_E_OBJECTOPEN, IID_IDBInitialize, u"Sessions of the data source are still open.");
        spare_.reset();
        initialized_ = false;
        properties_.setReadOnly(false);
        return S_OK;
    }

    // IDBProperties
    HRESULT GetProperties(ULONG idSetCount, const DBPROPIDSET idSets[], ULONG *setCount, DBPROPSET **sets) override
    {
        beginCall();
        return properties_.getProperties(idSetCount, idSets, setCount, sets);
    }

    HRESULT GetPropertyInfo(ULONG, const DBPROPIDSET[], ULONG *infoSetCount, DBPROPINFOSET **infoSets,
                            OLECHAR **descriptions) override
    {
        if (infoSetCount) *infoSetCount = 0;
        if (infoSets) *infoSets = nullptr;
        if (descriptions) *descriptions = nullptr;
        return infoSetCount && infoSets ? S_OK : E_INVALIDARG;
    }

    HRESULT SetProperties(ULONG setCount, DBPROPSET sets[]) override
    {
        beginCall();
        const HRESULT hr = properties_.setProperties(setCount, sets);
        if (hr == DB_E_ERRORSOCCURRED)
            return reportFailure(hr, IID_IDBProperties, u"None of the properties could be set; see their status.");
        return hr;
    }

    // IDBCreateSession
    HRESULT CreateSession(IUnknown *outer, REFIID iid, IUnknown **session) override
    {
        beginCall();
        if (!session)
            return E_INVALIDARG;
        *session = nullptr;
        if (outer && iid != IID_IUnknown)
            return DB_E_NOAGGREGATION;
        if (!initialized_)
            return E_UNEXPECTED;
        std::shared_ptr<ServerConnection> connection = std::move(spare_);
        if (!connection)
            connection = backend_->connect(settings_);
        if (!connection)
            return reportFailure(E_FAIL, IID_IDBCreateSession);
        return createSession(rz::ComPtr<IUnknown>::share(identity()), std::move(connection), &openSessions_, iid, session);
    }

    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override
    {
        return supportsErrorInfo(iid, {&IID_IDBInitialize, &IID_IDBProperties, &IID_IDBCreateSession});
    }

private:
    ConnectionSettings currentSettings() const
    {
        const GUID &init = DBPROPSET_DBINIT;
        ConnectionSettings s;
        auto text = [&](DBPROPID id) {
            const OLECHAR *v = properties_.stringValue(init, id);
            return v ? std::u16string(rz::asUtf16(v)) : std::u16string();
        };
        s.dataSource = text(DBPROP_INIT_DATASOURCE);
        s.catalog = text(DBPROP_INIT_CATALOG);
        s.userId = text(DBPROP_AUTH_USERID);
        s.password = text(DBPROP_AUTH_PASSWORD);
        s.integratedSecurity = !text(DBPROP_AUTH_INTEGRATED).empty();
        s.providerString = text(DBPROP_INIT_PROVIDERSTRING);
        if (const OLECHAR *encrypt = properties_.stringValue(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_ENCRYPT))
            s.encrypt = std::u16string(rz::asUtf16(encrypt));
        s.loginTimeoutSeconds = properties_.i4Value(init, DBPROP_INIT_TIMEOUT, kDefaultLoginTimeout);
        s.generalTimeoutSeconds = properties_.i4Value(init, DBPROP_INIT_GENERALTIMEOUT, 0);
        return s;
    }

    std::shared_ptr<Backend> backend_;
    PropertyStore properties_;
    ConnectionSettings settings_; // as Initialize read them
    std::shared_ptr<ServerConnection> spare_; // the login's connection, for the first session
    std::atomic<int> openSessions_{0};
    bool initialized_ = false;
};

} // namespace

HRESULT createDataSource(std::shared_ptr<Backend> backend, IUnknown *outer, REFIID iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    auto source = rz::ComPtr<IDBInitialize>::adopt(new (std::nothrow) DataSource(std::move(backend)));
    if (!source)
        return E_OUTOFMEMORY;
    return source->QueryInterface(iid, object);
}

} // namespace rz::provider
