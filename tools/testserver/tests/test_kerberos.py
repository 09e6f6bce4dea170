"""Integrated logins (Kerberos through SPNEGO) against a real MIT KDC of the
test's own, with python3-tds carrying python3-gssapi's tokens and with
FreeTDS's own Kerberos support (tsql without a user name)."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(HERE))), 'tests', 'support'))
from support import TestServer, pytds_connect  # noqa: E402
import kerberos_realm  # noqa: E402

import pytds  # noqa: E402

HOST = '127.0.0.165'           # keytab for its service principal
UNTRUSTING_HOST = '127.0.0.166'  # no keytab: refuses integrated logins
STRANGER_HOST = '127.0.0.167'  # registered in the KDC, but holds another server's keys
UNTRUSTED_TEXT = ('Login failed. The login is from an untrusted domain and cannot be used with '
                  'Integrated authentication.')


def principal_for(host):
    return 'MSSQLSvc/%s:1433' % host


class GssapiAuth:
    """python-tds's authentication interface on python3-gssapi: SPNEGO with
    the default ticket cache, for the given service principal."""

    def __init__(self, principal):
        import gssapi
        self.context = gssapi.SecurityContext(
            name=gssapi.Name(principal, gssapi.NameType.kerberos_principal), usage='initiate',
            mech=gssapi.OID.from_int_seq('1.3.6.1.5.5.2'),
            flags=gssapi.RequirementFlag.mutual_authentication | gssapi.RequirementFlag.replay_detection)

    def create_packet(self):
        return self.context.step()

    def handle_next(self, packet):
        return self.context.step(packet) or b''

    def close(self):
        pass


class KerberosLoginTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='rz-kerberos-')
        cls.saved = {k: os.environ.get(k) for k in ('KRB5_CONFIG', 'KRB5_KDC_PROFILE', 'KRB5CCNAME')}
        try:
            kerberos_realm.create(cls.folder, HOST, 8800, ['alice'],
                                  [(principal_for(HOST), 'server.keytab'),
                                   (principal_for(STRANGER_HOST), 'stranger.keytab')])
            cls.kdc = kerberos_realm.Kdc(cls.folder, 'alice')
            cls.kdc.start()
            os.environ.update({k: v for k, v in kerberos_realm.environment(cls.folder).items()
                               if k.startswith('KRB5')})
            os.environ['KRB5CCNAME'] = 'FILE:' + os.path.join(cls.folder, 'alice.ccache')
            subprocess.run(['kinit', '-k', '-t', os.path.join(cls.folder, 'alice.keytab'), 'alice'], check=True)
            keytab = os.path.join(cls.folder, 'server.keytab')
            cls.server = TestServer(HOST, STRANGER_HOST, extra=['--kerberos-keytab', keytab])
            cls.untrusting = TestServer(UNTRUSTING_HOST)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for name in ('server', 'untrusting'):
            if getattr(cls, name, None):
                getattr(cls, name).stop()
        if getattr(cls, 'kdc', None):
            cls.kdc.stop()
        for key, value in cls.saved.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value
        shutil.rmtree(cls.folder, ignore_errors=True)

    def integrated(self, host, principal=None):
        self.auth = GssapiAuth(principal or principal_for(host))
        return pytds_connect(host, user=None, password=None, auth=self.auth)

    def test_principal_is_the_login_and_sql_logins_still_work_beside_it(self):
        for connection, login in ((self.integrated(HOST), 'alice@RZTEST.LOCAL'), (pytds_connect(HOST), 'sa')):
            self.addCleanup(connection.close)
            cursor = connection.cursor()
            cursor.execute('SELECT SUSER_SNAME(), DB_NAME()')
            self.assertEqual((login, 'testdb'), tuple(cursor.fetchone()))
        # The server's last token proved its identity to the client.
        self.assertTrue(self.auth.context.complete)
        self.assertIn("login 'alice@RZTEST.LOCAL'", self.server.log_containing('alice@RZTEST.LOCAL'))

    def test_refusals_carry_sql_servers_18452(self):
        # A server without keys, and a server that holds other keys than the
        # ticket was made for.
        for host in (UNTRUSTING_HOST, STRANGER_HOST):
            with self.subTest(host=host):
                principal = principal_for(HOST if host == UNTRUSTING_HOST else STRANGER_HOST)
                with self.assertRaises(pytds.Error) as caught:
                    self.integrated(host, principal)
                self.assertEqual(18452, caught.exception.msg_no)
                self.assertEqual(UNTRUSTED_TEXT, caught.exception.text)

    def test_freetds_logs_in_with_its_own_kerberos(self):
        # tsql without -U asks FreeTDS for a Kerberos login (its own token
        # format: the raw Kerberos mechanism, not SPNEGO).
        result = subprocess.run(['tsql', '-H', HOST, '-p', '1433', '-D', 'testdb'],
                                input=b'SELECT SUSER_SNAME()\ngo\n', capture_output=True, timeout=30)
        out = result.stdout.decode('utf-8', 'replace') + result.stderr.decode('utf-8', 'replace')
        self.assertIn('alice@RZTEST.LOCAL', out)


if __name__ == '__main__':
    unittest.main()
