#pragma once
// The TDS backend's connection: the provider's own TDS client (src/tds)
// under the seam of serverconnection.h. Statements without parameters go as
// SQL batches, with parameters as sp_executesql with typed parameters;
// transactions are transaction manager requests whose descriptors the
// server hands back in ENVCHANGE tokens.

#include "provider/diagnostics/diagnostics.h"
#include "provider/serverconnection.h"
#include "tds/connection.h"
#include "tds/tlschannel.h"

#include <chrono>
#include <memory>

namespace rz::provider {

class TdsConnection final : public ServerConnection, public std::enable_shared_from_this<TdsConnection> {
public:
    TdsConnection(std::unique_ptr<rz::tds::TlsProvider> tls, std::unique_ptr<rz::tds::Connection> wire,
                  long generalTimeoutSeconds);
    ~TdsConnection() override;

    HRESULT execute(const std::u16string &text, std::vector<ParameterValue> *parameters, long timeoutSeconds,
                    std::shared_ptr<ResultStream> &stream) override;
    bool beginTransaction(ISOLEVEL level) override;
    bool endTransaction(bool commit, bool retaining) override;
    void abandonTransaction() override;

    rz::tds::Connection &wire() { return *wire_; }
    // Turns a failure of the client into a pending diagnostic: a time-out
    // is cancelled with ATTENTION (HYT00), anything else leaves the
    // connection broken (08S01).
    void wireFailed(const rz::tds::TdsError &error);
    // How long the server may take to acknowledge an ATTENTION.
    std::chrono::milliseconds cancelTimeout() const;

private:
    // Sends a request and reads its whole answer; false with the server's
    // errors (or the wire's failure) pending.
    template <typename Send>
    bool runToEnd(Send send);
    bool usableOrReport();
    // The statement sp_executesql runs for `text`: call escape translated,
    // markers numbered. A prepared command runs the same text again and
    // again, so the last translation is kept.
    const std::u16string &statementWithParameters(const std::u16string &text);

    // The TLS provider outlives the connection that runs on it.
    std::unique_ptr<rz::tds::TlsProvider> tls_;
    std::unique_ptr<rz::tds::Connection> wire_;
    ISOLEVEL isolation_ = ISOLATIONLEVEL_READCOMMITTED;
    std::u16string translatedText_;
    std::u16string translatedStatement_;
};

// The TDS backend of a data source.
std::shared_ptr<Backend> makeTdsBackend();

// The server's message as a diagnostic, with the SQLSTATE an ODBC driver
// would give its number.
Diagnostic diagnosticFromServer(const rz::tds::ServerMessage &message);

} // namespace rz::provider
