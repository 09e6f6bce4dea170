"""Turning SQLite's errors into the errors SQL Server raises."""
import re
import sqlite3

from . import functions
from .errors import SqlError, invalid_object, invalid_column, syntax_near
from .temptables import CATALOG as TEMP_CATALOG, display_name, side


def _format_key(values):
    out = []
    for value in values:
        if value is None:
            out.append('<NULL>')
        elif isinstance(value, bytes):
            out.append('0x' + value.hex().upper())
        else:
            out.append(str(value))
    return '(%s)' % ', '.join(out)


def translate_error(error, session, conn, translator=None, verb='INSERT'):
    """The SqlError for an exception raised while running translated SQL."""
    pending = functions.take_pending_error()
    if isinstance(error, SqlError):
        return error
    if pending is not None:
        return pending
    text = str(error)
    referenced = translator.referenced if translator is not None else {}
    match = re.match(r'no such table: (?:main\.)?(.+)', text)
    if match:
        name = match.group(1)
        return invalid_object(referenced.get(name.lower(), name))
    match = re.match(r'no such column: (.+)', text)
    if match:
        name = match.group(1)
        if '.' in name:
            return SqlError(4104, 'The multi-part identifier "%s" could not be bound.' % name)
        return invalid_column(name)
    match = re.match(r'ambiguous column name: (.+)', text)
    if match:
        return SqlError(209, "Ambiguous column name '%s'." % match.group(1).split('.')[-1])
    match = re.match(r'UNIQUE constraint failed: (.+)', text)
    if match:
        return _unique_violation(match.group(1), session, conn)
    match = re.match(r'NOT NULL constraint failed: ([^.]+)\.(.+)', text)
    if match:
        table = match.group(1)
        return SqlError(515, "Cannot insert the value NULL into column '%s', table '%s.dbo.%s'; column does "
                             "not allow nulls. %s fails." % (match.group(2),
                                                             TEMP_CATALOG if side(table) else session.database,
                                                             display_name(table), verb), state=2)
    match = re.match(r'CHECK constraint failed: (.+)', text)
    if match:
        return SqlError(547, 'The %s statement conflicted with the CHECK constraint "%s". The conflict '
                             'occurred in database "%s".' % (verb, match.group(1), session.database))
    if text.startswith('FOREIGN KEY constraint failed'):
        return SqlError(547, 'The %s statement conflicted with the FOREIGN KEY constraint. The conflict '
                             'occurred in database "%s".' % (verb, session.database))
    match = re.match(r'near "(.+)": syntax error', text)
    if match:
        # SQLite names the token as the translation quoted it; SQL Server
        # names it as the client wrote it.
        token = match.group(1)
        if len(token) >= 2 and token[0] + token[-1] in ('``', '""', '[]'):
            token = token[1:-1]
        return syntax_near(token)
    if text.startswith('incomplete input'):
        return SqlError(102, "Incorrect syntax near ')'.", severity=15)
    match = re.match(r'wrong number of arguments to function (\w+)', text)
    if match:
        return SqlError(174, 'The %s function requires a different number of arguments.'
                        % {'ifnull': 'isnull'}.get(match.group(1), match.group(1)), severity=15)
    match = re.match(r'no such function: (.+)', text)
    if match:
        return SqlError(195, "'%s' is not a recognized built-in function name." % match.group(1),
                        severity=15)
    if 'database is locked' in text or 'database table is locked' in text:
        return SqlError(1222, 'Lock request time out period exceeded.')
    match = re.match(r'(?:table|view|index) "?(.+?)"? already exists', text)
    if match:
        return SqlError(2714, "There is already an object named '%s' in the database." % match.group(1))
    match = re.match(r'(\d+) values for (\d+) columns', text)
    if match:
        return SqlError(110, 'There are fewer columns in the INSERT statement than values specified in '
                             'the VALUES clause. The number of values in the VALUES clause must match '
                             'the number of columns specified in the INSERT statement.', severity=15)
    if isinstance(error, sqlite3.IntegrityError):
        return SqlError(547, 'The %s statement conflicted with a constraint: %s' % (verb, text))
    if 'integer overflow' in text:
        return SqlError(8115, 'Arithmetic overflow error converting expression to data type int.')
    return SqlError(50000, 'The test server could not run this statement: %s' % text)


def _unique_violation(columns_text, session, conn):
    columns = [part.strip() for part in columns_text.split(',')]
    table = columns[0].split('.')[0]
    names = [column.split('.', 1)[1] for column in columns]
    recent = functions.recent_values()
    values = [recent.get(name.lower()) for name in names]
    key = _format_key(values)
    row = None
    prefix = side(table)
    for name, kind in conn.execute(
            'SELECT constraint_name, constraint_type FROM %srz_constraints WHERE table_name = ?' % prefix,
            (table,)):
        listed = [r[0].lower() for r in conn.execute(
            'SELECT column_name FROM %srz_constraint_columns WHERE constraint_name = ? '
            'ORDER BY ordinal_position' % prefix, (name,))]
        if listed == [n.lower() for n in names]:
            row = (name, kind)
            break
    if row is not None:
        name, kind = row
        return SqlError(2627, "Violation of %s constraint '%s'. Cannot insert duplicate key in object "
                              "'dbo.%s'. The duplicate key value is %s."
                        % ('PRIMARY KEY' if kind == 'PRIMARY KEY' else 'UNIQUE KEY', name, display_name(table),
                           key),
                        state=1, severity=14)
    index = session.index_name_for(conn, table, names)
    return SqlError(2601, "Cannot insert duplicate key row in object 'dbo.%s' with unique index '%s'. "
                          "The duplicate key value is %s." % (display_name(table), index, key), severity=14)
