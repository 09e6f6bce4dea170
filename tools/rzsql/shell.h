#pragma once
// Where the shell's input comes from: -e texts, -i files, standard input,
// or the interactive prompt when standard input is a terminal.

#include "shelloptions.h"
#include "shellstate.h"

namespace rzsql {

enum ExitStatus { ExitSuccess = 0, ExitStatementFailed = 1, ExitBadSetup = 2 };

ExitStatus runShell(const ShellOptions &options, ShellState &state);

} // namespace rzsql
