#pragma once
// The shell's backslash commands (\tables, \d, \bind, \timing, transactions).

#include "batchsplitter.h"
#include "shellstate.h"

namespace rzsql {

// Returns false when the command failed or is not known.
bool runCommand(const InputItem &command, ShellState &state);

} // namespace rzsql
