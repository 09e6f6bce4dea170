"""CREATE, DROP, ALTER and TRUNCATE: tables, views and indexes, with every
declared type and constraint recorded in the side tables."""
import sqlite3

from . import catalogue, sqltypes
from .catalogue import ColumnInfo
from .errors import SqlError, syntax_near, invalid_object, not_supported
from .lexer import render
from .sqlerrors import translate_error
from .sqltypes import parse_type
from .temptables import is_temporary
from .translate import Translator, quote_name, split_top, find_matching

COLUMN_STOP_WORDS = {'IDENTITY', 'NULL', 'NOT', 'PRIMARY', 'UNIQUE', 'DEFAULT', 'CONSTRAINT', 'COLLATE',
                     'REFERENCES', 'CHECK', 'FOREIGN', 'CLUSTERED', 'NONCLUSTERED', 'ROWGUIDCOL',
                     'SPARSE', 'FILESTREAM', 'WITH'}


def _default_text(expression):
    """A default as the catalogue shows it: ((0)), ('text'), (getdate())."""
    while len(expression) > 2 and expression[0].text == '(' and \
            find_matching(expression, 0) == len(expression) - 1:
        expression = expression[1:-1]
    text = render(expression)
    if len(expression) == 1 and expression[0].kind == 'number':
        return '((%s))' % text
    return '(%s)' % text


class Definer:
    def __init__(self, session):
        self.session = session

    def run(self, statement, out, parameters):
        session = self.session
        word = statement[0].upper
        rest = statement[1:]
        if word == 'TRUNCATE':
            if not rest or not rest[0].is_word('TABLE'):
                raise syntax_near(statement[-1].text)
            translator = Translator(session, session.conn)
            info = self._existing(translator, rest, 1)
            session.atomic(True, lambda: session.conn.execute('DELETE FROM %s' % quote_name(info.name)))
            session.conn.execute('UPDATE %srz_columns SET last_value = NULL WHERE object_id = ?' % info.side,
                                 (info.object_id,))
            out.done()
            return
        if not rest:
            raise syntax_near(statement[0].text)
        if word == 'CREATE' and rest[0].is_word('OR'):
            raise not_supported('CREATE OR ALTER')
        kind = rest[0].upper
        if word == 'CREATE' and kind == 'TABLE':
            self.create_table(rest[1:])
        elif word == 'CREATE' and kind == 'VIEW':
            self.create_view(rest[1:], statement)
        elif word == 'CREATE' and kind in ('INDEX', 'UNIQUE', 'CLUSTERED', 'NONCLUSTERED'):
            self.create_index(rest)
        elif word == 'DROP' and kind in ('TABLE', 'VIEW'):
            self.drop(rest[1:], 'U' if kind == 'TABLE' else 'V')
        elif word == 'DROP' and kind == 'INDEX':
            self.drop_index(rest[1:])
        elif word == 'ALTER' and kind == 'TABLE':
            self.alter_table(rest[1:])
        elif word in ('CREATE', 'DROP') and kind == 'SCHEMA':
            self.schema(word, rest[1:])
        elif word == 'DROP' and kind in ('PROCEDURE', 'PROC'):
            from . import procedures
            return procedures.drop(session, rest[1:], out)
        elif word in ('CREATE', 'ALTER', 'DROP') and kind in ('PROCEDURE', 'PROC', 'FUNCTION', 'TRIGGER',
                                                              'SCHEMA', 'TYPE', 'SEQUENCE', 'DATABASE'):
            raise not_supported('%s %s' % (word, kind))
        else:
            raise syntax_near(rest[0].text)
        out.done()

    def _existing(self, translator, tokens, index):
        parts, _ = translator.read_name(tokens, index)
        info = catalogue.lookup(self.session.conn, translator.object_name(parts)) if parts else None
        if info is None:
            raise invalid_object('.'.join(parts))
        return info

    def _ddl(self, action):
        session = self.session
        conn = session.conn
        try:
            return session.atomic(True, action)
        except sqlite3.Error as error:
            raise translate_error(error, session, conn)

    # --- schemas --------------------------------------------------------------
    def schema(self, word, tokens):
        conn = self.session.conn
        if_exists = word == 'DROP' and len(tokens) >= 2 and tokens[0].is_word('IF') and tokens[1].is_word('EXISTS')
        if if_exists:
            tokens = tokens[2:]
        if not tokens or tokens[0].kind not in ('word', 'name'):
            raise syntax_near(tokens[0].text if tokens else 'SCHEMA')
        name = tokens[0].value
        rest = tokens[1:]
        if word == 'CREATE' and len(rest) == 2 and rest[0].is_word('AUTHORIZATION'):
            rest = []
        if rest:
            raise syntax_near(rest[0].text)
        if word == 'CREATE':
            self._ddl(lambda: catalogue.create_schema(conn, name))
        elif not (if_exists and catalogue.schema_id(conn, name) is None):
            self._ddl(lambda: catalogue.drop_schema(conn, name))

    # --- tables ---------------------------------------------------------------
    def create_table(self, tokens):
        session = self.session
        translator = Translator(session, session.conn)
        parts, index = translator.read_name(tokens, 0)
        if not parts:
            raise syntax_near(tokens[0].text if tokens else 'TABLE')
        name = translator.object_name(parts)
        temporary = is_temporary(name)
        if temporary:
            name = session.temp.new_name(parts[-1])
        if index >= len(tokens) or tokens[index].text != '(':
            raise syntax_near(tokens[min(index, len(tokens) - 1)].text)
        end = find_matching(tokens, index)
        columns, keys = [], []
        for element in split_top(tokens[index + 1:end]):
            if not element:
                raise syntax_near(')')
            head = element[0]
            if head.is_word('CONSTRAINT', 'PRIMARY', 'UNIQUE', 'FOREIGN', 'CHECK', 'INDEX'):
                keys.append(self._table_constraint(translator, element))
            else:
                column, constraints = self._column(translator, element)
                columns.append(column)
                keys.extend(constraints)
        if not columns:
            raise syntax_near(')')
        primary = [k for k in keys if k[0] == 'PRIMARY KEY']
        if len(primary) > 1:
            raise SqlError(8110, "Cannot add multiple PRIMARY KEY constraints to table '%s'." % name)
        seen = set()
        for column in columns:
            if column.name.lower() in seen:
                raise SqlError(2705, "Column names in each table must be unique. Column name '%s' in table "
                                     "'%s' is specified more than once." % (column.name, name))
            seen.add(column.name.lower())
        if sum(1 for c in columns if c.identity) > 1:
            raise SqlError(2744, "Multiple identity columns specified for table '%s'. Only one identity "
                                 "column per table is allowed." % name)
        for kind, _constraint, key_columns, _extra in keys:
            for key_column in key_columns:
                column = next((c for c in columns if c.name.lower() == key_column.lower()), None)
                if column is None:
                    raise SqlError(1911, "Column name '%s' does not exist in the target table or view."
                                   % key_column)
                if kind == 'PRIMARY KEY':
                    column.nullable = False
        definitions = [self.column_sql(c) for c in columns]
        named = []
        for number, (kind, constraint, key_columns, extra) in enumerate(keys):
            if kind in ('PRIMARY KEY', 'UNIQUE'):
                constraint = constraint or catalogue.constraint_name(
                    'PK' if kind == 'PRIMARY KEY' else 'UQ', name, '%s/%d' % (key_columns, number))
                definitions.append('CONSTRAINT %s %s (%s)' % (quote_name(constraint), kind,
                                                            ', '.join(quote_name(c) for c in key_columns)))
                named.append((constraint, kind, key_columns))
            elif kind == 'FOREIGN KEY' and not temporary:
                # SQL Server does not enforce foreign keys of temporary tables either
                definitions.append('FOREIGN KEY (%s) %s' % (', '.join(quote_name(c) for c in key_columns),
                                                           extra))
            elif kind == 'CHECK':
                definitions.append('%sCHECK (%s)' % ('CONSTRAINT %s ' % quote_name(constraint)
                                                     if constraint else '', extra))
        sql = 'CREATE TABLE %s (%s)' % (catalogue.qualified(name), ', '.join(definitions))
        conn = session.conn

        def action():
            self.register_table(name, columns)
            conn.execute(sql)
            object_id = catalogue.lookup(conn, name).object_id
            for constraint, kind, key_columns in named:
                real = [next(c.name for c in columns if c.name.lower() == k.lower()) for k in key_columns]
                catalogue.register_constraint(conn, object_id, name, constraint, kind, real)
        self._ddl(action)

    def register_table(self, name, columns):
        """Records a new table of the given SQLite name: 2714 when the name is taken."""
        session = self.session
        conn = session.conn
        catalogue.require_schema(conn, name)
        if catalogue.name_taken(conn, name):
            raise SqlError(2714, "There is already an object named '%s' in the database."
                           % catalogue.display_name(catalogue.split_name(name)[1]))
        temporary = is_temporary(name)
        object_id = catalogue.register_object(conn, session.database, name, 'U', object_id=(
            session.server.databases.next_temporary_id() if temporary else None))
        catalogue.register_columns(conn, object_id, name, columns)
        if temporary:
            session.temp.created(name)
        return object_id

    def _column(self, translator, element):
        if element[0].kind not in ('word', 'name'):
            raise syntax_near(element[0].text)
        name = element[0].value
        index = 1
        type_tokens = []
        while index < len(element) and not element[index].is_word(*COLUMN_STOP_WORDS):
            if element[index].text == '(':
                end = find_matching(element, index)
                type_tokens.extend(element[index:end + 1])
                index = end + 1
            else:
                type_tokens.append(element[index])
                index += 1
        if not type_tokens:
            raise not_supported('computed columns' if index < len(element) and element[index].is_word('AS')
                                else 'columns without a type')
        if type_tokens[0].is_word('AS'):
            raise not_supported('computed columns')
        sqltype = parse_type(render(type_tokens))
        column = ColumnInfo(name, sqltype)
        constraints = []
        constraint_name = None
        while index < len(element):
            token = element[index]
            if token.is_word('IDENTITY'):
                if sqltype.name not in sqltypes.INTEGER_RANGES and not (
                        sqltype.name in ('decimal', 'numeric') and sqltype.scale == 0):
                    raise SqlError(2749, "Identity column '%s' must be of data type int, bigint, smallint, "
                                         "tinyint, or decimal or numeric with a scale of 0, and constrained "
                                         "to be nonnullable." % name)
                column.identity = True
                column.nullable = False
                index += 1
                if index < len(element) and element[index].text == '(':
                    end = find_matching(element, index)
                    values = [int(translator.session.evaluate(part, {}))
                              for part in split_top(element[index + 1:end])]
                    if len(values) != 2:
                        raise syntax_near(')')
                    column.seed, column.increment = values
                    if column.increment == 0:
                        raise SqlError(2737, "The increment for identity column '%s' cannot be zero." % name)
                    index = end + 1
            elif token.is_word('NOT') and index + 1 < len(element) and element[index + 1].is_word('NULL'):
                column.nullable = False
                index += 2
            elif token.is_word('NULL'):
                if column.identity:
                    raise SqlError(8147, "Could not create IDENTITY attribute on nullable column '%s', table."
                                   % name)
                index += 1
            elif token.is_word('CONSTRAINT'):
                constraint_name = element[index + 1].value
                index += 2
            elif token.is_word('PRIMARY'):
                index += 2
                while index < len(element) and element[index].is_word('CLUSTERED', 'NONCLUSTERED', 'ASC', 'DESC'):
                    index += 1
                constraints.append(('PRIMARY KEY', constraint_name, [name], None))
                constraint_name = None
            elif token.is_word('UNIQUE'):
                index += 1
                while index < len(element) and element[index].is_word('CLUSTERED', 'NONCLUSTERED'):
                    index += 1
                constraints.append(('UNIQUE', constraint_name, [name], None))
                constraint_name = None
            elif token.is_word('DEFAULT'):
                index += 1
                start = index
                if element[index].text == '(':
                    index = find_matching(element, index) + 1
                elif element[index].text in ('-', '+'):
                    index += 2
                elif index + 1 < len(element) and element[index + 1].text == '(':
                    index = find_matching(element, index + 1) + 1
                else:
                    index += 1
                expression = element[start:index]
                column.default_sql = '(%s)' % translator.expr(expression)
                column.default_text = _default_text(expression)
                constraint_name = None
            elif token.is_word('COLLATE'):
                index += 2
            elif token.is_word('REFERENCES'):
                start = index
                index += 1
                parts, index = translator.read_name(element, index)
                if index < len(element) and element[index].text == '(':
                    index = find_matching(element, index) + 1
                constraints.append(('FOREIGN KEY', constraint_name, [name],
                                    self._references(translator, element[start:index])))
                constraint_name = None
            elif token.is_word('CHECK'):
                end = find_matching(element, index + 1)
                constraints.append(('CHECK', constraint_name, [], translator.expr(element[index + 2:end])))
                constraint_name = None
                index = end + 1
            elif token.is_word('ROWGUIDCOL', 'SPARSE', 'CLUSTERED', 'NONCLUSTERED'):
                index += 1
            else:
                raise syntax_near(token.text)
        if column.default_sql is not None and column.default_sql != '(NULL)':
            column.default_sql = "rz_store(%s, '%s')" % (column.default_sql, sqltype.sql())
            column.default_sql = '(%s)' % column.default_sql
        return column, constraints

    def _references(self, translator, tokens):
        parts, index = translator.read_name(tokens, 1)
        text = 'REFERENCES %s' % quote_name(translator.object_name(parts))
        if index < len(tokens) and tokens[index].text == '(':
            end = find_matching(tokens, index)
            text += ' (%s)' % ', '.join(quote_name(t.value) for t in tokens[index + 1:end]
                                        if t.kind in ('word', 'name'))
        return text

    def _table_constraint(self, translator, element):
        name = None
        index = 0
        if element[0].is_word('CONSTRAINT'):
            name = element[1].value
            index = 2
        head = element[index]
        if head.is_word('PRIMARY', 'UNIQUE'):
            kind = 'PRIMARY KEY' if head.is_word('PRIMARY') else 'UNIQUE'
            index += 2 if kind == 'PRIMARY KEY' else 1
            while element[index].is_word('CLUSTERED', 'NONCLUSTERED'):
                index += 1
            end = find_matching(element, index)
            columns = [t.value for t in element[index + 1:end]
                       if t.kind in ('word', 'name') and not t.is_word('ASC', 'DESC')]
            return kind, name, columns, None
        if head.is_word('FOREIGN'):
            start = index + 2
            end = find_matching(element, start)
            columns = [t.value for t in element[start + 1:end] if t.kind in ('word', 'name')]
            return 'FOREIGN KEY', name, columns, self._references(translator, element[end + 1:])
        if head.is_word('CHECK'):
            end = find_matching(element, index + 1)
            return 'CHECK', name, [], translator.expr(element[index + 2:end])
        raise syntax_near(head.text)

    @staticmethod
    def column_sql(column):
        parts = [quote_name(column.name), quote_name(column.declared())]
        if not column.nullable and not column.identity:
            parts.append('NOT NULL')
        if column.sqltype.name in sqltypes.STRING_TYPES:
            parts.append('COLLATE rz_ci')
        elif column.sqltype.is_wide_decimal:
            parts.append('COLLATE rz_decimal')
        elif column.sqltype.name == 'datetimeoffset':
            parts.append('COLLATE rz_datetimeoffset')
        if column.default_sql:
            parts.append('DEFAULT ' + column.default_sql)
        return ' '.join(parts)

    # --- views ----------------------------------------------------------------
    def create_view(self, tokens, statement):
        session = self.session
        translator = Translator(session, session.conn)
        parts, index = translator.read_name(tokens, 0)
        name = translator.object_name(parts)
        column_names = None
        if index < len(tokens) and tokens[index].text == '(':
            end = find_matching(tokens, index)
            column_names = [t.value for t in tokens[index + 1:end] if t.kind in ('word', 'name')]
            index = end + 1
        while index < len(tokens) and tokens[index].is_word('WITH', 'SCHEMABINDING', 'VIEW_METADATA'):
            index += 1
        if index >= len(tokens) or not tokens[index].is_word('AS'):
            raise syntax_near(tokens[min(index, len(tokens) - 1)].text)
        select_sql, hints, names, _ = translator.select(tokens[index + 1:])
        if any(is_temporary(target) for target in translator.referenced):
            raise SqlError(4508, "Views or functions are not allowed on temporary tables. Table names that "
                                 "begin with '#' denote temporary tables.")
        definition = render(statement)
        conn = session.conn

        def action():
            catalogue.require_schema(conn, name)
            if catalogue.name_taken(conn, name):
                raise SqlError(2714, "There is already an object named '%s' in the database."
                               % catalogue.split_name(name)[1])
            columns, _rows = session.query(select_sql, {}, hints, names, translator, limit=0)
            renamed = column_names or [c.name for c in columns]
            if len(renamed) != len(columns):
                raise SqlError(8158, "'%s' has more column names specified than columns defined." % name)
            if any(not n for n in renamed):
                raise SqlError(4511, "Create View or Function failed because no column name was "
                                     "specified for column %d." % (renamed.index('') + 1))
            column_list = '(%s)' % ', '.join(quote_name(n) for n in renamed)
            conn.execute('CREATE VIEW %s %s AS %s' % (quote_name(name), column_list, select_sql))
            object_id = catalogue.register_object(conn, session.database, name, 'V', definition)
            catalogue.register_columns(conn, object_id, name, [
                ColumnInfo(n, c.sqltype, c.nullable) for n, c in zip(renamed, columns)])
        self._ddl(action)

    # --- indexes --------------------------------------------------------------
    def create_index(self, tokens):
        session = self.session
        translator = Translator(session, session.conn)
        unique = False
        index = 0
        while tokens[index].is_word('UNIQUE', 'CLUSTERED', 'NONCLUSTERED'):
            unique = unique or tokens[index].is_word('UNIQUE')
            index += 1
        if not tokens[index].is_word('INDEX'):
            raise syntax_near(tokens[index].text)
        index_name = tokens[index + 1].value
        if not tokens[index + 2].is_word('ON'):
            raise syntax_near(tokens[index + 2].text)
        info = self._existing(translator, tokens, index + 3)
        _parts, position = translator.read_name(tokens, index + 3)
        end = find_matching(tokens, position)
        columns = []
        for part in split_top(tokens[position + 1:end]):
            column = info.column(part[0].value)
            if column is None:
                raise SqlError(1911, "Column name '%s' does not exist in the target table or view."
                               % part[0].value)
            columns.append(quote_name(column.name) + (' DESC' if part[-1].is_word('DESC') else ''))
        sql = 'CREATE %sINDEX %s ON %s (%s)' % ('UNIQUE ' if unique else '',
                                               catalogue.qualified('%s$%s' % (info.name, index_name)),
                                               quote_name(info.name), ', '.join(columns))
        conn = session.conn

        def action():
            try:
                conn.execute(sql)
            except sqlite3.OperationalError as error:
                if 'already exists' in str(error):
                    raise SqlError(1913, "The operation failed because an index or statistics with name "
                                         "'%s' already exists on table 'dbo.%s'." % (index_name, info.name))
                raise
        self._ddl(action)

    def drop_index(self, tokens):
        session = self.session
        names = [t.value for t in tokens if t.kind in ('word', 'name') and not t.is_word('ON', 'IF', 'EXISTS')]
        if len(names) < 2:
            raise syntax_near(tokens[-1].text)
        if any(t.is_word('ON') for t in tokens):
            index_name, table = names[0], names[-1]
        else:
            table, index_name = names[-2], names[-1]
        conn = session.conn

        def action():
            try:
                conn.execute('DROP INDEX %s' % quote_name('%s$%s' % (table, index_name)))
            except sqlite3.OperationalError:
                raise SqlError(3701, "Cannot drop the index '%s.%s', because it does not exist or you do "
                                     "not have permission." % (table, index_name))
        self._ddl(action)

    # --- DROP -----------------------------------------------------------------
    def drop(self, tokens, kind):
        session = self.session
        translator = Translator(session, session.conn)
        if_exists = len(tokens) >= 2 and tokens[0].is_word('IF') and tokens[1].is_word('EXISTS')
        if if_exists:
            tokens = tokens[2:]
        conn = session.conn
        for part in split_top(tokens):
            parts, _ = translator.read_name(part, 0)
            if not parts:
                raise syntax_near(part[0].text if part else ',')
            name = translator.object_name(parts)

            def action(name=name, parts=parts):
                info = catalogue.lookup(conn, name)
                if info is None or info.kind != kind:
                    if if_exists and info is None:
                        return
                    raise SqlError(3701, "Cannot drop the %s '%s', because it does not exist or you do not "
                                         "have permission." % ('table' if kind == 'U' else 'view',
                                                               '.'.join(parts)))
                conn.execute('DROP %s %s' % ('TABLE' if kind == 'U' else 'VIEW', info.qualified()))
                catalogue.unregister(conn, info.object_id)
            self._ddl(action)

    # --- ALTER TABLE ----------------------------------------------------------
    def alter_table(self, tokens):
        session = self.session
        translator = Translator(session, session.conn)
        info = self._existing(translator, tokens, 0)
        _parts, index = translator.read_name(tokens, 0)
        if index >= len(tokens):
            raise syntax_near(tokens[-1].text)
        action_word = tokens[index]
        conn = session.conn
        if action_word.is_word('ADD'):
            element = tokens[index + 1:]
            if element and element[0].is_word('CONSTRAINT', 'PRIMARY', 'UNIQUE', 'FOREIGN', 'CHECK'):
                raise not_supported('ALTER TABLE ... ADD CONSTRAINT')
            column, constraints = self._column(translator, element)
            if constraints:
                raise not_supported('constraints in ALTER TABLE ... ADD')
            if column.identity:
                raise not_supported('adding identity columns')

            def add():
                if info.column(column.name) is not None:
                    raise SqlError(2705, "Column names in each table must be unique. Column name '%s' in "
                                         "table '%s' is specified more than once." % (column.name, info.name))
                if not column.nullable and not column.default_sql and conn.execute(
                        'SELECT 1 FROM %s LIMIT 1' % quote_name(info.name)).fetchone():
                    raise SqlError(4901, "ALTER TABLE only allows columns to be added that can contain nulls, "
                                         "or have a DEFAULT definition specified, or the column being added "
                                         "is an identity or timestamp column, or alternatively if none of "
                                         "the previous conditions are satisfied the table must be empty to "
                                         "allow addition of this column. Column '%s' cannot be added to "
                                         "non-empty table '%s' because it does not satisfy these conditions."
                                   % (column.name, info.name))
                sql = self.column_sql(column)
                if not column.nullable and not column.default_sql:
                    sql = sql.replace(' NOT NULL', '')
                conn.execute('ALTER TABLE %s ADD COLUMN %s' % (quote_name(info.name), sql))
                existing = len(info.columns)
                catalogue.register_columns(conn, info.object_id, info.name, [column])
                conn.execute('UPDATE %srz_columns SET column_id = ? WHERE object_id = ? AND column_id = 1 '
                             'AND name = ?' % info.side, (existing + 1, info.object_id, column.name))
            self._ddl(add)
        elif action_word.is_word('DROP') and index + 1 < len(tokens) and tokens[index + 1].is_word('COLUMN'):
            name = tokens[index + 2].value
            column = info.column(name)
            if column is None:
                raise SqlError(4924, "ALTER TABLE DROP COLUMN failed because column '%s' does not exist in "
                                     "table '%s'." % (name, info.name))

            def drop():
                conn.execute('ALTER TABLE %s DROP COLUMN %s' % (quote_name(info.name), quote_name(column.name)))
                conn.execute('DELETE FROM %srz_columns WHERE object_id = ? AND name = ?' % info.side,
                             (info.object_id, column.name))
                for position, (col_name,) in enumerate(conn.execute(
                        'SELECT name FROM %srz_columns WHERE object_id = ? ORDER BY column_id' % info.side,
                        (info.object_id,)).fetchall(), 1):
                    conn.execute('UPDATE %srz_columns SET column_id = ? WHERE object_id = ? AND name = ?' % info.side,
                                 (position, info.object_id, col_name))
            self._ddl(drop)
        else:
            raise not_supported('this form of ALTER TABLE')
