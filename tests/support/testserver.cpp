#include "testserver.h"

#include "childprocess.h"

#include <cstdlib>

namespace rztest {

TestServer::TestServer(std::string address, std::vector<std::string> extraArgs) : address_(std::move(address))
{
    const char *program = std::getenv("RZ_TESTSERVER");
    std::vector<std::string> args = {program && *program ? program : RZ_TESTSERVER_PATH,
                                     "--listen", address_ + ":1433", "--login", "sa:Secret123",
                                     "--database", "master", "--database", "testdb"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    if (std::getenv("RZ_TESTSERVER_VERBOSE"))
        args.push_back("--verbose");
    pid_ = startUntilReady(args, 20000);
}

TestServer::~TestServer()
{
    stop();
}

void TestServer::stop()
{
    stopChild(pid_);
}

} // namespace rztest
