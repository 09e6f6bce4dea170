"""API server cursors (sp_cursoropen, sp_cursorfetch, ...) over a static copy
of the result, which is what ODBC drivers use for scrollable statements."""
from . import tokens
from .errors import SqlError
from .lexer import tokenize, split_statements
from .parameterised import bind, parse_declarations, run

FETCH_FIRST, FETCH_NEXT, FETCH_PREV, FETCH_LAST = 0x01, 0x02, 0x04, 0x08
FETCH_ABSOLUTE, FETCH_RELATIVE, FETCH_REFRESH, FETCH_INFO = 0x10, 0x20, 0x80, 0x100
SCROLL_STATIC = 0x0008
SCROLL_PARAMETERIZED = 0x1000
CONCURRENCY_READ_ONLY = 0x0001
NO_METADATA = 0x02


class StaticCursor:
    def __init__(self, columns, rows):
        self.columns = columns
        self.rows = rows
        self.position = 0        # first row of the last block fetched, 1-based; 0 = before the first
        self.last_count = 0


class _Capture:
    """Collects the result of running a statement instead of sending it."""

    def __init__(self):
        self.columns = None
        self.rows = None

    def result(self, columns, rows):
        self.columns = columns
        self.rows = list(rows)


def _open(session, call, out, statement, declarations_text, values):
    statements = split_statements(tokenize(statement))
    is_query = len(statements) == 1 and statements[0][0].is_word('SELECT', 'WITH')
    if not is_query:
        # Not a query: run it and report that no cursor was opened, as SQL Server does.
        run(session, parse_declarations(declarations_text), statement, values, out)
        return 0, 0
    saved, _bound = bind(session, parse_declarations(declarations_text), values, statement)
    try:
        capture = _Capture()
        session.run_select(statements[0], _CaptureOutput(capture), {})
    finally:
        session.variables = saved
    session.next_cursor = getattr(session, 'next_cursor', 180150000) + 1
    handle = session.next_cursor
    session.cursors[handle] = StaticCursor(capture.columns, capture.rows)
    out.add(tokens.colmetadata(capture.columns))
    return handle, len(capture.rows)


class _CaptureOutput:
    def __init__(self, capture):
        self.capture = capture

    def result(self, columns, rows):
        self.capture.result(columns, rows)

    def done(self, *args, **kwargs):
        pass


def _set_outputs(call, handle, scroll, concurrency, rowcount):
    values = [handle, None, scroll, concurrency, rowcount]
    for position, value in enumerate(values):
        if value is not None and position < len(call.parameters) and call.parameters[position].output:
            call.parameters[position].value = value


def sp_cursoropen(session, call, out):
    statement = call.value(1) or ''
    scroll = call.value(2, SCROLL_STATIC) or SCROLL_STATIC
    concurrency = call.value(3, CONCURRENCY_READ_ONLY) or CONCURRENCY_READ_ONLY
    declarations_text = call.value(5) if scroll & SCROLL_PARAMETERIZED and len(call.parameters) > 5 else None
    values = call.parameters[6:] if declarations_text is not None else []
    handle, rowcount = _open(session, call, out, statement, declarations_text, values)
    # Every cursor is served as a static, read-only copy.
    _set_outputs(call, handle, (scroll & ~0x1F) | SCROLL_STATIC, 0x2000 | CONCURRENCY_READ_ONLY
                 if concurrency & 0x2000 else CONCURRENCY_READ_ONLY, rowcount)


def sp_cursorprepare(session, call, out):
    raise SqlError(16902, 'sp_cursorprepare is not supported by this server.')


sp_cursorexecute = sp_cursorprepexec = sp_cursorunprepare = sp_cursorprepare


def _cursor(session, handle):
    cursor = session.cursors.get(handle)
    if cursor is None:
        raise SqlError(16916, 'A cursor with the name \'%s\' does not exist.' % handle)
    return cursor


def sp_cursorfetch(session, call, out, option_flags=NO_METADATA):
    cursor = _cursor(session, call.value(0))
    fetch_type = call.value(1, FETCH_NEXT) or FETCH_NEXT
    row_number = call.value(2) or 0
    count = call.value(3) or 1
    total = len(cursor.rows)
    if fetch_type & FETCH_INFO:
        # position and size of the cursor, returned in the rownum and nrows parameters
        for position, value in ((2, cursor.position), (3, total)):
            if position < len(call.parameters):
                call.parameters[position].value = value
                call.parameters[position].output = True
        return
    if fetch_type & FETCH_FIRST:
        start = 1
    elif fetch_type & FETCH_NEXT:
        start = cursor.position + cursor.last_count if cursor.position > 0 else 1
    elif fetch_type & FETCH_PREV:
        start = (cursor.position if cursor.position > 0 else total + 1) - count
    elif fetch_type & FETCH_LAST:
        start = total - count + 1
    elif fetch_type & FETCH_ABSOLUTE:
        start = row_number if row_number > 0 else total + row_number + 1
    elif fetch_type & FETCH_RELATIVE:
        start = cursor.position + row_number
    elif fetch_type & FETCH_REFRESH:
        start = cursor.position
    else:
        raise SqlError(16904, 'sp_cursorfetch: The value of the fetch type parameter is not valid.')
    start = max(start, 1) if start + count - 1 >= 1 else start
    if start < 1 or start > total:
        rows = []
        cursor.position = 0 if start < 1 else total + 1
        cursor.last_count = 0
    else:
        rows = cursor.rows[start - 1:start - 1 + count]
        cursor.position = start
        cursor.last_count = len(rows)
    out.add(b'\x81\xff\xff')     # COLMETADATA without metadata: the columns given at open
    for row in rows:
        out.reply.row(cursor.columns, row)
    out.done(rowcount=len(rows))


def sp_cursoroption(session, call, out):
    _cursor(session, call.value(0))


def sp_cursorclose(session, call, out):
    if session.cursors.pop(call.value(0), None) is None:
        raise SqlError(16916, 'A cursor with the name \'%s\' does not exist.' % call.value(0))


def sp_cursor(session, call, out):
    raise SqlError(16933, 'The cursor does not include the table being modified or the table is not '
                          'updatable through the cursor.')
