"""Every supported type: declared metadata, values, NULLs, and the
conversions SQL Server refuses."""
import datetime
import decimal
import os
import sys
import unittest
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase, rows  # noqa: E402

import pytds  # noqa: E402

COLUMNS = [
    # name, declared type, literal, expected value from pytds
    ('c_int', 'int', '-2147483648', -2147483648),
    ('c_bigint', 'bigint', '9223372036854775807', 9223372036854775807),
    ('c_smallint', 'smallint', '-32768', -32768),
    ('c_tinyint', 'tinyint', '255', 255),
    ('c_bit', 'bit', '1', True),
    ('c_decimal', 'decimal(10,2)', '-12345678.91', decimal.Decimal('-12345678.91')),
    ('c_numeric', 'numeric(38,0)', '12345678901234', decimal.Decimal('12345678901234')),
    ('c_money', 'money', '922337203685477.5807', decimal.Decimal('922337203685477.5807')),
    ('c_smallmoney', 'smallmoney', '-214748.3648', decimal.Decimal('-214748.3648')),
    ('c_float', 'float', '1.0000000000000002', 1.0000000000000002),
    ('c_real', 'real', '0.5', 0.5),
    ('c_char', 'char(4)', "'ab'", 'ab  '),
    ('c_varchar', 'varchar(10)', "'caf\u00e9'", 'caf\u00e9'),
    ('c_varcharmax', 'varchar(max)', "'long'", 'long'),
    ('c_nchar', 'nchar(3)', "N'\u00fc'", '\u00fc  '),
    ('c_nvarchar', 'nvarchar(10)', "N'\u65e5\u672c\u8a9e'", '\u65e5\u672c\u8a9e'),
    ('c_nvarcharmax', 'nvarchar(max)', "N'\u03a9'", '\u03a9'),
    ('c_text', 'text', "'plain text'", 'plain text'),
    ('c_ntext', 'ntext', "N'\u00e4\u00f6\u00fc'", '\u00e4\u00f6\u00fc'),
    ('c_binary', 'binary(4)', '0x0102', b'\x01\x02\x00\x00'),
    ('c_varbinary', 'varbinary(8)', '0xCAFE', b'\xca\xfe'),
    ('c_varbinarymax', 'varbinary(max)', '0x00FF', b'\x00\xff'),
    ('c_image', 'image', '0x89504E47', b'\x89PNG'),
    ('c_date', 'date', "'2024-02-29'", datetime.date(2024, 2, 29)),
    ('c_time', 'time(3)', "'23:59:58.123'", datetime.time(23, 59, 58, 123000)),
    ('c_datetime', 'datetime', "'2001-02-03 04:05:06.789'", datetime.datetime(2001, 2, 3, 4, 5, 6, 790000)),
    ('c_smalldatetime', 'smalldatetime', "'2001-02-03 04:05:31'", datetime.datetime(2001, 2, 3, 4, 6)),
    ('c_datetime2', 'datetime2(7)', "'0001-01-01 00:00:00.1234567'",
     datetime.datetime(1, 1, 1, 0, 0, 0, 123456)),
    ('c_time4', 'time(4)', "'01:02:03.4567'", datetime.time(1, 2, 3, 456700)),
    ('c_guid', 'uniqueidentifier', "'6F9619FF-8B86-D011-B42D-00C04FC964FF'",
     uuid.UUID('6F9619FF-8B86-D011-B42D-00C04FC964FF')),
]


def refusal(source, target):
    return ('Implicit conversion from data type %s to %s is not allowed. Use the CONVERT function to run this '
            'query.' % (source, target))


class TypesTest(ServerTestCase):
    setup_sql = ('CREATE TABLE every_type (id int IDENTITY(1,1) PRIMARY KEY, %s)'
                 % ', '.join('%s %s' % (name, declared) for name, declared, _l, _v in COLUMNS),)

    def test_literals_and_parameters_round_trip_with_declared_types(self):
        cursor = self.connect().cursor()
        names = ', '.join(c[0] for c in COLUMNS)
        cursor.execute('INSERT INTO every_type (%s) VALUES (%s)' % (names, ', '.join(c[2] for c in COLUMNS)))
        values = [pytds.Binary(expected) if isinstance(expected, bytes) else expected
                  for _n, _d, _l, expected in COLUMNS]
        cursor.execute('INSERT INTO every_type (%s) VALUES (%s)' % (names, ', '.join(['%s'] * len(COLUMNS))), values)
        cursor.execute('SELECT %s FROM every_type WHERE id >= @@IDENTITY - 1 ORDER BY id' % names)
        for row in cursor.fetchall():
            for (name, _declared, _literal, expected), value in zip(COLUMNS, row):
                self.assertEqual(expected, value, name)

    def test_nulls_of_every_type(self):
        cursor = self.connect().cursor()
        cursor.execute('INSERT INTO every_type DEFAULT VALUES')
        cursor.execute('SELECT * FROM every_type WHERE id = SCOPE_IDENTITY()')
        row = cursor.fetchone()
        self.assertEqual([None] * len(COLUMNS), list(row[1:]))
        self.assertEqual(['id'] + [c[0] for c in COLUMNS], [d[0] for d in cursor.description])

    def test_out_of_range_values_are_rejected(self):
        cursor = self.connect().cursor()
        cases = [
            ('c_tinyint', '256', 220), ('c_int', "'abc'", 245), ('c_varchar', "'12345678901'", 8152),
            ('c_date', "'2023-02-29'", 241), ('c_guid', "'not a guid'", 8169),
            ('c_decimal', '123456789.0', 8115),
        ]
        for column, literal, number in cases:
            self.assertServerError(number, cursor.execute,
                                   'INSERT INTO every_type (%s) VALUES (%s)' % (column, literal))

    def test_datetime_rounds_to_three_hundredths_and_smalldatetime_to_the_minute(self):
        cursor = self.connect().cursor()
        cursor.execute('CREATE TABLE moments (id int, dt datetime, sdt smalldatetime)')
        dt, sdt = datetime.datetime, datetime.datetime
        # (text written, datetime kept, smalldatetime kept)
        cases = [
            ('1999-12-31 23:59:58.007', dt(1999, 12, 31, 23, 59, 58, 7000), sdt(2000, 1, 1)),
            ('2001-01-01 00:00:00.001', dt(2001, 1, 1), sdt(2001, 1, 1)),
            ('2001-01-01 00:00:00.002', dt(2001, 1, 1, 0, 0, 0, 3000), sdt(2001, 1, 1)),
            ('2001-01-01 00:00:00.005', dt(2001, 1, 1, 0, 0, 0, 7000), sdt(2001, 1, 1)),
            ('2001-01-01 00:00:00.0049999', dt(2001, 1, 1, 0, 0, 0, 3000), sdt(2001, 1, 1)),
            ('2001-01-01 00:00:00.009', dt(2001, 1, 1, 0, 0, 0, 10000), sdt(2001, 1, 1)),
            ('2001-01-01 12:34:29.998', dt(2001, 1, 1, 12, 34, 29, 997000), sdt(2001, 1, 1, 12, 34)),
            ('2001-01-01 12:34:29.999', dt(2001, 1, 1, 12, 34, 30), sdt(2001, 1, 1, 12, 35)),
            ('1998-01-01 23:59:59.999', dt(1998, 1, 2), sdt(1998, 1, 2)),
            ('2079-06-06 23:59:29.998', dt(2079, 6, 6, 23, 59, 29, 997000), sdt(2079, 6, 6, 23, 59)),
        ]
        for number, (text, expected_dt, expected_sdt) in enumerate(cases):
            cursor.execute("SELECT CAST('%s' AS datetime), CONVERT(smalldatetime, '%s')" % (text, text))
            self.assertEqual((expected_dt, expected_sdt), tuple(cursor.fetchone()), text)
            cursor.execute("INSERT INTO moments VALUES (%d, '%s', '%s')" % (number, text, text))
            # python-tds sends datetime values as datetime2(6)
            if len(text) <= 26:
                value = dt.strptime(text, '%Y-%m-%d %H:%M:%S.%f')
                cursor.execute('INSERT INTO moments VALUES (%s, %s, %s)', (100 + number, value, value))
        cursor.execute('SELECT id, dt, sdt FROM moments ORDER BY id')
        kept = {row[0]: (row[1], row[2]) for row in cursor.fetchall()}
        for number, (text, expected_dt, expected_sdt) in enumerate(cases):
            self.assertEqual((expected_dt, expected_sdt), kept[number], text)
            if len(text) <= 26:
                self.assertEqual((expected_dt, expected_sdt), kept[100 + number], text)
        # What was read compares equal to what is kept, as a parameter too.
        cursor.execute('SELECT COUNT(*) FROM moments WHERE dt = %s', (dt(1999, 12, 31, 23, 59, 58, 7000),))
        self.assertEqual(2, cursor.fetchone()[0])

    def test_datetime_and_smalldatetime_refuse_moments_outside_their_range(self):
        cursor = self.connect().cursor()
        message = 'The conversion of a %s data type to a %s data type resulted in an out-of-range value.'
        cases = [
            ("CAST('1752-12-31 23:59:59.998' AS datetime)", 'varchar', 'datetime'),
            ("CAST('9999-12-31 23:59:59.999' AS datetime)", 'varchar', 'datetime'),
            ("CAST('1899-12-31 23:59:29.998' AS smalldatetime)", 'varchar', 'smalldatetime'),
            ("CAST('2079-06-06 23:59:29.999' AS smalldatetime)", 'varchar', 'smalldatetime'),
        ]
        for expression, source, target in cases:
            error = self.assertServerError(242, cursor.execute, 'SELECT ' + expression)
            self.assertEqual(message % (source, target), error.text, expression)
        self.assertServerError(242, cursor.execute, 'SELECT CAST(%s AS smalldatetime)', (datetime.datetime(2079, 6, 7),))
        cursor.execute("SELECT CAST('1753-01-01' AS datetime), CAST('9999-12-31 23:59:59.997' AS datetime), "
                       "CAST('1900-01-01' AS smalldatetime), CAST('2079-06-06 23:59' AS smalldatetime)")
        self.assertEqual((datetime.datetime(1753, 1, 1), datetime.datetime(9999, 12, 31, 23, 59, 59, 997000),
                          datetime.datetime(1900, 1, 1), datetime.datetime(2079, 6, 6, 23, 59)),
                         tuple(cursor.fetchone()))

    def test_strings_for_binary_columns_are_refused(self):
        cursor = self.connect().cursor()
        cursor.execute('CREATE TABLE bin_values (id int, v varbinary(10), m varbinary(max), t nvarchar(10))')
        cases = [
            ("INSERT INTO bin_values (id, v) VALUES (1, N'AB')", None, 'nvarchar', 'varbinary'),
            ("INSERT INTO bin_values (id, v) VALUES (1, 'AB')", None, 'varchar', 'varbinary'),
            ("INSERT INTO bin_values (id, m) VALUES (1, N'AB')", None, 'nvarchar', 'varbinary(max)'),
            ("UPDATE bin_values SET v = N'AB'", None, 'nvarchar', 'varbinary'),
            # python-tds declares string parameters as nvarchar(max)
            ('INSERT INTO bin_values (id, v) VALUES (1, %s)', ('AB',), 'nvarchar(max)', 'varbinary'),
            ('UPDATE bin_values SET m = %s WHERE id = 1', ('AB',), 'nvarchar(max)', 'varbinary(max)'),
        ]
        for sql, params, source, target in cases:
            error = self.assertServerError(257, cursor.execute, sql, params)
            self.assertEqual(refusal(source, target), error.text, sql)
            self.assertEqual(16, error.severity, sql)
        cursor.execute('SELECT COUNT(*) FROM bin_values')
        self.assertEqual(0, cursor.fetchone()[0])

        # What SQL Server accepts: binary literals and parameters, explicit
        # conversions, and text for text columns.
        cursor.execute("INSERT INTO bin_values (id, v, m, t) VALUES (2, 0x4142, CONVERT(varbinary(max), 'CD'), N'AB')")
        cursor.execute('INSERT INTO bin_values (id, v) VALUES (3, %s)', (pytds.Binary(b'\x00\x01'),))
        cursor.execute("UPDATE bin_values SET v = CAST('EF' AS varbinary(10)) WHERE id = 3")
        self.assertEqual([(2, b'AB', b'CD', 'AB'), (3, b'EF', None, None)],
                         rows(cursor, 'SELECT id, v, m, t FROM bin_values ORDER BY id'))


if __name__ == '__main__':
    unittest.main()
