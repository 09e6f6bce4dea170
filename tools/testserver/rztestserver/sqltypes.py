"""SQL Server data types: parsing type names, TYPE_INFO and value encoding,
and conversion between wire values and the values kept in SQLite."""
import datetime
import decimal
import re
import struct
import uuid

from .errors import SqlError, conversion_failed

# TDS type tokens
INTN, BITN, FLTN, MONEYN, DATETIMN = 0x26, 0x68, 0x6D, 0x6E, 0x6F
DECIMALN, NUMERICN = 0x6A, 0x6C
BIGCHAR, BIGVARCHAR, NCHAR, NVARCHAR = 0xAF, 0xA7, 0xEF, 0xE7
BIGBINARY, BIGVARBINARY = 0xAD, 0xA5
TEXT, NTEXT, IMAGE = 0x23, 0x63, 0x22
DATEN, TIMEN, DATETIME2N, DATETIMEOFFSETN = 0x28, 0x29, 0x2A, 0x2B
GUID = 0x24
# fixed-length types a client may send as parameters
INT1, BIT, INT2, INT4, DATETIM4, FLT4, MONEY, DATETIME, FLT8, MONEY4, INT8 = (
    0x30, 0x32, 0x34, 0x38, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x7A, 0x7F)
NULLTYPE = 0x1F
SSVARIANT = 0x62
XML = 0xF1

# SQL_Latin1_General_CP1_CI_AS
COLLATION = bytes([0x09, 0x04, 0xD0, 0x00, 0x34])
CODEPAGE = 'cp1252'
MAX = -1

SYSTEM_TYPE_IDS = {
    'image': 34, 'text': 35, 'uniqueidentifier': 36, 'date': 40, 'time': 41,
    'datetime2': 42, 'datetimeoffset': 43, 'tinyint': 48, 'smallint': 52, 'int': 56,
    'smalldatetime': 58, 'real': 59, 'money': 60, 'datetime': 61, 'float': 62,
    'ntext': 99, 'bit': 104, 'decimal': 106, 'numeric': 108, 'smallmoney': 122,
    'bigint': 127, 'varbinary': 165, 'varchar': 167, 'binary': 173, 'char': 175,
    'nvarchar': 231, 'nchar': 239, 'sysname': 231,
}
INTEGER_RANGES = {
    'tinyint': (0, 255), 'smallint': (-32768, 32767),
    'int': (-2 ** 31, 2 ** 31 - 1), 'bigint': (-2 ** 63, 2 ** 63 - 1),
}
STRING_TYPES = ('char', 'varchar', 'nchar', 'nvarchar', 'text', 'ntext', 'sysname')
BINARY_TYPES = ('binary', 'varbinary', 'image')
TEMPORAL_TYPES = ('date', 'time', 'datetime', 'smalldatetime', 'datetime2', 'datetimeoffset')
ALIASES = {'integer': 'int', 'dec': 'decimal', 'double precision': 'float',
           'character': 'char', 'rowversion': 'binary', 'timestamp': 'binary'}


class SqlType:
    """One SQL Server type with its length, precision and scale."""

    def __init__(self, name, length=None, precision=None, scale=None):
        self.name = name
        self.length = length          # characters or bytes; MAX for (max)
        self.precision = precision
        self.scale = scale

    def __repr__(self):
        return 'SqlType(%s)' % self.sql()

    def __eq__(self, other):
        return isinstance(other, SqlType) and self.sql() == other.sql()

    def __hash__(self):
        return hash(self.sql())

    def sql(self):
        if self.name in ('char', 'varchar', 'nchar', 'nvarchar', 'binary', 'varbinary'):
            return '%s(%s)' % (self.name, 'max' if self.length == MAX else self.length)
        if self.name in ('decimal', 'numeric'):
            return '%s(%d,%d)' % (self.name, self.precision, self.scale)
        if self.name in ('time', 'datetime2', 'datetimeoffset'):
            return '%s(%d)' % (self.name, self.scale)
        if self.name == 'float' and self.precision is not None and self.precision <= 24:
            return 'real'
        return self.name

    @property
    def is_max(self):
        return self.length == MAX

    @property
    def is_unicode(self):
        return self.name in ('nchar', 'nvarchar', 'ntext', 'sysname')

    # --- catalogue properties -------------------------------------------------
    def max_length(self):
        """sys.columns.max_length: bytes, -1 for (max), 16 for text pointers."""
        fixed = {'tinyint': 1, 'smallint': 2, 'int': 4, 'bigint': 8, 'bit': 1, 'real': 4,
                 'float': 8, 'money': 8, 'smallmoney': 4, 'datetime': 8, 'smalldatetime': 4,
                 'date': 3, 'uniqueidentifier': 16, 'text': 16, 'ntext': 16, 'image': 16}
        if self.name in fixed:
            return fixed[self.name]
        if self.name in ('decimal', 'numeric'):
            return decimal_bytes(self.precision) - 1
        if self.name in ('time',):
            return time_bytes(self.scale)
        if self.name == 'datetime2':
            return time_bytes(self.scale) + 3
        if self.name == 'datetimeoffset':
            return time_bytes(self.scale) + 5
        if self.length == MAX:
            return -1
        return self.length * 2 if self.is_unicode else self.length

    def char_length(self):
        """INFORMATION_SCHEMA CHARACTER_MAXIMUM_LENGTH."""
        if self.name in ('text', 'image'):
            return 2147483647
        if self.name == 'ntext':
            return 1073741823
        if self.name in ('char', 'varchar', 'nchar', 'nvarchar', 'binary', 'varbinary'):
            return -1 if self.length == MAX else self.length
        return None

    def numeric_precision(self):
        table = {'tinyint': 3, 'smallint': 5, 'int': 10, 'bigint': 19, 'money': 19,
                 'smallmoney': 10, 'float': 53, 'real': 24, 'bit': 1}
        if self.name in ('decimal', 'numeric'):
            return self.precision
        if self.name in table:
            return table[self.name]
        precisions = {'date': 10, 'datetime': 23, 'smalldatetime': 16}
        if self.name in precisions:
            return precisions[self.name]
        if self.name in ('time', 'datetime2', 'datetimeoffset'):
            base = {'time': 8, 'datetime2': 19, 'datetimeoffset': 26}[self.name]
            return base + (self.scale + 1 if self.scale else 0)
        return 0

    def numeric_scale(self):
        if self.name in ('decimal', 'numeric', 'time', 'datetime2', 'datetimeoffset'):
            return self.scale
        if self.name in ('money', 'smallmoney'):
            return 4
        if self.name == 'datetime':
            return 3
        return 0


def decimal_bytes(precision):
    """Bytes of a DECIMALN value including the sign byte."""
    if precision <= 9:
        return 5
    if precision <= 19:
        return 9
    if precision <= 28:
        return 13
    return 17


def time_bytes(scale):
    return 3 if scale <= 2 else 4 if scale <= 4 else 5


_TYPE_RE = re.compile(r'^\s*([A-Za-z_][A-Za-z0-9_ ]*?)\s*(?:\(\s*([^)]*)\))?\s*$')


def parse_type(text):
    """Parses a T-SQL type name such as 'nvarchar(20)' or 'decimal(10, 2)'."""
    match = _TYPE_RE.match(text)
    if not match:
        raise SqlError(2715, "Column, parameter, or variable #1: Cannot find data type %s." % text)
    name = ' '.join(match.group(1).lower().split())
    if name.startswith('sys.'):
        name = name[4:]
    name = ALIASES.get(name, name)
    if name in ('national character varying', 'national char varying'):
        name = 'nvarchar'
    args = [a.strip().lower() for a in match.group(2).split(',')] if match.group(2) else []
    if name == 'sysname':
        return SqlType('nvarchar', 128)
    if name not in SYSTEM_TYPE_IDS:
        raise SqlError(2715, "Column, parameter, or variable #1: Cannot find data type %s." % text.strip())
    if name in ('char', 'varchar', 'nchar', 'nvarchar', 'binary', 'varbinary'):
        if not args:
            length = 1
        elif args[0] == 'max':
            if name in ('char', 'nchar', 'binary'):
                raise SqlError(102, "Incorrect syntax near 'max'.", severity=15)
            length = MAX
        else:
            length = int(args[0])
            limit = 4000 if name in ('nchar', 'nvarchar') else 8000
            if length < 1 or length > limit:
                raise SqlError(2717 if name.startswith('n') else 131,
                               "The size (%d) given to the type '%s' exceeds the maximum allowed (%d)."
                               % (length, name, limit))
        return SqlType(name, length=length)
    if name in ('decimal', 'numeric'):
        precision = int(args[0]) if args else 18
        scale = int(args[1]) if len(args) > 1 else 0
        if not 1 <= precision <= 38 or scale > precision:
            raise SqlError(2750, "Column or parameter #1: Specified column precision %d is greater "
                                 "than the maximum precision of 38." % precision)
        return SqlType(name, precision=precision, scale=scale)
    if name in ('time', 'datetime2', 'datetimeoffset'):
        return SqlType(name, scale=int(args[0]) if args else 7)
    if name == 'float':
        precision = int(args[0]) if args else 53
        return SqlType('real' if precision <= 24 else 'float')
    return SqlType(name)


# --- values kept in SQLite -----------------------------------------------------
# Integers as INTEGER, float/real/decimal/money as REAL or INTEGER, strings as
# TEXT, binaries as BLOB, date and time values as canonical ISO text
# ('2024-05-06 07:08:09.1234567' without trailing zero fractions, midnight as
# the bare date so that it equals a date literal), GUIDs as upper-case text.

_DATETIME_RE = re.compile(
    r'^\s*(\d{4})-?(\d{1,2})-?(\d{1,2})(?:[ T](\d{1,2}):(\d{2})(?::(\d{2})(?:[.,](\d{1,9}))?)?'
    r'\s*(?:(AM|PM))?)?\s*(Z|[+-]\d{2}:\d{2})?\s*$', re.IGNORECASE)
_TIME_RE = re.compile(r'^\s*(\d{1,2}):(\d{2})(?::(\d{2})(?:[.,](\d{1,9}))?)?\s*$')


class Temporal:
    """A date and a time of day in 100 ns ticks, either part optional."""

    def __init__(self, date=None, ticks=None, offset=None):
        self.date = date        # datetime.date or None
        self.ticks = ticks      # int, 100 ns units since midnight, or None
        self.offset = offset    # minutes east of UTC or None

    def canonical(self):
        parts = []
        if self.date is not None:
            parts.append('%04d-%02d-%02d' % (self.date.year, self.date.month, self.date.day))
        if self.ticks is not None:
            seconds, fraction = divmod(self.ticks, 10 ** 7)
            text = '%02d:%02d:%02d' % (seconds // 3600, seconds // 60 % 60, seconds % 60)
            if fraction:
                text += ('.%07d' % fraction).rstrip('0')
            parts.append(text)
        return ' '.join(parts)


def parse_temporal(value, target):
    """Parses a stored or literal value into a Temporal, or raises 241."""
    if isinstance(value, Temporal):
        return value
    text = value.decode('latin-1') if isinstance(value, bytes) else str(value)
    match = _DATETIME_RE.match(text)
    if match:
        year, month, day = int(match.group(1)), int(match.group(2)), int(match.group(3))
        try:
            date = datetime.date(year, month, day)
        except ValueError:
            raise _temporal_error(text, target)
        ticks = None
        if match.group(4) is not None:
            hour = int(match.group(4))
            if match.group(8):
                hour = hour % 12 + (12 if match.group(8).upper() == 'PM' else 0)
            minute, second = int(match.group(5)), int(match.group(6) or 0)
            if hour > 23 or minute > 59 or second > 59:
                raise _temporal_error(text, target)
            fraction = (match.group(7) or '').ljust(7, '0')[:7]
            ticks = (hour * 3600 + minute * 60 + second) * 10 ** 7 + int(fraction)
        return Temporal(date, ticks)
    match = _TIME_RE.match(text)
    if match:
        hour, minute, second = int(match.group(1)), int(match.group(2)), int(match.group(3) or 0)
        if hour > 23 or minute > 59 or second > 59:
            raise _temporal_error(text, target)
        fraction = (match.group(4) or '').ljust(7, '0')[:7]
        return Temporal(None, (hour * 3600 + minute * 60 + second) * 10 ** 7 + int(fraction))
    raise _temporal_error(text, target)


def _temporal_error(text, target):
    if target in ('date', 'time', 'datetime2', 'datetimeoffset'):
        return SqlError(241, 'Conversion failed when converting date and/or time from character string.')
    return SqlError(241, 'Conversion failed when converting date and/or time from character string.')


def round_ticks(ticks, scale):
    unit = 10 ** (7 - scale)
    return (ticks + unit // 2) // unit * unit


def to_decimal(value, sqltype):
    if isinstance(value, bool):
        value = int(value)
    if isinstance(value, float):
        result = decimal.Decimal(repr(value))
    elif isinstance(value, (int, decimal.Decimal)):
        result = decimal.Decimal(value)
    else:
        text = value.decode('latin-1') if isinstance(value, bytes) else str(value)
        try:
            result = decimal.Decimal(text.strip())
        except decimal.InvalidOperation:
            raise SqlError(8114, 'Error converting data type varchar to %s.' % sqltype.name)
    scale = sqltype.numeric_scale()
    with decimal.localcontext() as ctx:
        ctx.prec = 60
        result = result.quantize(decimal.Decimal(1).scaleb(-scale), rounding=decimal.ROUND_HALF_UP)
    if sqltype.name in ('decimal', 'numeric'):
        if len(result.as_tuple().digits) - 0 > sqltype.precision and result != 0:
            digits = result.adjusted() + 1 + scale
            if digits > sqltype.precision:
                raise SqlError(8115, 'Arithmetic overflow error converting numeric to data type numeric.')
    return result


def to_integer(value, sqltype):
    if isinstance(value, bool):
        value = int(value)
    if isinstance(value, float):
        if value != value or value in (float('inf'), float('-inf')):
            raise SqlError(8115, 'Arithmetic overflow error converting expression to data type %s.' % sqltype.name)
        number = int(value)
    elif isinstance(value, int):
        number = value
    elif isinstance(value, decimal.Decimal):
        number = int(value)
    else:
        text = value.decode('latin-1') if isinstance(value, bytes) else str(value)
        try:
            number = int(text.strip())
        except ValueError:
            raise conversion_failed(text, 'varchar', sqltype.name)
    if sqltype.name == 'bit':
        return 1 if number else 0
    low, high = INTEGER_RANGES[sqltype.name]
    if not low <= number <= high:
        raise SqlError(220 if sqltype.name in ('tinyint', 'smallint') else 8115,
                       'Arithmetic overflow error for data type %s, value = %d.' % (sqltype.name, number)
                       if sqltype.name in ('tinyint', 'smallint') else
                       'Arithmetic overflow error converting expression to data type %s.' % sqltype.name)
    return number


def to_storage(value, sqltype):
    """Converts a value into what a column of `sqltype` keeps in SQLite.

    Raises the SqlError SQL Server raises for a value that does not fit."""
    if value is None:
        return None
    name = sqltype.name
    if name in INTEGER_RANGES or name == 'bit':
        if name == 'bit' and isinstance(value, str) and value.strip().lower() in ('true', 'false'):
            return 1 if value.strip().lower() == 'true' else 0
        return to_integer(value, sqltype)
    if name in ('decimal', 'numeric', 'money', 'smallmoney'):
        return decimal_storage(to_decimal(value, sqltype))
    if name in ('float', 'real'):
        if isinstance(value, (int, float, decimal.Decimal)):
            return float(value)
        text = value.decode('latin-1') if isinstance(value, bytes) else str(value)
        try:
            return float(text)
        except ValueError:
            raise SqlError(8114, 'Error converting data type varchar to float.')
    if name in STRING_TYPES:
        if isinstance(value, bytes):
            text = value.decode(CODEPAGE, errors='replace')
        elif isinstance(value, float):
            text = repr(value)
        else:
            text = str(value)
        if sqltype.length not in (None, MAX):
            size = len(text) if sqltype.is_unicode else len(text.encode(CODEPAGE, errors='replace'))
            if size > sqltype.length and text[sqltype.length:].strip(' '):
                raise truncation_error()
            text = text.rstrip(' ') if size > sqltype.length else text
        return text
    if name in BINARY_TYPES:
        data = value if isinstance(value, bytes) else str(value).encode(CODEPAGE, errors='replace')
        if sqltype.length not in (None, MAX) and len(data) > sqltype.length:
            raise truncation_error()
        return data
    if name in TEMPORAL_TYPES:
        temporal = parse_temporal(value, name)
        if name == 'date':
            if temporal.date is None:
                raise SqlError(206, 'Operand type clash: time is incompatible with date')
            return Temporal(temporal.date).canonical()
        if name == 'time':
            return Temporal(None, round_ticks(temporal.ticks or 0, sqltype.scale) % (864 * 10 ** 9)).canonical()
        date = temporal.date or datetime.date(1900, 1, 1)
        ticks = temporal.ticks or 0
        if name == 'datetime':
            if date.year < 1753:
                raise SqlError(242, 'The conversion of a varchar data type to a datetime data type '
                                    'resulted in an out-of-range value.')
            ticks = datetime_ticks(ticks)
        elif name == 'smalldatetime':
            ticks = (ticks + 300000000) // 600000000 * 600000000
        else:
            ticks = round_ticks(ticks, sqltype.scale)
        if ticks >= 864 * 10 ** 9:
            ticks -= 864 * 10 ** 9
            date += datetime.timedelta(days=1)
        return Temporal(date, ticks or None).canonical()
    if name == 'uniqueidentifier':
        if isinstance(value, bytes) and len(value) == 16:
            return str(uuid.UUID(bytes_le=value)).upper()
        try:
            return str(uuid.UUID(str(value).strip())).upper()
        except ValueError:
            raise SqlError(8169, 'Conversion failed when converting from a character string to uniqueidentifier.')
    return value


def decimal_storage(number):
    """An exact number as SQLite keeps it: INTEGER when whole, REAL when the
    double is exact enough, otherwise TEXT (the columns have no affinity)."""
    if number == number.to_integral_value() and -2 ** 63 <= number < 2 ** 63:
        return int(number)
    approximation = float(number)
    if decimal.Decimal(repr(approximation)) == number.normalize():
        return approximation
    return str(number)


def datetime_ticks(ticks):
    """Rounds 100 ns ticks to datetime's 1/300 s, kept as whole milliseconds."""
    three_hundredths = (ticks * 300 + 5000000) // 10 ** 7
    return (three_hundredths * 10 + 1) // 3 * 10000


def truncation_error():
    return SqlError(8152, 'String or binary data would be truncated.')


def infer_type(value):
    """The type SQL Server gives an expression whose value is `value`."""
    if value is None or isinstance(value, bool):
        return SqlType('int')
    if isinstance(value, int):
        return SqlType('int') if -2 ** 31 <= value < 2 ** 31 else SqlType('bigint')
    if isinstance(value, float):
        return SqlType('float')
    if isinstance(value, bytes):
        return SqlType('varbinary', length=MAX if len(value) > 8000 else 8000)
    return SqlType('nvarchar', length=MAX if len(value) > 4000 else 4000)


# --- TYPE_INFO -------------------------------------------------------------------

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
    units = round_ticks(ticks, sqltype.scale) // 10 ** (7 - sqltype.scale)
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


def _decode_fixed(data, sqltype):
    name = sqltype.name
    if name in INTEGER_RANGES:
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
        unscaled = int.from_bytes(data[1:], 'little')
        number = decimal.Decimal(unscaled if data[0] else -unscaled).scaleb(-sqltype.scale)
        return number
    if name in ('datetime', 'smalldatetime'):
        if len(data) == 8:
            days, fraction = struct.unpack('<iI', data)
            ticks = fraction * 10 ** 7 // 300
        else:
            days, minutes = struct.unpack('<HH', data)
            ticks = minutes * 600000000
        return Temporal(datetime.date(1900, 1, 1) + datetime.timedelta(days=days), ticks)
    if name == 'date':
        return Temporal(datetime.date.fromordinal(int.from_bytes(data, 'little') + 1))
    if name in ('time', 'datetime2', 'datetimeoffset'):
        size = time_bytes(sqltype.scale)
        ticks = int.from_bytes(data[:size], 'little') * 10 ** (7 - sqltype.scale)
        if name == 'time':
            return Temporal(None, ticks)
        date = datetime.date.fromordinal(int.from_bytes(data[size:size + 3], 'little') + 1)
        offset = struct.unpack('<h', data[size + 3:size + 5])[0] if name == 'datetimeoffset' else None
        return Temporal(date, ticks, offset)
    if name == 'uniqueidentifier':
        return str(uuid.UUID(bytes_le=bytes(data))).upper()
    raise ValueError(name)


def to_sqlite(value, sqltype):
    """A decoded parameter as the value bound into a SQLite statement."""
    if value is None:
        return None
    if isinstance(value, Temporal):
        if sqltype.name == 'date':
            return Temporal(value.date).canonical()
        if sqltype.name == 'time':
            return Temporal(None, value.ticks).canonical()
        return Temporal(value.date, value.ticks or None).canonical()
    if isinstance(value, decimal.Decimal):
        return decimal_storage(value)
    return value
