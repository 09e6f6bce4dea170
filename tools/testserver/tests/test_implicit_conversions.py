"""Text is never turned into binary without CONVERT: SQL Server refuses
string values and string parameters for binary columns with error 257."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase  # noqa: E402

import pytds  # noqa: E402


def refusal(source, target):
    return ('Implicit conversion from data type %s to %s is not allowed. Use the CONVERT function to run this '
            'query.' % (source, target))


class ImplicitConversionTest(ServerTestCase):
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
        cursor.execute('SELECT id, v, m, t FROM bin_values ORDER BY id')
        self.assertEqual([(2, b'AB', b'CD', 'AB'), (3, b'EF', None, None)],
                         [tuple(r) for r in cursor.fetchall()])


if __name__ == '__main__':
    unittest.main()
