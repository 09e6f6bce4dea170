"""The T-SQL subset on SQLite: statements, identities, errors with SQL
Server's numbers, views and the catalogue views."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase, result_sets, rows  # noqa: E402

import pytds  # noqa: E402


class TSqlTest(ServerTestCase):
    def setUp(self):
        self.cursor = self.connect().cursor()

    def run_sql(self, sql, params=None):
        self.cursor.execute(sql, params)
        return [tuple(r) for r in self.cursor.fetchall()] if self.cursor.description else None

    def error_of(self, sql):
        with self.assertRaises(pytds.Error) as caught:
            result_sets(self.cursor, sql)
        return caught.exception

    def test_identity_seed_step_and_last_values(self):
        self.run_sql('CREATE TABLE ident (id bigint IDENTITY(100, 5) NOT NULL PRIMARY KEY, v nvarchar(5))')
        self.run_sql("INSERT INTO ident (v) VALUES ('a'), ('b')")
        self.assertEqual([(1, 2)], self.run_sql('SELECT 1, @@ROWCOUNT'))
        self.run_sql("INSERT INTO ident (v) SELECT v FROM ident")
        self.assertEqual([(100, 'a'), (105, 'b'), (110, 'a'), (115, 'b')],
                         self.run_sql('SELECT id, v FROM ident ORDER BY id'))
        self.assertEqual(115, self.run_sql('SELECT  @@IDENTITY  AS LASTID ')[0][0])
        self.assertEqual(115, self.run_sql('SELECT SCOPE_IDENTITY()')[0][0])
        self.assertEqual(115, self.run_sql("SELECT IDENT_CURRENT('ident')")[0][0])
        self.assertEqual(544, self.error_of("INSERT INTO ident (id, v) VALUES (1, 'x')").msg_no)
        self.run_sql('SET IDENTITY_INSERT ident ON')
        self.run_sql("INSERT INTO ident (id, v) VALUES (500, 'x')")
        self.run_sql('SET IDENTITY_INSERT ident OFF')
        self.run_sql("INSERT INTO ident (v) VALUES ('y')")
        self.assertEqual([(505,)], self.run_sql("SELECT id FROM ident WHERE v = 'y'"))
        self.assertEqual(8102, self.error_of('UPDATE ident SET id = 1').msg_no)

    def test_identity_is_per_session(self):
        self.run_sql('CREATE TABLE ident2 (id int IDENTITY PRIMARY KEY, v int)')
        other = self.connect().cursor()
        self.run_sql('INSERT INTO ident2 (v) VALUES (1)')
        other.execute('INSERT INTO ident2 (v) VALUES (2)')
        other.execute('SELECT @@IDENTITY')
        self.assertEqual(2, other.fetchone()[0])
        self.assertEqual(1, self.run_sql('SELECT @@IDENTITY')[0][0])

    def test_common_table_expressions_and_unions(self):
        rows = self.run_sql("WITH c (n) AS (SELECT 1 UNION ALL SELECT 2), d AS (SELECT n * 10 AS m FROM c) "
                            "SELECT m FROM d ORDER BY m DESC")
        self.assertEqual([(20,), (10,)], rows)
        self.assertEqual([('a',), ('b',)], self.run_sql("SELECT 'a' AS x UNION SELECT 'b' UNION SELECT 'a' ORDER BY x"))

    def test_queries(self):
        self.run_sql('CREATE TABLE [dbo].[Order Lines] ([id] int PRIMARY KEY, "product" nvarchar(20) NOT NULL, '
                     'qty int NOT NULL DEFAULT 1, price decimal(10,2))')
        self.run_sql("CREATE TABLE dbo.products (name nvarchar(20) PRIMARY KEY, category varchar(10))")
        self.run_sql("INSERT INTO products VALUES (N'apple', 'fruit'), (N'pear', 'fruit'), (N'leek', 'veg')")
        self.run_sql("INSERT INTO [Order Lines] (id, product, price) VALUES (1, N'apple', 0.5)")
        self.run_sql("INSERT INTO [Order Lines] VALUES (2, N'Pear', 3, 0.75), (3, N'leek', 2, 1.20), "
                     "(4, N'apple', 10, 0.45)")
        self.assertEqual([('qty', '((1))', 'NO'), ('price', None, 'YES')], self.run_sql(
            "SELECT COLUMN_NAME, COLUMN_DEFAULT, IS_NULLABLE FROM INFORMATION_SCHEMA.COLUMNS "
            "WHERE TABLE_NAME = 'Order Lines' AND ORDINAL_POSITION > 2 ORDER BY ORDINAL_POSITION"))
        rows = self.run_sql('SELECT TOP 2 id, qty FROM dbo.[Order Lines] ORDER BY qty DESC, id')
        self.assertEqual([(4, 10), (2, 3)], rows)
        rows = self.run_sql('SELECT p.category, SUM(o.qty) AS total, COUNT(*) AS lines, MAX(o.price) AS top '
                            'FROM [Order Lines] o INNER JOIN products p ON p.name = o.product '
                            'GROUP BY p.category HAVING SUM(o.qty) > 1 ORDER BY p.category')
        self.assertEqual([('fruit', 14, 3), ('veg', 2, 1)], [tuple(r[:3]) for r in rows])
        # string comparison is case-insensitive and ignores trailing blanks, as the default collation does
        self.assertEqual(1, self.run_sql("SELECT COUNT(*) FROM products WHERE name = 'PEAR  '")[0][0])
        rows = self.run_sql("SELECT UPPER(name) + N'!' AS shout, LEN(name + '  '), SUBSTRING(name, 2, 2), "
                            "ISNULL(NULL, 7), CHARINDEX('e', name), 7 / 2, 7 % 3, -7 / 2 "
                            "FROM products WHERE name LIKE 'l%'")
        self.assertEqual([('LEEK!', 4, 'ee', 7, 2, 3, 1, -3)], rows)
        self.assertEqual('shout', self.cursor.description[0][0])
        rows = self.run_sql("SELECT o.id FROM [Order Lines] AS o WHERE o.product IN "
                            "(SELECT TOP 1 name FROM products ORDER BY name) ORDER BY o.id")
        self.assertEqual([(1,), (4,)], rows)
        self.assertEqual([(2,), (3,)],
                         self.run_sql("SELECT id FROM [Order Lines] ORDER BY id OFFSET 1 ROWS FETCH NEXT 2 ROWS ONLY"))
        self.run_sql("UPDATE [Order Lines] SET qty = qty + 1, price = price * 2 WHERE product = N'apple'")
        self.assertEqual(2, self.cursor.rowcount)
        self.run_sql("DELETE [Order Lines] WHERE qty > 5")
        self.assertEqual(1, self.cursor.rowcount)
        self.assertEqual([(1, 2, 1.0)], [(r[0], r[1], float(r[2])) for r in self.run_sql(
            "SELECT id, qty, price FROM [Order Lines] WHERE product = 'apple'")])

    def test_qualified_column_names_in_every_quoting(self):
        self.run_sql("CREATE TABLE qn_item (id int PRIMARY KEY, name nvarchar(10), kind int)")
        self.run_sql("CREATE TABLE qn_kind (id int PRIMARY KEY, name nvarchar(10))")
        self.run_sql("INSERT INTO qn_item VALUES (1, N'bolt', 5)")
        self.run_sql("INSERT INTO qn_kind VALUES (5, N'metal')")
        # Each names the column, which gives the result column its name; a
        # quoted name after the column is an alias.
        for sql, name in (('SELECT qn_item."id" FROM qn_item', 'id'),
                          ('SELECT qn_item.[id] FROM qn_item', 'id'),
                          ('SELECT "qn_item"."id" FROM qn_item', 'id'),
                          ('SELECT [qn_item].[id] FROM "qn_item"', 'id'),
                          ('SELECT dbo.qn_item.id FROM qn_item', 'id'),
                          ('SELECT dbo."qn_item"."id" FROM dbo.qn_item', 'id'),
                          ('SELECT i."id" FROM qn_item i', 'id'),
                          ('SELECT qn_item."id" "other" FROM qn_item', 'other'),
                          ('SELECT id "other" FROM qn_item', 'other')):
            self.assertEqual([(1,)], self.run_sql(sql), sql)
            self.assertEqual(name, self.cursor.description[0][0], sql)
        # As QSqlRelationalTableModel asks for a row with its related name.
        self.assertEqual([(1, 'bolt', 'metal')], self.run_sql(
            'SELECT "qn_item"."id","qn_item"."name",relTblAl_2."name" AS kind_name_2 FROM "qn_item" '
            'LEFT OUTER JOIN "qn_kind" relTblAl_2 ON "qn_item"."kind"=relTblAl_2."id" ORDER BY "qn_item"."id" ASC'))
        self.assertEqual(['id', 'name', 'kind_name_2'], [d[0] for d in self.cursor.description])

    def test_several_statements_and_result_sets_in_one_batch(self):
        self.cursor.execute("CREATE TABLE multi (a int); INSERT INTO multi VALUES (1) INSERT INTO multi VALUES (2) "
                            "SELECT a FROM multi ORDER BY a; SELECT COUNT(*) AS n FROM multi")
        counts = []
        while self.cursor.description is None:
            counts.append(self.cursor.rowcount)
            self.assertTrue(self.cursor.nextset())
        self.assertEqual([1, 1], counts)
        self.assertEqual([(1,), (2,)], [tuple(r) for r in self.cursor.fetchall()])
        self.assertTrue(self.cursor.nextset())
        self.assertEqual([(2,)], [tuple(r) for r in self.cursor.fetchall()])
        self.assertFalse(self.cursor.nextset())

    def test_a_failed_statement_aborts_only_itself(self):
        self.run_sql('CREATE TABLE keyed (k int PRIMARY KEY, v nvarchar(10) NOT NULL)')
        error = self.error_of("INSERT INTO keyed VALUES (1, 'a'); INSERT INTO keyed VALUES (1, 'dup'), (2, 'b'); "
                              "INSERT INTO keyed VALUES (3, 'c')")
        self.assertEqual(2627, error.msg_no)
        self.assertRegex(error.text, r"^Violation of PRIMARY KEY constraint 'PK__keyed__[0-9A-F]{16}'\. Cannot "
                                     r"insert duplicate key in object 'dbo\.keyed'\. The duplicate key value is "
                                     r"\(1\)\.$")
        self.assertEqual(1, error.line)
        error = self.error_of("SELECT 1\nSELECT 2\n\nSELECT 3 / 0")
        self.assertEqual((8134, 4), (error.msg_no, error.line))
        # the multi-row insert left nothing behind; the statements around it ran
        self.assertEqual([(1,), (3,)], self.run_sql('SELECT k FROM keyed ORDER BY k'))

    def test_errors_carry_sql_server_numbers(self):
        self.run_sql('CREATE TABLE errs (k int PRIMARY KEY, v nvarchar(3) NOT NULL, CONSTRAINT uq_errs UNIQUE (v))')
        self.run_sql("INSERT INTO errs VALUES (1, 'a')")
        cases = [
            ('SELECT * FROM missing_table', 208, "Invalid object name 'missing_table'."),
            ('SELECT * FROM dbo.missing_table', 208, "Invalid object name 'dbo.missing_table'."),
            ('SELECT nope FROM errs', 207, "Invalid column name 'nope'."),
            ('SELECT * FROM errs WHERE', 102, None),
            ('SELECT k FROM errs ORDER BY', 102, None),
            ("INSERT INTO errs VALUES (2, 'a')", 2627, "Violation of UNIQUE KEY constraint 'uq_errs'. Cannot "
             "insert duplicate key in object 'dbo.errs'. The duplicate key value is (a)."),
            ('INSERT INTO errs (k) VALUES (3)', 515, "Cannot insert the value NULL into column 'v', table "
             "'testdb.dbo.errs'; column does not allow nulls. INSERT fails."),
            ("UPDATE errs SET v = NULL", 515, None),
            ("INSERT INTO errs VALUES ('x1', 'b')", 245, "Conversion failed when converting the varchar value "
             "'x1' to data type int."),
            ("SELECT CAST('abc' AS int)", 245, None),
            ('SELECT k / 0 FROM errs', 8134, 'Divide by zero error encountered.'),
            ('SELECT 1 % 0', 8134, None),
            ('CREATE TABLE errs (x int)', 2714, "There is already an object named 'errs' in the database."),
            ('DROP TABLE not_there', 3701, "Cannot drop the table 'not_there', because it does not exist or you "
             "do not have permission."),
            ("INSERT INTO errs VALUES (4, 'toolong')", 8152, 'String or binary data would be truncated.'),
            ('INSERT INTO errs VALUES (5)', 109, None),
            ('SELECT NO_SUCH_FUNCTION(1)', 195, None),
            ('EXEC sp_no_such_procedure', 2812, "Could not find stored procedure 'sp_no_such_procedure'."),
            ('COMMIT', 3902, None),
            ('SELECT @undeclared', 137, 'Must declare the scalar variable "@undeclared".'),
        ]
        for sql, number, text in cases:
            error = self.error_of(sql)
            self.assertEqual(number, error.msg_no, sql)
            if text:
                self.assertEqual(text, error.text, sql)
            self.assertGreaterEqual(error.severity, 11, sql)
        self.assertEqual([(1, 'a')], self.run_sql('SELECT * FROM errs'))

    def test_unsupported_sql_fails_clearly(self):
        for sql in ('SELECT name FROM sys.tables FOR XML AUTO', 'CREATE TRIGGER tr ON t AFTER INSERT AS SELECT 1',
                    'SELECT * FROM otherdb.dbo.t', 'SELECT * FROM sys.no_such_view'):
            error = self.error_of(sql)
            self.assertIn(error.msg_no, (208, 40517), sql)
            self.assertGreaterEqual(error.severity, 11, sql)
        self.assertEqual([(1,)], self.run_sql('SELECT 1'))

    def test_malformed_statements_fail_cleanly(self):
        for sql in ('SELECT', 'INSERT INTO', 'DELETE', 'UPDATE', 'CREATE TABLE x (', 'CREATE TABLE x ()',
                    'SELECT ((1)', 'SELECT 1)', 'DECLARE @x', 'SELECT CONVERT(int)', 'CREATE VIEW v AS', 'SELECT -',
                    "SELECT 'open", 'SELECT [open', 'SELECT /* open', 'SELECT ISNULL()', 'SELECT 1 UNION SELECT',
                    'CREATE INDEX i ON', 'EXEC', 'SELECT CAST(9223372036854775807 AS bigint) + 1', 'IF 1=1'):
            error = self.error_of(sql)
            self.assertNotEqual(50000, error.msg_no, '%s: %s' % (sql, error.text))
            self.assertGreaterEqual(error.severity, 11, sql)
        self.assertEqual([(1,)], self.run_sql('SELECT 1'))
        self.assertNotIn('Traceback', self.server.stderr_text())

    def test_views_keep_declared_types(self):
        self.run_sql('CREATE TABLE vbase (id int PRIMARY KEY, amount decimal(12,3), at datetime2(2))')
        self.run_sql("INSERT INTO vbase VALUES (1, 1.5, '2020-01-01 10:00:00.129')")
        self.run_sql('CREATE VIEW vv AS SELECT id AS ident, amount, at FROM vbase WHERE id > 0')
        rows = self.run_sql('SELECT * FROM vv')
        self.assertEqual(1.5, rows[0][1])
        self.assertEqual((12, 3), self.cursor.description[1][4:6])
        self.assertEqual(130000, rows[0][2].microsecond)
        self.assertEqual(['ident', 'amount', 'at'], [d[0] for d in self.cursor.description])
        self.assertIn(('vv',), self.run_sql('SELECT name FROM sys.VIEWS'))
        self.assertNotIn(('vv',), self.run_sql('SELECT name FROM sys.tables'))
        self.assertEqual([('decimal', 12, 3)], self.run_sql(
            "SELECT DATA_TYPE, NUMERIC_PRECISION, NUMERIC_SCALE FROM INFORMATION_SCHEMA.COLUMNS "
            "WHERE TABLE_NAME = 'vv' AND COLUMN_NAME = 'amount'"))
        self.run_sql('DROP VIEW vv')
        self.assertEqual(208, self.error_of('SELECT * FROM vv').msg_no)

    def test_transactions_in_sql(self):
        self.run_sql('CREATE TABLE tx (v int)')
        self.run_sql('BEGIN TRANSACTION')
        self.run_sql('INSERT INTO tx VALUES (1)')
        self.assertEqual(1, self.run_sql('SELECT @@TRANCOUNT')[0][0])
        other = self.connect().cursor()
        self.assertEqual([(0,)], rows(other, 'SELECT COUNT(*) FROM tx'))       # uncommitted rows stay private
        self.run_sql('ROLLBACK')
        self.assertEqual(0, self.run_sql('SELECT COUNT(*) FROM tx')[0][0])
        self.run_sql('BEGIN TRAN; INSERT INTO tx VALUES (2); SAVE TRAN sp1; INSERT INTO tx VALUES (3); '
                     'ROLLBACK TRAN sp1; COMMIT')
        self.assertEqual([(2,)], rows(other, 'SELECT v FROM tx'))
        # an error inside a transaction undoes its own statement only
        self.run_sql('CREATE TABLE txkeys (k int PRIMARY KEY)')
        self.run_sql('BEGIN TRAN')
        self.run_sql('INSERT INTO txkeys VALUES (1)')
        self.assertEqual(2627, self.error_of('INSERT INTO txkeys VALUES (2), (1)').msg_no)
        self.assertEqual(1, self.run_sql('SELECT @@TRANCOUNT')[0][0])
        self.run_sql('COMMIT TRANSACTION')
        self.assertEqual([(1,)], rows(other, 'SELECT k FROM txkeys'))

    def test_variables_and_conditions(self):
        self.assertEqual([(5, 'xy')], self.run_sql("DECLARE @n int = 4, @s nvarchar(10); SET @s = N'x'; SET @n += 1; "
                                                   "IF @n > 4 SELECT @n AS n, @s + N'y' AS s"))
        self.assertEqual([('no',)], self.run_sql(
            "IF EXISTS (SELECT 1 FROM sys.tables WHERE name = 'maybe') SELECT 'yes' ELSE SELECT 'no'"))
        self.run_sql("IF OBJECT_ID('maybe') IS NOT NULL DROP TABLE maybe")
        self.run_sql('CREATE TABLE maybe (x int)')
        self.assertEqual([('yes',)], self.run_sql(
            "IF EXISTS (SELECT 1 FROM sys.tables WHERE name = 'maybe') SELECT 'yes' ELSE SELECT 'no'"))
        self.run_sql("IF OBJECT_ID('maybe') IS NULL INSERT INTO maybe VALUES (1) ELSE INSERT INTO maybe VALUES (2) "
                     "INSERT INTO maybe VALUES (3)")
        self.assertEqual([(2,), (3,)], self.run_sql('SELECT x FROM maybe ORDER BY x'))
        self.run_sql("IF OBJECT_ID('maybe') IS NOT NULL DROP TABLE maybe")
        self.assertEqual([(None,)], self.run_sql("SELECT OBJECT_ID('maybe')"))

    def test_dates_compare_with_literals_and_parameters(self):
        import datetime
        self.run_sql('CREATE TABLE events (id int PRIMARY KEY, at datetime, day date, t time(0))')
        self.run_sql("INSERT INTO events VALUES (1, '2024-01-02', '2024-01-02', '10:00'), "
                     "(2, '20240102 13:30', '2024-01-03', '23:59:59')")
        self.run_sql('INSERT INTO events VALUES (3, %s, %s, %s)',
                     (datetime.datetime(2024, 1, 2), datetime.date(2024, 1, 4), datetime.time(8, 0)))
        self.assertEqual([(1,), (3,)], self.run_sql("SELECT id FROM events WHERE at = '2024-01-02' ORDER BY id"))
        self.assertEqual([(2,)], self.run_sql(
            "SELECT id FROM events WHERE at > '2024-01-02 12:00' AND day < %s", (datetime.date(2024, 1, 4),)))
        self.assertEqual([(2,), (1,), (3,)], self.run_sql('SELECT id FROM events ORDER BY t DESC'))
        rows = self.run_sql("SELECT id, DATEPART(hour, at), DATEDIFF(minute, '2024-01-02', at), "
                            "YEAR(DATEADD(month, 11, day)) FROM events ORDER BY id")
        self.assertEqual([(1, 0, 0, 2024), (2, 13, 810, 2024), (3, 0, 0, 2024)], rows)
        rows = self.run_sql("SELECT DATEADD(day, 1, day) AS next_day FROM events WHERE id = 3")
        self.assertEqual('2024-01-05', str(rows[0][0])[:10])

    def test_output_parameters_of_sp_executesql(self):
        self.run_sql('CREATE TABLE outs (v int)')
        self.run_sql('INSERT INTO outs VALUES (4), (9)')
        self.cursor.execute("DECLARE @top int; EXEC sp_executesql N'SELECT @o = MAX(v) FROM outs WHERE v < @below', "
                            "N'@below int, @o int OUTPUT', @below = 10, @o = @top OUTPUT; SELECT @top AS result")
        while self.cursor.description is None:
            self.assertTrue(self.cursor.nextset())
        self.assertEqual([(9,)], [tuple(r) for r in self.cursor.fetchall()])
        result = self.cursor.callproc('sp_executesql', ('SELECT @n = COUNT(*) FROM outs', '@n int OUTPUT',
                                                        pytds.output(param_type='int')))
        self.assertEqual(2, result[2])

    def test_version_and_server_values(self):
        version, trancount, rowcount = self.run_sql('SELECT @@VERSION, @@TRANCOUNT, @@ROWCOUNT')[0]
        self.assertTrue(version.startswith('Microsoft SQL Server'))
        self.assertEqual((0, 0), (trancount, rowcount))


if __name__ == '__main__':
    unittest.main()
