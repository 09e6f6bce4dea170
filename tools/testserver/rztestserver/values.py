"""Values as SQLite keeps them for each SQL Server type, and the conversions
(with SQL Server's errors) that a value written into a column goes through."""
import datetime
import decimal
import re
import struct
import uuid

from .errors import SqlError, conversion_failed
from .sqltypes import BINARY_TYPES, CODEPAGE, INTEGER_RANGES, MAX, STRING_TYPES, TEMPORAL_TYPES

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
        offset = None
        if match.group(9):
            offset = parse_offset(match.group(9))
            if offset is None:
                raise _temporal_error(text, target)
        return Temporal(date, ticks, offset)
    match = _TIME_RE.match(text)
    if match:
        hour, minute, second = int(match.group(1)), int(match.group(2)), int(match.group(3) or 0)
        if hour > 23 or minute > 59 or second > 59:
            raise _temporal_error(text, target)
        fraction = (match.group(4) or '').ljust(7, '0')[:7]
        return Temporal(None, (hour * 3600 + minute * 60 + second) * 10 ** 7 + int(fraction))
    raise _temporal_error(text, target)


TICKS_PER_DAY = 864 * 10 ** 9
TICKS_PER_MINUTE = 6 * 10 ** 8
_OFFSET_RE = re.compile(r'^\s*([+-])(\d{1,2}):(\d{2})\s*$')


def parse_offset(text):
    """Minutes east of UTC of 'Z' or '+hh:mm' (-14:00 to +14:00), else None."""
    if text.strip().upper() == 'Z':
        return 0
    match = _OFFSET_RE.match(text)
    if not match or int(match.group(3)) > 59:
        return None
    minutes = int(match.group(2)) * 60 + int(match.group(3))
    if minutes > 840:
        return None
    return -minutes if match.group(1) == '-' else minutes


def offset_text(minutes):
    return '%s%02d:%02d' % ('-' if minutes < 0 else '+', abs(minutes) // 60, abs(minutes) % 60)


def shift(date, ticks, minutes):
    """The date and time of day `minutes` later."""
    days, ticks = divmod(ticks + minutes * TICKS_PER_MINUTE, TICKS_PER_DAY)
    return date + datetime.timedelta(days=days), ticks


def utc_ticks(temporal):
    """A moment as 100 ns ticks of UTC since 0001-01-01: what datetimeoffset values compare by."""
    date = temporal.date or datetime.date(1900, 1, 1)
    return date.toordinal() * TICKS_PER_DAY + (temporal.ticks or 0) - (temporal.offset or 0) * TICKS_PER_MINUTE


def datetimeoffset_text(temporal, scale):
    """A datetimeoffset as SQL Server writes it: local date and time with
    exactly `scale` decimals, then the offset ('2024-05-06 07:08:09.120 +02:00')."""
    date, ticks = shift(temporal.date or datetime.date(1900, 1, 1), round_ticks(temporal.ticks or 0, scale), 0)
    seconds, fraction = divmod(ticks, 10 ** 7)
    text = '%04d-%02d-%02d %02d:%02d:%02d' % (date.year, date.month, date.day, seconds // 3600,
                                               seconds // 60 % 60, seconds % 60)
    if scale:
        text += '.' + ('%07d' % fraction)[:scale]
    return text + ' ' + offset_text(temporal.offset or 0)


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
            number = float(value)
        else:
            text = value.decode('latin-1') if isinstance(value, bytes) else str(value)
            try:
                number = float(text)
            except ValueError:
                raise SqlError(8114, 'Error converting data type varchar to float.')
        return single_precision(number) if name == 'real' else number
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
        if name == 'datetimeoffset':
            # a value without an offset is taken as UTC, as SQL Server takes a datetime2
            return datetimeoffset_text(Temporal(date, ticks, temporal.offset or 0), sqltype.scale)
        if name in ('datetime', 'smalldatetime'):
            date, ticks = datetime_moment(date, ticks, name, value)
        else:
            ticks = round_ticks(ticks, sqltype.scale)
            if ticks >= TICKS_PER_DAY:
                date, ticks = shift(date, ticks, 0)
        return Temporal(date, ticks or None).canonical()
    if name == 'uniqueidentifier':
        if isinstance(value, bytes) and len(value) == 16:
            return str(uuid.UUID(bytes_le=value)).upper()
        try:
            return str(uuid.UUID(str(value).strip())).upper()
        except ValueError:
            raise SqlError(8169, 'Conversion failed when converting from a character string to uniqueidentifier.')
    return value


def column_value(value, sqltype):
    """What a column of `sqltype` keeps: as to_storage, with wide decimals
    always as their exact text."""
    stored = to_storage(value, sqltype)
    if stored is not None and sqltype.is_wide_decimal:
        return plain_decimal(to_decimal(stored, sqltype))
    return stored


def plain_decimal(number):
    return '{:f}'.format(number)


def decimal_storage(number):
    """An exact number as SQLite keeps it: INTEGER when whole, REAL when the
    double is exact enough, otherwise TEXT (the columns have no affinity)."""
    if number == number.to_integral_value() and -2 ** 63 <= number < 2 ** 63:
        return int(number)
    approximation = float(number)
    with decimal.localcontext() as context:
        context.prec = 80       # the default 28 digits would take 38 nines for 1E+38
        if decimal.Decimal(repr(approximation)) == number.normalize():
            return approximation
    return str(number)


def datetime_ticks(ticks):
    """Rounds 100 ns ticks to datetime's 1/300 s, kept as whole milliseconds."""
    three_hundredths = (ticks * 300 + 5000000) // 10 ** 7
    return (three_hundredths * 10 + 1) // 3 * 10000


_DATETIME_RANGES = {'datetime': (datetime.date(1753, 1, 1), datetime.date(9999, 12, 31)),
                    'smalldatetime': (datetime.date(1900, 1, 1), datetime.date(2079, 6, 6))}


def datetime_moment(date, ticks, name, source):
    """The date and time a datetime or smalldatetime keeps of a moment: the
    time rounded to 1/300 s, for smalldatetime then to the minute (so 29.998 s
    rounds down and 29.999 s, which is 30.000 as datetime, up); 242 when the
    rounded moment lies outside the type's range."""
    ticks = datetime_ticks(ticks)
    if name == 'smalldatetime':
        ticks = (ticks + 30 * 10 ** 7) // TICKS_PER_MINUTE * TICKS_PER_MINUTE
    first, last = _DATETIME_RANGES[name]
    if ticks >= TICKS_PER_DAY:
        ticks -= TICKS_PER_DAY
        if date == last:
            raise _out_of_range(source, name)
        date += datetime.timedelta(days=1)
    if not first <= date <= last:
        raise _out_of_range(source, name)
    return date, ticks


def _out_of_range(source, name):
    if isinstance(source, Temporal):
        source_type = 'datetime2' if source.offset is None else 'datetimeoffset'
    else:
        source_type = 'varchar'
    return SqlError(242, 'The conversion of a %s data type to a %s data type resulted in an out-of-range value.'
                    % (source_type, name))


def single_precision(number):
    """A real keeps the nearest 4-byte float, as SQL Server stores it."""
    try:
        return struct.unpack('<f', struct.pack('<f', number))[0]
    except OverflowError:
        raise SqlError(8115, 'Arithmetic overflow error converting expression to data type real.')


def truncation_error():
    return SqlError(8152, 'String or binary data would be truncated.')


def to_sqlite(value, sqltype):
    """A decoded parameter as the value bound into a SQLite statement."""
    if value is None:
        return None
    if isinstance(value, Temporal):
        if sqltype.name == 'datetimeoffset':
            return datetimeoffset_text(value, sqltype.scale)
        if sqltype.name == 'date':
            return Temporal(value.date).canonical()
        if sqltype.name == 'time':
            return Temporal(None, value.ticks).canonical()
        if sqltype.name in ('datetime', 'smalldatetime'):
            return to_storage(value, sqltype)
        return Temporal(value.date, value.ticks or None).canonical()
    if isinstance(value, decimal.Decimal):
        return decimal_storage(value)
    return value
