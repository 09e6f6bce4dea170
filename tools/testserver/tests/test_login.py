"""Handshake, logins, listeners and the server process itself."""
import functools
import os
import signal
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import SERVER, ServerTestCase, TestServer, last_result, pytds_connect  # noqa: E402


def port_open(host):
    with socket.socket() as sock:
        sock.settimeout(1)
        return sock.connect_ex((host, 1433)) == 0


class LoginTest(ServerTestCase):
    def test_configured_login_reaches_requested_database_and_stays_after_a_bad_use(self):
        cursor = self.connect().cursor()
        cursor.execute('SELECT DB_NAME(), @@SPID, @@TRANCOUNT')
        name, spid, trancount = cursor.fetchone()
        self.assertEqual(('testdb', 0), (name, trancount))
        self.assertGreater(spid, 50)
        self.assertServerError(911, cursor.execute, 'USE nowhere')
        cursor.execute('SELECT DB_NAME()')
        self.assertEqual('testdb', cursor.fetchone()[0])

    def test_second_login_and_default_database(self):
        connection = pytds_connect(self.host, database=None, user='reader', password='Read0nly')
        self.addCleanup(connection.close)
        cursor = connection.cursor()
        cursor.execute('SELECT DB_NAME()')
        self.assertEqual('master', cursor.fetchone()[0])
        cursor.execute('USE testdb')
        cursor.execute('SELECT DB_NAME()')
        self.assertEqual('testdb', cursor.fetchone()[0])

    def test_refused_logins_carry_sql_servers_numbers(self):
        # a wrong password, an unknown login, a password in the wrong case, an unknown database
        for options, number, text in (({'password': 'wrong'}, 18456, "Login failed for user 'sa'."),
                                      ({'user': 'nobody'}, 18456, None), ({'password': 'secret123'}, 18456, None),
                                      ({'database': 'nosuchdb'}, 4060, '"nosuchdb"')):
            error = self.assertServerError(number, functools.partial(pytds_connect, self.host, **options))
            if text:
                self.assertIn(text, error.text)


class ProcessTest(unittest.TestCase):
    def test_listens_on_every_address_and_exits_cleanly_on_signals(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            server = TestServer('127.0.0.16', '127.0.0.17')
            try:
                self.assertTrue(port_open('127.0.0.16') and port_open('127.0.0.17'))
                # an open session must not keep the server from stopping
                connection = pytds_connect('127.0.0.17')
                connection.cursor().execute('SELECT 1')
            finally:
                self.assertEqual(0, server.stop(sig))
            self.assertIn('stopping', server.stderr_text())

    def test_data_file_keeps_databases_across_restarts(self):
        with tempfile.TemporaryDirectory(prefix='rz-testserver-data-') as directory:
            data = os.path.join(directory, 'store.sqlite')
            for sql in ("CREATE TABLE kept (id int IDENTITY PRIMARY KEY, v nvarchar(5)); "
                        "INSERT INTO kept (v) VALUES (N'a')",
                        "INSERT INTO kept (v) VALUES (N'b'); SELECT id, v FROM kept ORDER BY id"):
                server = TestServer('127.0.0.11', extra=['--data', data])
                try:
                    connection = pytds_connect('127.0.0.11')
                    rows = last_result(connection.cursor(), sql)
                    connection.close()
                finally:
                    server.stop()
            self.assertEqual([(1, 'a'), (2, 'b')], rows)
            self.assertTrue(os.path.exists(data))                          # master
            self.assertTrue(os.path.exists(os.path.join(directory, 'store.testdb.sqlite')))

    def test_listening_on_a_busy_address_fails(self):
        server = TestServer('127.0.0.18')
        self.addCleanup(server.stop)
        result = subprocess.run([SERVER, '--listen', '127.0.0.18:1433'], capture_output=True, timeout=10)
        self.assertNotEqual(0, result.returncode)
        self.assertIn(b'cannot listen', result.stderr)
        self.assertNotIn(b'ready', result.stdout)


if __name__ == '__main__':
    unittest.main()
