// rzsql: a SQL shell on QtSql. It loads its driver the way any Qt program
// does; from a build tree it also finds the plug-in built beside it.
#include "bindvalues.h"
#include "connection.h"
#include "console.h"
#include "errorreport.h"
#include "shell.h"
#include "shelloptions.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtSql/QSqlDatabase>

using namespace rzsql;

namespace {

// <build>/bin/rzsql finds <build>/plugins/sqldrivers; an installed rzsql has
// no such folder beside it and uses Qt's own plug-in folder.
void addBuildTreePlugins()
{
    const QDir plugins(QCoreApplication::applicationDirPath() + QStringLiteral("/../plugins"));
    if (plugins.exists(QStringLiteral("sqldrivers")))
        QCoreApplication::addLibraryPath(plugins.canonicalPath());
}

int runConnected(const ShellOptions &options)
{
    QElapsedTimer connecting;
    connecting.start();
    if (!openConnection(options))
        return ExitBadSetup;
    if (options.timing)
        writeOut(QStringLiteral("Connected in %1 ms\n").arg(double(connecting.nsecsElapsed()) / 1e6, 0, 'f', 3));
    ShellState state;
    state.writer = options.csv ? makeCsvWriter() : makeTableWriter();
    state.timing = options.timing;
    state.echo = options.echo;
    for (const QString &text : options.bindValues) {
        QVariant value;
        QString problem;
        if (!parseBindValue(text, value, problem)) {
            printProblem(QStringLiteral("--bind: ") + problem);
            return ExitBadSetup;
        }
        state.bindForEveryBatch << value;
    }
    const ExitStatus status = runShell(options, state);
    QSqlDatabase::database(QString::fromLatin1(connectionName), false).close();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rzsql"));
    addBuildTreePlugins();

    const ParsedOptions parsed = parseShellOptions(QCoreApplication::arguments(),
                                                   QProcessEnvironment::systemEnvironment());
    switch (parsed.outcome) {
    case ParsedOptions::Outcome::ShowText:
        writeOut(parsed.text);
        return ExitSuccess;
    case ParsedOptions::Outcome::UsageError:
        printProblem(parsed.text);
        return ExitBadSetup;
    case ParsedOptions::Outcome::Run:
        break;
    }
    if (parsed.options.listDrivers) {
        writeOut(QSqlDatabase::drivers().join(QLatin1Char('\n')) + QLatin1Char('\n'));
        return ExitSuccess;
    }
    const int status = runConnected(parsed.options);
    QSqlDatabase::removeDatabase(QString::fromLatin1(connectionName));
    return status;
}
