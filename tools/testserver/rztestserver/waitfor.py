"""WAITFOR DELAY 'hh:mm[:ss[.mmm]]' and WAITFOR TIME 'hh:mm[:ss[.mmm]]'.

The wait is taken in short slices that look for an ATTENTION from the
client, so a cancel ends it at once, as it ends SQL Server's."""
import datetime
import re
import time

from .errors import SqlError, syntax_near
from .packets import AttentionReceived

_TIME = re.compile(r'^\s*(\d{1,2}):(\d{1,2})(?::(\d{1,2})(?:\.(\d{1,3}))?)?\s*$')
# datetime variables carry SQL Server's base date, which WAITFOR ignores
_BASE_DATE = re.compile(r'^\s*1900-01-01[ T]')
_SLICE = 0.05


def bad_time(text):
    return SqlError(148, "Incorrect time syntax in time string '%s' used with WAITFOR." % text, severity=15)


def parse_time_of_day(text):
    """Seconds since midnight, or SqlError 148 for text that is not a time of day."""
    text = _BASE_DATE.sub('', str(text))
    match = _TIME.match(text)
    if not match:
        raise bad_time(text)
    hours, minutes = int(match.group(1)), int(match.group(2))
    seconds = int(match.group(3) or 0)
    millis = int((match.group(4) or '0').ljust(3, '0'))
    if hours > 23 or minutes > 59 or seconds > 59:
        raise bad_time(text)
    return hours * 3600 + minutes * 60 + seconds + millis / 1000.0


def _argument(session, tokens, parameters):
    if len(tokens) != 1 or tokens[0].kind not in ('string', 'nstring', 'var'):
        raise syntax_near(tokens[0].text if tokens else 'WAITFOR')
    if tokens[0].kind == 'var':
        value = session.evaluate(tokens, parameters)
        if value is None:
            return None
        return str(value)
    return tokens[0].value


def seconds_to_wait(session, statement, parameters, now=None):
    """How long WAITFOR `statement` waits, from `now` (a datetime) for TIME."""
    if len(statement) < 2 or not statement[1].is_word('DELAY', 'TIME'):
        raise syntax_near(statement[1].text if len(statement) > 1 else statement[0].text)
    text = _argument(session, statement[2:], parameters)
    if text is None:
        return 0.0           # a NULL time waits for nothing, as SQL Server's does
    target = parse_time_of_day(text)
    if statement[1].is_word('DELAY'):
        return target
    now = now or datetime.datetime.now()
    midnight = now.replace(hour=0, minute=0, second=0, microsecond=0)
    elapsed = (now - midnight).total_seconds()
    return target - elapsed if target >= elapsed else target + 86400 - elapsed


def run(session, statement, out, parameters):
    stream = out.reply.stream
    deadline = time.monotonic() + seconds_to_wait(session, statement, parameters)
    while True:
        if stream.poll_attention():
            raise AttentionReceived()
        left = deadline - time.monotonic()
        if left <= 0:
            break
        time.sleep(min(left, _SLICE))
    out.done()
