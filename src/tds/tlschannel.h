#pragma once
// TLS through OpenSSL. The handshake travels inside PRELOGIN packets, as TDS
// requires; afterwards TLS records go straight over the raw transport and
// carry the TDS packets. TlsChannel is one side of such a connection (the
// client in production; tests also run a server side); OpenSslTlsProvider
// is the client's TlsProvider.

#include "tds/tls.h"

#include <memory>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace rz::tds {

class TlsChannel : public Transport {
public:
    // Takes ownership of `ssl` (already set to client or server mode);
    // `raw` must outlive the channel.
    TlsChannel(SSL *ssl, Transport &raw);
    ~TlsChannel() override;
    TlsChannel(const TlsChannel &) = delete;
    TlsChannel &operator=(const TlsChannel &) = delete;

    // Runs the handshake with its records in PRELOGIN messages on `channel`
    // (which runs on the raw transport). Throws TdsError(Encryption).
    void handshake(PacketChannel &channel);

    void sendAll(const uint8_t *data, size_t size) override;
    size_t receiveSome(uint8_t *data, size_t capacity) override;
    void setTimeout(std::chrono::milliseconds timeout) override { raw_.setTimeout(timeout); }

private:
    std::string drainOutput();
    void flushToRaw();

    SSL *ssl_;
    Transport &raw_;
};

struct TlsOptions {
    // Check the server's certificate against the system's (or caFile's)
    // authorities and its name against the server name.
    bool verifyServer = true;
    std::string caFile;
};

class OpenSslTlsProvider : public TlsProvider {
public:
    explicit OpenSslTlsProvider(TlsOptions options = {});
    ~OpenSslTlsProvider() override;
    OpenSslTlsProvider(const OpenSslTlsProvider &) = delete;
    OpenSslTlsProvider &operator=(const OpenSslTlsProvider &) = delete;

    std::unique_ptr<Transport> handshake(PacketChannel &channel, Transport &raw, const std::string &serverName,
                                         Encryption encryption) override;

private:
    TlsOptions options_;
    SSL_CTX *context_ = nullptr;
};

// OpenSSL's queued errors as one line (and the queue emptied).
std::string openSslErrors();

} // namespace rz::tds
