"""Builders for the tokens of a tabular result stream."""
import struct

from . import wire

COLMETADATA = 0x81
ROW = 0xD1
RETURNSTATUS = 0x79
RETURNVALUE = 0xAC
ENVCHANGE = 0xE3
INFO = 0xAB
ERROR = 0xAA
LOGINACK = 0xAD
SSPI = 0xED
DONE = 0xFD
DONEPROC = 0xFE
DONEINPROC = 0xFF

DONE_FINAL = 0x00
DONE_MORE = 0x01
DONE_ERROR = 0x02
DONE_INXACT = 0x04
DONE_COUNT = 0x10
DONE_ATTN = 0x20

ENV_DATABASE = 1
ENV_LANGUAGE = 2
ENV_PACKETSIZE = 4
ENV_COLLATION = 7
ENV_BEGIN_TRAN = 8
ENV_COMMIT_TRAN = 9
ENV_ROLLBACK_TRAN = 10

SERVER_NAME = 'RZTESTSERVER'
FLAG_NULLABLE = 0x0001
FLAG_UPDATEABLE_UNKNOWN = 0x0008
FLAG_IDENTITY = 0x0010


def b_varchar(text):
    data = text.encode('utf-16-le')
    return bytes([len(data) // 2]) + data


def us_varchar(text):
    data = text.encode('utf-16-le')
    return struct.pack('<H', len(data) // 2) + data


def done(status=DONE_FINAL, rowcount=None, token=DONE, curcmd=0xC1):
    if rowcount is not None:
        status |= DONE_COUNT
    return struct.pack('<BHHQ', token, status, curcmd, rowcount or 0)


def envchange(kind, new, old):
    if kind in (ENV_COLLATION, ENV_BEGIN_TRAN, ENV_COMMIT_TRAN, ENV_ROLLBACK_TRAN):
        body = bytes([kind, len(new)]) + new + bytes([len(old)]) + old
    else:
        body = bytes([kind]) + b_varchar(new) + b_varchar(old)
    return struct.pack('<BH', ENVCHANGE, len(body)) + body


def message(token, number, text, state=1, severity=16, procedure='', line=1):
    body = (struct.pack('<iBB', number, state, severity) + us_varchar(text)
            + b_varchar(SERVER_NAME) + b_varchar(procedure) + struct.pack('<i', line))
    return struct.pack('<BH', token, len(body)) + body


def info(number, text, state=1, severity=0):
    return message(INFO, number, text, state, severity, line=1)


def error(err):
    return message(ERROR, err.number, err.message, err.state, err.severity, err.procedure, err.line)


def sspi(data):
    """A token of an integrated login's exchange for the client."""
    return struct.pack('<BH', SSPI, len(data)) + data


def loginack(version=0x74000004, program='Microsoft SQL Server', server_version=(15, 0, 2000)):
    body = (bytes([1]) + struct.pack('>I', version) + b_varchar(program)
            + bytes([server_version[0], server_version[1]]) + struct.pack('>H', server_version[2]))
    return struct.pack('<BH', LOGINACK, len(body)) + body


class Column:
    """A result column: name, SQL Server type and flags."""

    def __init__(self, name, sqltype, nullable=True, identity=False, table=''):
        self.name = name
        self.sqltype = sqltype
        self.nullable = nullable
        self.identity = identity
        self.table = table

    def __repr__(self):
        return 'Column(%r, %s)' % (self.name, self.sqltype.sql())


def colmetadata(columns):
    parts = [struct.pack('<BH', COLMETADATA, len(columns))]
    for column in columns:
        flags = FLAG_UPDATEABLE_UNKNOWN
        if column.nullable:
            flags |= FLAG_NULLABLE
        if column.identity:
            flags |= FLAG_IDENTITY
        parts.append(struct.pack('<IH', 0, flags))
        parts.append(wire.type_info(column.sqltype))
        if wire.needs_table_name(column.sqltype):
            parts.append(b'\x01' + us_varchar(column.table or 'table'))
        parts.append(b_varchar(column.name))
    return b''.join(parts)


def row(columns, values):
    return bytes([ROW]) + b''.join(wire.encode_value(value, column.sqltype)
                                    for column, value in zip(columns, values))


def returnstatus(value):
    return struct.pack('<Bi', RETURNSTATUS, value)


def returnvalue(ordinal, name, sqltype, value):
    return (struct.pack('<BH', RETURNVALUE, ordinal) + b_varchar(name) + b'\x01'
            + struct.pack('<IH', 0, FLAG_NULLABLE) + wire.type_info(sqltype)
            + wire.encode_value(value, sqltype))
