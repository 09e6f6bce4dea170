#!/usr/bin/python3
"""A Kerberos realm of its own for tests: a real MIT KDC (Debian's krb5-kdc,
kadmin.local from krb5-admin-server) in a folder, on one loopback address.

    kerberos_realm.py DIR --address 127.0.0.160 --port 8800 \\
        --user alice --service MSSQLSvc/127.0.0.160:1433=server.keytab ...

makes DIR/krb5.conf (for KRB5_CONFIG), DIR/kdc.conf (for KRB5_KDC_PROFILE),
the database, the principals with random keys, DIR/<user>.keytab for each
user and the named keytab for each service principal (a keytab file may be
named by several). It then runs the KDC in the foreground until SIGTERM,
printing "ready" once the KDC hands out tickets. Nothing outside DIR is
written; the machine's /etc/krb5.conf is never read (KRB5_CONFIG points at
DIR's own).
"""
import argparse
import os
import signal
import subprocess
import sys
import time

REALM = 'RZTEST.LOCAL'


def environment(folder):
    env = dict(os.environ)
    env['KRB5_CONFIG'] = os.path.join(folder, 'krb5.conf')
    env['KRB5_KDC_PROFILE'] = os.path.join(folder, 'kdc.conf')
    env['KRB5CCNAME'] = 'FILE:' + os.path.join(folder, 'probe.ccache')
    return env


def write_configuration(folder, address, port):
    with open(os.path.join(folder, 'krb5.conf'), 'w') as f:
        # The plug-in names servers by address: no DNS may turn the address
        # into a host name, or the service principal would not match.
        f.write('[libdefaults]\n'
                '  default_realm = %(realm)s\n'
                '  dns_lookup_realm = false\n'
                '  dns_lookup_kdc = false\n'
                '  dns_canonicalize_hostname = false\n'
                '  rdns = false\n'
                '  ticket_lifetime = 1h\n'
                '[realms]\n'
                '  %(realm)s = {\n'
                '    kdc = %(address)s:%(port)d\n'
                '  }\n' % {'realm': REALM, 'address': address, 'port': port})
    with open(os.path.join(folder, 'kdc.conf'), 'w') as f:
        f.write('[kdcdefaults]\n'
                '  kdc_listen = %(address)s:%(port)d\n'
                '  kdc_tcp_listen = %(address)s:%(port)d\n'
                '[realms]\n'
                '  %(realm)s = {\n'
                '    database_name = %(folder)s/principal\n'
                '    key_stash_file = %(folder)s/stash\n'
                '    acl_file = %(folder)s/kadm5.acl\n'
                '    max_life = 1h\n'
                '    max_renewable_life = 0\n'
                '  }\n'
                '[logging]\n'
                '  kdc = FILE:%(folder)s/kdc.log\n'
                '  admin_server = FILE:%(folder)s/kadmin.log\n'
                '  default = FILE:%(folder)s/kdc.log\n'
                % {'realm': REALM, 'address': address, 'port': port, 'folder': folder})
    open(os.path.join(folder, 'kadm5.acl'), 'w').close()


def run(command, env):
    done = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True)
    if done.returncode != 0:
        raise RuntimeError('%s failed: %s' % (' '.join(command), done.stdout.strip()))
    return done.stdout


def create(folder, address, port, users, services):
    """services: [(principal, keytab file name)]"""
    write_configuration(folder, address, port)
    env = environment(folder)
    run(['/usr/sbin/kdb5_util', 'create', '-s', '-r', REALM, '-P', 'rz-master-key'], env)
    queries = []
    for user in users:
        queries += ['addprinc -randkey %s' % user, 'ktadd -k %s %s' % (os.path.join(folder, user + '.keytab'), user)]
    for principal, keytab in services:
        queries += ['addprinc -randkey %s' % principal, 'ktadd -k %s %s' % (os.path.join(folder, keytab), principal)]
    for query in queries:
        run(['/usr/sbin/kadmin.local', '-r', REALM, '-q', query], env)


class Kdc:
    """krb5kdc of a realm made by create(), started and stopped at will."""

    def __init__(self, folder, probe_user):
        self.folder = folder
        self.probe_user = probe_user
        self.process = None

    def start(self, wait=20.0):
        env = environment(self.folder)
        self.process = subprocess.Popen(['/usr/sbin/krb5kdc', '-n', '-r', REALM], env=env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        keytab = os.path.join(self.folder, self.probe_user + '.keytab')
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError('krb5kdc exited with %d; see %s/kdc.log' % (self.process.returncode, self.folder))
            if subprocess.run(['kinit', '-k', '-t', keytab, self.probe_user], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0:
                return
            time.sleep(0.1)
        self.stop()
        raise RuntimeError('krb5kdc did not hand out tickets within %g s' % wait)

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait()
            self.process = None


def parse_service(text):
    principal, separator, keytab = text.partition('=')
    if not separator:
        raise argparse.ArgumentTypeError('expected PRINCIPAL=KEYTAB, got %r' % text)
    return principal, keytab


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('folder')
    parser.add_argument('--address', default='127.0.0.1')
    parser.add_argument('--port', type=int, default=8800)
    parser.add_argument('--user', action='append', default=[])
    parser.add_argument('--service', action='append', type=parse_service, default=[])
    parser.add_argument('--existing', action='store_true', help='the realm is made already: only run its KDC')
    args = parser.parse_args()
    folder = os.path.abspath(args.folder)
    if not args.user:
        parser.error('at least one --user is needed (it also probes the KDC)')
    try:
        if not args.existing:
            create(folder, args.address, args.port, args.user, args.service)
        kdc = Kdc(folder, args.user[0])
        kdc.start()
    except RuntimeError as error:
        sys.stderr.write('kerberos_realm: %s\n' % error)
        return 2
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))
    signal.signal(signal.SIGINT, lambda *_: stop.append(True))
    sys.stdout.write('ready\n')
    sys.stdout.flush()
    while not stop and kdc.process.poll() is None:
        time.sleep(0.1)
    kdc.stop()
    return 0


if __name__ == '__main__':
    sys.exit(main())
