// What the provider makes of a server that encrypts, and of one that sends
// bytes that are no tokens mid-result: an OLE DB error, never a crash or a
// hang, and a session that reports itself broken.

#include "liveserver.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

using namespace providertest;

namespace {

// A server offering TLS with the certificate it makes at start-up (which
// names the listen address); certificatePath() is where it wrote it.
class TlsServer {
public:
    TlsServer(const char *address, std::vector<std::string> extra = {})
    {
        char path[] = "/tmp/rz-provider-cert-XXXXXX";
        const int fd = mkstemp(path);
        if (fd >= 0)
            close(fd);
        path_ = path;
        std::vector<std::string> args = {"--tls", "--tls-certificate", path_};
        args.insert(args.end(), extra.begin(), extra.end());
        server_ = std::make_unique<TestServer>(address, args);
    }
    ~TlsServer() { std::remove(path_.c_str()); }
    bool running() const { return server_->running(); }
    const std::string &certificatePath() const { return path_; }

private:
    std::string path_;
    std::unique_ptr<TestServer> server_;
};

std::string selectOneText(IUnknown *session)
{
    Rows rows;
    if (!selectAll(session, "SELECT 'over TLS' AS t", rows) || rows.size() != 1)
        return "(" + errorText() + ")";
    return rows[0][0].bytes;
}

#define REQUIRE_TDS_BACKEND()                                                                           \
    do {                                                                                                \
        if (!testingTdsBackend())                                                                       \
            GTEST_SKIP() << "certificate checks and encryption levels are FreeTDS's own on the ODBC backend"; \
    } while (0)

} // namespace

TEST(Encryption, MandatoryChecksTheCertificateAgainstTheGivenAuthority)
{
    REQUIRE_TDS_BACKEND();
    TlsServer server("127.0.0.26");
    ASSERT_TRUE(server.running());
    Login trusted = loginAt("127.0.0.26");
    trusted.encrypt = "Mandatory";
    trusted.providerString = "ServerCertificate=" + server.certificatePath();
    HRESULT hr = S_OK;
    auto session = openSession(trusted, &hr);
    ASSERT_TRUE(session) << std::hex << hr << " " << errorText();
    EXPECT_EQ(selectOneText(session.get()), "over TLS");

    // The system's authorities do not know the server's certificate.
    Login untrusted = loginAt("127.0.0.26");
    untrusted.encrypt = "Mandatory";
    EXPECT_FALSE(openSession(untrusted, &hr));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_NE(errorText().find("certificate verify failed"), std::string::npos) << errorText();

    // Trusting the server's certificate skips the check; Strict never does.
    untrusted.providerString = "TrustServerCertificate=yes";
    session = openSession(untrusted, &hr);
    ASSERT_TRUE(session) << errorText();
    EXPECT_EQ(selectOneText(session.get()), "over TLS");
    untrusted.encrypt = "Strict";
    EXPECT_FALSE(openSession(untrusted, &hr));
    EXPECT_NE(errorText().find("certificate verify failed"), std::string::npos) << errorText();
}

// A server that requires encryption gets it from "Optional" too, and
// "Optional" does not check the certificate (as Microsoft's drivers).
TEST(Encryption, OptionalFollowsAServerThatRequiresEncryption)
{
    REQUIRE_TDS_BACKEND();
    TlsServer requiring("127.0.0.27", {"--require-encryption"});
    ASSERT_TRUE(requiring.running());
    Login optional = loginAt("127.0.0.27");
    optional.encrypt = "Optional";
    auto session = openSession(optional);
    ASSERT_TRUE(session) << errorText();
    EXPECT_EQ(selectOneText(session.get()), "over TLS");
}

TEST(WireFaults, GarbageMidResultFailsTheFetchAndLeavesABrokenSession)
{
    if (!testingTdsBackend())
        GTEST_SKIP() << "FreeTDS's ODBC driver waits for the rest of a malformed message without a time-out";
    OwnServer garbling = sessionAt("127.0.0.28", {"--garbage-after-rows", "5"});
    auto &session = garbling.session;
    ASSERT_TRUE(session);
    ASSERT_EQ(run(session.get(), "CREATE TABLE noisy (n INT)"), S_OK) << errorText();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(run(session.get(), "INSERT INTO noisy VALUES (" + std::to_string(i) + ")"), S_OK) << errorText();
    const auto start = std::chrono::steady_clock::now();
    rz::ComPtr<IRowset> rowset;
    const HRESULT executed = query(session.get(), "SELECT n FROM noisy", rowset);
    if (SUCCEEDED(executed)) {
        RowReader reader(rowset.get());
        Rows rows;
        EXPECT_TRUE(FAILED(reader.all(rows))) << "rows read: " << rows.size();
        EXPECT_LE(rows.size(), 5u);
    }
    EXPECT_FALSE(errorText().empty());
    rowset.reset();
    // Nobody knows where the stream stands now: the session says so at once.
    EXPECT_TRUE(FAILED(run(session.get(), "SELECT 1")));
    EXPECT_FALSE(errorText().empty());
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
}
