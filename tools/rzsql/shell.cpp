#include "shell.h"

#include "batchrunner.h"
#include "batchsplitter.h"
#include "commands.h"
#include "connection.h"
#include "console.h"
#include "errorreport.h"
#include "lineeditor.h"

#include <QtCore/QFile>

#include <iostream>
#include <string>

namespace rzsql {

namespace {

class Runner {
public:
    Runner(const ShellOptions &options, ShellState &state)
        : options(options), state(state)
    {
    }

    // False when the input should stop here (\q, or a failure with -b).
    bool run(const QVector<InputItem> &items)
    {
        for (const InputItem &item : items) {
            const bool ok = item.kind == InputItem::Kind::Command ? runCommand(item, state)
                                                                   : runBatch(item, state);
            flushOut();
            if (!ok)
                failed = true;
            if (state.quitRequested || (!ok && options.stopOnError))
                return false;
        }
        return true;
    }

    bool runText(const QString &text)
    {
        BatchSplitter splitter;
        for (const QString &line : text.split(QLatin1Char('\n'))) {
            QString clean = line;
            if (clean.endsWith(QLatin1Char('\r')))
                clean.chop(1);
            if (!run(splitter.addLine(clean)))
                return false;
        }
        return run(splitter.finish());
    }

    bool runStandardInput()
    {
        BatchSplitter splitter;
        std::string line;
        while (std::getline(std::cin, line)) {
            QString text = QString::fromStdString(line);
            if (text.endsWith(QLatin1Char('\r')))
                text.chop(1);
            if (!run(splitter.addLine(text)))
                return false;
        }
        return run(splitter.finish());
    }

    void runPrompt()
    {
        writeOut(QStringLiteral("rzsql: connected to %1 through %2. End a batch with ';' or GO; "
                                "\\? for help, \\q to quit.\n")
                     .arg(connectionLabel(options), options.driver));
        LineEditor editor;
        BatchSplitter splitter(true);
        QString line;
        // Numbered continuation prompts, as SQL Server's sqlcmd shows them.
        while (editor.readLine(QStringLiteral("%1> ").arg(splitter.pendingLines() + 1), line)) {
            if (!run(splitter.addLine(line)))
                return;
        }
        writeOut(QStringLiteral("\n"));
    }

    bool failed = false;

private:
    const ShellOptions &options;
    ShellState &state;
};

} // namespace

ExitStatus runShell(const ShellOptions &options, ShellState &state)
{
    Runner runner(options, state);
    bool goOn = true;
    for (const QString &statement : options.statements) {
        if (!goOn)
            break;
        goOn = runner.runText(statement);
    }
    for (const QString &path : options.inputFiles) {
        if (!goOn)
            break;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            printProblem(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            return ExitBadSetup;
        }
        goOn = runner.runText(QString::fromUtf8(file.readAll()));
    }
    if (options.statements.isEmpty() && options.inputFiles.isEmpty()) {
        if (stdinIsTerminal())
            runner.runPrompt();
        else
            runner.runStandardInput();
    }
    return runner.failed ? ExitStatementFailed : ExitSuccess;
}

} // namespace rzsql
