#pragma once
// A Kerberos realm of the test's own (RZTEST.LOCAL): a real MIT KDC on a
// loopback address, made in a temporary folder by kerberos_realm.py, with
// its own krb5.conf. Creating it points KRB5_CONFIG of this process (and so
// of the servers it starts later) at that file; the machine's
// /etc/krb5.conf is neither read nor written.

#include <string>
#include <vector>

namespace rztest {

class KerberosRealm
{
public:
    struct Service {
        std::string principal;   // e.g. MSSQLSvc/127.0.0.160:1433
        std::string keytab;      // file name in the realm's folder
    };

    // Users get random keys and a keytab each (<user>.keytab), to kinit from.
    KerberosRealm(std::string address, int port, std::vector<std::string> users, std::vector<Service> services);
    ~KerberosRealm();
    KerberosRealm(const KerberosRealm &) = delete;
    KerberosRealm &operator=(const KerberosRealm &) = delete;

    bool kdcRunning() const { return pid_ > 0; }
    std::string path(const std::string &fileName) const { return folder_ + "/" + fileName; }
    // A ticket-granting ticket for `user` in the cache file `cacheName` of
    // the folder, with `extraArgs` for kinit (e.g. "-l", "3s"). The cache's
    // name for KRB5CCNAME, or empty when kinit failed.
    std::string kinit(const std::string &user, const std::string &cacheName,
                      const std::vector<std::string> &extraArgs = {}) const;
    void stopKdc();
    bool startKdc();

private:
    std::string address_;
    std::string folder_;
    std::vector<std::string> users_;
    int pid_ = -1;
};

} // namespace rztest
