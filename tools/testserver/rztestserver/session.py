"""One client's session: current database, transactions, variables, and
the execution of T-SQL batches statement by statement."""
import re
import sqlite3

from . import catalogue, control, functions, procedures, selectinto, sqltypes, tokens, transactions, values, waitfor
from .calls import HANDLERS, Call, Parameter
from .ddl import Definer
from .dml import Writer
from .temptables import SCHEMA as TEMP_SCHEMA, TempStore, is_temporary
from .errors import SqlError, syntax_near, not_supported
from .lexer import tokenize, split_statements, render
from .sqlerrors import translate_error
from .sqltypes import parse_type
from .tokens import Column
from .translate import Translator, quote_name, split_top, find_matching
from .variables import Variable

VERSION_TEXT = ('Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64) \n\tRZTESTSERVER test server '
                'on SQLite \n\tDeveloper Edition (64-bit)')
_PARAMETER_RE = re.compile(r"'(?:[^']|'')*'|`(?:[^`]|``)*`|@[A-Za-z0-9_@#$]+")
CURCMD_SELECT, CURCMD_INSERT, CURCMD_DELETE, CURCMD_UPDATE = 0xC1, 0xC3, 0xC4, 0xC5


class Session:
    def __init__(self, server, login, database, spid, hostname='', appname=''):
        self.server = server
        self.login = login
        self.database = database
        self.spid = spid
        self.hostname = hostname
        self.appname = appname
        self.connections = {}
        self.trancount = 0
        self.transaction_descriptor = b'\x00' * 8
        self.next_descriptor = 1
        self.last_identity = None
        self.rowcount = 0
        self.last_error = 0
        self.nocount = False
        self.identity_insert = set()
        self.savepoints = set()
        self.prepared_statements = {}
        self.next_handle = 0
        self.cursors = {}
        self.variables = {}
        self.probe_cache = {}
        self.procedure_stack = []      # names of the procedures running, innermost last
        self.procedure_cache = {}
        self.temp = TempStore(server.databases.scratch_dir, spid)
        self.writer = Writer(self)
        self.definer = Definer(self)

    # --- connections ------------------------------------------------------
    @property
    def conn(self):
        key = self.database.lower()
        conn = self.connections.get(key)
        if conn is None:
            conn = self.server.databases.connect(self.database, {
                'rz_db_name': lambda *args: self.database if not args else None,
                'rz_user_name': lambda *args: 'dbo' if self.login.lower() == 'sa' else self.login,
                'rz_login_name': lambda *args: self.login,
                'rz_host_name': lambda: self.hostname, 'rz_app_name': lambda: self.appname,
                'rz_object_name': self._object_name, 'rz_schema_name': self._schema_name,
                'rz_db_id': lambda *args: self.server.databases.names.index(self.database) + 1,
                'rz_schema_id': self._schema_id, 'rz_temp_object': self._temp_object,
            })
            self.temp.attach(conn, catalogue.SIDE_TABLES)
            self.connections[key] = conn
        return conn

    def _schema_name(self, *args):
        if not args:
            return 'dbo'
        row = self.conn.execute('SELECT name FROM rz_schemas WHERE schema_id = ?', (args[0],)).fetchone()
        return row[0] if row else None

    def _schema_id(self, *args):
        if not args:
            return 1
        return catalogue.schema_id(self.conn, args[0]) if args[0] is not None else None

    def _object_name(self, object_id, *args):
        if object_id is None:
            return None
        row = self.conn.execute('SELECT name FROM %srz_objects WHERE object_id = ?'
                                % catalogue.side_for_id(object_id), (object_id,)).fetchone()
        return catalogue.display_name(row[0]) if row else None

    def _temp_object(self, written):
        """The SQLite name of the temporary table 'tempdb..#t' names, else NULL:
        a temporary table is found by name only through tempdb."""
        if written is None:
            return None
        parts = functions.name_parts(written)
        if len(parts) < 2 or not is_temporary(parts[-1]):
            return None
        if len(parts) < 3 and self.database.lower() != 'tempdb' or \
                len(parts) >= 3 and parts[-3].lower() != 'tempdb':
            return None
        return self.temp.resolve(self.conn, parts[-1])

    def drop_temporary(self, name):
        """Drops a temporary table by its SQLite name, if it is still there."""
        def action():
            info = catalogue.lookup(self.conn, name)
            if info is None:
                return
            self.conn.execute('DROP TABLE %s' % info.qualified())
            catalogue.unregister(self.conn, info.object_id)
        self.atomic(True, action)

    def close(self):
        for conn in self.connections.values():
            try:
                if conn.in_transaction:
                    conn.execute('ROLLBACK')
                conn.close()
            except sqlite3.Error:
                pass
        self.connections.clear()
        self.temp.remove()

    def system_variable(self, name):
        """SQL literal for @@NAME."""
        values = {
            '@@IDENTITY': self.last_identity, '@@ROWCOUNT': self.rowcount,
            '@@TRANCOUNT': self.trancount, '@@SPID': self.spid, '@@ERROR': self.last_error,
            '@@VERSION': VERSION_TEXT, '@@SERVERNAME': 'RZTESTSERVER', '@@SERVICENAME': 'MSSQLSERVER',
            '@@LANGUAGE': 'us_english', '@@MAX_PRECISION': 38, '@@DATEFIRST': 7, '@@TEXTSIZE': 2147483647,
            '@@LOCK_TIMEOUT': -1, '@@NESTLEVEL': len(self.procedure_stack), '@@OPTIONS': 5496, '@@MAX_CONNECTIONS': 32767,
        }
        if name not in values:
            raise SqlError(137, 'Must declare the scalar variable "%s".' % name, severity=15)
        value = values[name]
        if value is None:
            return 'NULL'
        if isinstance(value, int):
            return str(value)
        return "'%s'" % value.replace("'", "''")

    # --- batches ------------------------------------------------------------
    def execute_batch(self, text, out, parameters=None):
        """Runs every statement of a batch; returns False if it was aborted."""
        try:
            nodes = control.parse(tokenize(text))
        except SqlError as error:
            out.error(error)
            out.done(error=True)
            return False
        if not nodes:
            out.done()
            return True
        try:
            control.run(self, nodes, out, parameters or {})
        except control.Aborted:
            return False
        except control.Return:
            pass
        except (control.Break, control.Continue) as escaped:
            word = 'BREAK' if isinstance(escaped, control.Break) else 'CONTINUE'
            out.error(SqlError(135, 'Cannot use a %s statement outside the scope of a WHILE statement.'
                               % word, severity=15))
            out.done(error=True)
            return False
        return True

    def execute_statement(self, statement, out, parameters):
        functions.clear_pending_error()
        first = statement[0]
        word = first.upper if first.kind == 'word' else None
        if word == 'SELECT' or word == 'WITH' or (first.text == '(' and len(statement) > 1
                                                   and statement[1].is_word('SELECT')):
            return self.run_select(statement, out, parameters)
        if word in ('INSERT', 'UPDATE', 'DELETE', 'MERGE'):
            return self.writer.run(statement, out, parameters)
        if word in ('CREATE', 'DROP', 'ALTER', 'TRUNCATE'):
            return self.definer.run(statement, out, parameters)
        if word in ('BEGIN', 'COMMIT', 'ROLLBACK', 'SAVE'):
            return transactions.run_statement(self, statement, out)
        if word == 'SET':
            return self.run_set(statement, out, parameters)
        if word == 'DECLARE':
            return self.run_declare(statement, out, parameters)
        if word == 'USE':
            name = statement[1].value if len(statement) > 1 else ''
            self.use_database(name, out)
            out.done()
            return
        if word == 'PRINT':
            value = self.evaluate(statement[1:], parameters)
            out.info(0, '' if value is None else str(value))
            out.done()
            return
        if word == 'RETURN':
            status = self.evaluate(statement[1:], parameters) if len(statement) > 1 else 0
            raise control.Return(status)
        if word in ('BREAK', 'CONTINUE') and len(statement) == 1:
            raise control.Break() if word == 'BREAK' else control.Continue()
        if word == 'WAITFOR':
            return waitfor.run(self, statement, out, parameters)
        if word in ('RAISERROR', 'THROW'):
            return self.run_raiserror(statement, parameters)
        if word in ('EXEC', 'EXECUTE'):
            return self.run_exec(statement[1:], out, parameters)
        if first.kind in ('word', 'name') and (len(statement) == 1 or statement[1].kind in (
                'var', 'string', 'number') or statement[1].text == '.'):
            return self.run_exec(statement, out, parameters)
        raise syntax_near(first.text)

    def run_exec(self, statement, out, parameters):
        """EXEC [@status =] procedure [@name =] value, ..., or EXEC ('batch text')."""
        if not statement:
            raise syntax_near('EXEC')
        if statement[0].text == '(':
            return self.run_dynamic(statement, out, parameters)
        status_variable = None
        if len(statement) > 2 and statement[0].kind == 'var' and statement[1].text == '=':
            status_variable = statement[0].text
            statement = statement[2:]
        index = 0
        parts = []
        while index < len(statement) and statement[index].kind in ('word', 'name'):
            parts.append(statement[index].value)
            index += 1
            if index < len(statement) and statement[index].text == '.':
                index += 1
                if index < len(statement) and statement[index].text == '.':
                    parts.append('dbo')
                    index += 1
            else:
                break
        if not parts:
            raise syntax_near(statement[0].text)
        arguments = [part for part in split_top(statement[index:])] if index < len(statement) else []
        name = parts[-1].lower()
        handler = HANDLERS.get(name)
        if handler is None or status_variable:
            return procedures.execute(self, parts, arguments, out, parameters, status_variable)
        call_parameters = []
        targets = []        # (parameter, variable) for OUTPUT arguments given as variables
        for position, part in enumerate(arguments):
            if not part:
                continue
            parameter_name = ''
            output = False
            if len(part) > 2 and part[0].kind == 'var' and part[1].text == '=':
                parameter_name = part[0].text
                part = part[2:]
            if part and part[-1].is_word('OUTPUT', 'OUT'):
                output = True
                part = part[:-1]
            value = self.evaluate(part, parameters)
            parameter = Parameter(position, parameter_name, output, sqltypes.infer_type(value), value)
            call_parameters.append(parameter)
            if output and len(part) == 1 and part[0].kind == 'var':
                targets.append((parameter, part[0].text))
        previous = out.in_procedure
        out.in_procedure = True
        try:
            handler(self, Call(name, call_parameters), out)
        finally:
            out.in_procedure = previous
        for parameter, variable in targets:
            self.assign(variable, parameter.value)
        out.done()

    def define_procedure(self, statement, out):
        """CREATE/ALTER PROCEDURE: the rest of the batch is its body."""
        procedures.define(self, statement, out)

    def run_dynamic(self, statement, out, parameters):
        """EXEC ('text' + @v ...): a batch of its own, without the caller's variables."""
        end = find_matching(statement, 0)
        if end != len(statement) - 1:
            raise syntax_near(statement[end + 1].text)
        text = self.evaluate(statement[1:end], parameters)
        saved = self.variables
        self.variables = {}
        try:
            with self.temp.scope(self):
                if not self.execute_batch('' if text is None else str(text), out):
                    raise control.Aborted()
        finally:
            self.variables = saved

    # --- queries ------------------------------------------------------------
    def bindings(self, translator, parameters):
        values = {}
        for name in translator.parameters:
            if name in parameters:
                values[name] = parameters[name]
            elif name in self.variables:
                values[name] = self.variables[name].value
            else:
                raise SqlError(137, 'Must declare the scalar variable "@%s".' % name, severity=15)
        return values

    def describe(self, sql):
        """Declared types of the result columns of a query, None where a column
        is an expression: (SqlType, nullable, identity) per column."""
        conn = self.conn
        # temporary tables come and go in their own schema, with its own version
        version = (conn.execute('PRAGMA schema_version').fetchone()[0],
                   conn.execute('PRAGMA %s.schema_version' % TEMP_SCHEMA).fetchone()[0])
        key = (self.database.lower(), version, sql)
        cached = self.probe_cache.get(key)
        if cached is not None:
            return cached
        probe = _PARAMETER_RE.sub(lambda m: 'NULL' if m.group().startswith('@') else m.group(), sql)
        conn.execute('CREATE TEMP VIEW rz_probe AS ' + probe)
        try:
            info = conn.execute('PRAGMA temp.table_info(rz_probe)').fetchall()
        finally:
            conn.execute('DROP VIEW temp.rz_probe')
        described = [catalogue.parse_declared(row[2]) for row in info]
        if len(self.probe_cache) > 500:
            self.probe_cache.clear()
        self.probe_cache[key] = described
        return described

    def query(self, sql, bind, hints=None, names=None, translator=None, limit=None):
        """Runs a translated query; returns (columns, rows)."""
        conn = self.conn
        try:
            described = self.describe(sql)
            cursor = conn.execute(sql, bind)
            rows = cursor.fetchall() if limit is None else cursor.fetchmany(limit)
            description = cursor.description
        except (sqlite3.Error, SqlError) as error:
            raise translate_error(error, self, conn, translator)
        columns = []
        aligned = names is not None and len(names) == len(description)
        for index, entry in enumerate(description):
            name = entry[0]
            if aligned and names[index] is not None:
                name = names[index]
            elif name.startswith('rz_noname_'):
                name = ''
            declared = described[index] if index < len(described) else None
            hint = hints[index] if aligned and hints and index < len(hints) else None
            if hint is not None:
                columns.append(Column(name, hint))
            elif declared is not None:
                sqltype, nullable, identity = declared
                columns.append(Column(name, sqltype, nullable, identity))
            else:
                sample = next((row[index] for row in rows if row[index] is not None), None)
                columns.append(Column(name, sqltypes.infer_type(sample)))
        return columns, rows

    def describe_statement(self, text, declarations):
        """Result columns of the last query in `text`, without running it."""
        statements = split_statements(tokenize(text))
        if not statements:
            return None
        statement = statements[-1]
        if not (statement[0].is_word('SELECT', 'WITH')):
            return None
        saved = dict(self.variables)
        try:
            for name, sqltype, _output in declarations:
                self.variables[name] = Variable(sqltype)
            translator = Translator(self, self.conn)
            sql, hints, names, assignments = translator.select(statement)
            if assignments or translator.into is not None:
                return None
            bind = self.bindings(translator, {})
            columns, _rows = self.atomic(False, lambda: self.query(sql, bind, hints, names, translator,
                                                                   limit=0))
            return columns
        finally:
            self.variables = saved

    def run_select(self, statement, out, parameters):
        translator = Translator(self, self.conn)
        sql, hints, names, assignments = translator.select(statement)
        if translator.into is not None:
            return selectinto.run(self, translator, statement, sql, hints, names, parameters, out)
        if translator.identity_items:
            raise SqlError(177, 'The IDENTITY function can only be used when the SELECT statement has an '
                                'INTO clause.')
        bind = self.bindings(translator, parameters)
        columns, rows = self.atomic(False, lambda: self.query(sql, bind, hints, names, translator))
        if assignments:
            if rows:
                for variable, value in zip(assignments, rows[-1]):
                    if variable:
                        self.assign(variable, value)
            self.rowcount = len(rows)
            out.done(rowcount=len(rows), curcmd=CURCMD_SELECT)
            return
        self.rowcount = len(rows)
        out.result(columns, rows)
        out.done(rowcount=len(rows), curcmd=CURCMD_SELECT)

    def evaluate(self, expression_tokens, parameters):
        translator = Translator(self, self.conn)
        sql = 'SELECT ' + translator.expr(expression_tokens)
        bind = self.bindings(translator, parameters)
        try:
            row = self.conn.execute(sql, bind).fetchone()
        except sqlite3.Error as error:
            raise translate_error(error, self, self.conn, translator)
        return row[0]

    def atomic(self, write, action):
        """Runs one statement so that a failure undoes only that statement."""
        conn = self.conn
        if self.trancount == 0:
            try:
                conn.execute('BEGIN IMMEDIATE' if write else 'BEGIN')
            except sqlite3.OperationalError as error:
                raise translate_error(error, self, conn)
            try:
                result = action()
            except BaseException:
                conn.execute('ROLLBACK')
                raise
            conn.execute('COMMIT')
            return result
        conn.execute('SAVEPOINT rz_statement')
        try:
            result = action()
        except BaseException:
            conn.execute('ROLLBACK TO rz_statement')
            conn.execute('RELEASE rz_statement')
            raise
        conn.execute('RELEASE rz_statement')
        return result

    def index_name_for(self, conn, table, columns):
        for name, in conn.execute("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = ?",
                                  (table,)):
            listed = [row[2].lower() for row in conn.execute('PRAGMA index_info(%s)' % quote_name(name))]
            if listed == [c.lower() for c in columns]:
                return name.split('$', 1)[-1]
        return 'unknown'

    # --- variables ----------------------------------------------------------
    def assign(self, name, value):
        name = name.lstrip('@').lower()
        variable = self.variables.get(name)
        if variable is None:
            raise SqlError(137, 'Must declare the scalar variable "@%s".' % name, severity=15)
        variable.value = values.to_storage(value, variable.sqltype)

    def run_declare(self, statement, out, parameters):
        for part in split_top(statement[1:]):
            if not part or part[0].kind != 'var':
                raise syntax_near(part[0].text if part else 'DECLARE')
            name = part[0].text[1:].lower()
            rest = part[1:]
            if rest and rest[0].is_word('AS'):
                rest = rest[1:]
            equals = next((i for i, t in enumerate(rest) if t.text == '='), -1)
            type_tokens = rest if equals < 0 else rest[:equals]
            if type_tokens and type_tokens[0].is_word('TABLE', 'CURSOR'):
                raise not_supported('table and cursor variables')
            sqltype = parse_type(render(type_tokens))
            self.variables[name] = Variable(sqltype)
            if equals >= 0:
                self.assign(name, self.evaluate(rest[equals + 1:], parameters))

    def run_set(self, statement, out, parameters):
        if len(statement) >= 3 and statement[1].kind == 'var':
            operator = statement[2].text
            value = self.evaluate(statement[3:], parameters)
            name = statement[1].text[1:].lower()
            if operator != '=' and operator.endswith('='):
                current = self.variables[name].value if name in self.variables else None
                value = {'+': functions.rz_add, '-': lambda a, b: None if a is None or b is None else a - b,
                         '*': lambda a, b: None if a is None or b is None else a * b,
                         '/': functions.rz_div}[operator[0]](current, value)
            self.assign(name, value)
            return
        words = [t.upper or t.text.upper() for t in statement[1:]]
        if words and words[0] == 'NOCOUNT':
            self.nocount = words[-1] == 'ON'
        elif words and words[0] == 'IDENTITY_INSERT':
            table = statement[-2].value if len(statement) >= 4 else ''
            parts = [t.value for t in statement[2:-1] if t.kind in ('word', 'name')]
            table = parts[-1] if parts else table
            info = catalogue.lookup(self.conn, table)
            if info is None:
                raise SqlError(208, "Invalid object name '%s'." % '.'.join(parts))
            if info.identity is None:
                raise SqlError(8106, "Table '%s' does not have the identity property. Cannot perform SET "
                                     "operation." % info.name)
            if words[-1] == 'ON':
                self.identity_insert.add(info.name.lower())
            else:
                self.identity_insert.discard(info.name.lower())
        elif words and words[0] == 'IMPLICIT_TRANSACTIONS' and words[-1] == 'ON':
            raise not_supported('SET IMPLICIT_TRANSACTIONS ON')

    # --- control flow ------------------------------------------------------------
    def condition(self, tokens, parameters):
        """Whether the search condition of an IF or WHILE holds."""
        translator = Translator(self, self.conn)
        sql = 'SELECT CASE WHEN %s THEN 1 ELSE 0 END' % translator.expr(tokens)
        bind = self.bindings(translator, parameters)
        try:
            return self.conn.execute(sql, bind).fetchone()[0] == 1
        except sqlite3.Error as error:
            raise translate_error(error, self, self.conn, translator)

    def run_raiserror(self, statement, parameters):
        body = statement[1:]
        if body and body[0].text == '(':
            body = body[1:find_matching(statement, 1) - 1]
        parts = split_top(body)
        if statement[0].is_word('THROW'):
            number = int(self.evaluate(parts[0], parameters))
            text = str(self.evaluate(parts[1], parameters))
            state = int(self.evaluate(parts[2], parameters)) if len(parts) > 2 else 1
            raise SqlError(number, text, state=state, severity=16)
        text = self.evaluate(parts[0], parameters)
        severity = int(self.evaluate(parts[1], parameters)) if len(parts) > 1 else 16
        state = int(self.evaluate(parts[2], parameters)) if len(parts) > 2 else 1
        args = [self.evaluate(p, parameters) for p in parts[3:]]
        if isinstance(text, int):
            raise SqlError(text, 'User-defined error %d.' % text, state=state, severity=severity)
        message = str(text)
        if args:
            message = re.sub(r'%[-+ #0]*\d*(?:\.\d+)?[dsiuxXo]', lambda m, it=iter(args): str(next(it, '')),
                             message)
        raise SqlError(50000, message, state=state, severity=severity)

    def use_database(self, name, out):
        canonical = self.server.databases.canonical(name)
        if canonical is None:
            raise SqlError(911, "Database '%s' does not exist. Make sure that the name is entered "
                                "correctly." % name)
        old = self.database
        self.database = canonical
        out.envchange(tokens.ENV_DATABASE, canonical, old)
        out.info(5701, "Changed database context to '%s'." % canonical, state=2)
