#pragma once
// Opening the shell's one connection, with the settings each Qt driver wants:
// REZUVEDOV takes host, database, login and its connection options as they
// are; QODBC gets a FreeTDS connection string; QTDS a FreeTDS server name.

#include "shelloptions.h"

#include <QtSql/QSqlDatabase>

namespace rzsql {

extern const char *const connectionName;

// The ODBC connection string rzsql gives QODBC for a SQL Server through
// FreeTDS (or a string the user wrote as the database, taken as it stands).
QString odbcConnectionString(const ShellOptions &options);

// "host, database db" (or the file of a file database) for the prompt's
// greeting; never the password a connection string would hold.
QString connectionLabel(const ShellOptions &options);

// Adds and opens the connection; on failure prints why on standard error.
bool openConnection(const ShellOptions &options);

} // namespace rzsql
