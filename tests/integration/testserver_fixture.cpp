#include "testserver_fixture.h"

#include <QtCore/QElapsedTimer>

#include <stdexcept>

namespace rztest {

namespace {

QString env(const char *name, const QString &fallback = QString())
{
    const QByteArray value = qgetenv(name);
    return value.isEmpty() ? fallback : QString::fromLocal8Bit(value);
}

} // namespace

TestServer::TestServer(const QStringList &addresses, const QStringList &extraArgs)
    : process(new QProcess)
{
    QStringList args;
    for (const QString &address : addresses)
        args << QStringLiteral("--listen") << address + QStringLiteral(":1433");
    args << QStringLiteral("--login") << QStringLiteral("sa:Secret123")
         << QStringLiteral("--database") << QStringLiteral("master")
         << QStringLiteral("--database") << QStringLiteral("testdb") << extraArgs;
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(env("RZ_TESTSERVER", QStringLiteral(RZ_TESTSERVER_PATH)), args);
    if (!process->waitForStarted(5000))
        throw std::runtime_error("rz-testserver did not start: "
                                 + process->errorString().toStdString());
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (!out.contains("ready\n")) {
        if (timer.elapsed() > 10000 || process->state() != QProcess::Running)
            throw std::runtime_error("rz-testserver did not get ready on "
                                     + addresses.join(QLatin1Char(' ')).toStdString());
        process->waitForReadyRead(100);
        out += process->readAllStandardOutput();
    }
}

TestServer::~TestServer()
{
    stop();
}

void TestServer::stop()
{
    if (process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(5000)) {
        process->kill();
        process->waitForFinished(2000);
    }
}

bool TestServer::running() const
{
    return process->state() == QProcess::Running;
}

ServerSettings serverSettings(const QString &localAddress)
{
    ServerSettings s;
    s.external = !qEnvironmentVariableIsEmpty("RZ_TEST_HOST");
    s.host = s.external ? env("RZ_TEST_HOST") : localAddress;
    s.database = env("RZ_TEST_DATABASE", QStringLiteral("testdb"));
    s.user = env("RZ_TEST_USER", QStringLiteral("sa"));
    s.password = env("RZ_TEST_PASSWORD", QStringLiteral("Secret123"));
    return s;
}

std::unique_ptr<TestServer> startServerUnlessExternal(const QString &localAddress,
                                                      const QStringList &extraArgs)
{
    if (serverSettings(localAddress).external)
        return nullptr;
    return std::make_unique<TestServer>(QStringList{localAddress}, extraArgs);
}

QSqlDatabase addConnection(const QString &name, const ServerSettings &settings,
                           const QString &options)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("REZUVEDOV"), name);
    db.setHostName(settings.host);
    db.setDatabaseName(settings.database);
    db.setUserName(settings.user);
    db.setPassword(settings.password);
    // A provider named by the test run comes first: a test's own "provider=" still wins.
    const QString provider = env("RZ_TEST_PROVIDER");
    if (provider.isEmpty())
        db.setConnectOptions(options);
    else
        db.setConnectOptions(QStringLiteral("provider=") + provider
                             + (options.isEmpty() ? QString() : QStringLiteral(";") + options));
    return db;
}

} // namespace rztest
