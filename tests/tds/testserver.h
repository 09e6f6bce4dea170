#pragma once
// A test server process of the TDS client tests, on an address of its own.

#include <string>
#include <vector>

namespace tdstest {

class TestServer {
public:
    // Starts tools/testserver/rz-testserver on address:1433 with the login
    // sa:Secret123 and the databases master and testdb, plus extra options
    // (faults); waits for its "ready" line. running() tells whether it came up.
    explicit TestServer(std::string address, std::vector<std::string> extraArgs = {});
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    bool running() const { return pid_ > 0; }
    const std::string &address() const { return address_; }

private:
    std::string address_;
    int pid_ = -1;
};

} // namespace tdstest
