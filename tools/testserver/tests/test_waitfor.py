"""WAITFOR DELAY and TIME: how long they wait, where they may stand, how a
bad time is refused, and that a cancel (ATTENTION) ends the wait at once."""
import datetime
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase, pytds_connect, rows  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from rztestserver.lexer import tokenize  # noqa: E402
from rztestserver.waitfor import seconds_to_wait  # noqa: E402


class WaitforTest(ServerTestCase):
    host = '127.0.0.147'

    def timed(self, sql):
        started = time.monotonic()
        answer = self.query(sql)
        return [tuple(row) for row in answer], time.monotonic() - started

    def test_a_delay_holds_the_batch_back_and_the_batch_goes_on(self):
        answer, seconds = self.timed("WAITFOR DELAY '00:00:00.600'; SELECT 7")
        self.assertEqual([(7,)], answer)
        self.assertGreaterEqual(seconds, 0.6)
        answer, seconds = self.timed("DECLARE @d varchar(12) = '00:00:00.400'\nWAITFOR DELAY @d\nSELECT 8")
        self.assertEqual([(8,)], answer)
        self.assertGreaterEqual(seconds, 0.4)

    def test_a_delay_inside_a_procedure(self):
        self.query("CREATE PROCEDURE pause_then_answer @n int AS BEGIN WAITFOR DELAY '00:00:00.500'; "
                   "SELECT @n * 2 END")
        answer, seconds = self.timed('EXEC pause_then_answer 21')
        self.assertEqual([(42,)], answer)
        self.assertGreaterEqual(seconds, 0.5)

    def test_a_time_waits_until_the_next_time_of_day_it_names(self):
        def wait(text, now):
            return seconds_to_wait(None, tokenize("WAITFOR TIME '%s'" % text), {}, now)
        evening = datetime.datetime(2026, 3, 1, 23, 59, 59)
        self.assertAlmostEqual(2.0, wait('00:00:01', evening))       # past midnight: tomorrow
        self.assertAlmostEqual(0.25, wait('23:59:59.250', evening))
        self.assertAlmostEqual(86399.0, wait('23:59:58', evening))  # just gone: a day less a second
        # a live one waits too, until a cancel ends it
        connection = pytds_connect(self.host, timeout=1)
        self.addCleanup(connection.close)
        later = (datetime.datetime.now() + datetime.timedelta(hours=1)).strftime('%H:%M:%S')
        with self.assertRaises(TimeoutError):
            connection.cursor().execute("WAITFOR TIME '%s'" % later)

    def test_bad_times_and_forms_are_refused_as_sql_server_refuses_them(self):
        for text in ('00:00:xx', '24:00', '00:61', '1 second', '00:00:01.1234'):
            error = self.assertServerError(148, self.query, "WAITFOR DELAY '%s'" % text)
            self.assertIn("Incorrect time syntax in time string '%s' used with WAITFOR." % text, str(error))
        self.assertServerError(102, self.query, 'WAITFOR DELAY 5')
        self.assertServerError(102, self.query, "WAITFOR LATER '00:00:01'")

    def test_a_cancel_ends_the_wait_at_once_and_the_session_goes_on(self):
        # python3-tds sends ATTENTION when its time-out passes and waits for the acknowledgement
        connection = pytds_connect(self.host, timeout=1)
        self.addCleanup(connection.close)
        cursor = connection.cursor()
        started = time.monotonic()
        with self.assertRaises(TimeoutError):
            cursor.execute("SELECT 0; WAITFOR DELAY '00:01:00'; SELECT 1")
        self.assertLess(time.monotonic() - started, 20)
        self.assertEqual([(2,)], rows(cursor, 'SELECT 2'))
        self.assertIn('request cancelled by the client', self.server.log_containing('request cancelled'))


if __name__ == '__main__':
    unittest.main()
