"""Control of flow (BEGIN ... END, IF ... ELSE, WHILE) and stored procedures
called by EXEC, with SQL Server's errors for calls that do not fit."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase, result_sets  # noqa: E402



class ProcedureTest(ServerTestCase):

    def setUp(self):
        self.cursor = self.connect().cursor()

    def results(self, sql):
        return result_sets(self.cursor, sql)

    def test_blocks_conditions_and_loops(self):
        self.assertEqual([[(1,)], [(2,)]], self.results(
            'IF EXISTS (SELECT 1) BEGIN SELECT 1; SELECT 2 END ELSE SELECT 3'))
        self.assertEqual([[('b',)]], self.results(
            "IF 1 = 0 SELECT 'a'; ELSE BEGIN IF 2 = 2 SELECT 'b' ELSE SELECT 'c' END"))
        self.assertEqual([[(1,)], [(3,)]], self.results(
            'DECLARE @i int = 0; WHILE @i < 5 BEGIN SET @i = @i + 1; IF @i = 2 CONTINUE; '
            'IF @i = 4 BREAK; SELECT @i END'))
        # CASE ... END inside a block does not end the block
        self.assertEqual([[('x',)], [(5,)]], self.results(
            "BEGIN SELECT CASE WHEN 1 = 1 THEN 'x' ELSE 'y' END; SELECT 5 END"))
        self.assertServerError(135, self.results, 'BREAK')
        self.assertServerError(102, self.results, 'BEGIN SELECT 1')

    def test_a_procedure_called_by_rpc_under_a_delimited_name(self):
        self.results("CREATE PROCEDURE rpc_twice @n int AS SELECT @n * 2 AS twice RETURN 0")
        for name in ('rpc_twice', '[rpc_twice]', '"rpc_twice"', 'dbo.[rpc_twice]'):
            self.cursor.callproc(name, (21,))
            self.assertEqual([(42,)], [tuple(row) for row in self.cursor.fetchall()], name)
            while self.cursor.nextset():
                pass

    def test_procedure_parameters_defaults_outputs_and_status(self):
        self.results('CREATE TABLE proc_rows (id int, name varchar(20))')
        self.results("""CREATE PROCEDURE add_row @id int, @name varchar(20) = 'anon', @count int OUTPUT AS
            BEGIN
              SET NOCOUNT ON
              INSERT INTO proc_rows VALUES (@id, @name)
              SELECT @count = COUNT(*) FROM proc_rows
              SELECT id, name FROM proc_rows ORDER BY id
              RETURN @id + 10
            END""")
        sets = self.results('DECLARE @c int, @rc int; EXEC @rc = add_row 1, @count = @c OUTPUT; '
                            "EXEC add_row @name = 'bob', @id = 2, @count = @c OUT; SELECT @c, @rc")
        self.assertEqual([[(1, 'anon')], [(1, 'anon'), (2, 'bob')], [(2, 11)]], sets)
        self.assertEqual([('add_row', 'P ', 'SQL_STORED_PROCEDURE')], self.results(
            "SELECT name, type, type_desc FROM sys.objects WHERE name = 'add_row'")[0])
        self.assertEqual([(1,)], self.results("SELECT COUNT(*) FROM sys.procedures WHERE "
                                              "object_id = OBJECT_ID('add_row', 'P')")[0])
        for sql, number in (('EXEC add_row 1', 201), ("EXEC add_row 1, 'x', 3, 4", 8144),
                            ('EXEC add_row @idx = 1', 8145), ("EXEC add_row @id = 1, 'x'", 119),
                            ("EXEC add_row 1, 'x', 5 OUTPUT", 179), ('DECLARE @v int; EXEC add_row @v OUTPUT, '
                                                                   "'x', @v OUTPUT", 8162),
                            ('EXEC no_such_procedure', 2812), ('SELECT 1; CREATE PROCEDURE p2 AS SELECT 1', 111),
                            ('CREATE PROCEDURE add_row AS SELECT 1', 2714), ('ALTER PROCEDURE nope AS SELECT 1', 208)):
            self.assertServerError(number, self.results, sql)
        self.results('ALTER PROC add_row (@id int) AS SELECT @id * 2 AS doubled')
        self.assertEqual([[(42,)]], self.results('EXEC add_row 21'))
        self.assertEqual([[(44,)]], self.results('add_row 22'))
        self.results('DROP PROCEDURE add_row')
        self.assertServerError(3701, self.results, 'DROP PROCEDURE add_row')
        self.results('DROP PROCEDURE IF EXISTS add_row')

    def test_nested_calls_keep_their_own_variables(self):
        self.results('CREATE PROCEDURE inner_p @x int AS BEGIN DECLARE @y int = @x + 1; SELECT @y END')
        self.results('CREATE PROCEDURE outer_p AS BEGIN DECLARE @y int = 100; EXEC inner_p 1; SELECT @y END')
        self.assertEqual([[(2,)], [(100,)]], self.results('EXEC outer_p'))
        self.results('CREATE PROCEDURE forever AS EXEC forever')
        self.assertServerError(217, self.results, 'EXEC forever')

    def test_dynamic_sql_and_alter_table_drop_column(self):
        self.assertEqual([[('dynamic',)]], self.results("EXEC ('SELECT ''dyn'' + ''amic''')"))
        self.results('CREATE TABLE altered (a int, b int, c int)')
        self.results('ALTER TABLE altered DROP COLUMN b')
        self.assertEqual(['a', 'c'], [r[0] for r in self.results(
            "SELECT name FROM sys.columns WHERE object_id = OBJECT_ID('altered') ORDER BY column_id")[0]])


class DescribeParametersTest(ServerTestCase):
    def test_arguments_of_a_procedure_call_take_its_parameters_types(self):
        cursor = self.connect().cursor()
        cursor.execute('CREATE PROCEDURE described_call @x int OUTPUT, @y date = NULL AS SET @x = 42')
        for text, expected in (('EXEC described_call @P1', [('@P1', 'int')]),
                               ('EXEC @P3 = described_call @y = @P1, @x = @P2 OUTPUT',
                                [('@P3', 'int'), ('@P1', 'date'), ('@P2', 'int')]),
                               ('EXEC no_such_procedure @P1', [('@P1', 'nvarchar(4000)')])):
            cursor.execute('EXEC sp_describe_undeclared_parameters @tsql = %s', (text,))
            self.assertEqual(expected, [(row[1], row[3]) for row in cursor.fetchall()], text)

