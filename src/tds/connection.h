#pragma once
// One TDS session: the handshake (PRELOGIN, LOGIN7), requests, their token
// streams, the session state the server reports in ENVCHANGE tokens, and
// cancelling with ATTENTION.

#include "tds/gssapi.h"
#include "tds/login7.h"
#include "tds/packetchannel.h"
#include "tds/prelogin.h"
#include "tds/requests.h"
#include "tds/rpcparameters.h"
#include "tds/tls.h"
#include "tds/tokendecoder.h"
#include "tds/transport.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rz::tds {

// The server refused the login; messages() has what it said.
class LoginError : public TdsError {
public:
    LoginError(const std::string &text, std::vector<ServerMessage> messages)
        : TdsError(ErrorKind::Login, text), messages_(std::move(messages)) {}
    const std::vector<ServerMessage> &messages() const { return messages_; }

private:
    std::vector<ServerMessage> messages_;
};

struct LoginOptions {
    std::string serverName;   // as the client names the server (goes into LOGIN7)
    std::string userName;
    std::string password;
    std::string database;
    std::string appName = "REZUVEDOV";
    std::string hostName;
    std::string libraryName = "REZUVEDOV TDS";
    std::string language;
    uint32_t packetSize = kDefaultPacketSize;
    EncryptionPolicy encryption = EncryptionPolicy::Never;
    bool requestUtf8 = true;
    std::chrono::milliseconds loginTimeout{15000};
    // Integrated security: Kerberos through SPNEGO with the user's default
    // ticket cache instead of userName/password. The service principal is
    // SQL Server's MSSQLSvc/<serverName>:<port> unless given.
    bool integratedSecurity = false;
    std::string servicePrincipal;
};

struct SessionState {
    std::string database;
    std::string language;
    Collation collation;
    uint32_t packetSize = kDefaultPacketSize;
    uint64_t transactionDescriptor = 0;   // 0: no transaction open
    LoginAck loginAck;
    bool utf8Acknowledged = false;
    Encryption encryption = Encryption::None;
};

class Connection {
public:
    explicit Connection(std::unique_ptr<Transport> transport, TlsProvider *tls = nullptr);
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Connects with TCP and logs in; throws TdsError.
    static std::unique_ptr<Connection> open(const std::string &host, uint16_t port, const LoginOptions &options,
                                            TlsProvider *tls = nullptr);

    // PRELOGIN and LOGIN7. Throws TdsError (Login with the server's messages
    // when the server refuses). Messages of a successful login are kept in
    // loginMessages().
    void login(const LoginOptions &options);
    const std::vector<ServerMessage> &loginMessages() const { return loginMessages_; }
    const PreLoginResponse &preLogin() const { return preLogin_; }
    const SessionState &session() const { return session_; }

    // The longest a request's answer may take to arrive (between packets);
    // zero: no limit. A time-out throws TdsError(Timeout); cancel() then
    // brings the connection back.
    void setRequestTimeout(std::chrono::milliseconds timeout);

    // Requests. The response is read with readResponse().
    void sendBatch(std::u16string_view sql);
    void sendBatch(const std::string &sqlUtf8);
    void sendRpc(const std::vector<uint8_t> &payloadAfterHeaders);
    // sp_executesql with typed parameters (strings in the session's collation).
    void sendExecuteSql(std::u16string_view statement, const RpcParameters &parameters);
    void sendTransactionRequest(TransactionRequest request, bool beginNext = false);

    // Decodes the current response into `handler` until the handler pauses
    // (returns false) or the response ends (returns true).
    bool readResponse(TokenHandler &handler);
    // Reads and drops the rest of the current response.
    void discardResponse();
    bool responsePending() const { return responsePending_; }
    // The last packet of the current response has arrived: what is left of
    // it can be read without waiting for the server.
    bool responseReceived() const { return responsePending_ && !interrupted_ && !channel_.inMessage(); }
    const TokenDecoder &decoder() const { return decoder_; }

    // Sends ATTENTION and reads until the server acknowledges it; what was
    // left of the response is dropped. Throws when the server does not
    // acknowledge within `timeout`.
    void cancel(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // cancel() in two halves, for a caller that must not wait for a slow
    // server now: sendAttention() returns at once, and the acknowledgement
    // is read with awaitAttention() before the next request.
    void sendAttention();
    void awaitAttention(std::chrono::milliseconds timeout);
    bool attentionPending() const { return attentionSent_; }

    // False once the connection failed (closed, time-out without cancel, a
    // malformed stream): only destruction is left.
    bool usable() const { return usable_; }

private:
    class SessionHandler;
    void loginSteps(const LoginOptions &options);
    // Reads the answers to LOGIN7 until LOGINACK, answering the server's
    // SSPI tokens with the context's next ones.
    void finishLogin(const LoginOptions &options, SecurityContext *security);
    void beginRequest();
    void send(PacketType type, const std::vector<uint8_t> &payload);
    void applyEnvChange(const EnvChange &change);
    void finishResponse();
    template <typename F>
    auto guarded(F &&f) -> decltype(f());

    std::unique_ptr<Transport> raw_;
    std::unique_ptr<Transport> secure_;
    Transport *active_;
    TlsProvider *tls_;
    PacketChannel channel_;
    WireReader reader_;
    TokenDecoder decoder_;
    SessionState session_;
    PreLoginResponse preLogin_;
    std::vector<ServerMessage> loginMessages_;
    std::optional<uint32_t> pendingPacketSize_;
    std::chrono::milliseconds requestTimeout_{0};
    bool responsePending_ = false;
    bool interrupted_ = false;   // a time-out broke off decoding: only cancel() helps
    bool attentionSent_ = false; // ATTENTION went out, its acknowledgement is not read yet
    bool usable_ = true;
};

} // namespace rz::tds
