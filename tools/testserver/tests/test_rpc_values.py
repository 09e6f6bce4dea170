"""RPC parameter values that arrive whole but are no values of their type:
SQL Server answers error 8023 for the request and keeps the connection."""
import datetime
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase  # noqa: E402

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


class RpcValuesTest(ServerTestCase):
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
            cursor.execute('SELECT COUNT(*) FROM rpc_values')
            self.assertEqual([(0,)], [tuple(r) for r in cursor.fetchall()], 'connection still serves')

        # The same bytes made valid go through on the same connection.
        self.executesql(cursor, 'INSERT INTO rpc_values (d) VALUES (@P1)', '@P1 date',
                        RawParameter(DATEN, b'', b'\x03' + (738578).to_bytes(3, 'little')))
        cursor.execute('SELECT d FROM rpc_values')
        self.assertEqual([(datetime.date(2023, 2, 28),)], [tuple(r) for r in cursor.fetchall()])


if __name__ == '__main__':
    unittest.main()
