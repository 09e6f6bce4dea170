#include "provider/tds/tdsconnection.h"

#include "provider/diagnostics/errors.h"
#include "provider/sql/callescape.h"
#include "provider/sql/parametermarkers.h"
#include "provider/tds/tdsresultstream.h"
#include "provider/tds/tdstypes.h"
#include "tds/wirewriter.h"

#include <cctype>
#include <map>
#include <mutex>

namespace rz::provider {

namespace {

using namespace std::chrono_literals;

// Login time-out when the consumer gives none.
constexpr auto kDefaultLoginTimeout = 15s;
constexpr uint32_t kPacketSize = 16384;
// How long a server may take to acknowledge an ATTENTION when the general
// time-out sets no limit: a server that never answers must not hang the caller.
constexpr auto kAttentionWait = 30s;

std::chrono::milliseconds milliseconds(long seconds)
{
    return std::chrono::milliseconds(seconds > 0 ? int64_t(seconds) * 1000 : 0);
}

std::u16string utf16(const std::string &utf8) { return rz::tds::utf16FromUtf8(utf8); }
std::string utf8(const std::u16string &text) { return rz::tds::utf8FromUtf16(text); }

const char16_t *sqlStateFor(int32_t number)
{
    switch (number) {
    case 208: return u"42S02";    // invalid object name
    case 207: return u"42S22";    // invalid column name
    case 2714: return u"42S01";   // object already exists
    case 515: case 547: case 2601: case 2627: return u"23000";
    case 8134: return u"22012";   // divide by zero
    case 8152: case 2628: return u"22001";
    case 245: return u"22018";
    case 220: case 232: case 8115: return u"22003";
    case 1205: return u"40001";
    case 18456: case 18452: case 4060: return u"28000";
    default: return u"42000";
    }
}

struct BatchAnswer : rz::tds::TokenHandler {
    std::vector<Diagnostic> errors;
    void onMessage(const rz::tds::ServerMessage &m) override
    {
        if (m.isError && m.severity > 10)
            errors.push_back(diagnosticFromServer(m));
    }
};

std::string lower(std::u16string_view text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 128 ? char(std::tolower(int(c))) : '?';
    return out;
}

#ifndef RZ_TDS_WITHOUT_TLS
bool isYes(std::u16string_view value)
{
    const std::string v = lower(value);
    return v == "yes" || v == "true" || v == "1";
}

// Loading the system's certificate authorities costs tens of milliseconds:
// the OpenSSL context is made when a server first wants TLS, once per
// process and set of options, and shared by every connection after that.
class SharedTlsProvider final : public rz::tds::TlsProvider {
public:
    explicit SharedTlsProvider(rz::tds::TlsOptions options) : options_(std::move(options)) {}

    std::unique_ptr<rz::tds::Transport> handshake(rz::tds::PacketChannel &channel, rz::tds::Transport &raw,
                                                  const std::string &serverName,
                                                  rz::tds::Encryption encryption) override
    {
        if (!context_)
            context_ = contextFor(options_);
        return context_->handshake(channel, raw, serverName, encryption);
    }

private:
    static std::shared_ptr<rz::tds::OpenSslTlsProvider> contextFor(const rz::tds::TlsOptions &options)
    {
        static std::mutex mutex;
        static std::map<std::pair<bool, std::string>, std::shared_ptr<rz::tds::OpenSslTlsProvider>> contexts;
        std::lock_guard<std::mutex> lock(mutex);
        auto &context = contexts[{options.verifyServer, options.caFile}];
        if (!context)
            context = std::make_shared<rz::tds::OpenSslTlsProvider>(options);
        return context;
    }

    rz::tds::TlsOptions options_;
    std::shared_ptr<rz::tds::OpenSslTlsProvider> context_;
};
#endif

class TdsBackend final : public Backend {
public:
    std::shared_ptr<ServerConnection> connect(const ConnectionSettings &settings) override
    {
        const auto address = parseServerAddress(settings.dataSource);
        if (!address) {
            addPendingDiagnostic(u"08001", u"The server name is not one SQL Server clients accept.");
            return nullptr;
        }
        if (address->port == 0) {
            addPendingDiagnostic(u"08001", u"A named instance needs its port (host,port): this provider does not ask "
                                           u"the SQL Server Browser.");
            return nullptr;
        }
        rz::tds::LoginOptions options;
        options.serverName = utf8(address->host);
        if (settings.integratedSecurity) {
            // Kerberos with the user's ticket cache; the service principal is
            // MSSQLSvc/<host>:<port> unless the provider string names it.
            options.integratedSecurity = true;
            options.servicePrincipal = utf8(providerStringSetting(settings.providerString, u"ServerSPN"));
        } else {
            options.userName = utf8(settings.userId);
            options.password = utf8(settings.password);
        }
        options.database = utf8(settings.catalog);
        options.appName = utf8(settings.applicationName);
        // Larger packets mean fewer reads per result; servers that want less say so in ENVCHANGE.
        options.packetSize = kPacketSize;
        options.loginTimeout = settings.loginTimeoutSeconds > 0 ? std::chrono::milliseconds(settings.loginTimeoutSeconds * 1000)
                                                               : std::chrono::milliseconds(kDefaultLoginTimeout);
        // Microsoft's drivers: "Optional" encrypts when the server wants it,
        // "Mandatory" always and checks the certificate unless it is trusted,
        // "Strict" always and checks the certificate whatever the trust says.
        const std::string encrypt = settings.encrypt ? lower(*settings.encrypt) : std::string("optional");
        const bool strict = encrypt == "strict";
        const bool mandatory = strict || encrypt == "mandatory" || encrypt == "yes" || encrypt == "true";
#ifdef RZ_TDS_WITHOUT_TLS
        // A build without TLS tells the server in PRELOGIN that it cannot
        // encrypt; a server that requires encryption then fails the login.
        if (mandatory) {
            addPendingDiagnostic(u"08001", u"Encryption was asked for, and this build of the provider has no TLS "
                                           u"(connect with Encrypt=Optional to a server that does not require it).");
            return nullptr;
        }
        options.encryption = rz::tds::EncryptionPolicy::Never;
        std::unique_ptr<rz::tds::TlsProvider> tls;
#else
        options.encryption = mandatory ? rz::tds::EncryptionPolicy::Required : rz::tds::EncryptionPolicy::Optional;
        rz::tds::TlsOptions tlsOptions;
        // Encryption the client did not ask for (the login's, or a server
        // that forces it) checks no certificate, as with Microsoft's drivers.
        tlsOptions.verifyServer =
            strict || (mandatory && !isYes(providerStringSetting(settings.providerString, u"TrustServerCertificate")));
        tlsOptions.caFile = utf8(providerStringSetting(settings.providerString, u"ServerCertificate"));
        auto tls = std::make_unique<SharedTlsProvider>(tlsOptions);
#endif
        try {
            auto wire = rz::tds::Connection::open(options.serverName, uint16_t(address->port), options, tls.get());
            return std::make_shared<TdsConnection>(std::move(tls), std::move(wire), settings.generalTimeoutSeconds);
        } catch (const rz::tds::LoginError &e) {
            for (const auto &m : e.messages())
                if (m.isError)
                    addPendingDiagnostic(diagnosticFromServer(m));
            if (pendingDiagnostics().empty())
                addPendingDiagnostic(u"28000", utf16(e.what()));
        } catch (const rz::tds::TdsError &e) {
            if (e.kind() == rz::tds::ErrorKind::Authentication) {
                addPendingDiagnostic(u"28000", utf16(e.what()));
                return nullptr;
            }
            const char16_t *state = e.kind() == rz::tds::ErrorKind::Timeout ? u"HYT00" : u"08001";
            addPendingDiagnostic(state, utf16(std::string("Cannot connect to the server: ") + e.what()));
        }
        return nullptr;
    }
};

} // namespace

Diagnostic diagnosticFromServer(const rz::tds::ServerMessage &message)
{
    return Diagnostic{sqlStateFor(message.number), message.number, utf16(message.message)};
}

TdsConnection::TdsConnection(std::unique_ptr<rz::tds::TlsProvider> tls, std::unique_ptr<rz::tds::Connection> wire,
                             long generalTimeoutSeconds)
    : ServerConnection(generalTimeoutSeconds), tls_(std::move(tls)), wire_(std::move(wire))
{
}

std::chrono::milliseconds TdsConnection::cancelTimeout() const
{
    return generalTimeoutSeconds() > 0 ? milliseconds(generalTimeoutSeconds())
                                       : std::chrono::milliseconds(kAttentionWait);
}

TdsConnection::~TdsConnection() = default;

void TdsConnection::wireFailed(const rz::tds::TdsError &error)
{
    if (error.kind() == rz::tds::ErrorKind::Usage) {
        // Refused before anything went out (a value its type cannot carry): the connection is fine.
        addPendingDiagnostic(u"HY000", utf16(error.what()));
        return;
    }
    if (error.kind() == rz::tds::ErrorKind::Timeout && wire_->usable()) {
        // The server is told to stop; its acknowledgement is read before the
        // next request, so the caller does not wait for a server that sits.
        try {
            wire_->sendAttention();
            addPendingDiagnostic(u"HYT00", u"Query timeout expired");
            return;
        } catch (const rz::tds::TdsError &) {
        }
    }
    addPendingDiagnostic(u"08S01", utf16(std::string("Communication link failure: ") + error.what()));
}

bool TdsConnection::usableOrReport()
{
    if (wire_->usable() && wire_->attentionPending()) {
        try {
            wire_->awaitAttention(cancelTimeout());
        } catch (const rz::tds::TdsError &) {
        }
    }
    if (wire_->usable())
        return true;
    addPendingDiagnostic(u"08S01", u"Communication link failure: the connection to the server is broken.");
    return false;
}

template <typename Send>
bool TdsConnection::runToEnd(Send send)
{
    makeIdle();
    if (!usableOrReport())
        return false;
    BatchAnswer answer;
    try {
        wire_->setRequestTimeout(milliseconds(generalTimeoutSeconds()));
        send();
        while (!wire_->readResponse(answer)) {
        }
    } catch (const rz::tds::TdsError &e) {
        wireFailed(e);
        return false;
    }
    for (auto &d : answer.errors)
        addPendingDiagnostic(std::move(d));
    return answer.errors.empty();
}

const std::u16string &TdsConnection::statementWithParameters(const std::u16string &text)
{
    if (text != translatedText_ || translatedText_.empty()) {
        translatedStatement_ = numberParameterMarkers(translateCallEscape(text)).text;
        translatedText_ = text;
    }
    return translatedStatement_;
}

HRESULT TdsConnection::execute(const std::u16string &text, std::vector<ParameterValue> *parameters,
                               long timeoutSeconds, std::shared_ptr<ResultStream> &stream)
{
    stream.reset();
    makeIdle();
    if (!usableOrReport())
        return E_FAIL;
    try {
        wire_->setRequestTimeout(milliseconds(timeoutSeconds));
        if (parameters && !parameters->empty()) {
            rz::tds::RpcParameters rpc(wire_->session().collation);
            if (!tdsParameters(*parameters, rpc))
                return E_FAIL;
            wire_->sendExecuteSql(statementWithParameters(text), rpc);
        } else {
            wire_->sendBatch(translateCallEscape(text));
        }
    } catch (const rz::tds::TdsError &e) {
        wireFailed(e);
        return E_FAIL;
    }
    auto fresh = std::make_shared<TdsResultStream>(shared_from_this());
    if (!fresh->start()) {
        const HRESULT hr = executionFailureCode();
        fresh->close();
        return hr;
    }
    fresh->becomeActive();
    stream = std::move(fresh);
    return S_OK;
}

bool TdsConnection::beginTransaction(ISOLEVEL level)
{
    if (level != isolation_) {
        const char16_t *name = u"READ COMMITTED";
        switch (level) {
        case ISOLATIONLEVEL_READUNCOMMITTED: name = u"READ UNCOMMITTED"; break;
        case ISOLATIONLEVEL_REPEATABLEREAD: name = u"REPEATABLE READ"; break;
        case ISOLATIONLEVEL_SERIALIZABLE: name = u"SERIALIZABLE"; break;
        default: break;
        }
        const std::u16string sql = std::u16string(u"SET TRANSACTION ISOLATION LEVEL ") + name;
        if (!runToEnd([&] { wire_->sendBatch(std::u16string_view(sql)); }))
            return false;
        isolation_ = level;
    }
    if (!runToEnd([&] { wire_->sendTransactionRequest(rz::tds::TransactionRequest::Begin); }))
        return false;
    setInTransaction(true);
    return true;
}

bool TdsConnection::endTransaction(bool commit, bool retaining)
{
    const auto request = commit ? rz::tds::TransactionRequest::Commit : rz::tds::TransactionRequest::Rollback;
    const bool ended = runToEnd([&] { wire_->sendTransactionRequest(request, retaining); });
    if (!retaining || !ended) {
        // Back to auto-commit, also when the server could not end the
        // transaction: what it still holds is rolled back.
        if (!ended && wire_->usable() && wire_->session().transactionDescriptor != 0) {
            const auto pending = takePendingDiagnostics();
            runToEnd([&] { wire_->sendTransactionRequest(rz::tds::TransactionRequest::Rollback); });
            clearPendingDiagnostics();
            for (auto d : pending)
                addPendingDiagnostic(std::move(d));
        }
        setInTransaction(false);
    }
    return ended;
}

void TdsConnection::abandonTransaction()
{
    if (!inTransaction())
        return;
    const auto pending = takePendingDiagnostics();
    if (wire_->session().transactionDescriptor != 0)
        runToEnd([&] { wire_->sendTransactionRequest(rz::tds::TransactionRequest::Rollback); });
    clearPendingDiagnostics();
    for (auto d : pending)
        addPendingDiagnostic(std::move(d));
    setInTransaction(false);
}

std::shared_ptr<Backend> makeTdsBackend() { return std::make_shared<TdsBackend>(); }

} // namespace rz::provider
