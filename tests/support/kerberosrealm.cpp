#include "kerberosrealm.h"

#include "childprocess.h"

#include <cstdlib>
#include <filesystem>

namespace rztest {

KerberosRealm::KerberosRealm(std::string address, int port, std::vector<std::string> users,
                             std::vector<Service> services)
    : address_(std::move(address)), users_(std::move(users))
{
    char name[] = "/tmp/rz-kerberos-XXXXXX";
    if (!mkdtemp(name))
        return;
    folder_ = name;
    setenv("KRB5_CONFIG", path("krb5.conf").c_str(), 1);
    std::vector<std::string> args = {"/usr/bin/python3", RZ_KERBEROS_REALM_SCRIPT, folder_, "--address", address_,
                                     "--port", std::to_string(port)};
    for (const auto &user : users_)
        args.insert(args.end(), {"--user", user});
    for (const auto &service : services)
        args.insert(args.end(), {"--service", service.principal + "=" + service.keytab});
    // Making the database and the principals takes a few seconds.
    pid_ = startUntilReady(args, 60000);
}

KerberosRealm::~KerberosRealm()
{
    stopKdc();
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

std::string KerberosRealm::kinit(const std::string &user, const std::string &cacheName,
                                 const std::vector<std::string> &extraArgs) const
{
    const std::string cache = "FILE:" + path(cacheName);
    std::vector<std::string> args = {"/usr/bin/kinit", "-c", cache};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    args.insert(args.end(), {"-k", "-t", path(user + ".keytab"), user});
    return runToEnd(args) == 0 ? cache : std::string();
}

void KerberosRealm::stopKdc()
{
    stopChild(pid_);
}

bool KerberosRealm::startKdc()
{
    if (pid_ > 0 || folder_.empty())
        return pid_ > 0;
    pid_ = startUntilReady({"/usr/bin/python3", RZ_KERBEROS_REALM_SCRIPT, folder_, "--existing", "--user", users_.at(0)},
                           20000);
    return pid_ > 0;
}

} // namespace rztest
