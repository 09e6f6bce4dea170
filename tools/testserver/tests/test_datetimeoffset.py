"""datetimeoffset: the offset kept through literals, parameters, columns and
the wire (TDS type 0x2B, its date and time in UTC), values compared in UTC,
and the conversions and functions around it."""
import datetime
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase, result_sets  # noqa: E402

from pytds.tz import FixedOffsetTimezone  # noqa: E402


def at(*fields, offset=0):
    return datetime.datetime(*fields, tzinfo=FixedOffsetTimezone(offset))


class DateTimeOffsetTest(ServerTestCase):
    host = '127.0.0.143'

    # 1 and 3 are the same moment written in two zones; 2 is half an hour later
    setup_sql = ('CREATE TABLE meetings (id int PRIMARY KEY, starts datetimeoffset(3), local datetime2(0))',
                 "INSERT INTO meetings VALUES (1, '2024-01-01 10:00:00 +02:00', '2024-01-01 10:00:00'), "
                 "(2, '2024-01-01T08:30:00.5Z', NULL), (3, '2024-01-01 03:00 -05:00', NULL), "
                 "(4, '2023-12-31 23:59:59.9996 +14:00', NULL)")

    def setUp(self):
        self.cursor = self.connect().cursor()

    def rows(self, sql, params=None):
        self.cursor.execute(sql, params)
        return [tuple(row) for row in self.cursor.fetchall()]

    def test_values_keep_their_offset_on_the_wire_and_in_text(self):
        self.cursor.execute('SELECT starts FROM meetings ORDER BY id')
        self.assertEqual(0x2B, self.cursor.description[0][1])
        values = [row[0] for row in self.cursor.fetchall()]
        self.assertEqual([at(2024, 1, 1, 10, offset=120), at(2024, 1, 1, 8, 30, 0, 500000),
                          at(2024, 1, 1, 3, offset=-300), at(2024, 1, 1, 0, 0, offset=840)], values)
        self.assertEqual([120, 0, -300, 840], [v.utcoffset().total_seconds() // 60 for v in values])
        self.assertEqual([('2024-01-01 10:00:00.000 +02:00', '2024-01-01 00:00:00.000 +14:00')], self.rows(
            "SELECT CAST(a.starts AS varchar(40)), CAST(b.starts AS nvarchar(40)) FROM meetings a, meetings b "
            "WHERE a.id = 1 AND b.id = 4"))
        self.assertEqual([(43, 9, 30, 3)], self.rows(
            "SELECT system_type_id, max_length, precision, scale FROM sys.columns "
            "WHERE object_id = OBJECT_ID('meetings') AND name = 'starts'"))

    def test_comparisons_and_order_go_by_the_moment_in_utc(self):
        self.assertEqual([(1,), (3,)], self.rows("SELECT id FROM meetings WHERE starts = '2024-01-01 08:00 +00:00' "
                                                 "ORDER BY id"))
        self.assertEqual([(2,)], self.rows("SELECT id FROM meetings WHERE starts > '2024-01-01 09:00:00 +01:00'"))
        self.assertEqual([(4,)], self.rows("SELECT id FROM meetings WHERE starts < '2023-12-31 11:30 +01:00'"))
        self.assertEqual([(1,), (3,)], self.rows(
            "SELECT id FROM meetings WHERE starts BETWEEN '2024-01-01 07:59 +00:00' AND '2024-01-01 09:29 +01:00' "
            "ORDER BY id"))
        self.assertEqual([(4,), (1,), (3,), (2,)], self.rows('SELECT id FROM meetings ORDER BY starts, id'))
        self.assertEqual([(at(2024, 1, 1, 0, 0, offset=840), at(2024, 1, 1, 8, 30, 0, 500000))],
                         self.rows('SELECT MIN(starts), MAX(starts) FROM meetings'))
        # parameters and variables of the type compare the same way
        self.assertEqual([(1,), (3,)], self.rows('SELECT id FROM meetings WHERE starts = %s ORDER BY id',
                                                 (at(2024, 1, 1, 13, 30, offset=330),)))
        self.assertEqual([[(1,), (3,)], [(at(2024, 1, 1, 12, offset=240),)]], result_sets(
            self.cursor, "DECLARE @noon datetimeoffset = '2024-01-01 12:00 +04:00'; "
            "SELECT id FROM meetings WHERE @noon = starts ORDER BY id; SELECT @noon"))

    def test_parameters_round_trip_with_their_offset(self):
        moment = at(2024, 6, 1, 23, 30, 15, 250000, offset=-180)
        self.cursor.execute('INSERT INTO meetings (id, starts) VALUES (10, %s)', (moment,))
        self.assertEqual([(moment, '2024-06-01 23:30:15.250 -03:00')], self.rows(
            'SELECT starts, CAST(starts AS varchar(40)) FROM meetings WHERE id = 10'))
        self.assertEqual([(moment,)], self.rows('SELECT %s', (moment,)))
        self.cursor.execute('DELETE FROM meetings WHERE id = 10')

    def test_conversions_and_functions(self):
        self.assertEqual([(datetime.datetime(2024, 1, 1, 10, 0), at(2024, 1, 1, 10, 0),
                           at(2024, 1, 1, 10, 0, offset=-480), at(2024, 1, 1, 13, 30, offset=330), 120)], self.rows(
            "SELECT CAST(starts AS datetime2(0)), CAST(local AS datetimeoffset), TODATETIMEOFFSET(local, '-08:00'), "
            "SWITCHOFFSET(starts, '+05:30'), DATEPART(tz, starts) FROM meetings WHERE id = 1"))
        self.assertEqual([('2024-01-01 10:00:00.0000000 +00:00',)],
                         self.rows("SELECT CAST(CAST('2024-01-01 10:00' AS datetimeoffset) AS varchar(40))"))
        now = self.rows('SELECT SYSDATETIMEOFFSET()')[0][0]
        self.assertLess(abs((now - datetime.datetime.now(datetime.timezone.utc)).total_seconds()), 60)
        self.assertServerError(241, self.rows, "SELECT CAST('2024-01-01 10:00 +15:00' AS datetimeoffset)")
        self.assertServerError(9812, self.rows, "SELECT SWITCHOFFSET(starts, 'later') FROM meetings")

if __name__ == '__main__':
    unittest.main()
