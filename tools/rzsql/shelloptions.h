#pragma once
// rzsql's settings: command-line options, with the connection taken from
// RZSQL_* environment variables where the command line leaves it open.

#include <QtCore/QProcessEnvironment>
#include <QtCore/QStringList>

namespace rzsql {

struct ShellOptions {
    QString driver;          // Qt SQL driver name, "REZUVEDOV" unless told
    QString host;            // server without its port
    int port = -1;           // from "host,port"; -1 when not given
    QString database;
    QString user;
    QString password;
    QString connectOptions;  // handed to QSqlDatabase::setConnectOptions
    QStringList statements;  // -e, in order
    QStringList inputFiles;  // -i, in order
    QStringList bindValues;  // --bind, one per placeholder
    bool csv = false;
    bool timing = false;
    bool echo = false;
    bool stopOnError = false;
    bool listDrivers = false;
};

struct ParsedOptions {
    enum class Outcome { Run, ShowText, UsageError };
    Outcome outcome = Outcome::Run;
    ShellOptions options;
    QString text; // help/version text, or what is wrong with the arguments
};

ParsedOptions parseShellOptions(const QStringList &arguments, const QProcessEnvironment &environment);

} // namespace rzsql
