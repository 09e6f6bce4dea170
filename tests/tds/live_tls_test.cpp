// TLS against the local test server with the certificate it makes at
// start-up, and a server that answers with bytes that are no tokens.
#include "rowcollector.h"
#include "testserver.h"

#include "tds/connection.h"
#include "tds/tlschannel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using namespace rz::tds;
using namespace std::chrono_literals;

namespace {

constexpr const char *kOffering = "127.0.0.124";
constexpr const char *kRequiring = "127.0.0.125";
constexpr const char *kGarbling = "127.0.0.126";

LoginOptions login(EncryptionPolicy encryption)
{
    LoginOptions options;
    options.userName = "sa";
    options.password = "Secret123";
    options.database = "testdb";
    options.loginTimeout = 5s;
    options.encryption = encryption;
    return options;
}

// A server offering TLS; certificatePath() is the certificate it made.
class TlsServer {
public:
    explicit TlsServer(const char *address, std::vector<std::string> extra = {})
    {
        char path[] = "/tmp/rz-tds-live-cert-XXXXXX";
        const int fd = mkstemp(path);
        if (fd >= 0)
            close(fd);
        path_ = path;
        std::vector<std::string> args = {"--tls", "--tls-certificate", path_};
        args.insert(args.end(), extra.begin(), extra.end());
        server_ = std::make_unique<rztest::TestServer>(address, args);
    }
    ~TlsServer() { std::remove(path_.c_str()); }
    bool running() const { return server_->running(); }
    const std::string &certificatePath() const { return path_; }

private:
    std::string path_;
    std::unique_ptr<rztest::TestServer> server_;
};

int selectOne(Connection &connection, const char *sql)
{
    tdstest::RowCollector rows(&connection.decoder());
    connection.sendBatch(sql);
    connection.readResponse(rows);
    return int(rows.results.size() == 1 ? rows.results[0].rows.size() : 0);
}

} // namespace

TEST(LiveTls, TrustedCertificateGivesAnEncryptedSessionAnUntrustedOneAClearError)
{
    TlsServer server(kOffering);
    ASSERT_TRUE(server.running());

    TlsOptions trusting;
    trusting.caFile = server.certificatePath();
    OpenSslTlsProvider verified(trusting);
    LoginOptions options = login(EncryptionPolicy::Required);
    options.serverName = kOffering;   // the certificate names the listen address
    auto full = Connection::open(kOffering, 1433, options, &verified);
    EXPECT_EQ(full->session().encryption, Encryption::Full);
    EXPECT_EQ(selectOne(*full, "SELECT 1 UNION ALL SELECT 2"), 2);

    OpenSslTlsProvider systemAuthorities;   // the test server's certificate is in none of them
    try {
        Connection::open(kOffering, 1433, options, &systemAuthorities);
        FAIL() << "an untrusted certificate was accepted";
    } catch (const TdsError &e) {
        EXPECT_EQ(e.kind(), ErrorKind::Encryption) << e.what();
        EXPECT_NE(std::string(e.what()).find("certificate verify failed"), std::string::npos) << e.what();
    }

    TlsOptions anyCertificate;
    anyCertificate.verifyServer = false;
    OpenSslTlsProvider trustingBlindly(anyCertificate);
    auto loginOnly = Connection::open(kOffering, 1433, login(EncryptionPolicy::Optional), &trustingBlindly);
    EXPECT_EQ(loginOnly->session().encryption, Encryption::LoginOnly);
    EXPECT_EQ(selectOne(*loginOnly, "SELECT 1"), 1);
}

TEST(LiveTls, AServerRequiringEncryptionEncryptsOptionalClientsAndRefusesTheOthers)
{
    TlsServer server(kRequiring, {"--require-encryption"});
    ASSERT_TRUE(server.running());
    TlsOptions anyCertificate;
    anyCertificate.verifyServer = false;
    OpenSslTlsProvider provider(anyCertificate);

    auto optional = Connection::open(kRequiring, 1433, login(EncryptionPolicy::Optional), &provider);
    EXPECT_EQ(optional->session().encryption, Encryption::Full);
    EXPECT_EQ(selectOne(*optional, "SELECT 1 UNION ALL SELECT 2"), 2);

    try {
        Connection::open(kRequiring, 1433, login(EncryptionPolicy::Never), &provider);
        FAIL() << "a client that cannot encrypt logged in";
    } catch (const TdsError &e) {
        EXPECT_EQ(e.kind(), ErrorKind::Encryption) << e.what();
    }
}

TEST(LiveFaults, MalformedTokensMidResultAreAProtocolError)
{
    rztest::TestServer server(kGarbling, {"--garbage-after-rows", "3"});
    ASSERT_TRUE(server.running());
    auto connection = Connection::open(kGarbling, 1433, login(EncryptionPolicy::Never));
    connection->setRequestTimeout(5s);
    tdstest::RowCollector rows(&connection->decoder());
    connection->sendBatch("SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4 UNION ALL SELECT 5");
    try {
        connection->readResponse(rows);
        FAIL() << "no error";
    } catch (const TdsError &e) {
        EXPECT_EQ(e.kind(), ErrorKind::Protocol) << e.what();
    }
    ASSERT_EQ(rows.results.size(), 1u);
    EXPECT_EQ(rows.results[0].rows.size(), 3u);
    EXPECT_FALSE(connection->usable());
}
