#include "shelloptions.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QRegularExpression>

namespace rzsql {

namespace {

const char *const description =
    "A SQL shell for Qt SQL drivers, REZUVEDOV (SQL Server over OLE DB) by default.\n"
    "\n"
    "Statements come from -e, from -i files or from standard input; batches end\n"
    "at lines holding only GO (\"GO n\" runs a batch n times). At an interactive\n"
    "prompt a line ending with ';' runs the batch as well. Commands:\n"
    "  \\tables             tables and views\n"
    "  \\d TABLE            a table's columns and primary key\n"
    "  \\bind V1 V2 ...     values for the '?' placeholders of the next batch\n"
    "  \\begin, \\commit, \\rollback   a transaction through the driver\n"
    "  \\timing [on|off]    time every batch\n"
    "  \\echo TEXT          print TEXT\n"
    "  \\q                  quit\n"
    "Bound values are text unless written TYPE:VALUE with TYPE one of int, float,\n"
    "str, bool, date, time, datetime, hex (bytes), or the word null.\n"
    "\n"
    "Environment: RZSQL_SERVER, RZSQL_DATABASE, RZSQL_USER, RZSQL_PASSWORD,\n"
    "RZSQL_OPTIONS and RZSQL_DRIVER give what the matching option leaves out;\n"
    "RZSQL_HISTORY names the prompt's history file (~/.rzsql_history).\n"
    "\n"
    "Exit status: 0 when everything ran, 1 when a statement or command failed,\n"
    "2 when the connection or the arguments were wrong.";

QString fromEnv(const QProcessEnvironment &env, const char *name)
{
    return env.value(QString::fromLatin1(name));
}

// "host", "host,port" (as SQL Server clients write it) or "host:port".
bool splitServer(const QString &server, QString &host, int &port)
{
    static const QRegularExpression withPort(QStringLiteral("^(.*)[,:](\\d+)$"));
    const QRegularExpressionMatch m = withPort.match(server.trimmed());
    if (!m.hasMatch()) {
        host = server.trimmed();
        port = -1;
        return true;
    }
    bool ok = false;
    port = m.captured(2).toInt(&ok);
    host = m.captured(1);
    return ok && port > 0 && port < 65536;
}

} // namespace

ParsedOptions parseShellOptions(const QStringList &arguments, const QProcessEnvironment &environment)
{
    ParsedOptions result;
    ShellOptions &o = result.options;

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
    const QCommandLineOption server({QStringLiteral("S"), QStringLiteral("server")},
                                    QStringLiteral("Server: host or host,port (127.0.0.1 when not given)."),
                                    QStringLiteral("host"));
    const QCommandLineOption database({QStringLiteral("d"), QStringLiteral("database")},
                                      QStringLiteral("Database (for QSQLITE the file)."), QStringLiteral("name"));
    const QCommandLineOption user({QStringLiteral("U"), QStringLiteral("user")},
                                  QStringLiteral("Login name; none for integrated security."), QStringLiteral("login"));
    const QCommandLineOption password({QStringLiteral("P"), QStringLiteral("password")},
                                      QStringLiteral("Password."), QStringLiteral("password"));
    const QCommandLineOption options({QStringLiteral("o"), QStringLiteral("options")},
                                     QStringLiteral("Connection options for the driver, separated by ';'; for REZUVEDOV "
                                                    "Provider=NAME, Failover Partner=HOST, Big Query=1."),
                                     QStringLiteral("options"));
    const QCommandLineOption driver(QStringLiteral("driver"),
                                    QStringLiteral("Qt SQL driver: REZUVEDOV (default), QODBC, QTDS, QSQLITE, ..."),
                                    QStringLiteral("name"));
    const QCommandLineOption execute({QStringLiteral("e"), QStringLiteral("execute")},
                                     QStringLiteral("Run SQL (may be repeated)."), QStringLiteral("sql"));
    const QCommandLineOption input({QStringLiteral("i"), QStringLiteral("input")},
                                   QStringLiteral("Run the batches of a file (may be repeated)."), QStringLiteral("file"));
    const QCommandLineOption bind(QStringLiteral("bind"),
                                  QStringLiteral("A value for the next '?' of every batch that has placeholders (repeat per placeholder)."),
                                  QStringLiteral("value"));
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("Print results as CSV."));
    const QCommandLineOption timing(QStringLiteral("timing"), QStringLiteral("Print how long every batch took."));
    const QCommandLineOption echo({QStringLiteral("a"), QStringLiteral("echo")},
                                  QStringLiteral("Print every batch before running it."));
    const QCommandLineOption stop({QStringLiteral("b"), QStringLiteral("stop-on-error")},
                                  QStringLiteral("Stop at the first batch that fails."));
    const QCommandLineOption listDrivers(QStringLiteral("list-drivers"),
                                        QStringLiteral("List the Qt SQL drivers that can be loaded."));
    parser.addOptions({help, version, server, database, user, password, options, driver, execute,
                       input, bind, csv, timing, echo, stop, listDrivers});

    if (!parser.parse(arguments)) {
        result.outcome = ParsedOptions::Outcome::UsageError;
        result.text = parser.errorText() + QStringLiteral("\nTry rzsql --help.");
        return result;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        result.outcome = ParsedOptions::Outcome::ShowText;
        result.text = parser.isSet(help) ? parser.helpText()
                                         : QStringLiteral("rzsql %1\n").arg(QStringLiteral(RZSQL_VERSION));
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.outcome = ParsedOptions::Outcome::UsageError;
        result.text = QStringLiteral("unexpected argument \"%1\"\nTry rzsql --help.")
                          .arg(parser.positionalArguments().first());
        return result;
    }

    auto value = [&](const QCommandLineOption &option, const char *envName) {
        return parser.isSet(option) ? parser.value(option) : fromEnv(environment, envName);
    };
    o.driver = value(driver, "RZSQL_DRIVER");
    if (o.driver.isEmpty())
        o.driver = QStringLiteral("REZUVEDOV");
    if (!splitServer(value(server, "RZSQL_SERVER"), o.host, o.port)) {
        result.outcome = ParsedOptions::Outcome::UsageError;
        result.text = QStringLiteral("bad server \"%1\": write host or host,port").arg(value(server, "RZSQL_SERVER"));
        return result;
    }
    o.database = value(database, "RZSQL_DATABASE");
    o.user = value(user, "RZSQL_USER");
    o.password = value(password, "RZSQL_PASSWORD");
    o.connectOptions = value(options, "RZSQL_OPTIONS");
    o.statements = parser.values(execute);
    o.inputFiles = parser.values(input);
    o.bindValues = parser.values(bind);
    o.csv = parser.isSet(csv);
    o.timing = parser.isSet(timing);
    o.echo = parser.isSet(echo);
    o.stopOnError = parser.isSet(stop);
    o.listDrivers = parser.isSet(listDrivers);
    return result;
}

} // namespace rzsql
