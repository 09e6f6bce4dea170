#pragma once
// Helper processes of the tests (servers, a KDC): started with their
// standard output on a pipe until they say "ready", and ended with the test
// program, also when it crashes.

#include <string>
#include <sys/types.h>
#include <vector>

namespace rztest {

// Starts args[0] (a path) with `args`; -1 unless it printed "ready" within
// `waitMilliseconds` (it is then killed).
pid_t startUntilReady(const std::vector<std::string> &args, int waitMilliseconds);
// SIGTERM, then waits for it; pid becomes -1.
void stopChild(pid_t &pid);
// Runs args[0] to its end with its output dropped; its exit status, or -1.
int runToEnd(const std::vector<std::string> &args);

} // namespace rztest
