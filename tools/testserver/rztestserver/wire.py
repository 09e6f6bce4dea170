"""SQL Server values on the wire: TYPE_INFO, column values (PLP for the max
types) and the parameters of RPC requests."""
import datetime
import decimal
import struct
import uuid

from .errors import SqlError
from .sqltypes import (BINARY_TYPES, CODEPAGE, COLLATION, INTEGER_RANGES, MAX, TEMPORAL_TYPES, SqlType,
                       decimal_bytes, time_bytes)
from .sqltypes import (INTN, BITN, FLTN, MONEYN, DATETIMN, DECIMALN, NUMERICN, BIGCHAR, BIGVARCHAR, NCHAR,
                       NVARCHAR, BIGBINARY, BIGVARBINARY, TEXT, NTEXT, IMAGE, DATEN, TIMEN, DATETIME2N,
                       DATETIMEOFFSETN, GUID, INT1, BIT, INT2, INT4, DATETIM4, FLT4, MONEY, DATETIME, FLT8,
                       MONEY4, INT8, NULLTYPE, XML)
from .values import Temporal, parse_temporal, round_ticks, shift, to_decimal, to_integer, to_storage

def type_info(sqltype):
    """TYPE_INFO of COLMETADATA and RETURNVALUE for `sqltype`."""
    name = sqltype.name
    if name in INTEGER_RANGES:
        return bytes([INTN, {'tinyint': 1, 'smallint': 2, 'int': 4, 'bigint': 8}[name]])
    if name == 'bit':
        return bytes([BITN, 1])
    if name in ('float', 'real'):
        return bytes([FLTN, 8 if name == 'float' else 4])
    if name in ('money', 'smallmoney'):
        return bytes([MONEYN, 8 if name == 'money' else 4])
    if name in ('datetime', 'smalldatetime'):
        return bytes([DATETIMN, 8 if name == 'datetime' else 4])
    if name in ('decimal', 'numeric'):
        token = DECIMALN if name == 'decimal' else NUMERICN
        return bytes([token, decimal_bytes(sqltype.precision), sqltype.precision, sqltype.scale])
    if name in ('char', 'varchar', 'nchar', 'nvarchar'):
        token = {'char': BIGCHAR, 'varchar': BIGVARCHAR, 'nchar': NCHAR, 'nvarchar': NVARCHAR}[name]
        size = 0xFFFF if sqltype.is_max else sqltype.max_length()
        return bytes([token]) + struct.pack('<H', size) + COLLATION
    if name in ('binary', 'varbinary'):
        size = 0xFFFF if sqltype.is_max else sqltype.length
        return bytes([BIGBINARY if name == 'binary' else BIGVARBINARY]) + struct.pack('<H', size)
    if name in ('text', 'ntext'):
        size = 0x7FFFFFFF if name == 'text' else 0x7FFFFFFE
        return bytes([TEXT if name == 'text' else NTEXT]) + struct.pack('<I', size) + COLLATION
    if name == 'image':
        return bytes([IMAGE]) + struct.pack('<I', 0x7FFFFFFF)
    if name == 'date':
        return bytes([DATEN])
    if name in ('time', 'datetime2', 'datetimeoffset'):
        token = {'time': TIMEN, 'datetime2': DATETIME2N, 'datetimeoffset': DATETIMEOFFSETN}[name]
        return bytes([token, sqltype.scale])
    if name == 'uniqueidentifier':
        return bytes([GUID, 16])
    raise ValueError('no TYPE_INFO for %s' % name)


def needs_table_name(sqltype):
    """text, ntext and image columns carry a table name in COLMETADATA."""
    return sqltype.name in ('text', 'ntext', 'image')


# --- values on the wire ----------------------------------------------------------

PLP_NULL = b'\xff' * 8
PLP_CHUNK = 1 << 16


def _plp(data):
    parts = [struct.pack('<Q', len(data))]
    for start in range(0, len(data), PLP_CHUNK):
        chunk = data[start:start + PLP_CHUNK]
        parts.append(struct.pack('<I', len(chunk)))
        parts.append(chunk)
    parts.append(b'\x00\x00\x00\x00')
    return b''.join(parts)


def encode_string(value, sqltype):
    text = value if isinstance(value, str) else to_storage(value, sqltype)
    if sqltype.name in ('char', 'nchar') and sqltype.length != MAX:
        text = text.ljust(sqltype.length)
    if sqltype.is_unicode:
        return text.encode('utf-16-le')
    return text.encode(CODEPAGE, errors='replace')


def encode_value(value, sqltype):
    """A column or return value of `sqltype` as it travels in a ROW token."""
    name = sqltype.name
    if name in ('char', 'varchar', 'nchar', 'nvarchar', 'binary', 'varbinary'):
        if sqltype.is_max:
            if value is None:
                return PLP_NULL
            data = encode_string(value, sqltype) if name not in BINARY_TYPES else _binary(value, sqltype)
            return _plp(data)
        if value is None:
            return b'\xff\xff'
        data = encode_string(value, sqltype) if name not in BINARY_TYPES else _binary(value, sqltype)
        return struct.pack('<H', len(data)) + data
    if name in ('text', 'ntext', 'image'):
        if value is None:
            return b'\x00'
        data = _binary(value, sqltype) if name == 'image' else encode_string(value, sqltype)
        return b'\x10' + b'\x00' * 16 + b'\x00' * 8 + struct.pack('<I', len(data)) + data
    if value is None:
        return b'\x00'
    if name in INTEGER_RANGES:
        size = {'tinyint': 1, 'smallint': 2, 'int': 4, 'bigint': 8}[name]
        number = to_integer(value, sqltype)
        return bytes([size]) + number.to_bytes(size, 'little', signed=name != 'tinyint')
    if name == 'bit':
        return b'\x01' + bytes([to_integer(value, sqltype)])
    if name == 'float':
        return b'\x08' + struct.pack('<d', float(value))
    if name == 'real':
        return b'\x04' + struct.pack('<f', float(value))
    if name in ('decimal', 'numeric'):
        number = to_decimal(value, sqltype)
        with decimal.localcontext() as context:
            context.prec = 80       # the default 28 digits would round 38-digit values
            unscaled = int(number.scaleb(sqltype.scale))
        size = decimal_bytes(sqltype.precision)
        return bytes([size, 0 if unscaled < 0 else 1]) + abs(unscaled).to_bytes(size - 1, 'little')
    if name in ('money', 'smallmoney'):
        number = int(to_decimal(value, sqltype).scaleb(4))
        if name == 'smallmoney':
            return b'\x04' + struct.pack('<i', number)
        return b'\x08' + struct.pack('<iI', number >> 32, number & 0xFFFFFFFF)
    if name in TEMPORAL_TYPES:
        temporal = parse_temporal(to_storage(value, sqltype), name)
        return _encode_temporal(temporal, sqltype)
    if name == 'uniqueidentifier':
        return b'\x10' + uuid.UUID(to_storage(value, sqltype)).bytes_le
    raise ValueError('cannot encode %s' % name)


def _binary(value, sqltype):
    data = value if isinstance(value, bytes) else str(value).encode(CODEPAGE, errors='replace')
    if sqltype.name == 'binary' and len(data) < sqltype.length:
        data = data.ljust(sqltype.length, b'\x00')
    return data


def _encode_temporal(temporal, sqltype):
    name = sqltype.name
    date = temporal.date or datetime.date(1900, 1, 1)
    ticks = temporal.ticks or 0
    if name == 'date':
        return b'\x03' + (date.toordinal() - 1).to_bytes(3, 'little')
    if name == 'datetime':
        days = (date - datetime.date(1900, 1, 1)).days
        fraction = ticks * 300 // 10 ** 7 + (1 if ticks * 300 % 10 ** 7 >= 5 * 10 ** 6 else 0)
        return b'\x08' + struct.pack('<iI', days, fraction)
    if name == 'smalldatetime':
        days = (date - datetime.date(1900, 1, 1)).days
        return b'\x04' + struct.pack('<HH', days, ticks // 600000000)
    size = time_bytes(sqltype.scale)
    ticks = round_ticks(ticks, sqltype.scale)
    if name == 'datetimeoffset':
        # the date and time travel in UTC, followed by the offset
        date, ticks = shift(date, ticks, -(temporal.offset or 0))
    elif ticks >= 864 * 10 ** 9:
        date, ticks = shift(date, ticks, 0)
    units = ticks // 10 ** (7 - sqltype.scale)
    time_part = units.to_bytes(size, 'little')
    if name == 'time':
        return bytes([size]) + time_part
    date_part = (date.toordinal() - 1).to_bytes(3, 'little')
    if name == 'datetime2':
        return bytes([size + 3]) + time_part + date_part
    return bytes([size + 5]) + time_part + date_part + struct.pack('<h', temporal.offset or 0)


# --- parameters sent by the client -------------------------------------------------

class Reader:
    """A cursor over a received message."""

    def __init__(self, data, pos=0):
        self.data = data
        self.pos = pos

    def remaining(self):
        return len(self.data) - self.pos

    def take(self, count):
        if self.pos + count > len(self.data):
            raise SqlError(4002, 'The incoming tabular data stream (TDS) protocol stream is incorrect. '
                                 'The stream ended unexpectedly.', severity=16)
        chunk = self.data[self.pos:self.pos + count]
        self.pos += count
        return chunk

    def byte(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack('<H', self.take(2))[0]

    def u32(self):
        return struct.unpack('<I', self.take(4))[0]

    def u64(self):
        return struct.unpack('<Q', self.take(8))[0]

    def b_varchar(self):
        return self.take(self.byte() * 2).decode('utf-16-le')

    def us_varchar(self):
        return self.take(self.u16() * 2).decode('utf-16-le')


def read_type_info(reader):
    """Reads TYPE_INFO of an RPC parameter; returns (SqlType, wire description)."""
    token = reader.byte()
    info = {'token': token}
    if token in (INT1, INT2, INT4, INT8):
        return SqlType({INT1: 'tinyint', INT2: 'smallint', INT4: 'int', INT8: 'bigint'}[token]), info
    if token == BIT:
        return SqlType('bit'), info
    if token == FLT4:
        return SqlType('real'), info
    if token == FLT8:
        return SqlType('float'), info
    if token == MONEY:
        return SqlType('money'), info
    if token == MONEY4:
        return SqlType('smallmoney'), info
    if token == DATETIME:
        return SqlType('datetime'), info
    if token == DATETIM4:
        return SqlType('smalldatetime'), info
    if token == NULLTYPE:
        return SqlType('int'), info
    if token == INTN:
        size = reader.byte()
        return SqlType({1: 'tinyint', 2: 'smallint', 4: 'int', 8: 'bigint'}[size]), info
    if token == BITN:
        reader.byte()
        return SqlType('bit'), info
    if token == FLTN:
        return SqlType('float' if reader.byte() == 8 else 'real'), info
    if token == MONEYN:
        return SqlType('money' if reader.byte() == 8 else 'smallmoney'), info
    if token == DATETIMN:
        return SqlType('datetime' if reader.byte() == 8 else 'smalldatetime'), info
    if token in (DECIMALN, NUMERICN, 0x37, 0x3F):
        reader.byte()
        precision, scale = reader.byte(), reader.byte()
        return SqlType('decimal' if token in (DECIMALN, 0x37) else 'numeric',
                       precision=precision, scale=scale), info
    if token in (BIGCHAR, BIGVARCHAR, NCHAR, NVARCHAR):
        size = reader.u16()
        info['collation'] = reader.take(5)
        name = {BIGCHAR: 'char', BIGVARCHAR: 'varchar', NCHAR: 'nchar', NVARCHAR: 'nvarchar'}[token]
        if size == 0xFFFF:
            return SqlType(name, length=MAX), info
        return SqlType(name, length=max(1, size // 2 if token in (NCHAR, NVARCHAR) else size)), info
    if token in (BIGBINARY, BIGVARBINARY):
        size = reader.u16()
        name = 'binary' if token == BIGBINARY else 'varbinary'
        return SqlType(name, length=MAX if size == 0xFFFF else max(1, size)), info
    if token in (TEXT, NTEXT, IMAGE):
        reader.u32()
        if token != IMAGE:
            info['collation'] = reader.take(5)
        return SqlType({TEXT: 'text', NTEXT: 'ntext', IMAGE: 'image'}[token]), info
    if token == DATEN:
        return SqlType('date'), info
    if token in (TIMEN, DATETIME2N, DATETIMEOFFSETN):
        scale = reader.byte()
        return SqlType({TIMEN: 'time', DATETIME2N: 'datetime2', DATETIMEOFFSETN: 'datetimeoffset'}[token],
                       scale=scale), info
    if token == GUID:
        reader.byte()
        return SqlType('uniqueidentifier'), info
    if token == XML:
        reader.byte()
        return SqlType('nvarchar', length=MAX), info
    raise SqlError(8009, 'The incoming tabular data stream (TDS) remote procedure call (RPC) protocol '
                         'stream is incorrect. Parameter 1 (""): Data type 0x%02X is unknown.' % token)


def _read_plp(reader):
    total = reader.u64()
    if total == 0xFFFFFFFFFFFFFFFF:
        return None
    parts = []
    while True:
        size = reader.u32()
        if size == 0:
            break
        parts.append(reader.take(size))
    return b''.join(parts)


def _decode_text(data, sqltype):
    if sqltype.is_unicode:
        return data.decode('utf-16-le', errors='replace')
    return data.decode(CODEPAGE, errors='replace')


def read_value(reader, sqltype, info):
    """Reads a parameter value; returns it as Python value (or Temporal)."""
    name = sqltype.name
    token = info['token']
    if token in (INT1, INT2, INT4, INT8, BIT, FLT4, FLT8, MONEY, MONEY4, DATETIME, DATETIM4):
        size = {INT1: 1, INT2: 2, INT4: 4, INT8: 8, BIT: 1, FLT4: 4, FLT8: 8, MONEY: 8, MONEY4: 4,
                DATETIME: 8, DATETIM4: 4}[token]
        return _decode_fixed(reader.take(size), sqltype)
    if token == NULLTYPE:
        return None
    if name in ('char', 'varchar', 'nchar', 'nvarchar', 'binary', 'varbinary'):
        if sqltype.is_max:
            data = _read_plp(reader)
        else:
            size = reader.u16()
            data = None if size == 0xFFFF else reader.take(size)
        if data is None:
            return None
        return data if name in BINARY_TYPES else _decode_text(data, sqltype)
    if name in ('text', 'ntext', 'image'):
        size = reader.u32()
        if size == 0xFFFFFFFF:
            return None
        data = reader.take(size)
        return data if name == 'image' else _decode_text(data, sqltype)
    size = reader.byte()
    if size == 0:
        return None
    return _decode_fixed(reader.take(size), sqltype)


_TICKS_PER_DAY = 864000000000
_DATETIME_DAYS = (-53690, 2958463)        # 1753-01-01 .. 9999-12-31 from 1900-01-01
_DATETIME_FRACTION_LIMIT = 300 * 86400     # 1/300 s units in a day


class InvalidValue(ValueError):
    """A parameter value that was read whole but is no value of its type."""


def read_parameter_value(reader, sqltype, info):
    """read_value for RPC parameters: a value that does not decode raises
    InvalidValue (the message itself is intact and reading can go on)."""
    try:
        return read_value(reader, sqltype, info)
    except SqlError:
        raise
    except (ValueError, OverflowError, struct.error, IndexError, KeyError, decimal.InvalidOperation) as error:
        raise InvalidValue(str(error)) from error


def _check(condition, what):
    if not condition:
        raise InvalidValue(what)


def _decode_date(data):
    _check(len(data) == 3, 'a date takes 3 bytes')
    return datetime.date.fromordinal(int.from_bytes(data, 'little') + 1)


def _decode_fixed(data, sqltype):
    name = sqltype.name
    if name in INTEGER_RANGES:
        _check(len(data) in (1, 2, 4, 8), 'integer of %d bytes' % len(data))
        return int.from_bytes(data, 'little', signed=name != 'tinyint')
    if name == 'bit':
        return 1 if data[0] else 0
    if name in ('float', 'real'):
        return struct.unpack('<d' if len(data) == 8 else '<f', data)[0]
    if name in ('money', 'smallmoney'):
        if len(data) == 8:
            high, low = struct.unpack('<iI', data)
            units = (high << 32) | low
        else:
            units = struct.unpack('<i', data)[0]
        return decimal.Decimal(units).scaleb(-4)
    if name in ('decimal', 'numeric'):
        precision, scale = sqltype.precision or 18, sqltype.scale or 0
        _check(1 <= precision <= 38 and scale <= precision, 'precision %d, scale %d' % (precision, scale))
        _check(len(data) >= 2 and data[0] in (0, 1), 'decimal sign')
        unscaled = int.from_bytes(data[1:], 'little')
        _check(unscaled < 10 ** precision, 'more digits than precision %d' % precision)
        with decimal.localcontext() as context:
            context.prec = 80
            return decimal.Decimal(unscaled if data[0] else -unscaled).scaleb(-scale)
    if name in ('datetime', 'smalldatetime'):
        if len(data) == 8:
            days, fraction = struct.unpack('<iI', data)
            _check(_DATETIME_DAYS[0] <= days <= _DATETIME_DAYS[1] and fraction < _DATETIME_FRACTION_LIMIT,
                   'datetime out of range')
            ticks = fraction * 10 ** 7 // 300
        else:
            days, minutes = struct.unpack('<HH', data)
            _check(minutes < 1440, 'smalldatetime minutes out of range')
            ticks = minutes * 600000000
        return Temporal(datetime.date(1900, 1, 1) + datetime.timedelta(days=days), ticks)
    if name == 'date':
        return Temporal(_decode_date(data))
    if name in ('time', 'datetime2', 'datetimeoffset'):
        _check(0 <= (sqltype.scale or 0) <= 7, 'scale %s' % sqltype.scale)
        size = time_bytes(sqltype.scale)
        expected = size + {'time': 0, 'datetime2': 3, 'datetimeoffset': 5}[name]
        _check(len(data) == expected, '%s of %d bytes' % (name, len(data)))
        ticks = int.from_bytes(data[:size], 'little') * 10 ** (7 - sqltype.scale)
        _check(ticks < _TICKS_PER_DAY, 'time of day out of range')
        if name == 'time':
            return Temporal(None, ticks)
        date = _decode_date(data[size:size + 3])
        offset = struct.unpack('<h', data[size + 3:size + 5])[0] if name == 'datetimeoffset' else None
        _check(offset is None or -840 <= offset <= 840, 'offset out of range')
        if offset is not None:
            date, ticks = shift(date, ticks, offset)
        return Temporal(date, ticks, offset)
    if name == 'uniqueidentifier':
        return str(uuid.UUID(bytes_le=bytes(data))).upper()
    raise ValueError(name)
