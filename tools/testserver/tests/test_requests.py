"""Requests as client libraries send them, beyond plain batches: statements
prepared and executed by RPC, parameter descriptions, transaction manager
requests, cancellation, many sessions at once, and RPC values that arrive
whole but are no values of their type (error 8023 for the request, the
connection stays)."""
import datetime
import os
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase, pytds_connect, rows  # noqa: E402

import pytds  # noqa: E402
from pytds import tds_base  # noqa: E402


DATEN, DATETIME2N, DECIMALN = 0x28, 0x2A, 0x6A


class RawSerializer:
    """Writes a parameter's TYPE_INFO and value bytes exactly as given."""

    def __init__(self, type_id, info, value):
        self.type = type_id
        self.info = info
        self.value = value

    def write_info(self, w):
        w.write(self.info)

    def write(self, w, _value):
        w.write(self.value)


class RawParameter(tds_base.Column):
    def __init__(self, type_id, info, value):
        super().__init__()
        self.flags = 0
        self.serializer = RawSerializer(type_id, info, value)

    def choose_serializer(self, type_factory, collation):
        return self.serializer


def invalid_value_text(number, name, type_name):
    return ('The incoming tabular data stream (TDS) remote procedure call (RPC) protocol stream is incorrect. '
            'Parameter %d ("%s"): The supplied value is not a valid instance of data type %s. Check the source '
            'data for invalid values. An example of an invalid value is data of numeric type with scale greater '
            'than precision.' % (number, name, type_name))


class RequestTest(ServerTestCase):
    setup_sql = ('CREATE TABLE people (id int IDENTITY(1,1) PRIMARY KEY, name nvarchar(40) NOT NULL, age int, '
                 "score float); INSERT INTO people (name, age, score) VALUES (N'Ann', 31, 1.5), (N'Bob', 45, NULL), "
                 "(N'Cid', 27, 3.25), (N'Dee', 60, 0.5), (N'Eve', 19, 2.0)",)

    def test_prepared_statements_run_by_handle_until_unprepared(self):
        cursor = self.connect().cursor()
        # sp_prepexec answers rows and the handle, sp_execute runs it again
        text = 'SELECT name FROM people WHERE age > @P1 AND name <> @P2 ORDER BY name'
        handle = cursor.callproc('sp_prepexec', (pytds.output(param_type=int), '@P1 int,@P2 nvarchar(10)',
                                                 text, 30, 'Bob'))[0]
        self.assertEqual([('Ann',), ('Dee',)], rows(cursor))
        cursor.callproc('sp_execute', (handle, 40, 'x'))
        self.assertEqual([('Bob',), ('Dee',)], rows(cursor))
        cursor.callproc('sp_unprepare', (handle,))
        self.assertServerError(8179, cursor.callproc, 'sp_execute', (handle, 40, 'x'))
        # sp_prepare describes nothing for a statement that makes a table
        handle = cursor.callproc('sp_prepare', (pytds.output(param_type=int), '@P1 int',
                                                'SELECT name INTO older FROM people WHERE age > @P1', 1))[0]
        self.assertIsNone(cursor.description)
        cursor.callproc('sp_execute', (handle, 40))
        self.assertEqual([('Bob',), ('Dee',)], rows(cursor, 'SELECT name FROM older ORDER BY name'))

    def test_describe_undeclared_parameters(self):
        cursor = self.connect().cursor()
        cursor.execute("EXEC sp_describe_undeclared_parameters N'SELECT * FROM people WHERE name = @P1 "
                       "AND age > @P2 AND score < @P3'")
        self.assertEqual([(1, '@P1', 'nvarchar(40)'), (2, '@P2', 'int'), (3, '@P3', 'float')],
                         [(r[0], r[1], r[3]) for r in cursor.fetchall()])
        cursor.execute("EXEC sp_describe_undeclared_parameters N'SELECT name FROM sys.tables t "
                       "WHERE t.name LIKE @P1 AND object_id <> @P2 AND @P3 = 1'")
        self.assertEqual([('@P1', 'nvarchar(128)'), ('@P2', 'int'), ('@P3', 'int')],
                         [(r[1], r[3]) for r in cursor.fetchall()])
        # an operand of arithmetic takes the other operand's type, a literal's included
        cursor.execute("EXEC sp_describe_undeclared_parameters N'SELECT 10 + @P1, @P2 * 2.5, age - @P3 FROM people'")
        self.assertEqual([('@P1', 'int'), ('@P2', 'numeric(2,1)'), ('@P3', 'int')],
                         [(r[1], r[3]) for r in cursor.fetchall()])

    def test_transaction_manager_commits_and_rolls_back(self):
        connection = self.connect(autocommit=False)
        observer = self.connect().cursor()
        cursor = connection.cursor()
        cursor.execute("INSERT INTO people (name, age) VALUES (N'Tmp', 1)")
        self.assertEqual([(0,)], rows(observer, "SELECT COUNT(*) FROM people WHERE name = 'Tmp'"))
        connection.rollback()
        self.assertEqual([(0,)], rows(cursor, "SELECT COUNT(*) FROM people WHERE name = 'Tmp'"))
        cursor.execute("INSERT INTO people (name, age) VALUES (N'Kept', 2)")
        self.assertEqual([(1,)], rows(cursor, 'SELECT @@TRANCOUNT'))
        connection.commit()
        self.assertEqual([(2,)], rows(observer, "SELECT age FROM people WHERE name = 'Kept'"))
        observer.execute("DELETE FROM people WHERE name = 'Kept'")

    def test_a_cancelled_result_stops_and_the_session_goes_on(self):
        cursor = self.connect().cursor()
        cursor.execute('SELECT a.id * 100 + b.id AS n INTO many FROM people a, people b')
        # about 1.5 MB of rows: far more than one packet
        cursor.execute("SELECT m1.n, REPLICATE(N'x', 1000) FROM many m1, many m2, many m3")
        self.assertIsNotNone(cursor.fetchone())
        started = time.monotonic()
        cursor.cancel()
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual([(25,)], rows(cursor, 'SELECT COUNT(*) FROM many'))
        self.assertIn('request cancelled by the client', self.server.log_containing('request cancelled'))

    def test_parallel_clients_get_their_own_answers(self):
        self.query('CREATE TABLE shared_log (id int IDENTITY PRIMARY KEY, who int NOT NULL)')
        errors = []
        results = {}

        def work(number):
            try:
                connection = pytds_connect(self.host)
                cursor = connection.cursor()
                cursor.execute('CREATE TABLE own_%d (v int)' % number)
                for value in range(20):
                    cursor.execute('INSERT INTO own_%d VALUES (%d); INSERT INTO shared_log (who) VALUES (%d)'
                                   % (number, value * number, number))
                cursor.execute('SELECT SUM(v), COUNT(*), (SELECT COUNT(*) FROM people) FROM own_%d '
                               'WHERE v >= %%s' % number, (0,))
                results[number] = rows(cursor)
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
            self.assertEqual([(190 * number, 20, 5)], results[number])
        self.assertEqual([(n, 20, 20) for n in range(1, 9)], rows(
            self.connect().cursor(), 'SELECT who, COUNT(*), COUNT(DISTINCT id) FROM shared_log GROUP BY who ORDER BY who'))


    def executesql(self, cursor, statement, declaration, parameter):
        cursor.callproc(tds_base.SP_EXECUTESQL,
                        {'@stmt': statement, '@params': declaration, '@P1': parameter})

    def test_values_that_do_not_decode_fail_the_request_not_the_connection(self):
        connection = self.connect()
        cursor = connection.cursor()
        cursor.execute('CREATE TABLE rpc_values (d date, dt datetime2, n decimal(3, 1))')
        cases = [
            # days since 0001-01-01 past 9999-12-31
            ('INSERT INTO rpc_values (d) VALUES (@P1)', '@P1 date', 'date',
             RawParameter(DATEN, b'', b'\x03\xff\xff\xff')),
            # a time of day of 24:00:00 (864000000000 ticks at scale 7)
            ('INSERT INTO rpc_values (dt) VALUES (@P1)', '@P1 datetime2', 'datetime2',
             RawParameter(DATETIME2N, b'\x07', b'\x08' + (864000000000).to_bytes(5, 'little') + b'\x01\x00\x00')),
            # 12345 with precision 3: more digits than the type has
            ('INSERT INTO rpc_values (n) VALUES (@P1)', '@P1 decimal(3, 1)', 'decimal',
             RawParameter(DECIMALN, b'\x05\x03\x01', b'\x05\x01' + (12345).to_bytes(4, 'little'))),
        ]
        for statement, declaration, type_name, parameter in cases:
            with self.assertRaises(pytds.Error, msg=type_name) as caught:
                self.executesql(cursor, statement, declaration, parameter)
            self.assertEqual(8023, caught.exception.msg_no, type_name)
            self.assertEqual(invalid_value_text(3, '@P1', type_name), caught.exception.text, type_name)
            self.assertEqual([(0,)], rows(cursor, 'SELECT COUNT(*) FROM rpc_values'), 'connection still serves')

        # The same bytes made valid go through on the same connection.
        self.executesql(cursor, 'INSERT INTO rpc_values (d) VALUES (@P1)', '@P1 date',
                        RawParameter(DATEN, b'', b'\x03' + (738578).to_bytes(3, 'little')))
        self.assertEqual([(datetime.date(2023, 2, 28),)], rows(cursor, 'SELECT d FROM rpc_values'))


if __name__ == '__main__':
    unittest.main()
