#include "liveserver.h"

#include <memory>

namespace providertest {

namespace {

std::unique_ptr<TestServer> &server()
{
    static std::unique_ptr<TestServer> instance;
    return instance;
}

// Started when a test first needs it: the in-memory tests need none.
class MainServerEnvironment : public ::testing::Environment {
public:
    void TearDown() override { server().reset(); }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new MainServerEnvironment);

} // namespace

bool mainServerRunning()
{
    if (!server())
        server() = std::make_unique<TestServer>(kMainAddress);
    return server()->running();
}

Login mainLogin()
{
    return loginAt(kMainAddress);
}

Login loginAt(const char *host)
{
    Login login;
    login.host = host;
    return login;
}

OwnServer sessionAt(const char *host, std::vector<std::string> options, Login login)
{
    OwnServer own{std::make_unique<TestServer>(host, std::move(options)), std::move(login), nullptr};
    own.login.host = host;
    EXPECT_TRUE(own.server->running()) << "the test server on " << host << " did not start";
    if (own.server->running()) {
        own.session = openSession(own.login);
        EXPECT_TRUE(own.session) << errorText();
    }
    return own;
}

rz::ComPtr<IOpenRowset> mainSession()
{
    HRESULT hr = S_OK;
    auto session = openSession(mainLogin(), &hr);
    EXPECT_TRUE(session) << "login failed: " << std::hex << hr << " " << errorText();
    return session;
}

::testing::AssertionResult readAll(IRowset *rowset, Rows &rows)
{
    RowReader reader(rowset);
    if (!reader.ok())
        return ::testing::AssertionFailure() << "cannot bind the columns: " << std::hex << reader.result();
    const HRESULT hr = reader.all(rows);
    if (hr != S_OK)
        return ::testing::AssertionFailure() << "reading rows: " << std::hex << hr << " " << errorText();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult selectAll(IUnknown *session, const std::string &sql, Rows &rows)
{
    rz::ComPtr<IRowset> rowset;
    const HRESULT hr = query(session, sql, rowset);
    if (hr != S_OK)
        return ::testing::AssertionFailure() << sql << ": " << std::hex << hr << " " << errorText();
    return readAll(rowset.get(), rows);
}

} // namespace providertest
