"""Failures on purpose: refused logins, a hung server, dropped connections
(after rows, during login, during a long upload, during commit), slow
answers and rows paced one by one."""
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

    def test_refused_logins(self):
        self.server('127.0.0.12', '--refuse-logins')
        with self.assertRaises(pytds.Error) as caught:
            pytds_connect('127.0.0.12')
        self.assertEqual(18456, caught.exception.msg_no)

    def test_hung_server_accepts_but_never_answers(self):
        self.server('127.0.0.13', '--hang')
        with socket.create_connection(('127.0.0.13', 1433), timeout=5) as sock:
            sock.sendall(b'\x12\x01\x00\x08\x00\x00\x01\x00')      # an empty PRELOGIN
            sock.settimeout(1.5)
            with self.assertRaises(socket.timeout):
                sock.recv(1)
        with self.assertRaises(TimeoutError):
            pytds_connect('127.0.0.13', login_timeout=1)

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

    def test_parameter_descriptions_refused_or_cut_short(self):
        self.server('127.0.0.148', '--refuse-descriptions', 'error')
        connection = pytds_connect('127.0.0.148')
        self.addCleanup(connection.close)
        cursor = connection.cursor()
        with self.assertRaises(pytds.Error) as caught:
            cursor.execute("EXEC sp_describe_undeclared_parameters N'SELECT @P1 + 1'")
        self.assertEqual(11501, caught.exception.msg_no)
        cursor.execute('SELECT 1')
        self.assertEqual([(1,)], [tuple(r) for r in cursor.fetchall()])
        self.server('127.0.0.149', '--refuse-descriptions', 'short')
        connection = pytds_connect('127.0.0.149')
        self.addCleanup(connection.close)
        cursor = connection.cursor()
        cursor.execute("EXEC sp_describe_undeclared_parameters N'SELECT @P1 + 1, @P2 + 2'")
        self.assertEqual([(1, '@P1')], [(r[0], r[1]) for r in cursor.fetchall()])

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

    def test_connection_dropped_during_login(self):
        server = self.server('127.0.0.144', '--drop-during-login')
        started = time.monotonic()
        with self.assertRaises(pytds.ClosedConnectionError):
            pytds_connect('127.0.0.144')
        self.assertLess(time.monotonic() - started, 5)
        self.assertIn('LOGIN7', server.log_containing('(fault)'))

    def test_connection_dropped_while_a_long_parameter_arrives(self):
        server = self.server('127.0.0.145', '--drop-during-upload')
        connection = pytds_connect('127.0.0.145')
        cursor = connection.cursor()
        # Short RPC requests fit one packet and are served.
        cursor.execute('CREATE TABLE uploads (body nvarchar(max))')
        cursor.execute('INSERT INTO uploads VALUES (%s)', ('short',))
        # The client sees the drop either while it still writes (a broken
        # pipe) or when it reads the answer that never comes.
        with self.assertRaises((pytds.ClosedConnectionError, OSError)):
            cursor.execute('INSERT INTO uploads VALUES (%s)', ('x' * 100000,))
        self.assertIn('an RPC request is still arriving', server.log_containing('(fault)'))
        connection = pytds_connect('127.0.0.145')
        cursor = connection.cursor()
        cursor.execute('SELECT body FROM uploads')
        self.assertEqual([('short',)], [tuple(r) for r in cursor.fetchall()])
        connection.close()

    def test_connection_dropped_instead_of_committing(self):
        server = self.server('127.0.0.146', '--drop-during-commit')
        connection = pytds_connect('127.0.0.146')
        connection.cursor().execute('CREATE TABLE ledger (n int)')
        connection.close()
        connection = pytds_connect('127.0.0.146', autocommit=False)
        cursor = connection.cursor()
        cursor.execute('INSERT INTO ledger VALUES (1)')
        # pytds reports the lost connection as an OSError of its closed socket.
        with self.assertRaises((pytds.Error, OSError)):
            connection.commit()
        self.assertIn('the client asks to commit', server.log_containing('(fault)'))
        # Nothing was committed: the session went with its transaction.
        connection = pytds_connect('127.0.0.146')
        cursor = connection.cursor()
        cursor.execute('SELECT COUNT(*) FROM ledger')
        self.assertEqual([(0,)], [tuple(r) for r in cursor.fetchall()])
        connection.close()


if __name__ == '__main__':
    unittest.main()
