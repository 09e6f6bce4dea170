#pragma once
// A test server process (tools/testserver/rz-testserver) on a loopback
// address of the test's own, for the TDS client, provider and integration
// tests. RZ_TESTSERVER in the environment names another server program.

#include <string>
#include <vector>

namespace rztest {

class TestServer
{
public:
    // Starts the server on address:1433 with the login sa:Secret123 and the
    // databases master and testdb, plus `extraArgs` (faults, TLS); waits up to
    // 20 s for its "ready" line. running() tells whether it came up.
    explicit TestServer(std::string address, std::vector<std::string> extraArgs = {});
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    bool running() const { return pid_ > 0; }
    const std::string &address() const { return address_; }
    // SIGTERM, then waits for the process.
    void stop();

private:
    std::string address_;
    int pid_ = -1;
};

} // namespace rztest
