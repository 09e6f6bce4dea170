"""Schemas: same-named tables of different schemas stay apart, unqualified
names mean dbo, and a schema must exist before tables are made in it."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase, rows  # noqa: E402


class SchemaTest(ServerTestCase):
    def test_same_named_tables_of_two_schemas_stay_apart(self):
        cursor = self.connect().cursor()
        cursor.execute('CREATE TABLE t1 (a int)')
        cursor.execute('INSERT INTO t1 VALUES (1)')
        self.assertServerError(2760, cursor.execute, 'CREATE TABLE Sales.t1 (b int)')
        cursor.execute('CREATE SCHEMA Sales')
        self.assertServerError(2714, cursor.execute, 'CREATE SCHEMA sales')
        # dropping what does not exist leaves dbo's table alone
        cursor.execute('DROP TABLE IF EXISTS Sales.t1')
        self.assertEqual([(1,)], rows(cursor, 'SELECT a FROM dbo.t1'))

        cursor.execute('CREATE TABLE Sales.t1 (b int PRIMARY KEY, note nvarchar(10))')
        cursor.execute("INSERT INTO Sales.t1 VALUES (2, N'sales')")
        self.assertEqual([(2, 'sales')], rows(cursor, 'SELECT t1.b, note FROM Sales.t1 WHERE Sales.t1.b = 2'))
        self.assertEqual([(1,)], rows(cursor, 'SELECT * FROM t1'), 'an unqualified name means dbo')
        self.assertEqual([(1, 2)], rows(cursor, 'SELECT d.a, s.b FROM dbo.t1 d JOIN Sales.t1 AS s ON s.b > d.a'))
        cursor.execute('UPDATE Sales.t1 SET b = 3')
        self.assertEqual([(3,)], rows(cursor, 'SELECT b FROM sales.T1'), 'schema names ignore case')

        sales = rows(cursor, "SELECT schema_id FROM sys.schemas WHERE name = 'Sales'")[0][0]
        self.assertGreater(sales, 4, 'user schemas come after the built-in ones')
        self.assertEqual([('dbo', 1), ('Sales', sales)], rows(
            cursor, "SELECT s.name, t.schema_id FROM sys.tables t JOIN sys.schemas s "
            "ON s.schema_id = t.schema_id WHERE t.name = 't1' ORDER BY t.schema_id"))
        self.assertEqual([('dbo',), ('Sales',)], rows(
            cursor, "SELECT TABLE_SCHEMA FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME = 't1' ORDER BY TABLE_SCHEMA"))
        self.assertEqual([('a', 'dbo'), ('b', 'Sales'), ('note', 'Sales')], rows(
            cursor, "SELECT COLUMN_NAME, TABLE_SCHEMA FROM INFORMATION_SCHEMA.COLUMNS "
            "WHERE TABLE_NAME = 't1' ORDER BY TABLE_SCHEMA, ORDINAL_POSITION"))
        self.assertEqual([(0, 1, None, 'Sales', sales)], rows(
            cursor, "SELECT OBJECT_ID('t1') - OBJECT_ID('dbo.t1'), "
            "CASE WHEN OBJECT_ID('Sales.t1') <> OBJECT_ID('t1') THEN 1 END, "
            "OBJECT_ID('Nowhere.t1'), SCHEMA_NAME(%d), SCHEMA_ID('sales')" % sales))

        self.assertServerError(3729, cursor.execute, 'DROP SCHEMA Sales')
        cursor.execute('DROP TABLE Sales.t1')
        self.assertEqual([(1,)], rows(cursor, 'SELECT a FROM t1'), "dropping Sales.t1 leaves dbo.t1")
        cursor.execute('DROP SCHEMA Sales')
        self.assertEqual([(0,)], rows(cursor, "SELECT COUNT(*) FROM sys.schemas WHERE name = 'Sales'"))
        cursor.execute('DROP TABLE t1')

    def test_unknown_schema_is_an_invalid_object_name(self):
        cursor = self.connect().cursor()
        cursor.execute('CREATE SCHEMA Shop')
        cursor.execute('CREATE TABLE Shop.Orders (id int)')
        error = self.assertServerError(208, cursor.execute, 'SELECT * FROM [Nowhere].[Orders] WHERE 1=0')
        self.assertEqual("Invalid object name 'Nowhere.Orders'.", error.text)
        self.assertServerError(208, cursor.execute, 'SELECT * FROM Orders')
        cursor.execute('SELECT * FROM [Shop].[Orders] WHERE 1=0')
        self.assertEqual(['id'], [d[0] for d in cursor.description])

    def test_primary_keys_of_same_named_tables_are_all_found(self):
        cursor = self.connect().cursor()
        cursor.execute('CREATE SCHEMA Archive')
        cursor.execute('CREATE TABLE keyed (k1 int PRIMARY KEY)')
        cursor.execute('CREATE TABLE Archive.keyed (k2 int PRIMARY KEY, IDENTITY_COL int IDENTITY)')
        cursor.execute("SELECT  COLUMN_NAME from INFORMATION_SCHEMA.TABLE_CONSTRAINTS AS K \t\t\t\t\t\t\t\t"
                       "INNER JOIN INFORMATION_SCHEMA.CONSTRAINT_COLUMN_USAGE AS C ON K.CONSTRAINT_NAME = "
                       "C.CONSTRAINT_NAME\t\t\t\t\t\t\t\tWHERE K.TABLE_NAME = 'keyed'  and "
                       "K.CONSTRAINT_TYPE='PRIMARY KEY' ")
        self.assertEqual(['k1', 'k2'], sorted(r[0] for r in rows(cursor)))
        for column, value in (('k1', 0), ('k2', None)):    # the unqualified name is the dbo table
            self.assertEqual([(value,)], rows(cursor, "SELECT COLUMNPROPERTY( OBJECT_ID('keyed'),'%s','IsIdentity')AS "
                                                      "'IsIdentity'" % column), column)

    def test_catalogue_procedures_ignore_a_terminating_nul_in_names(self):
        cursor = self.connect().cursor()
        cursor.execute('CREATE TABLE nul_keyed (k int PRIMARY KEY, v int)')
        cursor.callproc('sp_pkeys', ('nul_keyed\x00',))
        self.assertEqual(['k'], [r[3] for r in rows(cursor)])
        cursor.callproc('sp_columns', ('nul_keyed\x00',))
        self.assertEqual(['k', 'v'], [r[3] for r in rows(cursor)])


if __name__ == '__main__':
    unittest.main()
