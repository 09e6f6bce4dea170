#include "testserver.h"

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <poll.h>

namespace rztest {

TestServer::TestServer(std::string address, std::vector<std::string> extraArgs) : address_(std::move(address))
{
    int out[2];
    if (pipe(out) != 0)
        return;
    const char *program = std::getenv("RZ_TESTSERVER");
    std::vector<std::string> args = {program && *program ? program : RZ_TESTSERVER_PATH,
                                     "--listen", address_ + ":1433", "--login", "sa:Secret123",
                                     "--database", "master", "--database", "testdb"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    if (std::getenv("RZ_TESTSERVER_VERBOSE"))
        args.push_back("--verbose");
    const pid_t pid = fork();
    if (pid == 0) {
        // The server goes when the test program goes, also when it crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return;
    }
    pid_ = pid;
    // Wait up to 20 s for "ready".
    std::string seen;
    pollfd p{out[0], POLLIN, 0};
    for (int waited = 0; waited < 200 && seen.find("ready") == std::string::npos; ++waited) {
        if (poll(&p, 1, 100) > 0) {
            char buffer[256];
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            seen.append(buffer, size_t(n));
        }
    }
    close(out[0]);
    if (seen.find("ready") == std::string::npos) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

TestServer::~TestServer()
{
    stop();
}

void TestServer::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

} // namespace rztest
