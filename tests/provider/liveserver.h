#pragma once
// The test server most provider tests share (127.0.0.20), started once per
// test program when a test first needs it.

#include "oledbclient.h"
#include "testserver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace providertest {

using rztest::TestServer;

constexpr const char *kMainAddress = "127.0.0.20";

// Skips the calling test when the shared server did not come up.
#define REQUIRE_SERVER()                                                                          \
    do {                                                                                          \
        if (!providertest::mainServerRunning())                                                   \
            GTEST_FAIL() << "the test server on " << providertest::kMainAddress << " did not start"; \
    } while (0)

bool mainServerRunning();
Login mainLogin();
// The shared server's login for a server of a test's own, at `host`.
Login loginAt(const char *host);

// A server of the test's own at `host`, started with `options`, and a
// session on it logged in as `login` says (at `host`). The session is null,
// the test failing with the reason, when either does not come up.
struct OwnServer {
    std::unique_ptr<TestServer> server;
    Login login;
    rz::ComPtr<IOpenRowset> session;
};
OwnServer sessionAt(const char *host, std::vector<std::string> options, Login login = Login());

// A session on the shared server, failing the test when none can be had.
rz::ComPtr<IOpenRowset> mainSession();

// Reads every remaining row of `rowset` into `rows`.
::testing::AssertionResult readAll(IRowset *rowset, Rows &rows);
// Runs a query on `session` and reads all its rows.
::testing::AssertionResult selectAll(IUnknown *session, const std::string &sql, Rows &rows);

// Tests that work on a session of the shared server.
class LiveSession : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_SERVER();
        session = mainSession();
        ASSERT_TRUE(session);
    }

    rz::ComPtr<IOpenRowset> session;
};

} // namespace providertest
