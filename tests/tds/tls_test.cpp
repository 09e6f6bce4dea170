// TLS inside PRELOGIN, then under the TDS packets, against an in-process
// server with a certificate made on the spot.
#include "memorytransport.h"
#include "streambuilder.h"

#include "tds/connection.h"
#include "tds/sockettransport.h"
#include "tds/tlschannel.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

using namespace rz::tds;
using namespace std::chrono_literals;
using tdstest::Stream;

namespace {

// A self-signed certificate for DNS name tds.test, its key, and the PEM file
// a client can trust it from.
struct Certificate {
    EVP_PKEY *key = nullptr;
    X509 *certificate = nullptr;
    std::string pemPath;

    Certificate()
    {
        key = EVP_EC_gen("P-256");
        certificate = X509_new();
        X509_set_version(certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
        X509_set_pubkey(certificate, key);
        X509_NAME *name = X509_get_subject_name(certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("tds.test"), -1, -1, 0);
        X509_set_issuer_name(certificate, name);
        X509V3_CTX v3;
        X509V3_set_ctx_nodb(&v3);
        X509V3_set_ctx(&v3, certificate, certificate, nullptr, nullptr, 0);
        if (X509_EXTENSION *san = X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, "DNS:tds.test")) {
            X509_add_ext(certificate, san, -1);
            X509_EXTENSION_free(san);
        }
        X509_sign(certificate, key, EVP_sha256());
        char path[] = "/tmp/rz-tds-cert-XXXXXX";
        const int fd = mkstemp(path);
        pemPath = path;
        FILE *file = fdopen(fd, "w");
        PEM_write_X509(file, certificate);
        fclose(file);
    }
    ~Certificate()
    {
        std::remove(pemPath.c_str());
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
};

// The server's half: PRELOGIN, the TLS handshake, LOGIN7 and one batch.
struct FakeServer {
    Certificate &certificate;
    EncryptionOption answer;
    std::string batchText;       // what the batch said, as the server decrypted it
    std::string failure;

    void run(int fd)
    {
        try {
            serve(fd);
        } catch (const std::exception &e) {
            failure = e.what();
        }
    }

    void serve(int fd)
    {
        SocketTransport raw{SocketHandle(fd)};
        raw.setTimeout(5s);
        PacketChannel plain(raw);
        plain.receiveMessage();
        plain.sendMessage(PacketType::Reply, tdstest::preLoginAnswer(uint8_t(answer)));
        SSL_CTX *context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(context, certificate.certificate);
        SSL_CTX_use_PrivateKey(context, certificate.key);
        SSL *ssl = SSL_new(context);
        SSL_set_accept_state(ssl);
        TlsChannel tls(ssl, raw);
        SSL_CTX_free(context);   // the session keeps its own reference
        tls.handshake(plain);
        PacketChannel secure(tls);
        const auto login = secure.receiveMessage();
        if (secure.messageType() != uint8_t(PacketType::Login7))
            throw std::runtime_error("no LOGIN7 inside TLS");
        // Only the login is encrypted unless both sides wanted more.
        PacketChannel &rest = answer == EncryptionOption::Off ? plain : secure;
        rest.sendMessage(PacketType::Reply, Stream().loginAck().done().bytes);
        const auto batch = rest.receiveMessage();
        for (size_t i = 22; i + 1 < batch.size(); i += 2)
            batchText.push_back(char(batch[i]));
        Stream result;
        result.colmetadata(1).column({0x26, 4}, "n").u8(0xD1).u8(4).u32(31).done(0x10, 1);
        rest.sendMessage(PacketType::Reply, result.bytes);
    }
};

struct Session {
    std::string error;
    int rows = -1;
    Encryption encryption = Encryption::None;
};

// One login and one batch of the client over a socket pair to `server`.
Session runClient(FakeServer &server, const TlsOptions &tlsOptions, EncryptionPolicy policy,
                  const std::string &serverName)
{
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        ADD_FAILURE() << "no socket pair";
        return {};
    }
    std::thread thread([&] { server.run(fds[1]); });
    OpenSslTlsProvider provider(tlsOptions);
    Session s;
    auto connection = std::make_unique<Connection>(std::make_unique<SocketTransport>(SocketHandle(fds[0])), &provider);
    LoginOptions options;
    options.serverName = serverName;
    options.userName = "sa";
    options.encryption = policy;
    options.loginTimeout = 5s;
    try {
        connection->login(options);
        s.encryption = connection->session().encryption;
        connection->setRequestTimeout(5s);
        struct Rows : TokenHandler {
            int rows = 0;
            bool onRow() override
            {
                ++rows;
                return true;
            }
        } rows;
        connection->sendBatch("SELECT 31");
        connection->readResponse(rows);
        s.rows = rows.rows;
    } catch (const TdsError &e) {
        s.error = e.what();
    }
    connection.reset();   // closes the client's socket, so a server still waiting stops
    thread.join();
    return s;
}

} // namespace

TEST(Tls, OnlyTheLoginIsEncryptedWhenTheServerSaysOff)
{
    Certificate certificate;
    FakeServer server{certificate, EncryptionOption::Off, {}, {}};
    TlsOptions options;
    options.verifyServer = false;
    const Session s = runClient(server, options, EncryptionPolicy::Optional, "127.0.0.1");
    EXPECT_EQ(s.error, "");
    EXPECT_EQ(server.failure, "");
    EXPECT_EQ(s.rows, 1);
    EXPECT_EQ(server.batchText, "SELECT 31") << "the batch went in the clear";
    EXPECT_EQ(s.encryption, Encryption::LoginOnly);
}

TEST(Tls, ACertificateForAnotherNameIsRefused)
{
    Certificate certificate;
    FakeServer server{certificate, EncryptionOption::On, {}, {}};
    TlsOptions options;
    options.caFile = certificate.pemPath;
    const Session s = runClient(server, options, EncryptionPolicy::Required, "other.test");
    EXPECT_NE(s.error.find("certificate verify failed"), std::string::npos) << s.error;
    EXPECT_FALSE(server.failure.empty());
}
