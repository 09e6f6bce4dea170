"""SELECT ... INTO: the new table's columns come from the select list with
their declared types, nullability and (where SQL Server keeps it) identity."""
import decimal
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase, last_result  # noqa: E402



class SelectIntoTest(ServerTestCase):
    host = '127.0.0.141'

    setup_sql = ('CREATE TABLE stock (id int IDENTITY(5, 5) PRIMARY KEY, name nvarchar(12) NOT NULL, '
                 'price decimal(10,2), added datetime2(3), code char(3))',
                 "INSERT INTO stock (name, price, added, code) VALUES "
                 "(N'apple', 1.50, '2024-01-02 03:04:05.678', 'APL'), (N'pear', 2.25, NULL, 'PER'), "
                 "(N'leek', NULL, '2023-12-31', NULL)")

    def setUp(self):
        self.cursor = self.connect().cursor()

    def run_sql(self, sql, params=None):
        return last_result(self.cursor, sql, params)

    def columns_of(self, table):
        return self.run_sql(
            "SELECT c.name, t.DATA_TYPE, c.is_identity, c.is_nullable, c.max_length, c.precision, c.scale "
            "FROM sys.columns c JOIN INFORMATION_SCHEMA.COLUMNS t ON t.TABLE_NAME = '%s' "
            "AND t.COLUMN_NAME = c.name WHERE c.object_id = OBJECT_ID('%s') ORDER BY c.column_id" % (table, table))

    def test_the_new_table_takes_names_types_and_identity_from_the_select_list(self):
        self.cursor.execute('SELECT id, name AS label, price, added, code INTO stock_copy FROM stock '
                            'WHERE name <> N\'leek\' ORDER BY id')
        self.assertEqual(2, self.cursor.rowcount)
        self.assertEqual([('id', 'int', True, False, 4, 10, 0), ('label', 'nvarchar', False, False, 24, 0, 0),
                          ('price', 'decimal', False, True, 9, 10, 2), ('added', 'datetime2', False, True, 7, 23, 3),
                          ('code', 'char', False, True, 3, 0, 0)], self.columns_of('stock_copy'))
        self.assertEqual([(5, 'apple', decimal.Decimal('1.50')), (10, 'pear', decimal.Decimal('2.25'))],
                         self.run_sql('SELECT id, label, price FROM stock_copy ORDER BY id'))
        # the identity goes on from the highest value copied, in the source's steps
        self.run_sql("INSERT INTO stock_copy (label) VALUES (N'fig')")
        self.assertEqual([(15,)], self.run_sql("SELECT id FROM stock_copy WHERE label = N'fig'"))
        error = self.assertServerError(2714, self.run_sql, 'SELECT id INTO stock_copy FROM stock')
        self.assertIn("There is already an object named 'stock_copy' in the database.", str(error))

    def test_joins_aggregates_and_expressions_drop_the_identity_property(self):
        self.run_sql('SELECT s.id, s.name INTO joined FROM stock s JOIN stock t ON t.id = s.id')
        self.run_sql('SELECT MAX(id) AS top_id, code INTO grouped FROM stock GROUP BY code')
        self.run_sql('SELECT id, id AS again INTO twice FROM stock')
        self.run_sql('SELECT id * 1 AS scaled INTO computed FROM stock')
        for table in ('joined', 'grouped', 'twice', 'computed'):
            self.assertEqual([], self.run_sql('SELECT name FROM sys.identity_columns WHERE object_id = '
                                              "OBJECT_ID('%s')" % table), table)
        self.assertEqual([('id', 'int', False, False, 4, 10, 0), ('name', 'nvarchar', False, False, 24, 0, 0)],
                         self.columns_of('joined'))
        self.run_sql("SELECT 7 AS seven, 'abc' AS letters, code INTO constants FROM stock")
        self.assertEqual([('seven', 'int', False, False, 4, 10, 0), ('letters', 'varchar', False, False, 3, 0, 0),
                          ('code', 'char', False, True, 3, 0, 0)], self.columns_of('constants'))
        self.assertServerError(1038, self.run_sql, 'SELECT id + 1 INTO unnamed FROM stock')
        self.assertServerError(2705, self.run_sql, 'SELECT id, name AS id INTO doubled FROM stock')

    def test_the_identity_function_numbers_the_rows_of_a_temporary_table(self):
        self.run_sql('SELECT IDENTITY(int, 100, 10) AS number, name INTO #numbered FROM stock '
                     'WHERE price IS NOT NULL ORDER BY name DESC')
        self.assertEqual([(100, 'pear'), (110, 'apple')], self.run_sql('SELECT number, name FROM #numbered '
                                                                     'ORDER BY number'))
        self.assertEqual([(1,)], self.run_sql(
            "SELECT COLUMNPROPERTY(OBJECT_ID('tempdb..#numbered'), 'number', 'IsIdentity')"))
        self.run_sql("INSERT INTO #numbered (name) VALUES (N'plum')")
        self.assertEqual([(120,)], self.run_sql("SELECT number FROM #numbered WHERE name = N'plum'"))
        self.assertServerError(177, self.run_sql, 'SELECT IDENTITY(int) AS n FROM stock')
        self.assertServerError(8108, self.run_sql, 'SELECT id, IDENTITY(int) AS n INTO two_ids FROM stock')
        self.assertServerError(208, self.run_sql, 'SELECT * FROM numbered')
        # parameters filter the rows copied; a parameterised statement's #table ends with it
        self.run_sql('SELECT name INTO cheap FROM stock WHERE price < %s', (decimal.Decimal('2.00'),))
        self.assertEqual([('apple',)], self.run_sql('SELECT name FROM cheap'))

if __name__ == '__main__':
    unittest.main()
