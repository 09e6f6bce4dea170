"""Local temporary tables: private to their session, usable wherever a
table is, dropped with their session or with the scope that made them."""
import functools
import glob
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase, last_result, pytds_connect  # noqa: E402


class TemporaryTableTest(ServerTestCase):
    host = '127.0.0.140'

    def session(self):
        """Runs a batch on a session of its own: the rows of its last result set, or None."""
        return functools.partial(last_result, self.connect().cursor())

    def test_a_temporary_table_belongs_to_the_session_that_made_it(self):
        first, second = self.session(), self.session()
        first('CREATE TABLE shared_name (v int)')
        first('CREATE TABLE #work (id int PRIMARY KEY, name nvarchar(10))')
        first("INSERT INTO #work VALUES (1, N'one'), (2, N'two')")
        self.assertEqual([(2,)], first('SELECT COUNT(*) FROM #work'))
        self.assertServerError(208, second, 'SELECT * FROM #work')
        self.assertEqual([(None,)], second("SELECT OBJECT_ID('tempdb..#work')"))
        # the other session makes a table of the same name and shape of its own
        second('CREATE TABLE #work (code varchar(3))')
        second("INSERT INTO #work VALUES ('x')")
        self.assertEqual([('x',)], second('SELECT * FROM #work'))
        self.assertEqual([(1, 'one'), (2, 'two')], first('SELECT id, name FROM #work ORDER BY id'))
        # found through tempdb only, never listed by the user database's catalogue
        object_id = first("SELECT OBJECT_ID('tempdb..#work'), OBJECT_ID('tempdb.dbo.#work', 'U'), "
                          "OBJECT_ID('#work')")[0]
        self.assertLess(object_id[0], 0)
        self.assertEqual((object_id[0], None), object_id[1:])
        self.assertNotEqual(object_id[0], second("SELECT OBJECT_ID('tempdb..#work')")[0][0])
        self.assertEqual([], first("SELECT name FROM sys.tables WHERE name LIKE '#%'"))
        self.assertEqual([], first("SELECT TABLE_NAME FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME LIKE '#%'"))
        listed = [row[2] for row in first("EXEC sp_tables @table_type = '''TABLE'''")]
        self.assertIn('shared_name', listed)
        self.assertEqual([], [name for name in listed if name.startswith('#')])
        self.assertEqual([], first("EXEC sp_columns '#work'"))

    def test_every_statement_reaches_a_temporary_table(self):
        run = self.session()
        run('CREATE TABLE products (id int PRIMARY KEY, name nvarchar(20))')
        run("INSERT INTO products VALUES (1, N'apple'), (2, N'pear'), (3, N'leek')")
        run('CREATE TABLE #orders (id int IDENTITY(10, 10) PRIMARY KEY, product int NOT NULL, qty int)')
        run('INSERT INTO #orders (product, qty) VALUES (1, 5), (3, 1)')
        run('INSERT INTO #orders (product, qty) SELECT id, 2 FROM products WHERE id = 2')
        self.assertEqual([(30,)], run('SELECT SCOPE_IDENTITY()'))
        self.assertEqual([(1,)], run("SELECT COLUMNPROPERTY(OBJECT_ID('tempdb..#orders'), 'id', 'IsIdentity')"))
        run('UPDATE #orders SET qty = qty + 1 WHERE product = 3')
        run('DELETE FROM #orders WHERE id = 30')
        self.assertEqual([('apple', 5), ('leek', 2)], run(
            'SELECT p.name, o.qty FROM #orders AS o JOIN products p ON p.id = o.product ORDER BY p.name'))
        self.assertEqual([(10, 'apple')], run(
            'SELECT #orders.id, products.name FROM #orders, products WHERE #orders.product = products.id '
            'AND #orders.qty > 4'))
        error = self.assertServerError(2627, run, 'SET IDENTITY_INSERT #orders ON; '
                                       'INSERT INTO #orders (id, product) VALUES (10, 1)')
        self.assertIn("'dbo.#orders'", str(error))
        self.assertServerError(515, run, 'INSERT INTO #orders (product) VALUES (NULL)')
        run('SET IDENTITY_INSERT #orders OFF')
        run('ALTER TABLE #orders ADD note varchar(10)')
        run('CREATE INDEX by_product ON #orders (product)')
        run("INSERT INTO #orders (product, qty, note) VALUES (2, 9, 'late')")
        self.assertEqual([(40, 'late')], run('SELECT id, note FROM #orders WHERE note IS NOT NULL'))
        self.assertServerError(2714, run, 'CREATE TABLE #orders (x int)')
        self.assertServerError(4508, run, 'CREATE VIEW v_orders AS SELECT * FROM #orders')
        run('TRUNCATE TABLE #orders')
        self.assertEqual([(0,)], run('SELECT COUNT(*) FROM #orders'))
        run('DROP TABLE #orders')
        self.assertServerError(208, run, 'SELECT * FROM #orders')
        # the idioms of scripts that run more than once
        for _ in range(2):
            run("IF OBJECT_ID('tempdb..#again') IS NOT NULL DROP TABLE #again; "
                "CREATE TABLE #again (v int); INSERT INTO #again VALUES (1)")
            self.assertEqual([(1,)], run('SELECT COUNT(*) FROM #again'))
        run('DROP TABLE IF EXISTS #again')
        run('DROP TABLE IF EXISTS #again')
        self.assertServerError(3701, run, 'DROP TABLE #again')

    def test_a_table_made_again_answers_with_its_new_columns(self):
        cursor = self.connect().cursor()
        for declaration, value, tds_type in (('v int', '1', 56), ('v nvarchar(5)', "N'x'", 231),
                                             ('v int', '2', 56)):
            cursor.execute("IF OBJECT_ID('tempdb..#shape') IS NOT NULL DROP TABLE #shape; "
                           'CREATE TABLE #shape (%s); INSERT INTO #shape VALUES (%s)' % (declaration, value))
            cursor.execute('SELECT v FROM #shape')
            self.assertEqual(tds_type, cursor.description[0][1], declaration)
            cursor.fetchall()

    def test_a_rolled_back_transaction_takes_its_temporary_table_along(self):
        run = self.session()
        run('BEGIN TRANSACTION; CREATE TABLE #undone (v int); INSERT INTO #undone VALUES (1)')
        self.assertEqual([(1,)], run('SELECT COUNT(*) FROM #undone'))
        run('ROLLBACK')
        self.assertServerError(208, run, 'SELECT * FROM #undone')

    def test_a_scope_drops_the_tables_it_made_and_sees_its_callers(self):
        run = self.session()
        run('CREATE TABLE #outer (v int)')
        run('INSERT INTO #outer VALUES (1)')
        run('CREATE PROCEDURE fill_outer AS BEGIN '
            'INSERT INTO #outer VALUES (2); '
            'CREATE TABLE #inner (w int); INSERT INTO #inner SELECT v * 10 FROM #outer; '
            'SELECT SUM(w) FROM #inner END')
        self.assertEqual([(30,)], run('EXEC fill_outer'))
        self.assertEqual([(2,)], run('SELECT COUNT(*) FROM #outer'))
        self.assertServerError(208, run, 'SELECT * FROM #inner')
        self.assertEqual([(50,)], run('EXEC fill_outer'))        # made afresh on every call
        # a procedure's own #outer hides the caller's until it returns
        run('CREATE PROCEDURE own_outer AS BEGIN CREATE TABLE #outer (label varchar(5)); '
            "INSERT INTO #outer VALUES ('mine'); SELECT label FROM #outer END")
        self.assertEqual([('mine',)], run('EXEC own_outer'))
        self.assertEqual([(1,), (2,), (2,)], run('SELECT v FROM #outer ORDER BY v'))
        # a string run by EXEC and a parameterised statement are scopes too
        run("EXEC ('CREATE TABLE #dynamic (v int); INSERT INTO #dynamic VALUES (7); SELECT v FROM #dynamic')")
        self.assertServerError(208, run, 'SELECT * FROM #dynamic')
        self.assertEqual([(5,)], run('CREATE TABLE #parameterised (v int); INSERT INTO #parameterised '
                                     'VALUES (%s); SELECT v FROM #parameterised', (5,)))
        self.assertServerError(208, run, 'SELECT * FROM #parameterised')

    def test_temporary_tables_go_with_their_session(self):
        pattern = '/dev/shm/rz-testserver-sessions-%d-*/session-*' % self.server.process.pid
        connection = pytds_connect(self.host)
        cursor = connection.cursor()
        cursor.execute('CREATE TABLE #goes (v int)')
        cursor.execute('SELECT @@SPID')
        spid = cursor.fetchone()[0]
        owned = [path for path in glob.glob(pattern) if '/session-%d-' % spid in path]
        self.assertEqual(1, len(owned))
        connection.close()
        self.server.log_containing('closed')
        deadline = time.monotonic() + 5
        while os.path.exists(owned[0]) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertFalse(os.path.exists(owned[0]))

if __name__ == '__main__':
    unittest.main()
