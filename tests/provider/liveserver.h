#pragma once
// The test server most provider tests share (127.0.0.20), started once per
// test program.

#include "oledbclient.h"
#include "testserver.h"

#include <gtest/gtest.h>

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
