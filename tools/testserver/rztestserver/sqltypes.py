"""SQL Server data types: names, lengths, precisions and their catalogue
properties, and the type SQL Server gives a value."""
import re

from .errors import SqlError

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
    def is_wide_decimal(self):
        """decimal/numeric beyond a double's 15 digits: kept as exact text and
        compared through the rz_decimal collation."""
        return self.name in ('decimal', 'numeric') and (self.precision or 18) > 15

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
            return decimal_bytes(self.precision)
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


# the decimal precision of the other exact numeric types where they meet a decimal
EXACT_PRECISIONS = {'bit': (1, 0), 'tinyint': (3, 0), 'smallint': (5, 0), 'int': (10, 0), 'bigint': (19, 0),
                    'smallmoney': (10, 4), 'money': (19, 4)}
MAX_PRECISION = 38


def decimal_result(operator, left, right):
    """The numeric(p, s) SQL Server gives `left operator right` when one side is
    decimal and the other exact; operands are (precision, scale) pairs."""
    (p1, s1), (p2, s2) = left, right
    if operator in '+-':
        integral = max(p1 - s1, p2 - s2)
        scale = max(s1, s2)
        precision = scale + integral + 1
        if precision > MAX_PRECISION:
            scale = max(min(scale, MAX_PRECISION - integral), 0)
    elif operator == '%':
        scale = max(s1, s2)
        precision = min(p1 - s1, p2 - s2) + scale
    else:
        if operator == '*':
            precision, scale = p1 + p2 + 1, s1 + s2
        else:
            scale = max(6, s1 + p2 + 1)
            precision = p1 - s1 + s2 + scale
        integral = precision - scale
        if precision > MAX_PRECISION:
            if integral < 32:
                scale = min(scale, MAX_PRECISION - integral)
            elif scale > 6:
                scale = 6
    return SqlType('numeric', precision=max(min(precision, MAX_PRECISION), 1), scale=scale)


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
