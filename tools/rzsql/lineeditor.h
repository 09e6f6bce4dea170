#pragma once
// The interactive prompt's line reading: line editing and a history kept
// across sessions when rzsql is built with readline (or libedit), plain
// reading otherwise.

#include <QtCore/QString>

namespace rzsql {

class LineEditor {
public:
    LineEditor();  // loads the history
    ~LineEditor(); // saves it
    LineEditor(const LineEditor &) = delete;
    LineEditor &operator=(const LineEditor &) = delete;

    // False at the end of input (Ctrl-D).
    bool readLine(const QString &prompt, QString &line);

private:
    QByteArray historyFile;
};

} // namespace rzsql
