#include "testserver_fixture.h"

#include <stdexcept>

namespace rztest {

namespace {

QString env(const char *name, const QString &fallback = QString())
{
    const QByteArray value = qgetenv(name);
    return value.isEmpty() ? fallback : QString::fromLocal8Bit(value);
}

} // namespace

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
    std::vector<std::string> args;
    for (const QString &arg : extraArgs)
        args.push_back(arg.toStdString());
    auto server = std::make_unique<TestServer>(localAddress.toStdString(), args);
    if (!server->running())
        throw std::runtime_error("rz-testserver did not get ready on " + localAddress.toStdString());
    return server;
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
