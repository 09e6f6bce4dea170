"""Failures on purpose: refused logins, a hung server, dropped connections
and slow answers."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import odbc  # noqa: E402
from support import TestServer, pytds_connect  # noqa: E402

import pytds  # noqa: E402


class FaultTest(unittest.TestCase):
    def server(self, host, *options):
        server = TestServer(host, extra=options)
        self.addCleanup(server.stop)
        return server

    def test_refused_logins(self):
        self.server('127.0.0.12', '--refuse-logins')
        with self.assertRaises(pytds.Error) as caught:
            pytds_connect('127.0.0.12')
        self.assertEqual(18456, caught.exception.msg_no)
        with self.assertRaises(odbc.OdbcError) as caught:
            odbc.Connection(odbc.connection_string('127.0.0.12'))
        self.assertEqual(18456, caught.exception.native)

    def test_hung_server_accepts_but_never_answers(self):
        self.server('127.0.0.13', '--hang')
        started = time.monotonic()
        with self.assertRaises(odbc.OdbcError) as caught:
            odbc.Connection(odbc.connection_string('127.0.0.13'), login_timeout=2)
        elapsed = time.monotonic() - started
        self.assertEqual('HYT00', caught.exception.sqlstate)
        self.assertGreater(elapsed, 1.5)
        self.assertLess(elapsed, 6)

    def test_connection_dropped_after_n_rows(self):
        self.server('127.0.0.14', '--drop-after-rows', '5')
        connection = pytds_connect('127.0.0.14')
        cursor = connection.cursor()
        cursor.execute('CREATE TABLE numbers (n int)')
        cursor.execute('INSERT INTO numbers VALUES (1), (2), (3), (4)')
        cursor.execute('SELECT n FROM numbers ORDER BY n')
        self.assertEqual([(1,), (2,), (3,), (4,)], [tuple(r) for r in cursor.fetchall()])
        with self.assertRaises(Exception):
            cursor.execute('SELECT n FROM numbers ORDER BY n')
            cursor.fetchall()
        connection.close()
        # every new connection gets its own budget of rows
        connection = pytds_connect('127.0.0.14')
        cursor = connection.cursor()
        cursor.execute('SELECT n FROM numbers WHERE n < 3 ORDER BY n')
        self.assertEqual([(1,), (2,)], [tuple(r) for r in cursor.fetchall()])
        connection.close()

    def test_every_answer_delayed(self):
        self.server('127.0.0.15', '--delay-ms', '300')
        connection = pytds_connect('127.0.0.15')
        cursor = connection.cursor()
        started = time.monotonic()
        cursor.execute('SELECT 1')
        self.assertEqual([(1,)], [tuple(r) for r in cursor.fetchall()])
        self.assertGreaterEqual(time.monotonic() - started, 0.3)
        connection.close()


if __name__ == '__main__':
    unittest.main()
