#include "tds/tlschannel.h"

#include "tds/error.h"
#include "tds/packetchannel.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

namespace rz::tds {

std::string openSslErrors()
{
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        if (!text.empty())
            text += "; ";
        text += buffer;
    }
    return text.empty() ? "no details" : text;
}

namespace {

[[noreturn]] void fail(const std::string &what)
{
    throw TdsError(ErrorKind::Encryption, what + ": " + openSslErrors());
}

bool isNumericAddress(const std::string &host)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

} // namespace

TlsChannel::TlsChannel(SSL *ssl, Transport &raw) : ssl_(ssl), raw_(raw)
{
    // Memory BIOs: OpenSSL never touches the socket, so the handshake can be
    // framed in PRELOGIN packets and time-outs stay the transport's.
    BIO *in = BIO_new(BIO_s_mem());
    BIO *out = BIO_new(BIO_s_mem());
    if (!in || !out) {
        BIO_free(in);
        BIO_free(out);
        SSL_free(ssl_);
        fail("cannot create TLS buffers");
    }
    SSL_set_bio(ssl_, in, out);
}

TlsChannel::~TlsChannel()
{
    SSL_free(ssl_);
}

std::string TlsChannel::drainOutput()
{
    std::string bytes;
    BIO *out = SSL_get_wbio(ssl_);
    char buffer[4096];
    int n;
    while ((n = BIO_read(out, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, size_t(n));
    return bytes;
}

void TlsChannel::flushToRaw()
{
    const std::string bytes = drainOutput();
    if (!bytes.empty())
        raw_.sendAll(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

void TlsChannel::handshake(PacketChannel &channel)
{
    for (;;) {
        const int rc = SSL_do_handshake(ssl_);
        const std::string flight = drainOutput();
        if (!flight.empty())
            channel.sendMessage(PacketType::PreLogin, reinterpret_cast<const uint8_t *>(flight.data()), flight.size());
        if (rc == 1)
            return;
        if (SSL_get_error(ssl_, rc) != SSL_ERROR_WANT_READ)
            fail("TLS handshake failed");
        const std::vector<uint8_t> answer = channel.receiveMessage();
        if (channel.messageType() != uint8_t(PacketType::PreLogin) &&
            channel.messageType() != uint8_t(PacketType::Reply))
            throw TdsError(ErrorKind::Protocol, "TLS handshake answered with packet type " +
                                                    std::to_string(channel.messageType()));
        BIO_write(SSL_get_rbio(ssl_), answer.data(), int(answer.size()));
    }
}

void TlsChannel::sendAll(const uint8_t *data, size_t size)
{
    while (size) {
        size_t written = 0;
        if (SSL_write_ex(ssl_, data, size, &written) != 1)
            fail("TLS write failed");
        data += written;
        size -= written;
        flushToRaw();
    }
}

size_t TlsChannel::receiveSome(uint8_t *data, size_t capacity)
{
    for (;;) {
        size_t got = 0;
        const int rc = SSL_read_ex(ssl_, data, capacity, &got);
        if (rc == 1)
            return got;
        const int error = SSL_get_error(ssl_, rc);
        if (error == SSL_ERROR_ZERO_RETURN)
            return 0;
        if (error != SSL_ERROR_WANT_READ)
            fail("TLS read failed");
        flushToRaw();   // e.g. a key update answer
        uint8_t buffer[16384];
        const size_t n = raw_.receiveSome(buffer, sizeof buffer);
        if (n == 0)
            return 0;
        BIO_write(SSL_get_rbio(ssl_), buffer, int(n));
    }
}

OpenSslTlsProvider::OpenSslTlsProvider(TlsOptions options) : options_(std::move(options))
{
    context_ = SSL_CTX_new(TLS_client_method());
    if (!context_)
        fail("cannot create a TLS context");
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    // TDS frames the handshake itself; TLS 1.3 inside PRELOGIN is not what servers expect.
    SSL_CTX_set_max_proto_version(context_, TLS1_2_VERSION);
    if (options_.verifyServer) {
        const int loaded = options_.caFile.empty() ? SSL_CTX_set_default_verify_paths(context_)
                                                   : SSL_CTX_load_verify_locations(context_, options_.caFile.c_str(), nullptr);
        if (loaded != 1) {
            SSL_CTX_free(context_);
            fail("cannot load the certificate authorities");
        }
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(context_, SSL_VERIFY_NONE, nullptr);
    }
}

OpenSslTlsProvider::~OpenSslTlsProvider()
{
    SSL_CTX_free(context_);
}

std::unique_ptr<Transport> OpenSslTlsProvider::handshake(PacketChannel &channel, Transport &raw,
                                                         const std::string &serverName, Encryption)
{
    SSL *ssl = SSL_new(context_);
    if (!ssl)
        fail("cannot create a TLS session");
    auto tls = std::make_unique<TlsChannel>(ssl, raw);
    SSL_set_connect_state(ssl);
    if (!serverName.empty()) {
        if (!isNumericAddress(serverName))
            SSL_set_tlsext_host_name(ssl, serverName.c_str());
        if (options_.verifyServer) {
            X509_VERIFY_PARAM *param = SSL_get0_param(ssl);
            const int ok = isNumericAddress(serverName) ? X509_VERIFY_PARAM_set1_ip_asc(param, serverName.c_str())
                                                        : X509_VERIFY_PARAM_set1_host(param, serverName.c_str(), 0);
            if (ok != 1)
                fail("cannot set the server name to verify");
        }
    }
    tls->handshake(channel);
    return tls;
}

} // namespace rz::tds
