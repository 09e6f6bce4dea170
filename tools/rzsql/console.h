#pragma once
// Text to standard output and standard error, always UTF-8 (result values
// from SQL Server are Unicode whatever the terminal's locale says).

#include <QtCore/QString>

namespace rzsql {

void writeOut(const QString &text);
void writeErr(const QString &text);
void flushOut();
bool stdinIsTerminal();
bool stdoutIsTerminal();
bool stderrIsTerminal();

} // namespace rzsql
