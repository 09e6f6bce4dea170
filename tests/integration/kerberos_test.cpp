// Integrated security on Linux: an empty user name logs in with the user's
// Kerberos ticket, against a real MIT KDC of the test's own and the test
// server with the keytab of its service principal. Every way it can fail
// fails within the login time-out (on FreeTDS all but a silent KDC) and says
// why.

#include "kerberosrealm.h"
#include "testserver_fixture.h"

#include "valgrindcheck.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QVariant>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

const QString host = QStringLiteral("127.0.0.160");          // holds the keys of its service principal
const QString unregisteredHost = QStringLiteral("127.0.0.161"); // no service principal in the KDC
const QString strangerHost = QStringLiteral("127.0.0.162");    // registered, but the server has other keys
constexpr int kdcPort = 8800;
const QString principal = QStringLiteral("alice@RZTEST.LOCAL");
constexpr int logins = 200;

bool onFreeTds()
{
    return qgetenv("RZ_TEST_PROVIDER") == "rzfreetds";
}

// The realm and the server, for the whole program. A workload run under
// valgrind by this program is handed both through the environment instead.
class KerberosEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsEmpty("RZ_TEST_HOST"))
            return;   // an external server: nothing here can give it a service principal
        if (!qEnvironmentVariableIsEmpty("RZ_TEST_KERBEROS_CHILD"))
            return;
        realm = std::make_unique<rztest::KerberosRealm>(
            host.toStdString(), kdcPort, std::vector<std::string>{"alice"},
            std::vector<rztest::KerberosRealm::Service>{{"MSSQLSvc/" + host.toStdString() + ":1433", "server.keytab"},
                                                        {"MSSQLSvc/" + strangerHost.toStdString() + ":1433",
                                                         "stranger.keytab"}});
        ASSERT_TRUE(realm->kdcRunning()) << "the KDC did not start";
        server = rztest::startServerUnlessExternal(
            host, {QStringLiteral("--kerberos-keytab"), QString::fromStdString(realm->path("server.keytab")),
                   QStringLiteral("--listen"), unregisteredHost + QStringLiteral(":1433"),
                   QStringLiteral("--listen"), strangerHost + QStringLiteral(":1433")});
    }

    void TearDown() override
    {
        server.reset();
        realm.reset();
    }

    std::unique_ptr<rztest::KerberosRealm> realm;
    std::unique_ptr<rztest::TestServer> server;
};

KerberosEnvironment *const environment =
    static_cast<KerberosEnvironment *>(::testing::AddGlobalTestEnvironment(new KerberosEnvironment));

class IntegratedSecurity : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!environment->realm && qEnvironmentVariableIsEmpty("RZ_TEST_KERBEROS_CHILD"))
            GTEST_SKIP() << "needs the local test server and its KDC (RZ_TEST_HOST names another server)";
    }

    void TearDown() override
    {
        for (const QString &name : names) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
        if (environment->realm && !environment->realm->kdcRunning()) {
            ASSERT_TRUE(environment->realm->startKdc());
        }
    }

    // A fresh ticket of alice's in a cache of its own, which becomes the
    // default cache (KRB5CCNAME).
    void useTicket(const std::string &cacheName, const std::vector<std::string> &kinitArgs = {})
    {
        const std::string cache = environment->realm->kinit("alice", cacheName, kinitArgs);
        ASSERT_FALSE(cache.empty()) << "kinit failed";
        qputenv("KRB5CCNAME", QByteArray::fromStdString(cache));
    }

    // An integrated connection (empty user name) to `server`, opened.
    QSqlDatabase open(const QString &server = host)
    {
        const QString name = QStringLiteral("kerberos.%1").arg(names.size());
        names.append(name);
        rztest::ServerSettings settings = rztest::serverSettings(server);
        settings.user.clear();
        settings.password.clear();
        QSqlDatabase db = rztest::addConnection(name, settings);
        db.open();
        return db;
    }

    // open() fails within the login time-out (one second) plus the time the
    // server and the KDC take, with `text` in the database's words.
    void expectRefusal(const QString &server, const QString &text)
    {
        QElapsedTimer timer;
        timer.start();
        QSqlDatabase db = open(server);
        const qint64 elapsed = timer.elapsed();
        EXPECT_FALSE(db.isOpen());
        EXPECT_EQ(db.lastError().type(), QSqlError::ConnectionError);
        EXPECT_TRUE(db.lastError().databaseText().contains(text)) << db.lastError().text().toStdString();
        EXPECT_LT(elapsed, 10000) << "the failure took too long to surface";
    }

    QStringList names;
};

TEST_F(IntegratedSecurity, TicketLogsInAsThePrincipalAndQueriesRun)
{
    useTicket("alice.ccache");
    QSqlDatabase db = open();
    ASSERT_TRUE(db.isOpen()) << db.lastError().text().toStdString();
    QSqlQuery query(db);
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT SUSER_SNAME()")) && query.next()) << query.lastError().text().toStdString();
    EXPECT_EQ(query.value(0).toString(), principal);
    ASSERT_TRUE(query.exec(QStringLiteral("CREATE TABLE #kerberos (id int, label nvarchar(20))")));
    ASSERT_TRUE(query.prepare(QStringLiteral("INSERT INTO #kerberos VALUES (?, ?)")));
    query.addBindValue(7);
    query.addBindValue(QStringLiteral("grün"));
    ASSERT_TRUE(query.exec()) << query.lastError().text().toStdString();
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT id, label FROM #kerberos")) && query.next());
    EXPECT_EQ(query.value(0).toInt(), 7);
    EXPECT_EQ(query.value(1).toString(), QStringLiteral("grün"));
    // A second connection on the same ticket: the service ticket is cached now.
    EXPECT_TRUE(open().isOpen());
}

TEST_F(IntegratedSecurity, WithoutTicketOpenSaysRunKinit)
{
    qputenv("KRB5CCNAME", QByteArray::fromStdString("FILE:" + environment->realm->path("never-made.ccache")));
    expectRefusal(host, onFreeTds() ? QStringLiteral("needs a Kerberos ticket")
                                    : QStringLiteral("No Kerberos credentials: run kinit"));
}

TEST_F(IntegratedSecurity, ExpiredTicketSaysRunKinitAgain)
{
    useTicket("short.ccache", {"-l", "2s"});
    // The ticket's end is a KDC time stamp; waiting past it is the only way
    // to hold an expired ticket.
    ::sleep(3);
    expectRefusal(host, onFreeTds() ? QStringLiteral("needs a Kerberos ticket")
                                    : QStringLiteral("The Kerberos ticket has expired: run kinit again"));
}

TEST_F(IntegratedSecurity, UnknownServicePrincipalIsNamed)
{
    useTicket("alice.ccache");
    expectRefusal(unregisteredHost, onFreeTds() ? QStringLiteral("needs a Kerberos ticket")
                                                : QStringLiteral("does not know the service principal MSSQLSvc/") +
                                                      unregisteredHost + QStringLiteral(":1433"));
}

TEST_F(IntegratedSecurity, ServerThatCannotReadTheTicketRefusesWith18452)
{
    useTicket("alice.ccache");
    expectRefusal(strangerHost, QStringLiteral("Login failed. The login is from an untrusted domain and cannot be used "
                                               "with Integrated authentication."));
}

TEST_F(IntegratedSecurity, StoppedKdcFailsTheLogin)
{
    useTicket("fresh.ccache");   // a ticket-granting ticket alone: the service ticket needs the KDC
    environment->realm->stopKdc();
    expectRefusal(host, onFreeTds() ? QStringLiteral("needs a Kerberos ticket")
                                    : QStringLiteral("No Kerberos KDC answered for the service ticket of MSSQLSvc/") +
                                          host + QStringLiteral(":1433"));
}

// A KDC that takes requests and never answers: the client's own retries
// would outlast the login time-out, which ends the wait.
TEST_F(IntegratedSecurity, SilentKdcFailsWithinTheLoginTimeout)
{
    if (onFreeTds())
        GTEST_SKIP() << "FreeTDS waits for the Kerberos library without a time-out of its own";
    useTicket("silent.ccache");
    environment->realm->stopKdc();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kdcPort);
    inet_pton(AF_INET, host.toLatin1().constData(), &address.sin_addr);
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    const int tcp = socket(AF_INET, SOCK_STREAM, 0);
    const int reuse = 1;
    setsockopt(tcp, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    ASSERT_EQ(bind(udp, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(bind(tcp, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(tcp, 8), 0);
    expectRefusal(host, QStringLiteral("within the login time-out"));
    close(udp);
    close(tcp);
}

// The workload of the leak check: an ordinary test here, and run alone under
// valgrind by the check below.
TEST_F(IntegratedSecurity, TwoHundredLogins)
{
    if (qEnvironmentVariableIsEmpty("RZ_TEST_KERBEROS_CHILD"))
        useTicket("alice.ccache");
    else
        open();   // under valgrind the Kerberos library's first use alone outlasts the login time-out
    for (int i = 0; i < logins; ++i) {
        {
            QSqlDatabase db = open();
            ASSERT_TRUE(db.isOpen()) << i << ": " << db.lastError().text().toStdString();
            QSqlQuery query(db);
            ASSERT_TRUE(query.exec(QStringLiteral("SELECT SUSER_SNAME()")) && query.next());
            ASSERT_EQ(query.value(0).toString(), principal);
        }
        QSqlDatabase::database(names.last(), false).close();
        QSqlDatabase::removeDatabase(names.takeLast());
    }
    // Failed logins must not leak either.
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(open(unregisteredHost).isOpen());
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(IntegratedSecurity, TwoHundredLoginsLoseNoMemoryUnderValgrind)
{
    GTEST_SKIP() << "valgrind cannot run an AddressSanitizer build; LeakSanitizer checks this one";
}
#else
TEST_F(IntegratedSecurity, TwoHundredLoginsLoseNoMemoryUnderValgrind)
{
    useTicket("alice.ccache");
    // Under valgrind asking the KDC takes longer than the login time-out
    // allows: the service ticket is fetched beforehand.
    ASSERT_EQ(QProcess::execute(QStringLiteral("/usr/bin/kvno"), {QStringLiteral("MSSQLSvc/%1:1433").arg(host)}), 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();   // KRB5_CONFIG and KRB5CCNAME included
    env.insert(QStringLiteral("RZ_TEST_KERBEROS_CHILD"), QStringLiteral("1"));   // this program's realm and server
    rztest::expectNoLeakUnderValgrind(QStringLiteral("IntegratedSecurity.TwoHundredLogins"), env);
}
#endif

} // namespace
