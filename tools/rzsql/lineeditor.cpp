#include "lineeditor.h"

#include "console.h"

#include <QtCore/QDir>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#if defined(RZSQL_READLINE)
#include <readline/history.h>
#include <readline/readline.h>
#elif defined(RZSQL_EDITLINE)
#include <editline/readline.h>
#endif

namespace rzsql {

namespace {
const int historyLines = 1000;
}

LineEditor::LineEditor()
{
    const QByteArray configured = qgetenv("RZSQL_HISTORY");
    historyFile = !configured.isEmpty() ? configured
                                        : QFile::encodeName(QDir::home().filePath(QStringLiteral(".rzsql_history")));
#if defined(RZSQL_READLINE) || defined(RZSQL_EDITLINE)
    using_history();
    read_history(historyFile.constData()); // a first session has none yet
#endif
}

LineEditor::~LineEditor()
{
#if defined(RZSQL_READLINE) || defined(RZSQL_EDITLINE)
    if (write_history(historyFile.constData()) == 0)
        history_truncate_file(historyFile.constData(), historyLines);
    clear_history();
#endif
}

bool LineEditor::readLine(const QString &prompt, QString &line)
{
#if defined(RZSQL_READLINE) || defined(RZSQL_EDITLINE)
    char *text = readline(prompt.toUtf8().constData());
    if (!text)
        return false;
    line = QString::fromUtf8(text);
    if (!line.trimmed().isEmpty())
        add_history(text);
    std::free(text);
    return true;
#else
    writeOut(prompt);
    flushOut();
    std::string text;
    if (!std::getline(std::cin, text))
        return false;
    line = QString::fromStdString(text);
    return true;
#endif
}

} // namespace rzsql
