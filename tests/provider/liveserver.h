#pragma once
// The test server most provider tests share (127.0.0.20), started once per
// test program.

#include "oledbclient.h"
#include "testserver.h"

#include <gtest/gtest.h>

namespace providertest {

constexpr const char *kMainAddress = "127.0.0.20";

// Skips the calling test when the shared server did not come up.
#define REQUIRE_SERVER()                                                                          \
    do {                                                                                          \
        if (!providertest::mainServerRunning())                                                   \
            GTEST_FAIL() << "the test server on " << providertest::kMainAddress << " did not start"; \
    } while (0)

bool mainServerRunning();
Login mainLogin();

// A session on the shared server, failing the test when none can be had.
rz::ComPtr<IOpenRowset> mainSession();

} // namespace providertest
