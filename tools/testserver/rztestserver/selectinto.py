"""SELECT ... INTO new_table: a table made from the select list (names,
declared types, nullability and, where SQL Server keeps it, the identity
property), filled with the query's rows in the same statement."""
from . import catalogue, values
from .catalogue import ColumnInfo
from .scope import Scope
from .errors import SqlError
from .temptables import is_temporary

CURCMD_SELECT = 0xC1
_AGGREGATES = {'COUNT', 'COUNT_BIG', 'SUM', 'AVG', 'MIN', 'MAX', 'STRING_AGG', 'STDEV', 'VAR'}


def _keeps_identity(tokens, translator):
    """An identity column keeps its property only when copied from one table
    without joins, grouping, aggregates or unions."""
    if getattr(translator, 'into_union', False):
        return False
    depth = 0
    in_from = False
    for index, token in enumerate(tokens):
        if token.text == '(':
            depth += 1
        elif token.text == ')':
            depth -= 1
        if token.is_word('JOIN', 'GROUP', 'UNION', 'EXCEPT', 'INTERSECT', 'APPLY'):
            return False
        if token.kind == 'word' and token.upper in _AGGREGATES and index + 1 < len(tokens) and \
                tokens[index + 1].text == '(':
            return False
        if depth == 0 and token.is_word('FROM'):
            in_from = True
        elif depth == 0 and token.is_word('WHERE', 'ORDER', 'HAVING', 'OPTION'):
            in_from = False
        elif in_from and depth == 0 and token.text == ',':
            return False
    return True


def _table_columns(session, translator, statement, columns, rows):
    """ColumnInfo for each result column; fills IDENTITY() columns into rows."""
    infos = []
    seen = set()
    for column in columns:
        if not column.name:
            raise SqlError(1038, 'An object or column name is missing or empty. For SELECT INTO statements, '
                                 'verify each column has a name. For other statements, look for empty alias '
                                 'names. Aliases defined as "" or [] are not allowed. Change the alias to a '
                                 'valid name.', severity=15)
        if column.name.lower() in seen:
            raise SqlError(2705, "Column names in each table must be unique. Column name '%s' in table '%s' is "
                                 "specified more than once." % (column.name, translator.into[-1]))
        seen.add(column.name.lower())
        # a literal is never NULL, so its column is made NOT NULL
        infos.append(ColumnInfo(column.name, column.sqltype,
                                column.nullable and len(infos) not in translator.constant_items))
    carried = [index for index, column in enumerate(columns) if column.identity]
    if len(carried) == 1 and _keeps_identity(statement, translator):
        scope = Scope(session, translator)
        scope.add(statement)
        source = scope.ordered[0].identity if scope.ordered else None
        if source is not None:
            info = infos[carried[0]]
            info.identity, info.nullable = True, False
            info.seed, info.increment = source.seed, source.increment
    for position, (sqltype, seed, increment) in sorted(translator.identity_items.items()):
        existing = next((info for info in infos if info.identity), None)
        if existing is not None:
            raise SqlError(8108, "Cannot add identity column, using the SELECT INTO statement, to table '%s', "
                                 "which already has column '%s' that inherits the identity property."
                           % (translator.into[-1], existing.name))
        info = infos[position]
        info.sqltype, info.identity, info.nullable = sqltype, True, False
        info.seed, info.increment = seed, increment
        for number, row in enumerate(rows):
            row[position] = seed + increment * number
    return infos


def run(session, translator, statement, select_sql, hints, names, parameters, out):
    parts = translator.into
    target = translator.object_name(parts)
    if is_temporary(target):
        target = session.temp.new_name(parts[-1])
    bind = session.bindings(translator, parameters)
    conn = session.conn

    def action():
        columns, rows = session.query(select_sql, bind, hints, names, translator)
        rows = [list(row) for row in rows]
        infos = _table_columns(session, translator, statement, columns, rows)
        object_id = session.definer.register_table(target, infos)
        conn.execute('CREATE TABLE %s (%s)' % (catalogue.qualified(target),
                                               ', '.join(session.definer.column_sql(c) for c in infos)))
        stored = [[values.column_value(value, info.sqltype) for value, info in zip(row, infos)] for row in rows]
        conn.executemany('INSERT INTO %s VALUES (%s)' % (catalogue.qualified(target), ', '.join('?' * len(infos))),
                         stored)
        identity = next((index for index, info in enumerate(infos) if info.identity), None)
        if identity is not None and stored:
            numbers = [row[identity] for row in stored]
            last = max(numbers) if infos[identity].increment > 0 else min(numbers)
            conn.execute('UPDATE %srz_columns SET last_value = ? WHERE object_id = ? AND is_identity = 1'
                         % catalogue.side(target), (last, object_id))
        return len(rows)

    count = session.atomic(True, action)
    session.rowcount = count
    out.done(rowcount=count, curcmd=CURCMD_SELECT)
