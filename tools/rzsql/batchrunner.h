#pragma once
// Runs one SQL batch on the shell's connection and writes what it returns:
// every result set (when the driver hands out several), affected-row counts,
// and the driver's error when it fails.

#include "batchsplitter.h"
#include "shellstate.h"

namespace rzsql {

// Returns false when the batch (or reading its rows) failed.
bool runBatch(const InputItem &batch, ShellState &state);

} // namespace rzsql
