"""Decimals of up to 38 digits: kept exactly, compared and ordered as numbers
whatever the other side (literal, parameter, column, expression), and
arithmetic typed and rounded as SQL Server derives it."""
import decimal
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase, result_sets  # noqa: E402


D = decimal.Decimal
# values of which a double keeps only the first 15 to 17 digits
ROWS = [(1, '12345678901234567890.0000000001', '99999999999999999999', '1.50'),
        (2, '12345678901234567890.0000000002', '10', '2.25'),
        (3, '-12345678901234567890.5', '-12345678901234567891', '-3.00'),
        (4, '100.25', '5', '0.10'),
        (5, None, None, None)]


class WideDecimalTest(ServerTestCase):
    host = '127.0.0.142'

    setup_sql = ('CREATE TABLE amounts (id int PRIMARY KEY, wide decimal(38,10), whole numeric(20,0), '
                 'small decimal(10,2))',) + tuple(
        'INSERT INTO amounts VALUES (%s)' % ', '.join('NULL' if v is None else str(v) for v in row) for row in ROWS)

    def setUp(self):
        # pytds builds decimals in the caller's context: 28 digits would round them
        context = decimal.getcontext()
        saved, context.prec = context.prec, 40
        self.addCleanup(setattr, context, 'prec', saved)
        self.cursor = self.connect().cursor()

    def ids(self, condition, params=None, order='id'):
        self.cursor.execute('SELECT id FROM amounts WHERE %s ORDER BY %s' % (condition, order), params)
        return [row[0] for row in self.cursor.fetchall()]

    def one(self, sql, params=None):
        self.cursor.execute(sql, params)
        return tuple(self.cursor.fetchone())

    def test_values_come_back_exactly(self):
        self.cursor.execute('SELECT wide, whole, CAST(wide AS varchar(50)) FROM amounts ORDER BY id')
        rows = self.cursor.fetchall()
        self.assertEqual([D(r[1]).quantize(D('1E-10')) if r[1] else None for r in ROWS], [r[0] for r in rows])
        self.assertEqual([D(r[2]) if r[2] else None for r in ROWS], [r[1] for r in rows])
        self.assertEqual('12345678901234567890.0000000002', rows[1][2])

    def test_comparisons_with_literals_go_by_value(self):
        self.assertEqual([2], self.ids('wide > 12345678901234567890.00000000015'))
        self.assertEqual([1, 3, 4], self.ids('wide < 12345678901234567890.00000000015'))
        self.assertEqual([2], self.ids('wide = 12345678901234567890.0000000002'))
        self.assertEqual([1, 2, 4], self.ids('wide >= 100.25'))
        self.assertEqual([1, 4], self.ids('wide BETWEEN 100 AND 12345678901234567890.0000000001'))
        self.assertEqual([3], self.ids('wide < -12345678901234567890.4'))
        self.assertEqual([3], self.ids('whole < -12345678901234567890'))
        self.assertEqual([1], self.ids('whole > 99999999999999999998'))
        self.assertEqual([2, 4], self.ids('whole IN (5, 10.0)'))
        self.assertEqual([1, 2, 4], self.ids('wide > small * 1000'))
        self.assertEqual([1, 2], self.ids('wide > small * 10000'))
        self.assertEqual([4], self.ids('wide = 100.2500'))

    def test_comparisons_with_parameters_and_variables_go_by_value(self):
        middle = D('12345678901234567890.00000000015')
        self.assertEqual([2], self.ids('wide > %s', (middle,)))
        self.assertEqual([1], self.ids('wide BETWEEN %s AND %s', (D('12345678901234567890'), middle)))
        self.assertEqual([4], self.ids('wide = %s', (D('100.25'),)))
        self.assertEqual([1], self.ids('whole = %s', (D('99999999999999999999'),)))
        self.assertEqual([[(2,)], [(middle,)]], result_sets(
            self.cursor, 'DECLARE @limit decimal(38,11) = 12345678901234567890.00000000015; '
            'SELECT id FROM amounts WHERE @limit < wide; SELECT @limit'))

    def test_ordering_and_extremes_go_by_value(self):
        self.assertEqual([3, 4, 1, 2], self.ids('wide IS NOT NULL', order='wide'))
        self.assertEqual([1, 2, 4, 3], self.ids('whole IS NOT NULL', order='whole DESC'))
        self.assertEqual((D('-12345678901234567890.5000000000'), D('12345678901234567890.0000000002'),
                          D('-12345678901234567891'), D('99999999999999999999')),
                         self.one('SELECT MIN(wide), MAX(wide), MIN(whole), MAX(whole) FROM amounts'))
        self.assertEqual((2,), self.one('SELECT TOP 1 id FROM amounts ORDER BY wide DESC'))

    def test_arithmetic_is_exact_and_typed_as_sql_server_derives_it(self):
        cases = [
            # expression, value, (precision, scale)
            ('wide + wide', D('24691357802469135780.0000000004'), (38, 10)),
            ('wide * 2', D('24691357802469135780.00000000'), (38, 8)),
            ('whole - 1', D('9'), (21, 0)),
            ('small * 3', D('6.75'), (12, 2)),
            ('small / 4', D('0.562500'), (14, 6)),
            ('CAST(1 AS decimal(9,0)) / CAST(2 AS decimal(9,0))', D('0.5000000000'), (19, 10)),
            ('small % 2', D('0.25'), (3, 2)),
            ('(small + 1.005) * 2', D('6.510'), (14, 3)),
        ]
        for expression, value, (precision, scale) in cases:
            self.cursor.execute('SELECT %s FROM amounts WHERE id = 2' % expression)
            self.assertEqual((precision, scale), self.cursor.description[0][4:6], expression)
            self.assertEqual(value, self.cursor.fetchone()[0], expression)
        # a product beyond 38 digits keeps 6 decimals, and overflows where its value needs more
        self.cursor.execute('SELECT wide * wide FROM amounts WHERE id = 4')
        self.assertEqual((38, 6), self.cursor.description[0][4:6])
        self.assertEqual(D('10050.062500'), self.cursor.fetchone()[0])
        self.assertServerError(8115, self.one, 'SELECT wide * wide FROM amounts WHERE id = 2')
        self.assertServerError(8134, self.one, 'SELECT small / 0 FROM amounts WHERE id = 2')
        self.assertEqual((D('2.50'),), self.one('SELECT 1.25 * 2'))

    def test_sums_and_averages_are_exact(self):
        self.cursor.execute('SELECT SUM(wide), AVG(small), SUM(DISTINCT whole) FROM amounts WHERE id IN (1, 2)')
        self.assertEqual([(38, 10), (38, 6), (38, 0)], [column[4:6] for column in self.cursor.description])
        self.assertEqual((D('24691357802469135780.0000000003'), D('1.875000'), D('100000000000000000009')),
                         tuple(self.cursor.fetchone()))
        self.assertEqual((None,), self.one('SELECT SUM(wide) FROM amounts WHERE id > 100'))
        self.assertEqual((2,), self.one('SELECT COUNT(*) FROM amounts GROUP BY CASE WHEN id < 3 THEN 1 ELSE 2 END '
                                        'HAVING SUM(wide) > 24691357802469135780.00000000025'))
        self.cursor.execute('SELECT id, SUM(wide) OVER (ORDER BY id) FROM amounts WHERE id < 3 ORDER BY id')
        self.assertEqual([(1, '12345678901234567890.0000000001'), (2, '24691357802469135780.0000000003')],
                         [(r[0], str(D(r[1]))) for r in self.cursor.fetchall()])

    def test_updates_and_deletes_compute_exactly(self):
        self.cursor.execute('CREATE TABLE ledger (id int, total decimal(38,10))')
        self.cursor.execute('INSERT INTO ledger VALUES (1, 12345678901234567890.1), (2, 1)')
        # total * 2 would keep 8 decimals (38 digits at most); total + total keeps all 10
        self.cursor.execute('UPDATE ledger SET total = total + total + 0.0000000001 WHERE id = 1')
        self.assertEqual(('24691357802469135780.2000000001',),
                         self.one('SELECT CAST(total AS varchar(50)) FROM ledger WHERE id = 1'))
        self.cursor.execute('DELETE FROM ledger WHERE total - 0.2000000001 = 24691357802469135780')
        self.assertEqual(1, self.cursor.rowcount)
        self.assertEqual((2,), self.one('SELECT id FROM ledger'))

if __name__ == '__main__':
    unittest.main()
