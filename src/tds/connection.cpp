#include "tds/connection.h"

#include "tds/requests.h"
#include "tds/sockettransport.h"
#include "tds/wirewriter.h"

#include <algorithm>
#include <array>
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h> // gethostname
#include <process.h>  // _getpid
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace rz::tds {

namespace {

constexpr uint8_t kFeatureUtf8 = 0x0A;
constexpr size_t kDoneTokenSize = 13;

std::string localHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

uint64_t descriptorFrom(const std::vector<uint8_t> &bytes)
{
    uint64_t v = 0;
    for (size_t i = 0; i < bytes.size() && i < 8; ++i)
        v |= uint64_t(bytes[i]) << (8 * i);
    return v;
}

} // namespace

// Keeps the session state up to date while the caller's handler sees every token.
class Connection::SessionHandler : public TokenHandler {
public:
    SessionHandler(Connection &connection, TokenHandler &user) : connection_(connection), user_(user) {}

    bool onColumns(const std::vector<ColumnInfo> &columns) override { return user_.onColumns(columns); }
    RowTarget rowTarget() override { return user_.rowTarget(); }
    bool onRow() override { return user_.onRow(); }
    bool onDone(const Done &done) override { return user_.onDone(done); }
    bool onReturnValue(const ReturnValue &value) override { return user_.onReturnValue(value); }
    void onReturnStatus(int32_t status) override { user_.onReturnStatus(status); }
    void onMessage(const ServerMessage &message) override { user_.onMessage(message); }
    void onEnvChange(const EnvChange &change) override
    {
        connection_.applyEnvChange(change);
        user_.onEnvChange(change);
    }
    void onOrder(const std::vector<uint16_t> &order) override { user_.onOrder(order); }
    void onLoginAck(const LoginAck &ack) override
    {
        connection_.session_.loginAck = ack;
        user_.onLoginAck(ack);
    }
    void onSspi(const std::vector<uint8_t> &token) override { user_.onSspi(token); }
    void onFeatureAck(uint8_t feature, const std::vector<uint8_t> &data) override
    {
        if (feature == kFeatureUtf8 && !data.empty() && (data[0] & 1))
            connection_.session_.utf8Acknowledged = true;
        user_.onFeatureAck(feature, data);
    }

private:
    Connection &connection_;
    TokenHandler &user_;
};

Connection::Connection(std::unique_ptr<Transport> transport, TlsProvider *tls)
    : raw_(std::move(transport)), active_(raw_.get()), tls_(tls), channel_(*raw_), reader_(channel_)
{
}

std::unique_ptr<Connection> Connection::open(const std::string &host, uint16_t port, const LoginOptions &options,
                                             TlsProvider *tls)
{
    auto transport = std::make_unique<SocketTransport>(SocketTransport::connect(host, port, options.loginTimeout));
    auto connection = std::make_unique<Connection>(std::move(transport), tls);
    LoginOptions withServer = options;
    if (withServer.serverName.empty())
        withServer.serverName = host;
    if (withServer.integratedSecurity && withServer.servicePrincipal.empty())
        withServer.servicePrincipal = sqlServerPrincipal(withServer.serverName, port);
    connection->login(withServer);
    return connection;
}

template <typename F>
auto Connection::guarded(F &&f) -> decltype(f())
{
    if (!usable_)
        throw TdsError(ErrorKind::ConnectionClosed, "the connection is no longer usable");
    try {
        return f();
    } catch (const TdsError &e) {
        if (e.kind() == ErrorKind::Timeout && !channel_.broken())
            interrupted_ = true;
        else if (e.kind() != ErrorKind::Usage && e.kind() != ErrorKind::Login)
            usable_ = false;
        throw;
    }
}

void Connection::login(const LoginOptions &options)
{
    // A login that fails in any way leaves nothing to go on with.
    try {
        loginSteps(options);
    } catch (const TdsError &) {
        usable_ = false;
        throw;
    }
}

void Connection::loginSteps(const LoginOptions &options)
{
    active_->setTimeout(options.loginTimeout);
    std::unique_ptr<SecurityContext> security;
    if (options.integratedSecurity) {
        if (options.servicePrincipal.empty())
            throw TdsError(ErrorKind::Usage, "integrated security needs the server's service principal");
        security = makeKerberosContext(options.servicePrincipal);
    }
    guarded([&] {
        PreLoginRequest request;
        request.encryption = encryptionOptionFor(options.encryption);
        request.threadId = uint32_t(::getpid());
        channel_.sendMessage(PacketType::PreLogin, encodePreLogin(request));
        const std::vector<uint8_t> answer = channel_.receiveMessage();
        if (channel_.messageType() != uint8_t(PacketType::Reply))
            throw TdsError(ErrorKind::Protocol, "the server answered PRELOGIN with packet type " +
                                                    std::to_string(channel_.messageType()));
        preLogin_ = decodePreLogin(answer);
        session_.encryption = negotiateEncryption(options.encryption, preLogin_.encryption);
        if (session_.encryption != Encryption::None) {
            if (!tls_)
                throw TdsError(ErrorKind::Encryption,
                               "the server wants an encrypted connection, and this client has no TLS support");
            secure_ = tls_->handshake(channel_, *raw_, options.serverName, session_.encryption);
            active_ = secure_.get();
            channel_.setTransport(*active_);
        }

        LoginRequest login;
        login.packetSize = options.packetSize;
        login.clientPid = uint32_t(::getpid());
        login.hostName = options.hostName.empty() ? localHostName() : options.hostName;
        if (security) {
            login.integratedSecurity = true;
            login.sspi = security->step({}, options.loginTimeout);
        } else {
            login.userName = options.userName;
            login.password = options.password;
        }
        login.appName = options.appName;
        login.serverName = options.serverName;
        login.libraryName = options.libraryName;
        login.language = options.language;
        login.database = options.database;
        login.requestUtf8 = options.requestUtf8;
        channel_.sendMessage(PacketType::Login7, encodeLogin7(login));
        if (session_.encryption == Encryption::LoginOnly) {
            active_ = raw_.get();
            channel_.setTransport(*active_);
            secure_.reset();
        }
        channel_.beginMessage();
        responsePending_ = true;
        decoder_.reset();
    });

    finishLogin(options, security.get());
    if (session_.loginAck.tdsVersion < kTdsVersion74)
        throw TdsError(ErrorKind::Login, "the server speaks an older TDS version than 7.4");
    active_->setTimeout(requestTimeout_);
}

void Connection::finishLogin(const LoginOptions &options, SecurityContext *security)
{
    struct LoginHandler : TokenHandler {
        std::vector<ServerMessage> *messages;
        std::optional<std::vector<uint8_t>> sspi;
        bool acknowledged = false;
        explicit LoginHandler(std::vector<ServerMessage> &all) : messages(&all) {}
        void onMessage(const ServerMessage &m) override { messages->push_back(m); }
        void onLoginAck(const LoginAck &) override { acknowledged = true; }
        void onSspi(const std::vector<uint8_t> &token) override { sspi = token; }
    };
    std::vector<ServerMessage> messages;
    for (;;) {
        LoginHandler handler(messages);
        readResponse(handler);
        const bool refused = std::any_of(messages.begin(), messages.end(),
                                         [](const ServerMessage &m) { return m.isError; });
        if (handler.acknowledged) {
            loginMessages_ = messages;
            // The server's last token proves its identity to us (mutual
            // authentication); a login without it is not the server we asked for.
            if (security && !security->complete()) {
                if (!handler.sspi)
                    throw TdsError(ErrorKind::Authentication,
                                   "the server accepted the integrated login without proving its identity");
                guarded([&] { security->step(*handler.sspi, options.loginTimeout); });
                if (!security->complete())
                    throw TdsError(ErrorKind::Authentication, "the server ended the Kerberos exchange too early");
            }
            return;
        }
        if (refused || !security || !handler.sspi) {
            loginMessages_ = messages;
            std::string text = "the server refused the login";
            for (const ServerMessage &m : messages)
                if (m.isError) {
                    text = m.message;
                    break;
                }
            throw LoginError(text, messages);
        }
        guarded([&] {
            const std::vector<uint8_t> token = security->step(*handler.sspi, options.loginTimeout);
            channel_.sendMessage(PacketType::Sspi, token);
            channel_.beginMessage();
            responsePending_ = true;
            decoder_.reset();
        });
    }
}

void Connection::setRequestTimeout(std::chrono::milliseconds timeout)
{
    requestTimeout_ = timeout;
    active_->setTimeout(timeout);
}

void Connection::applyEnvChange(const EnvChange &change)
{
    switch (change.type) {
    case envchange::Database:
        session_.database = change.newText;
        break;
    case envchange::Language:
        session_.language = change.newText;
        break;
    case envchange::Collation:
        if (change.newBytes.size() == session_.collation.bytes.size())
            std::copy(change.newBytes.begin(), change.newBytes.end(), session_.collation.bytes.begin());
        break;
    case envchange::PacketSize: {
        // The server switches after this response; so do we.
        const unsigned long size = std::strtoul(change.newText.c_str(), nullptr, 10);
        if (size < kMinPacketSize || size > kMaxPacketSize)
            throwProtocol("packet size " + change.newText);
        pendingPacketSize_ = uint32_t(size);
        break;
    }
    case envchange::BeginTransaction:
        session_.transactionDescriptor = descriptorFrom(change.newBytes);
        break;
    case envchange::CommitTransaction:
    case envchange::RollbackTransaction:
    case envchange::DefectTransaction:
    case envchange::TransactionEnded:
        session_.transactionDescriptor = 0;
        break;
    default:
        break;
    }
}

void Connection::beginRequest()
{
    if (attentionSent_)
        throw TdsError(ErrorKind::Usage, "an ATTENTION is not acknowledged yet");
    if (responsePending_ || interrupted_)
        throw TdsError(ErrorKind::Usage, "the previous response was not read to its end");
}

void Connection::send(PacketType type, const std::vector<uint8_t> &payload)
{
    beginRequest();
    guarded([&] {
        channel_.sendMessage(type, payload);
        channel_.beginMessage();
    });
    responsePending_ = true;
    decoder_.reset();
}

void Connection::sendBatch(std::u16string_view sql)
{
    send(PacketType::SqlBatch, encodeSqlBatch(sql, session_.transactionDescriptor));
}

void Connection::sendBatch(const std::string &sqlUtf8)
{
    sendBatch(utf16FromUtf8(sqlUtf8));
}

void Connection::sendRpc(const std::vector<uint8_t> &payloadAfterHeaders)
{
    std::vector<uint8_t> payload;
    payload.reserve(22 + payloadAfterHeaders.size());
    WireWriter w(payload);
    writeAllHeaders(w, session_.transactionDescriptor);
    w.bytes(payloadAfterHeaders.data(), payloadAfterHeaders.size());
    send(PacketType::Rpc, payload);
}

void Connection::sendExecuteSql(std::u16string_view statement, const RpcParameters &parameters)
{
    sendRpc(encodeExecuteSql(statement, parameters, session_.collation));
}

void Connection::sendTransactionRequest(TransactionRequest request, bool beginNext)
{
    send(PacketType::TransactionManager, encodeTransactionRequest(request, session_.transactionDescriptor, beginNext));
}

void Connection::finishResponse()
{
    responsePending_ = false;
    if (pendingPacketSize_) {
        channel_.setPacketSize(*pendingPacketSize_);
        session_.packetSize = *pendingPacketSize_;
        pendingPacketSize_.reset();
    }
}

bool Connection::readResponse(TokenHandler &handler)
{
    if (interrupted_)
        throw TdsError(ErrorKind::Usage, "a time-out interrupted the response: cancel it first");
    if (!responsePending_)
        return true;
    SessionHandler session(*this, handler);
    const auto progress = guarded([&] { return decoder_.run(reader_, session); });
    if (progress == TokenDecoder::Progress::Paused)
        return false;
    finishResponse();
    return true;
}

void Connection::discardResponse()
{
    TokenHandler drop;
    while (!readResponse(drop)) {
    }
}

void Connection::cancel(std::chrono::milliseconds timeout)
{
    sendAttention();
    awaitAttention(timeout);
}

void Connection::sendAttention()
{
    if (!usable_)
        throw TdsError(ErrorKind::ConnectionClosed, "the connection is no longer usable");
    if (attentionSent_)
        return;
    try {
        channel_.sendMessage(PacketType::Attention, nullptr, 0);
    } catch (const TdsError &) {
        usable_ = false;
        throw;
    }
    attentionSent_ = true;
}

void Connection::awaitAttention(std::chrono::milliseconds timeout)
{
    if (!attentionSent_)
        return;
    attentionSent_ = false;
    if (!usable_)
        throw TdsError(ErrorKind::ConnectionClosed, "the connection is no longer usable");
    try {
        active_->setTimeout(timeout);
        // Everything up to the acknowledgement is dropped packet by packet:
        // after a time-out the decoder may have stopped inside a token, so
        // tokens cannot be trusted until the acknowledging DONE, which ends
        // its message.
        reader_.reset();
        if (!channel_.inMessage())
            channel_.beginMessage();
        std::array<uint8_t, kDoneTokenSize> tail{};
        size_t tailSize = 0;
        for (;;) {
            const uint8_t *data;
            size_t size;
            while (channel_.next(data, size)) {
                for (size_t i = size > kDoneTokenSize ? size - kDoneTokenSize : 0; i < size; ++i) {
                    if (tailSize == kDoneTokenSize) {
                        std::move(tail.begin() + 1, tail.end(), tail.begin());
                        --tailSize;
                    }
                    tail[tailSize++] = data[i];
                }
            }
            const bool acknowledged = tailSize == kDoneTokenSize &&
                                      (tail[0] == token::Done || tail[0] == token::DoneProc ||
                                       tail[0] == token::DoneInProc) &&
                                      (tail[1] & donestatus::Attention);
            if (acknowledged)
                break;
            tailSize = 0;
            channel_.beginMessage();
        }
    } catch (const TdsError &) {
        // Without the acknowledgement nobody knows where the stream stands.
        usable_ = false;
        throw;
    }
    active_->setTimeout(requestTimeout_);
    interrupted_ = false;
    responsePending_ = false;
    pendingPacketSize_.reset();
    decoder_.reset();
}

} // namespace rz::tds
