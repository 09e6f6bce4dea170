"""TLS inside PRELOGIN with the certificate the server makes at start-up,
through FreeTDS (tsql)."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import TestServer  # noqa: E402


def tsql(host, freetds_conf, sql='SELECT 40 + 2\ngo\n'):
    """Runs tsql with a freetds.conf of the given [global] lines."""
    with tempfile.NamedTemporaryFile('w', suffix='.conf') as conf:
        conf.write('[global]\n\ttds version = 7.4\n' + ''.join('\t%s\n' % line for line in freetds_conf))
        conf.flush()
        result = subprocess.run(['tsql', '-H', host, '-p', '1433', '-U', 'sa', '-P', 'Secret123'],
                                input=sql.encode(), capture_output=True, timeout=30,
                                env=dict(os.environ, FREETDSCONF=conf.name))
    return result.stdout.decode(errors='replace') + result.stderr.decode(errors='replace')


class TlsTest(unittest.TestCase):
    def server(self, host, *options):
        certificate = tempfile.NamedTemporaryFile(suffix='.pem')
        self.addCleanup(certificate.close)
        server = TestServer(host, extra=('--tls', '--tls-certificate', certificate.name) + options)
        self.addCleanup(server.stop)
        return server, certificate.name

    def test_login_only_full_and_verified_encryption(self):
        server, certificate = self.server('127.0.0.26')
        self.assertIn('42', tsql('127.0.0.26', ['encryption = request']))
        self.assertIn('42', tsql('127.0.0.26', ['encryption = require', 'ca file = ' + certificate]))
        log = server.log_containing('TLS full')
        self.assertIn('TLS login only (TLSv1.2)', log)
        self.assertIn('TLS full (TLSv1.2)', log)

        refused = tsql('127.0.0.26', ['encryption = require', 'ca file = /etc/ssl/certs/ca-certificates.crt'])
        self.assertNotIn('42', refused)
        self.assertIn('TLS handshake failed', server.log_containing('TLS handshake failed'))

    def test_a_server_requiring_encryption_refuses_clients_that_cannot(self):
        server, _ = self.server('127.0.0.27', '--require-encryption')
        self.assertIn('42', tsql('127.0.0.27', ['encryption = request']))
        self.assertIn('TLS full', server.log_containing('TLS full'), 'a client that may encrypt is made to')
        self.assertNotIn('42', tsql('127.0.0.27', ['encryption = off']))
        self.assertIn('client cannot encrypt, which this server requires',
                      server.log_containing('client cannot encrypt'))


if __name__ == '__main__':
    unittest.main()
