"""Rows paced one by one arrive as they are made and a cancel ends the wait.
The server's other faults (refused logins, a hung server, connections
dropped after rows, during login, upload or commit, parameter descriptions
refused) are what the provider's and the integration tests fail on, through
this same server."""
import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import TestServer, pytds_connect  # noqa: E402

import pytds  # noqa: E402


class FaultTest(unittest.TestCase):
    def server(self, host, *options):
        server = TestServer(host, extra=options)
        self.addCleanup(server.stop)
        return server

    def test_rows_paced_one_by_one_arrive_as_they_come_and_can_be_cancelled(self):
        self.server('127.0.0.157', '--row-delay-ms', '400')
        connection = pytds_connect('127.0.0.157', timeout=60)
        cursor = connection.cursor()
        cursor.execute('CREATE TABLE paced (n int)')
        cursor.execute('INSERT INTO paced VALUES ' + ', '.join(['(1)'] * 100))
        started = time.monotonic()
        cursor.execute('SELECT n FROM paced')
        self.assertEqual((1,), tuple(cursor.fetchone()))
        self.assertGreaterEqual(time.monotonic() - started, 0.4)
        # The first row came before the rest were made (40 s of them), and a
        # cancel ends the wait for the next.
        cursor.cancel()
        self.assertLess(time.monotonic() - started, 30)
        cursor.execute('SELECT COUNT(*) FROM paced')
        self.assertEqual([(100,)], [tuple(r) for r in cursor.fetchall()])
        connection.close()


if __name__ == '__main__':
    unittest.main()
