#include "liveserver.h"

#include <memory>

namespace providertest {

namespace {

std::unique_ptr<TestServer> &server()
{
    static std::unique_ptr<TestServer> instance;
    return instance;
}

class MainServerEnvironment : public ::testing::Environment {
public:
    void SetUp() override { server() = std::make_unique<TestServer>(kMainAddress); }
    void TearDown() override { server().reset(); }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new MainServerEnvironment);

} // namespace

bool mainServerRunning() { return server() && server()->running(); }

Login mainLogin()
{
    Login login;
    login.host = kMainAddress;
    return login;
}

rz::ComPtr<IOpenRowset> mainSession()
{
    HRESULT hr = S_OK;
    auto session = openSession(mainLogin(), &hr);
    EXPECT_TRUE(session) << "login failed: " << std::hex << hr << " " << errorText();
    return session;
}

} // namespace providertest
