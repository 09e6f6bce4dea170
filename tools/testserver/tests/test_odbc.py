"""FreeTDS's ODBC driver against the server: prepared statements, parameter
description, transactions by the transaction manager, cancellation and
server cursors."""
import os
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import odbc  # noqa: E402
from support import ServerTestCase  # noqa: E402


class OdbcTest(ServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        connection = odbc.Connection(odbc.connection_string(cls.host))
        statement = connection.cursor()
        statement.execute('CREATE TABLE people (id int IDENTITY(1,1) PRIMARY KEY, name nvarchar(40) NOT NULL, '
                          'age int, score float)')
        statement.execute("INSERT INTO people (name, age, score) VALUES (N'Ann', 31, 1.5), (N'Bob', 45, NULL), "
                          "(N'Cid', 27, 3.25), (N'Dee', 60, 0.5), (N'Eve', 19, 2.0)")
        statement.close()
        connection.close()

    def open(self, **kwargs):
        connection = odbc.Connection(odbc.connection_string(self.host, **kwargs))
        self.addCleanup(connection.close)
        return connection

    def test_prepared_statement_executed_repeatedly(self):
        statement = self.open().cursor()
        statement.prepare('SELECT name FROM people WHERE age > ? AND name <> ? ORDER BY name')
        self.assertEqual(1, statement.columns())        # described before execution (sp_prepare)
        results = []
        for age, name in ((30, 'Bob'), (40, 'x'), (100, 'x')):
            statement.bind([age, name])
            statement.run()
            results.append([row[0] for row in statement.fetchall()])
            statement.close_cursor()
        self.assertEqual([['Ann', 'Dee'], ['Bob', 'Dee'], []], results)
        # a parameter of another type makes the driver prepare again
        statement.bind([30.5, 'Ann'])
        statement.run()
        self.assertEqual([['Bob'], ['Dee']], statement.fetchall())
        statement.close()

    def test_parameter_arrays_run_every_row(self):
        connection = self.open()
        statement = connection.cursor()
        statement.execute('CREATE TABLE pairs (a int, b int)')
        statement.close()
        statement = connection.cursor()
        statement.prepare('INSERT INTO pairs (a, b) VALUES (?, ?)')
        statement.bind_int_arrays([[1, 2, 3, 4], [10, 20, 30, 40]])
        statement.run()
        statement.close()
        statement = connection.cursor()
        statement.execute('SELECT SUM(a), SUM(b), COUNT(*) FROM pairs')
        self.assertEqual([['10', '100', '4']], statement.fetchall())
        statement.close()

    def test_direct_execution_with_parameters_and_nulls(self):
        statement = self.open().cursor()
        statement.prepare('INSERT INTO people (name, age, score) VALUES (?, ?, ?)')
        statement.bind(['Zed', None, 9.75])
        statement.run()
        self.assertEqual(1, statement.rowcount())
        statement.close()
        statement = self.open().cursor()
        statement.execute("SELECT age, score FROM people WHERE name = 'Zed'")
        self.assertEqual([[None, '9.75']], statement.fetchall())
        statement.execute("DELETE FROM people WHERE name = 'Zed'")
        self.assertEqual(1, statement.rowcount())
        statement.close()

    def test_errors_reach_odbc_with_native_numbers(self):
        statement = self.open().cursor()
        for sql, state, native in (('SELECT * FROM nowhere', '42S02', 208), ('SELECT 1/0', '22012', 8134),
                                   ("INSERT INTO people (name) VALUES (NULL)", '23000', 515)):
            with self.assertRaises(odbc.OdbcError) as caught:
                statement.execute(sql)
                statement.fetchall()
            self.assertEqual((state, native), (caught.exception.sqlstate, caught.exception.native), sql)
            statement.close_cursor()
        statement.execute('SELECT COUNT(*) FROM people')
        self.assertEqual([['5']], statement.fetchall())
        statement.close()

    def test_transactions_commit_and_rollback(self):
        connection = self.open()
        observer = self.open().cursor()
        connection.set_autocommit(False)
        statement = connection.cursor()
        statement.execute("INSERT INTO people (name, age) VALUES (N'Tmp', 1)")
        observer.execute("SELECT COUNT(*) FROM people WHERE name = 'Tmp'")
        self.assertEqual([['0']], observer.fetchall())
        connection.rollback()
        statement.execute("SELECT COUNT(*) FROM people WHERE name = 'Tmp'")
        self.assertEqual([['0']], statement.fetchall())
        statement.close_cursor()
        statement.execute("INSERT INTO people (name, age) VALUES (N'Kept', 2)")
        statement.execute('SELECT @@TRANCOUNT')
        self.assertEqual([['1']], statement.fetchall())
        statement.close_cursor()
        connection.commit()
        observer.close_cursor()
        observer.execute("SELECT age FROM people WHERE name = 'Kept'")
        self.assertEqual([['2']], observer.fetchall())
        observer.close_cursor()
        statement.execute("DELETE FROM people WHERE name = 'Kept'")
        connection.set_autocommit(True)       # rolls back the open transaction
        observer.execute("SELECT COUNT(*) FROM people WHERE name = 'Kept'")
        self.assertEqual([['1']], observer.fetchall())
        statement.execute("DELETE FROM people WHERE name = 'Kept'")
        statement.close()
        observer.close()

    def test_closing_a_statement_with_unread_rows_cancels_it(self):
        connection = self.open()
        statement = connection.cursor()
        statement.execute('CREATE TABLE many (n int)')
        statement.execute('INSERT INTO many SELECT a.id * 100 + b.id FROM people a, people b')
        # a long result: 25 rows repeated by a cross join, about 1.5 MB
        statement.execute("SELECT m1.n, REPLICATE(N'x', 1000) FROM many m1, many m2, many m3")
        self.assertIsNotNone(statement.fetch())
        started = time.monotonic()
        statement.close_cursor()
        self.assertLess(time.monotonic() - started, 5)
        statement.execute('SELECT COUNT(*) FROM many')
        self.assertEqual([['25']], statement.fetchall())
        statement.close()
        self.assertIn('request cancelled by the client', self.server.log_containing('request cancelled'))

    def test_scrollable_cursor_uses_server_cursor(self):
        statement = self.open().cursor()
        statement.set_static_cursor()
        statement.execute('SELECT name FROM people ORDER BY id')
        self.assertEqual(['Eve'], statement.fetch(odbc.SQL_FETCH_LAST))
        self.assertEqual(['Ann'], statement.fetch(odbc.SQL_FETCH_FIRST))
        self.assertEqual(['Bob'], statement.fetch(odbc.SQL_FETCH_NEXT))
        self.assertEqual(['Dee'], statement.fetch(odbc.SQL_FETCH_ABSOLUTE, 4))
        self.assertEqual(['Cid'], statement.fetch(odbc.SQL_FETCH_PRIOR))
        self.assertIsNone(statement.fetch(odbc.SQL_FETCH_ABSOLUTE, 9))
        statement.close_cursor()
        statement.prepare('SELECT name FROM people WHERE age < ? ORDER BY age')
        statement.bind([30])
        statement.run()
        self.assertEqual(['Eve'], statement.fetch(odbc.SQL_FETCH_FIRST))
        self.assertEqual(['Cid'], statement.fetch(odbc.SQL_FETCH_NEXT))
        self.assertIsNone(statement.fetch(odbc.SQL_FETCH_NEXT))
        statement.close()

    def test_describe_undeclared_parameters(self):
        statement = self.open().cursor()
        statement.execute("EXEC sp_describe_undeclared_parameters N'SELECT * FROM people WHERE name = @P1 "
                          "AND age > @P2 AND score < @P3'")
        rows = statement.fetchall()
        self.assertEqual([['1', '@P1', 'nvarchar(40)'], ['2', '@P2', 'int'], ['3', '@P3', 'float']],
                         [row[:2] + [row[3]] for row in rows])
        statement.close_cursor()
        statement.execute("EXEC sp_describe_undeclared_parameters N'SELECT name FROM sys.tables t "
                          "WHERE t.name LIKE @P1 AND object_id <> @P2 AND @P3 = 1'")
        rows = statement.fetchall()
        self.assertEqual([['@P1', 'nvarchar(128)'], ['@P2', 'int'], ['@P3', 'int']],
                         [[row[1], row[3]] for row in rows])
        statement.close()

    def test_parallel_clients_get_their_own_answers(self):
        self.query('CREATE TABLE shared_log (id int IDENTITY PRIMARY KEY, who int NOT NULL)')
        errors = []
        results = {}

        def work(number):
            try:
                connection = odbc.Connection(odbc.connection_string(self.host))
                statement = connection.cursor()
                statement.execute('CREATE TABLE own_%d (v int)' % number)
                for value in range(20):
                    statement.execute('INSERT INTO own_%d VALUES (%d)' % (number, value * number))
                    statement.execute('INSERT INTO shared_log (who) VALUES (%d)' % number)
                statement.prepare('SELECT SUM(v), COUNT(*), (SELECT COUNT(*) FROM people) FROM own_%d '
                                  'WHERE v >= ?' % number)
                statement.bind([0])
                statement.run()
                results[number] = statement.fetchall()
                statement.close()
                connection.close()
            except Exception as error:       # reported below
                errors.append(error)
        threads = [threading.Thread(target=work, args=(n,)) for n in range(1, 9)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(60)
        self.assertEqual([], errors)
        for number in range(1, 9):
            self.assertEqual([[str(190 * number), '20', '5']], results[number])
        rows = self.query('SELECT who, COUNT(*), COUNT(DISTINCT id) FROM shared_log GROUP BY who ORDER BY who')
        self.assertEqual([(n, 20, 20) for n in range(1, 9)], [tuple(r) for r in rows])
        self.assertEqual([(160, 1, 160)], [tuple(r) for r in self.query(
            'SELECT COUNT(*), MIN(id), MAX(id) FROM shared_log')])


if __name__ == '__main__':
    unittest.main()
