#pragma once
// The live server the integration tests talk to: the local test server,
// started by the test program itself on a loopback address of its own, or a
// real SQL Server named by the environment:
//   RZ_TEST_HOST      host (a dotted IPv4 address; port 1433)
//   RZ_TEST_DATABASE  database (default "testdb")
//   RZ_TEST_USER      login (default "sa")
//   RZ_TEST_PASSWORD  password (default "Secret123")
// and the provider every connection names first in its options (the test
// run sets it for the suite's second pass, on the ODBC backend):
//   RZ_TEST_PROVIDER  e.g. "rzfreetds" (default: none, the plug-in's choice)

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtSql/QSqlDatabase>

#include "testserver.h"

#include <memory>

namespace rztest {

struct ServerSettings
{
    QString host;
    QString database;
    QString user;
    QString password;
    bool external = false; // a server named by RZ_TEST_HOST, not ours
};

// The settings for the server of a test program whose own test server would
// listen on `localAddress`.
ServerSettings serverSettings(const QString &localAddress);

// Starts the local test server on `localAddress` unless the environment names
// an external server; null in that case. Throws std::runtime_error when the
// server does not come up.
std::unique_ptr<TestServer> startServerUnlessExternal(const QString &localAddress,
                                                      const QStringList &extraArgs = {});

// A REZUVEDOV connection named `name` set up for `settings` (not opened).
QSqlDatabase addConnection(const QString &name, const ServerSettings &settings,
                           const QString &options = QString());

} // namespace rztest
