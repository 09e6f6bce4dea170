"""INSERT, UPDATE and DELETE: values converted to the declared column types,
identity values assigned the way SQL Server assigns them."""
import sqlite3

from . import catalogue
from .errors import SqlError, syntax_near, invalid_object, invalid_column, not_supported
from .sqlerrors import translate_error
from .translate import Translator, quote_name, split_top, find_matching, index_of_word

CURCMD_INSERT, CURCMD_DELETE, CURCMD_UPDATE = 0xC3, 0xC4, 0xC5


_CHARACTER_TYPES = ('char', 'varchar', 'nchar', 'nvarchar', 'text', 'ntext')
_BINARY_TARGETS = ('binary', 'varbinary', 'image')


def _type_label(sqltype):
    return sqltype.name + ('(max)' if sqltype.is_max else '')


def _check_assignable(session, item, column):
    """SQL Server converts text to binary only when asked (CONVERT/CAST): a string
    value or a string-typed variable or parameter given to a binary column is error 257."""
    if column.sqltype.name not in _BINARY_TARGETS:
        return
    if len(item) == 1 and item[0].kind == 'var':
        variable = session.variables.get(item[0].text[1:].lower())
        source = variable.sqltype if variable is not None else None
    else:
        source = Translator._hint(item)
    if source is not None and source.name in _CHARACTER_TYPES:
        raise SqlError(257, 'Implicit conversion from data type %s to %s is not allowed. Use the CONVERT '
                            'function to run this query.' % (_type_label(source), _type_label(column.sqltype)),
                       state=3)


def _store(expression, column):
    return "rz_store_named(%s, '%s', '%s')" % (expression, column.sqltype.sql(),
                                               column.name.replace("'", "''"))


class Writer:
    def __init__(self, session):
        self.session = session

    def run(self, statement, out, parameters):
        word = statement[0].upper
        if word == 'INSERT':
            return self.insert(statement, out, parameters)
        if word == 'UPDATE':
            return self.update(statement, out, parameters)
        if word == 'DELETE':
            return self.delete(statement, out, parameters)
        raise not_supported(word)

    def _table(self, translator, tokens, index):
        parts, index = translator.read_name(tokens, index)
        if not parts:
            raise syntax_near(tokens[index].text if index < len(tokens) else tokens[-1].text)
        name = translator.object_name(parts)
        info = catalogue.lookup(self.session.conn, name)
        if info is None:
            raise invalid_object('.'.join(parts))
        translator.referenced[name.lower()] = '.'.join(parts)
        return info, index

    def _finish(self, out, count, curcmd):
        self.session.rowcount = count
        out.done(rowcount=count, curcmd=curcmd)

    def _execute(self, sql, bind, translator, verb):
        conn = self.session.conn
        try:
            before = conn.total_changes
            conn.execute(sql, bind)
            return conn.total_changes - before
        except sqlite3.Error as error:
            raise translate_error(error, self.session, conn, translator, verb)

    # --- INSERT ---------------------------------------------------------------
    def insert(self, statement, out, parameters):
        session = self.session
        translator = Translator(session, session.conn)
        index = 1
        if index < len(statement) and statement[index].is_word('INTO'):
            index += 1
        if index < len(statement) and statement[index].is_word('TOP'):
            raise not_supported('INSERT TOP')
        info, index = self._table(translator, statement, index)
        if info.kind == 'V':
            raise not_supported('INSERT into a view')
        if index < len(statement) and statement[index].text == '(' and not (
                index + 1 < len(statement) and statement[index + 1].is_word('SELECT')):
            end = find_matching(statement, index)
            names = []
            for part in split_top(statement[index + 1:end]):
                parts, _ = translator.read_name(part, 0)
                if not parts:
                    raise syntax_near(part[0].text if part else ')')
                names.append(parts[-1])
            index = end + 1
            columns = []
            for name in names:
                column = info.column(name)
                if column is None:
                    raise invalid_column(name)
                columns.append(column)
        else:
            columns = [c for c in info.columns if not c.identity]
        identity = info.identity
        explicit_identity = identity is not None and identity in columns
        if explicit_identity and info.name.lower() not in session.identity_insert:
            raise SqlError(544, "Cannot insert explicit value for identity column in table '%s' when "
                                "IDENTITY_INSERT is set to OFF." % info.name)
        if index < len(statement) and statement[index].is_word('OUTPUT'):
            raise not_supported('INSERT ... OUTPUT')
        if index >= len(statement):
            raise syntax_near(statement[-1].text)
        head = statement[index]
        generate = identity is not None and not explicit_identity
        if head.is_word('DEFAULT'):
            rows_sql = None
        elif head.is_word('VALUES'):
            rows = []
            position = index + 1
            while position < len(statement):
                if statement[position].text != '(':
                    raise syntax_near(statement[position].text)
                end = find_matching(statement, position)
                items = split_top(statement[position + 1:end])
                if len(items) != len(columns):
                    if len(items) > len(columns):
                        raise SqlError(110, 'There are fewer columns in the INSERT statement than values '
                                            'specified in the VALUES clause. The number of values in the '
                                            'VALUES clause must match the number of columns specified in '
                                            'the INSERT statement.', severity=15)
                    raise SqlError(109, 'There are more columns in the INSERT statement than values '
                                        'specified in the VALUES clause. The number of values in the '
                                        'VALUES clause must match the number of columns specified in the '
                                        'INSERT statement.', severity=15)
                values = []
                for item, column in zip(items, columns):
                    if len(item) == 1 and item[0].is_word('DEFAULT'):
                        values.append(column.default_sql or 'NULL')
                    else:
                        _check_assignable(session, item, column)
                        values.append(_store(translator.expr(item), column))
                rows.append(values)
                position = end + 1
                if position < len(statement) and statement[position].text == ',':
                    position += 1
            rows_sql = rows
        elif head.is_word('SELECT', 'WITH') or head.text == '(':
            select_tokens = statement[index:]
            if head.text == '(':
                select_tokens = statement[index + 1:find_matching(statement, index)]
            select_sql = translator.select(select_tokens)[0]
            rows_sql = select_sql
        elif head.is_word('EXEC', 'EXECUTE'):
            raise not_supported('INSERT ... EXEC')
        else:
            raise syntax_near(head.text)
        bind = session.bindings(translator, parameters)

        def action():
            conn = session.conn
            target = [quote_name(c.name) for c in columns]
            start = step = None
            if generate:
                start, step = self._identity_state(conn, info)
                target.append(quote_name(identity.name))
            if rows_sql is None:
                if generate:
                    sql = 'INSERT INTO %s (%s) VALUES (%s)' % (quote_name(info.name), target[-1],
                                                               _store(str(start + step), identity))
                else:
                    sql = 'INSERT INTO %s DEFAULT VALUES' % quote_name(info.name)
            elif isinstance(rows_sql, list):
                rendered = []
                for number, values in enumerate(rows_sql, 1):
                    if generate:
                        values = values + [_store(str(start + step * number), identity)]
                    rendered.append('(%s)' % ', '.join(values))
                sql = 'INSERT INTO %s (%s) VALUES %s' % (quote_name(info.name), ', '.join(target),
                                                         ', '.join(rendered))
            else:
                width = len(columns)
                stored = ', '.join(_store('rz_source.%s' % quote_name('c%d' % i), column)
                                   for i, column in enumerate(columns))
                names = ', '.join(quote_name('c%d' % i) for i in range(width))
                if generate:
                    stored += ', %d + %d * row_number() OVER ()' % (start, step)
                sql = 'WITH rz_source(%s) AS (%s) INSERT INTO %s (%s) SELECT %s FROM rz_source' % (
                    names, rows_sql, quote_name(info.name), ', '.join(target), stored)
            count = self._execute(sql, bind, translator, 'INSERT')
            if generate and count > 0:
                last = start + step * count
                conn.execute('UPDATE %srz_columns SET last_value = ? WHERE object_id = ? AND is_identity = 1'
                             % info.side, (last, info.object_id))
                session.last_identity = last
            elif explicit_identity and count > 0:
                self._raise_identity_to_max(conn, info)
            return count

        count = session.atomic(True, action)
        self._finish(out, count, CURCMD_INSERT)

    @staticmethod
    def _identity_state(conn, info):
        row = conn.execute('SELECT last_value, seed_value, increment_value FROM %srz_columns '
                           'WHERE object_id = ? AND is_identity = 1' % info.side, (info.object_id,)).fetchone()
        last, seed, step = row
        start = (seed - step) if last is None else last
        return start, step

    def _raise_identity_to_max(self, conn, info):
        identity = info.identity
        row = conn.execute('SELECT max(%s), min(%s) FROM %s' % (quote_name(identity.name),
                                                                quote_name(identity.name),
                                                                quote_name(info.name))).fetchone()
        current = conn.execute('SELECT last_value, increment_value FROM %srz_columns '
                               'WHERE object_id = ? AND is_identity = 1' % info.side, (info.object_id,)).fetchone()
        highest = row[0] if current[1] > 0 else row[1]
        if current[0] is None or (current[1] > 0 and highest > current[0]) or (
                current[1] < 0 and highest < current[0]):
            conn.execute('UPDATE %srz_columns SET last_value = ? WHERE object_id = ? AND is_identity = 1'
                         % info.side, (highest, info.object_id))
        self.session.last_identity = highest

    # --- UPDATE ---------------------------------------------------------------
    def update(self, statement, out, parameters):
        session = self.session
        translator = Translator(session, session.conn)
        index = 1
        if statement[index].is_word('TOP'):
            raise not_supported('UPDATE TOP')
        info, index = self._table(translator, statement, index)
        translator.scope_for(statement)
        if index >= len(statement) or not statement[index].is_word('SET'):
            raise syntax_near(statement[min(index, len(statement) - 1)].text)
        end = index_of_word(statement, 'FROM', 'WHERE', 'OPTION', start=index + 1)
        assignments = []
        for part in split_top(statement[index + 1:end if end >= 0 else len(statement)]):
            if len(part) < 3:
                raise syntax_near(part[-1].text if part else 'SET')
            equals = next((i for i, t in enumerate(part) if t.text == '='), -1)
            if equals < 1:
                raise syntax_near(part[0].text)
            parts, _ = translator.read_name(part, 0)
            column = info.column(parts[-1]) if parts else None
            if column is None:
                raise invalid_column(parts[-1] if parts else part[0].text)
            if column.identity:
                raise SqlError(8102, "Cannot update identity column '%s'." % column.name)
            value = part[equals + 1:]
            if len(value) == 1 and value[0].is_word('DEFAULT'):
                expression = column.default_sql or 'NULL'
            else:
                _check_assignable(self.session, value, column)
                expression = _store(translator.expr(value), column)
            assignments.append('%s = %s' % (quote_name(column.name), expression))
        tail = ''
        if end >= 0:
            tail = ' ' + translator.expr(statement[end:])
        sql = 'UPDATE %s SET %s%s' % (quote_name(info.name), ', '.join(assignments), tail)
        bind = session.bindings(translator, parameters)
        count = session.atomic(True, lambda: self._execute(sql, bind, translator, 'UPDATE'))
        self._finish(out, count, CURCMD_UPDATE)

    # --- DELETE ---------------------------------------------------------------
    def delete(self, statement, out, parameters):
        session = self.session
        translator = Translator(session, session.conn)
        index = 1
        if statement[index].is_word('TOP'):
            raise not_supported('DELETE TOP')
        if statement[index].is_word('FROM'):
            index += 1
        info, index = self._table(translator, statement, index)
        translator.scope_for(statement)
        tail = ''
        if index < len(statement):
            tail = ' ' + translator.expr(statement[index:])
        sql = 'DELETE FROM %s%s' % (quote_name(info.name), tail)
        bind = session.bindings(translator, parameters)
        count = session.atomic(True, lambda: self._execute(sql, bind, translator, 'DELETE'))
        self._finish(out, count, CURCMD_DELETE)
