"""System procedures that client libraries call for catalogue information:
sp_helpindex (db-library), sp_tables, sp_columns, sp_pkeys and
sp_special_columns (ODBC drivers)."""
from . import catalogue, tokens, wire
from .errors import SqlError
from .functions import rz_object_part
from .sqltypes import SqlType
from .translate import quote_name


def sp_helpindex(session, call, out):
    """index_name, index_description, index_keys of a table's indexes."""
    written = call.value(0) or ''
    conn = session.conn
    info = catalogue.lookup(conn, rz_object_part(written))
    if info is None or info.kind != 'U':
        raise SqlError(15009, "The object '%s' does not exist in database '%s' or is invalid for this "
                              "operation." % (written, session.database))
    rows = []
    for name, kind in conn.execute('SELECT constraint_name, constraint_type FROM rz_constraints '
                                   'WHERE object_id = ?', (info.object_id,)).fetchall():
        keys = [r[0] for r in conn.execute('SELECT column_name FROM rz_constraint_columns WHERE '
                                           'constraint_name = ? ORDER BY ordinal_position', (name,))]
        description = ('clustered, unique, primary key located on PRIMARY' if kind == 'PRIMARY KEY'
                       else 'nonclustered, unique, unique key located on PRIMARY')
        rows.append([name, description, ', '.join(keys)])
    prefix = info.name + '$'
    for name, unique in conn.execute('SELECT name, "unique" FROM pragma_index_list(?)', (info.name,)).fetchall():
        if not name.startswith(prefix):
            continue
        keys = [r[2] for r in conn.execute('PRAGMA index_info(%s)' % quote_name(name))]
        rows.append([name[len(prefix):], 'nonclustered%s located on PRIMARY' % (', unique' if unique else ''),
                     ', '.join(keys)])
    if not rows:
        out.info(15472, "The object '%s' does not have any indexes, or you do not have permissions." % written)
        return
    columns = [tokens.Column('index_name', SqlType('nvarchar', 128), False),
               tokens.Column('index_description', SqlType('varchar', 210)),
               tokens.Column('index_keys', SqlType('nvarchar', 2078))]
    out.result(columns, rows)
    out.done(rowcount=len(rows))


# --- the catalogue procedures ODBC drivers call for SQLTables, SQLColumns, ... ---------

SYSNAME = SqlType('nvarchar', 128)
ODBC_TYPES = {
    'int': 4, 'bigint': -5, 'smallint': 5, 'tinyint': -6, 'bit': -7, 'decimal': 3, 'numeric': 2, 'money': 3,
    'smallmoney': 3, 'float': 6, 'real': 7, 'char': 1, 'varchar': 12, 'nchar': -8, 'nvarchar': -9,
    'text': -1, 'ntext': -10, 'binary': -2, 'varbinary': -3, 'image': -4, 'time': -154,
    'uniqueidentifier': -11, 'datetimeoffset': -155,
}
# date and timestamp codes differ between ODBC 2 and ODBC 3
ODBC_DATE_TYPES = {'date': (9, 91), 'datetime': (11, 93), 'smalldatetime': (11, 93), 'datetime2': (11, 93)}


def _arguments(call, names):
    """Procedure arguments by name (@name) or else by position.

    A NUL in a name argument carries no weight in SQL Server's Windows
    collations, so 'items' + NCHAR(0) finds the table items; some clients
    (Qt 6's ODBC driver) send the terminator along with the name."""
    values = {}
    for position, parameter in enumerate(call.parameters):
        key = parameter.name[1:].lower() if parameter.name else (names[position] if position < len(names) else None)
        if key:
            value = parameter.value
            values[key] = value.replace('\x00', '') if isinstance(value, str) else value
    return values


def _like(pattern):
    return pattern if pattern not in (None, '') else '%'


def _tables(session, name_pattern, kinds):
    conn = session.conn
    rows = conn.execute("SELECT name, type FROM rz_objects WHERE name LIKE ? AND type IN (%s) ORDER BY name"
                        % ', '.join('?' * len(kinds)), [_like(name_pattern)] + list(kinds)).fetchall()
    return [(name, 'TABLE' if kind == 'U' else 'VIEW') for name, kind in rows]


def sp_tables(session, call, out):
    args = _arguments(call, ['table_name', 'table_owner', 'table_qualifier', 'table_type'])
    requested = (args.get('table_type') or "'TABLE','VIEW'").upper()
    kinds = [code for code, word in (('U', 'TABLE'), ('V', 'VIEW')) if "'%s'" % word in requested or
             requested.strip("'") == word]
    rows = [[session.database, 'dbo', name, kind, None]
            for name, kind in (_tables(session, args.get('table_name'), kinds) if kinds else [])]
    columns = [tokens.Column('TABLE_QUALIFIER', SYSNAME), tokens.Column('TABLE_OWNER', SYSNAME),
               tokens.Column('TABLE_NAME', SYSNAME), tokens.Column('TABLE_TYPE', SqlType('varchar', 32)),
               tokens.Column('REMARKS', SqlType('varchar', 254))]
    out.result(columns, rows)
    out.done(rowcount=len(rows))


def _odbc_type(sqltype, odbc3):
    if sqltype.name in ODBC_DATE_TYPES:
        return ODBC_DATE_TYPES[sqltype.name][1 if odbc3 else 0]
    return ODBC_TYPES[sqltype.name]


def sp_columns(session, call, out):
    args = _arguments(call, ['table_name', 'table_owner', 'table_qualifier', 'column_name', 'odbcver'])
    odbc3 = args.get('odbcver') == 3
    rows = []
    for table_name, _kind in _tables(session, args.get('table_name'), ['U', 'V']):
        info = catalogue.lookup(session.conn, table_name)
        for position, column in enumerate(info.columns, 1):
            if args.get('column_name') not in (None, '', '%') and column.name.lower() != \
                    str(args['column_name']).lower():
                continue
            sqltype = column.sqltype
            odbc_type = _odbc_type(sqltype, odbc3)
            char_length = sqltype.char_length()
            textual = char_length is not None
            precision = (char_length if char_length and char_length > 0 else 2147483647 if textual else
                         sqltype.numeric_precision())
            length = sqltype.max_length()
            length = 2147483647 if length == -1 or sqltype.name in ('text', 'ntext', 'image') else length
            temporal = sqltype.name in ODBC_DATE_TYPES
            rows.append([
                session.database, 'dbo', info.name, column.name, odbc_type,
                sqltype.name + (' identity' if column.identity else ''), precision, length,
                None if textual else sqltype.numeric_scale(),
                None if textual or temporal else (2 if sqltype.name in ('float', 'real') else 10),
                1 if column.nullable else 0, None, column.default_text,
                9 if temporal else odbc_type, 3 if temporal else None,
                length if textual else None, position, 'YES' if column.nullable else 'NO',
                wire.type_info(sqltype)[0]])
    columns = [tokens.Column(name, sqltype) for name, sqltype in (
        ('TABLE_QUALIFIER', SYSNAME), ('TABLE_OWNER', SYSNAME), ('TABLE_NAME', SYSNAME),
        ('COLUMN_NAME', SYSNAME), ('DATA_TYPE', SqlType('smallint')), ('TYPE_NAME', SYSNAME),
        ('PRECISION', SqlType('int')), ('LENGTH', SqlType('int')), ('SCALE', SqlType('smallint')),
        ('RADIX', SqlType('smallint')), ('NULLABLE', SqlType('smallint')), ('REMARKS', SqlType('varchar', 254)),
        ('COLUMN_DEF', SqlType('nvarchar', 4000)), ('SQL_DATA_TYPE', SqlType('smallint')),
        ('SQL_DATETIME_SUB', SqlType('smallint')), ('CHAR_OCTET_LENGTH', SqlType('int')),
        ('ORDINAL_POSITION', SqlType('int')), ('IS_NULLABLE', SqlType('varchar', 254)),
        ('SS_DATA_TYPE', SqlType('tinyint')))]
    out.result(columns, rows)
    out.done(rowcount=len(rows))


def _primary_key(session, table_name):
    return session.conn.execute(
        "SELECT u.column_name, u.ordinal_position, k.constraint_name, k.table_name FROM rz_constraints k "
        "JOIN rz_constraint_columns u ON u.constraint_name = k.constraint_name "
        "WHERE k.table_name = ? AND k.constraint_type = 'PRIMARY KEY' ORDER BY u.ordinal_position",
        (table_name,)).fetchall()


def sp_pkeys(session, call, out):
    args = _arguments(call, ['table_name', 'table_owner', 'table_qualifier'])
    rows = [[session.database, 'dbo', table, column, ordinal, name]
            for column, ordinal, name, table in _primary_key(session, args.get('table_name') or '')]
    columns = [tokens.Column('TABLE_QUALIFIER', SYSNAME), tokens.Column('TABLE_OWNER', SYSNAME),
               tokens.Column('TABLE_NAME', SYSNAME), tokens.Column('COLUMN_NAME', SYSNAME),
               tokens.Column('KEY_SEQ', SqlType('smallint')), tokens.Column('PK_NAME', SYSNAME)]
    out.result(columns, rows)
    out.done(rowcount=len(rows))


def sp_special_columns(session, call, out):
    """The best row identifier: the primary key's columns."""
    args = _arguments(call, ['table_name', 'table_owner', 'table_qualifier', 'col_type', 'scope', 'nullable',
                             'odbcver'])
    info = catalogue.lookup(session.conn, args.get('table_name') or '')
    rows = []
    if info is not None and str(args.get('col_type') or 'R').upper() == 'R':
        for column_name, _ordinal, _name, _table in _primary_key(session, info.name):
            column = info.column(column_name)
            sqltype = column.sqltype
            rows.append([1, column.name, _odbc_type(sqltype, args.get('odbcver') == 3), sqltype.name,
                         sqltype.char_length() or sqltype.numeric_precision(), sqltype.max_length(),
                         sqltype.numeric_scale(), 1])
    columns = [tokens.Column(name, sqltype) for name, sqltype in (
        ('SCOPE', SqlType('smallint')), ('COLUMN_NAME', SYSNAME), ('DATA_TYPE', SqlType('smallint')),
        ('TYPE_NAME', SYSNAME), ('PRECISION', SqlType('int')), ('LENGTH', SqlType('int')),
        ('SCALE', SqlType('smallint')), ('PSEUDO_COLUMN', SqlType('smallint')))]
    out.result(columns, rows)
    out.done(rowcount=len(rows))
