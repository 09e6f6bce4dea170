"""T-SQL built-in functions and SQL Server's comparison rules, registered
on every SQLite connection."""
import datetime
import decimal
import math
import threading
import uuid

from . import sqltypes
from .errors import SqlError, divide_by_zero, conversion_failed
from . import values
from .sqltypes import parse_type
from .values import parse_temporal, Temporal

_state = threading.local()


def raise_sql(error):
    """Remembers the SQL Server error behind an exception a function raises."""
    _state.error = error
    raise error


def take_pending_error():
    error = getattr(_state, 'error', None)
    _state.error = None
    return error


def clear_pending_error():
    _state.error = None


def recent_values():
    """Values most recently stored by rz_store, by column name (for messages)."""
    if not hasattr(_state, 'stored'):
        _state.stored = {}
    return _state.stored


def _guard(function):
    def wrapper(*args):
        try:
            return function(*args)
        except SqlError as error:
            raise_sql(error)
    return wrapper


def collate_ci(left, right):
    """SQL_Latin1_General_CP1_CI_AS: case-insensitive, trailing blanks ignored."""
    a, b = left.rstrip(' ').casefold(), right.rstrip(' ').casefold()
    return (a > b) - (a < b)


def _number(value, target='int'):
    if value is None or isinstance(value, (int, float)):
        return value
    if isinstance(value, bytes):
        return int.from_bytes(value, 'big') if value else 0
    text = value.strip()
    try:
        return int(text)
    except ValueError:
        try:
            return float(text)
        except ValueError:
            raise conversion_failed(value, 'varchar', target)


def rz_add(a, b):
    if a is None or b is None:
        return None
    if isinstance(a, str) and isinstance(b, str):
        return a + b
    if isinstance(a, bytes) and isinstance(b, bytes):
        return a + b
    if isinstance(a, str):
        a = _number(a, 'int' if isinstance(b, int) else 'float')
    if isinstance(b, str):
        b = _number(b, 'int' if isinstance(a, int) else 'float')
    return _checked(a + b)


def _checked(number):
    if isinstance(number, int) and not -2 ** 63 <= number < 2 ** 63:
        raise SqlError(8115, 'Arithmetic overflow error converting expression to data type bigint.')
    return number


def rz_div(a, b):
    if a is None or b is None:
        return None
    a, b = _number(a), _number(b)
    if b == 0:
        raise divide_by_zero()
    if isinstance(a, int) and isinstance(b, int):
        quotient = abs(a) // abs(b)
        return quotient if (a >= 0) == (b >= 0) else -quotient
    return a / b


def rz_mod(a, b):
    if a is None or b is None:
        return None
    a, b = _number(a), _number(b)
    if b == 0:
        raise divide_by_zero()
    return math.fmod(a, b) if isinstance(a, float) or isinstance(b, float) else \
        (abs(a) % abs(b)) * (1 if a >= 0 else -1)


def rz_store(value, type_name):
    """Converts a value written into a column of the given type."""
    return values.column_value(value, parse_type(type_name))


def rz_store_named(value, type_name, column):
    stored = values.column_value(value, parse_type(type_name))
    recent_values()[column.lower()] = stored
    return stored


def _exact(value):
    if isinstance(value, float):
        return decimal.Decimal(repr(value))
    if isinstance(value, bytes):
        return decimal.Decimal(int.from_bytes(value, 'big'))
    try:
        return decimal.Decimal(value if isinstance(value, int) else str(value).strip())
    except decimal.InvalidOperation:
        raise SqlError(8114, 'Error converting data type varchar to numeric.')


def rz_decimal_op(operator, a, b, type_name):
    """Exact decimal arithmetic, the result rounded to the type SQL Server derives."""
    if a is None or b is None:
        return None
    left, right = _exact(a), _exact(b)
    with decimal.localcontext() as context:
        context.prec = 100
        if operator in '/%' and right == 0:
            raise divide_by_zero()
        result = {'+': lambda: left + right, '-': lambda: left - right, '*': lambda: left * right,
                  '/': lambda: left / right, '%': lambda: left % right}[operator]()
    target = parse_type(type_name)
    try:
        number = values.to_decimal(result, target)
    except SqlError:
        raise SqlError(8115, 'Arithmetic overflow error converting expression to data type numeric.')
    return values.decimal_storage(number)


def datetimeoffset_collation(left, right):
    """Orders datetimeoffset values kept as text by their moment in UTC."""
    try:
        a, b = values.utc_ticks(parse_temporal(left, 'datetimeoffset')), \
            values.utc_ticks(parse_temporal(right, 'datetimeoffset'))
    except SqlError:
        return (left > right) - (left < right)
    return (a > b) - (a < b)


def _offset_minutes(value, function):
    if isinstance(value, (int, float)):
        minutes = int(value)
        if -840 <= minutes <= 840:
            return minutes
    else:
        minutes = values.parse_offset(str(value))
        if minutes is not None:
            return minutes
    raise SqlError(9812, 'The timezone provided to builtin function %s is invalid.' % function)


def rz_switchoffset(value, zone):
    """The same moment with another offset."""
    if value is None or zone is None:
        return None
    moment = parse_temporal(value, 'datetimeoffset')
    minutes = _offset_minutes(zone, 'switchoffset')
    date, ticks = values.shift(moment.date or datetime.date(1900, 1, 1), moment.ticks or 0,
                               minutes - (moment.offset or 0))
    return values.datetimeoffset_text(Temporal(date, ticks, minutes), 7)


def rz_todatetimeoffset(value, zone):
    """The date and time of day as given, at the offset given."""
    if value is None or zone is None:
        return None
    moment = parse_temporal(value, 'datetime2')
    return values.datetimeoffset_text(Temporal(moment.date, moment.ticks, _offset_minutes(zone, 'todatetimeoffset')), 7)


def rz_sysdatetimeoffset():
    now = datetime.datetime.now().astimezone()
    minutes = int(now.utcoffset().total_seconds()) // 60
    return values.datetimeoffset_text(Temporal(now.date(), _day_ticks(now), minutes), 7)


def decimal_collation(left, right):
    """Orders exact decimals kept as text by their value."""
    try:
        a, b = decimal.Decimal(left), decimal.Decimal(right)
    except decimal.InvalidOperation:
        return (left > right) - (left < right)
    return (a > b) - (a < b)


def rz_cast(value, type_name, style=None):
    if value is None:
        return None
    target = parse_type(type_name)
    if target.name in sqltypes.STRING_TYPES:
        if isinstance(value, float):
            text = ('%.6g' % value) if style is None else repr(value)
        elif isinstance(value, bytes):
            text = value.decode(sqltypes.CODEPAGE, errors='replace')
        else:
            text = str(value)
        if target.length not in (None, sqltypes.MAX):
            text = text[:target.length]
        return text
    if target.name in sqltypes.INTEGER_RANGES and isinstance(value, str):
        text = value.strip()
        try:
            number = int(text)
        except ValueError:
            raise conversion_failed(value, 'varchar', target.name)
        return values.to_integer(number, target)
    if target.name in sqltypes.INTEGER_RANGES and isinstance(value, float):
        return values.to_integer(int(value), target)
    if target.name in ('decimal', 'numeric', 'money', 'smallmoney') and isinstance(value, str):
        try:
            decimal.Decimal(value.strip())
        except decimal.InvalidOperation:
            raise SqlError(8114, 'Error converting data type varchar to numeric.')
    return values.to_storage(value, target)


def rz_try_cast(value, type_name, style=None):
    try:
        return rz_cast(value, type_name, style)
    except SqlError:
        return None


def rz_len(value):
    if value is None:
        return None
    if isinstance(value, bytes):
        return len(value)
    return len(str(value).rstrip(' '))


def rz_datalength(value):
    if value is None:
        return None
    if isinstance(value, bytes):
        return len(value)
    if isinstance(value, int):
        return 4 if -2 ** 31 <= value < 2 ** 31 else 8
    if isinstance(value, float):
        return 8
    return len(value.encode('utf-16-le'))


def rz_substring(value, start, length):
    if value is None or start is None or length is None:
        return None
    if length < 0:
        raise SqlError(537, 'Invalid length parameter passed to the LEFT or SUBSTRING function.')
    begin = max(start, 1)
    end = start + length
    if end <= begin:
        return value[:0]
    return value[begin - 1:end - 1]


def rz_charindex(needle, haystack, start=1):
    if needle is None or haystack is None:
        return None
    start = max(int(start or 1), 1)
    position = haystack.lower().find(needle.lower(), start - 1)
    return position + 1


def rz_left(value, count):
    if value is None or count is None:
        return None
    if count < 0:
        raise SqlError(537, 'Invalid length parameter passed to the LEFT or SUBSTRING function.')
    return value[:count]


def rz_right(value, count):
    if value is None or count is None:
        return None
    return value[-count:] if count else value[:0]


def _now():
    return datetime.datetime.now()


def rz_getdate():
    now = _now()
    return Temporal(now.date(), _day_ticks(now)).canonical()


def _day_ticks(moment):
    return ((moment.hour * 60 + moment.minute) * 60 + moment.second) * 10 ** 7 + moment.microsecond * 10


def rz_sysdatetime():
    return rz_getdate()


def rz_getutcdate():
    now = datetime.datetime.utcnow()
    return Temporal(now.date(), _day_ticks(now)).canonical()


def rz_newid():
    return str(uuid.uuid4()).upper()


def _as_temporal(value):
    if value is None:
        return None
    return parse_temporal(value, 'datetime')


def _part(unit, value):
    moment = _as_temporal(value)
    if moment is None:
        return None
    date = moment.date or datetime.date(1900, 1, 1)
    ticks = moment.ticks or 0
    unit = {'yy': 'year', 'yyyy': 'year', 'mm': 'month', 'm': 'month', 'dd': 'day', 'd': 'day',
            'hh': 'hour', 'mi': 'minute', 'n': 'minute', 'ss': 'second', 's': 'second',
            'ms': 'millisecond', 'qq': 'quarter', 'q': 'quarter', 'dw': 'weekday', 'dy': 'dayofyear',
            'y': 'dayofyear', 'wk': 'week', 'ww': 'week', 'mcs': 'microsecond',
            'ns': 'nanosecond'}.get(unit, unit)
    seconds = ticks // 10 ** 7
    values = {
        'year': date.year, 'month': date.month, 'day': date.day, 'hour': seconds // 3600,
        'minute': seconds // 60 % 60, 'second': seconds % 60, 'millisecond': ticks // 10000 % 1000,
        'microsecond': ticks // 10 % 1000000, 'nanosecond': ticks % 10 ** 7 * 100,
        'quarter': (date.month - 1) // 3 + 1, 'weekday': date.isoweekday() % 7 + 1,
        'dayofyear': date.timetuple().tm_yday, 'week': int(date.strftime('%U')) + 1,
    }
    values['tzoffset'] = moment.offset or 0
    if unit == 'tz':
        unit = 'tzoffset'
    if unit not in values:
        raise SqlError(155, "'%s' is not a recognized datepart option." % unit, severity=15)
    return values[unit]


def rz_datepart(unit, value):
    return _part(unit, value)


def rz_year(value):
    return _part('year', value)


def rz_month(value):
    return _part('month', value)


def rz_day(value):
    return _part('day', value)


def rz_datename(unit, value):
    if unit in ('month', 'mm', 'm'):
        moment = _as_temporal(value)
        return moment.date.strftime('%B') if moment else None
    if unit in ('weekday', 'dw'):
        moment = _as_temporal(value)
        return moment.date.strftime('%A') if moment else None
    result = _part(unit, value)
    return None if result is None else str(result)


def rz_dateadd(unit, amount, value):
    moment = _as_temporal(value)
    if moment is None or amount is None:
        return None
    amount = int(amount)
    date = moment.date or datetime.date(1900, 1, 1)
    ticks = moment.ticks or 0
    unit = {'yy': 'year', 'yyyy': 'year', 'mm': 'month', 'm': 'month', 'dd': 'day', 'd': 'day',
            'hh': 'hour', 'mi': 'minute', 'n': 'minute', 'ss': 'second', 's': 'second',
            'ms': 'millisecond', 'wk': 'week', 'ww': 'week', 'qq': 'quarter', 'q': 'quarter'}.get(unit, unit)
    if unit in ('year', 'quarter', 'month'):
        months = amount * {'year': 12, 'quarter': 3, 'month': 1}[unit]
        total = date.year * 12 + date.month - 1 + months
        year, month = divmod(total, 12)
        month += 1
        day = min(date.day, [31, 29 if year % 4 == 0 and (year % 100 or year % 400 == 0) else 28,
                             31, 30, 31, 30, 31, 31, 30, 31, 30, 31][month - 1])
        date = datetime.date(year, month, day)
    else:
        scale = {'week': 7 * 864 * 10 ** 9, 'day': 864 * 10 ** 9, 'hour': 36 * 10 ** 9,
                 'minute': 6 * 10 ** 8, 'second': 10 ** 7, 'millisecond': 10 ** 4}
        if unit not in scale:
            raise SqlError(155, "'%s' is not a recognized dateadd option." % unit, severity=15)
        total = ticks + amount * scale[unit]
        days, ticks = divmod(total, 864 * 10 ** 9)
        date = date + datetime.timedelta(days=days)
    if moment.date is None:
        return Temporal(None, ticks).canonical()
    if moment.ticks is None and unit in ('year', 'quarter', 'month', 'week', 'day'):
        return Temporal(date).canonical()
    return Temporal(date, ticks).canonical()


def rz_datediff(unit, start, end):
    a, b = _as_temporal(start), _as_temporal(end)
    if a is None or b is None:
        return None
    da, db = a.date or datetime.date(1900, 1, 1), b.date or datetime.date(1900, 1, 1)
    ta, tb = a.ticks or 0, b.ticks or 0
    unit = {'yy': 'year', 'yyyy': 'year', 'mm': 'month', 'm': 'month', 'dd': 'day', 'd': 'day',
            'hh': 'hour', 'mi': 'minute', 'n': 'minute', 'ss': 'second', 's': 'second',
            'ms': 'millisecond', 'wk': 'week', 'ww': 'week'}.get(unit, unit)
    if unit == 'year':
        return db.year - da.year
    if unit == 'month':
        return (db.year - da.year) * 12 + db.month - da.month
    if unit == 'day':
        return (db - da).days
    if unit == 'week':
        return ((db - da).days + da.isoweekday() % 7) // 7
    scale = {'hour': 36 * 10 ** 9, 'minute': 6 * 10 ** 8, 'second': 10 ** 7, 'millisecond': 10 ** 4}
    if unit not in scale:
        raise SqlError(155, "'%s' is not a recognized datediff option." % unit, severity=15)
    day = 864 * 10 ** 9
    return ((db - da).days * day + tb) // scale[unit] - ta // scale[unit]


def rz_ceiling(value):
    return None if value is None else math.ceil(_number(value, 'float'))


def rz_floor(value):
    return None if value is None else math.floor(_number(value, 'float'))


def rz_power(base, exponent):
    if base is None or exponent is None:
        return None
    result = _number(base, 'float') ** _number(exponent, 'float')
    return result


def rz_sqrt(value):
    if value is None:
        return None
    number = float(_number(value, 'float'))
    if number < 0:
        raise SqlError(3623, 'An invalid floating point operation occurred.')
    return math.sqrt(number)


def rz_square(value):
    return None if value is None else float(_number(value, 'float')) ** 2


def rz_round(value, digits=0, truncate=0):
    if value is None or digits is None:
        return None
    if isinstance(value, int) and digits >= 0:
        return value
    number = decimal.Decimal(repr(value) if isinstance(value, float) else str(value))
    quantum = decimal.Decimal(1).scaleb(-int(digits))
    rounding = decimal.ROUND_DOWN if truncate else decimal.ROUND_HALF_UP
    result = number.quantize(quantum, rounding=rounding) if digits >= 0 else \
        (number / quantum).quantize(decimal.Decimal(1), rounding=rounding) * quantum
    return float(result) if isinstance(value, float) or '.' in str(value) else int(result)


def rz_concat(*values):
    return ''.join('' if v is None else (v if isinstance(v, str) else str(v)) for v in values)


def rz_replicate(value, count):
    if value is None or count is None or count < 0:
        return None
    return value * int(count)


def rz_space(count):
    return None if count is None or count < 0 else ' ' * int(count)


def rz_reverse(value):
    return None if value is None else value[::-1]


def rz_ascii(value):
    return None if not value else ord(value[0])


def rz_replace(value, old, new):
    if value is None or old is None or new is None:
        return None
    if not old:
        return value
    result, lower, needle, position = [], value.lower(), old.lower(), 0
    while True:
        found = lower.find(needle, position)
        if found < 0:
            result.append(value[position:])
            return ''.join(result)
        result.append(value[position:found])
        result.append(new)
        position = found + len(old)


def rz_stuff(value, start, length, insert):
    if value is None or start is None or length is None or start < 1 or start > len(value):
        return None
    return value[:start - 1] + (insert or '') + value[start - 1 + length:]


def rz_str(value, length=10, decimals=0):
    if value is None:
        return None
    text = '%.*f' % (int(decimals), float(value))
    return text.rjust(int(length)) if len(text) <= length else '*' * int(length)


def rz_isnumeric(value):
    if value is None:
        return 0
    if isinstance(value, (int, float)):
        return 1
    try:
        float(str(value).strip())
        return 1
    except ValueError:
        return 0


def rz_quotename(value, quote='['):
    if value is None:
        return None
    if quote in ('[', ']'):
        return '[' + value.replace(']', ']]') + ']'
    return quote + value.replace(quote, quote * 2) + quote


def name_parts(value):
    parts, current, inside = [], '', False
    for char in value:
        if char == '[' and not inside:
            inside = True
        elif char == ']' and inside:
            inside = False
        elif char == '.' and not inside:
            parts.append(current)
            current = ''
        else:
            current += char
    parts.append(current)
    return [part.strip('"') for part in parts]


def rz_object_part(value):
    """The object name of 'db.dbo.[name]' (brackets removed)."""
    if value is None:
        return None
    return name_parts(value)[-1]


def rz_schema_part(value):
    """The schema of 'db.schema.[name]'; dbo when the name has none."""
    if value is None:
        return None
    parts = name_parts(value)
    return parts[-2] if len(parts) >= 2 and parts[-2] else 'dbo'


def rz_avg(value):
    raise NotImplementedError   # replaced by the aggregate class below


class Average:
    """AVG of integers stays an integer, as in SQL Server."""

    def __init__(self):
        self.total = 0
        self.count = 0
        self.integral = True

    def step(self, value):
        if value is None:
            return
        if isinstance(value, str):
            value = _number(value)
        if isinstance(value, float):
            self.integral = False
        self.total += value
        self.count += 1

    def finalize(self):
        if not self.count:
            return None
        if self.integral:
            quotient = abs(self.total) // self.count
            return quotient if self.total >= 0 else -quotient
        return self.total / self.count


class DecimalSum:
    """SUM of decimals, exact (SQLite's sum() goes through doubles); also a
    window function. The caller rounds the total to the result type."""

    def __init__(self):
        self.total = decimal.Decimal(0)
        self.count = 0

    def _add(self, value, sign):
        if value is None:
            return
        try:
            number = _exact(value)
        except SqlError as error:
            raise_sql(error)
        with decimal.localcontext() as context:
            context.prec = 100
            self.total += sign * number
        self.count += sign

    def step(self, value):
        self._add(value, 1)

    def inverse(self, value):
        self._add(value, -1)

    def value(self):
        return values.plain_decimal(self.total) if self.count else None

    def finalize(self):
        return self.value()


class DecimalAverage(DecimalSum):
    def value(self):
        if not self.count:
            return None
        with decimal.localcontext() as context:
            context.prec = 100
            return values.plain_decimal(self.total / self.count)


def rz_eomonth(value):
    moment = _as_temporal(value)
    if moment is None:
        return None
    date = moment.date
    following = (date.replace(day=28) + datetime.timedelta(days=4)).replace(day=1)
    return Temporal(following - datetime.timedelta(days=1)).canonical()


def rz_format(value, fmt, culture=None):
    return None if value is None else str(value)


def rz_serverproperty(name):
    values = {'productversion': '15.0.2000.5', 'productlevel': 'RTM', 'edition': 'Developer Edition (64-bit)',
              'servername': 'RZTESTSERVER', 'machinename': 'RZTESTSERVER', 'engineedition': 3,
              'collation': 'SQL_Latin1_General_CP1_CI_AS', 'ismixedmodeauthonly': 0,
              'isintegratedsecurityonly': 0, 'productmajorversion': '15'}
    return values.get(str(name).lower())


def rz_null(*args):
    return None


def register(conn, session_info):
    """Registers the functions on a connection; session_info answers DB_NAME() etc."""
    simple = {
        'rz_add': rz_add, 'rz_div': rz_div, 'rz_decimal_op': rz_decimal_op, 'rz_mod': rz_mod,
        'rz_switchoffset': rz_switchoffset, 'rz_todatetimeoffset': rz_todatetimeoffset, 'rz_store': rz_store,
        'rz_store_named': rz_store_named,
        'rz_cast': rz_cast, 'rz_try_cast': rz_try_cast, 'rz_len': rz_len, 'rz_datalength': rz_datalength,
        'rz_substring': rz_substring, 'rz_charindex': rz_charindex, 'rz_left': rz_left,
        'rz_right': rz_right, 'rz_year': rz_year, 'rz_month': rz_month, 'rz_day': rz_day,
        'rz_datepart': rz_datepart, 'rz_dateadd': rz_dateadd, 'rz_datediff': rz_datediff,
        'rz_datename': rz_datename, 'rz_ceiling': rz_ceiling, 'rz_floor': rz_floor,
        'rz_power': rz_power, 'rz_sqrt': rz_sqrt, 'rz_square': rz_square, 'rz_round': rz_round,
        'rz_concat': rz_concat, 'rz_replicate': rz_replicate, 'rz_space': rz_space,
        'rz_reverse': rz_reverse, 'rz_ascii': rz_ascii, 'rz_replace': rz_replace, 'rz_stuff': rz_stuff,
        'rz_str': rz_str, 'rz_isnumeric': rz_isnumeric, 'rz_quotename': rz_quotename,
        'rz_object_part': rz_object_part, 'rz_schema_part': rz_schema_part, 'rz_eomonth': rz_eomonth, 'rz_format': rz_format,
        'rz_serverproperty': rz_serverproperty, 'rz_null': rz_null,
        'rz_pi': lambda: math.pi, 'rz_exp': lambda v: None if v is None else math.exp(v),
        'rz_log': lambda v, b=None: None if v is None else (math.log(v) if b is None else math.log(v, b)),
        'rz_log10': lambda v: None if v is None else math.log10(v),
    }
    for name, function in simple.items():
        conn.create_function(name, -1, _guard(function))
    volatile = {'rz_getdate': rz_getdate, 'rz_sysdatetime': rz_sysdatetime,
                'rz_getutcdate': rz_getutcdate, 'rz_sysutcdatetime': rz_getutcdate, 'rz_newid': rz_newid,
                'rz_sysdatetimeoffset': rz_sysdatetimeoffset}
    for name, function in volatile.items():
        conn.create_function(name, 0, function)
    for name, function in session_info.items():
        conn.create_function(name, -1, function)
    conn.create_aggregate('rz_avg', 1, Average)
    conn.create_window_function('rz_decimal_sum', 1, DecimalSum)
    conn.create_window_function('rz_decimal_avg', 1, DecimalAverage)
    conn.create_collation('rz_ci', collate_ci)
    conn.create_collation('rz_decimal', decimal_collation)
    conn.create_collation('rz_datetimeoffset', datetimeoffset_collation)
