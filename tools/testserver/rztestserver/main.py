"""Command line of rz-testserver."""
import argparse
import signal
import subprocess
import sys
import time

from .server import Faults, Server

DESCRIPTION = '''A small SQL Server look-alike for tests: speaks TDS 7.4 on TCP and runs
T-SQL on SQLite. Prints "ready" on standard output once every listener
accepts connections; logs connections and errors on standard error; exits
on SIGTERM or SIGINT.'''

EPILOG = '''Storage: every --database is a SQLite database shared by all connections of
this server. Without --data they live in a private temporary directory that
is removed on exit; with --data FILE the first database is FILE and every
further one FILE's stem + ".<name>.sqlite".

Example:
  rz-testserver --listen 127.0.0.1:1433 --login sa:Secret123 --database master --database testdb'''


def parse_address(text):
    host, _, port = text.rpartition(':')
    if not host:
        host, port = text, '1433'
    host = host.strip('[]')
    if host in ('0.0.0.0', '::', ''):
        raise argparse.ArgumentTypeError('listen on explicit addresses only, not %r' % text)
    return host, int(port)


def parse_login(text):
    name, separator, password = text.partition(':')
    if not separator or not name:
        raise argparse.ArgumentTypeError('expected NAME:PASSWORD, got %r' % text)
    return name, password


def build_parser():
    parser = argparse.ArgumentParser(prog='rz-testserver', description=DESCRIPTION, epilog=EPILOG,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--listen', action='append', type=parse_address, metavar='HOST:PORT',
                        help='address to listen on (repeatable; default 127.0.0.1:1433)')
    parser.add_argument('--login', action='append', type=parse_login, metavar='NAME:PASSWORD',
                        help='SQL Server login accepted (repeatable; default sa:Secret123)')
    parser.add_argument('--database', action='append', metavar='NAME',
                        help='database to offer (repeatable; the first is the default database; '
                             'default: master)')
    parser.add_argument('--data', metavar='FILE', help='keep the databases in SQLite files')
    parser.add_argument('--tls', action='store_true',
                        help='offer TLS with a self-signed certificate made at start-up for the listen addresses')
    parser.add_argument('--tls-certificate', metavar='FILE',
                        help='with --tls: write the certificate (PEM) to FILE, for clients to trust')
    parser.add_argument('--require-encryption', action='store_true',
                        help='with --tls: refuse clients that do not encrypt, as a server with '
                             'forced encryption does')
    parser.add_argument('--kerberos-keytab', metavar='FILE',
                        help='accept integrated logins (Kerberos through SPNEGO, python3-gssapi) with the '
                             'service principal keys in FILE, under the client principal\'s name; without it '
                             'integrated logins are refused with error 18452')
    faults = parser.add_argument_group('faults on purpose, for reliability tests')
    faults.add_argument('--hang', action='store_true',
                        help='accept TCP connections but never answer anything')
    faults.add_argument('--drop-after-rows', type=int, metavar='N',
                        help='close a connection abruptly once it has sent N result rows')
    faults.add_argument('--delay-ms', type=int, default=0, metavar='M',
                        help='wait M milliseconds before every answer')
    faults.add_argument('--row-delay-ms', type=int, default=0, metavar='M',
                        help='wait M milliseconds before every result row, having sent the rows before '
                             'it: a result that arrives slowly (ATTENTION ends the wait)')
    faults.add_argument('--rows-per-delay', type=int, default=1, metavar='N',
                        help='with --row-delay-ms: wait before every Nth row of a reply only '
                             '(the 1st, the N+1st, ...)')
    faults.add_argument('--garbage-after-rows', type=int, metavar='N',
                        help='once a connection has sent N result rows, end the reply with bytes '
                             'that are no valid token')
    faults.add_argument('--drop-during-login', action='store_true',
                        help='close every connection once its LOGIN7 has arrived, before the login is answered')
    faults.add_argument('--drop-during-upload', action='store_true',
                        help='close a connection while it sends an RPC request longer than one packet '
                             "(a long parameter value), before the request's last packet is read")
    faults.add_argument('--drop-during-commit', action='store_true',
                        help='close a connection when it asks the transaction manager to commit, '
                             'instead of committing and answering')
    parser.add_argument('--verbose', action='store_true', help='log every request on standard error')
    return parser


def main(argv=None):
    args = build_parser().parse_args(argv)
    addresses = args.listen or [('127.0.0.1', 1433)]
    logins = args.login or [('sa', 'Secret123')]
    databases = args.database or ['master']
    if (args.tls_certificate or args.require_encryption) and not args.tls:
        build_parser().error('--tls-certificate and --require-encryption need --tls')
    faults = Faults(hang=args.hang, drop_after_rows=args.drop_after_rows,
                    delay_ms=args.delay_ms, garbage_after_rows=args.garbage_after_rows,
                    drop_during_login=args.drop_during_login, drop_during_upload=args.drop_during_upload,
                    drop_during_commit=args.drop_during_commit,
                    row_delay_ms=args.row_delay_ms, rows_per_delay=args.rows_per_delay)
    server = Server(addresses, logins, databases, args.data, faults, args.verbose)
    if args.tls:
        try:
            server.use_tls(args.require_encryption, args.tls_certificate)
        except (OSError, subprocess.CalledProcessError) as error:
            sys.stderr.write('rz-testserver: cannot make a TLS certificate: %s\n' % error)
            server.databases.cleanup()
            return 2
    if args.kerberos_keytab:
        from .kerberos import KerberosAcceptor
        try:
            server.kerberos = KerberosAcceptor(args.kerberos_keytab)
        except Exception as error:   # python3-gssapi missing, no keytab, unreadable keys
            sys.stderr.write('rz-testserver: cannot accept integrated logins: %s\n' % error)
            server.databases.cleanup()
            return 2
    try:
        server.bind()
    except OSError as error:
        sys.stderr.write('rz-testserver: cannot listen: %s\n' % error)
        server.databases.cleanup()
        return 2
    # The handler takes no lock: it runs in the main thread wherever that
    # thread is, and an Event's lock may be the one it holds at that moment.
    stop = []

    def on_signal(_number, _frame):
        stop.append(True)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    server.serve()
    server.log('listening on %s' % ', '.join('%s:%d' % a for a in addresses))
    sys.stdout.write('ready\n')
    sys.stdout.flush()
    while not stop:
        time.sleep(0.2)
    server.log('stopping')
    server.stop()
    return 0
