"""Stored procedures: CREATE/ALTER/DROP PROCEDURE, their parameters, and
calls by EXEC in a batch or by name in an RPC request."""
from . import catalogue, control, tokens, values
from .errors import SqlError, syntax_near, invalid_object, not_supported
from .lexer import render, tokenize
from .sqltypes import parse_type
from .translate import Translator, find_matching, split_top
from .values import to_sqlite
from .variables import Variable

MAX_NESTING = 32
DEFAULT = object()          # an argument given as the keyword DEFAULT


class Formal:
    """One declared parameter."""

    def __init__(self, name, sqltype, default_tokens, output):
        self.name = name                    # with its @, as declared
        self.sqltype = sqltype
        self.default_tokens = default_tokens  # None: the caller must supply it
        self.output = output


class Argument:
    """One actual parameter: by position (name '') or by name."""

    def __init__(self, name, value, output=False):
        self.name = name
        self.value = value
        self.output = output


class Procedure:
    def __init__(self, name, formals, body):
        self.name = name
        self.formals = formals
        self.body = body                    # parsed statements


def parse_definition(tokens):
    """CREATE|ALTER [OR ALTER] PROC[EDURE] name params [WITH ...] AS body ->
    (verb, name parts, Procedure)."""
    verb = 'ALTER' if tokens[0].is_word('ALTER') else 'CREATE'
    index = 1
    if tokens[index].is_word('OR'):
        if not tokens[index + 1].is_word('ALTER'):
            raise syntax_near(tokens[index + 1].text)
        verb = 'CREATE OR ALTER'
        index += 2
    index += 1                              # PROC / PROCEDURE
    translator = Translator(None, None)
    parts, index = translator.read_name(tokens, index)
    if not parts:
        raise syntax_near(tokens[min(index, len(tokens) - 1)].text)
    if parts[-1].startswith('#'):
        raise not_supported('temporary procedures')
    if index < len(tokens) and tokens[index].text == ';':
        raise not_supported('numbered procedures')
    as_index = _header_end(tokens, index)
    header = tokens[index:as_index]
    options = _options_start(header)
    if options >= 0:
        _check_options(header[options + 1:])
        header = header[:options]
    if header and header[0].text == '(' and find_matching(header, 0) == len(header) - 1:
        header = header[1:-1]
    formals = [_formal(part) for part in split_top(header)] if header else []
    seen = set()
    for formal in formals:
        if formal.name.lower() in seen:
            raise SqlError(134, "The variable name '%s' has already been declared. Variable names must be "
                                "unique within a query batch or stored procedure." % formal.name, severity=15)
        seen.add(formal.name.lower())
    body_tokens = tokens[as_index + 1:]
    if not body_tokens:
        raise syntax_near(tokens[as_index].text)
    body = control.parse(body_tokens)
    return verb, parts, Procedure(parts[-1], formals, body)


def _header_end(tokens, index):
    depth = 0
    for position in range(index, len(tokens)):
        token = tokens[position]
        if token.text == '(' and token.kind == 'punct':
            depth += 1
        elif token.text == ')' and token.kind == 'punct':
            depth -= 1
        elif depth == 0 and token.is_word('AS'):
            # "@p AS int" declares a type; the body's AS follows no variable
            if position > 0 and tokens[position - 1].kind == 'var':
                continue
            return position
    raise syntax_near(tokens[-1].text)


def _options_start(header):
    depth = 0
    for position, token in enumerate(header):
        if token.text == '(':
            depth += 1
        elif token.text == ')':
            depth -= 1
        elif depth == 0 and token.is_word('WITH', 'FOR'):
            return position
    return -1


def _check_options(option_tokens):
    words = [t.upper for t in option_tokens if t.kind == 'word']
    if words == ['REPLICATION']:
        return
    for word in words:
        if word not in ('RECOMPILE', 'ENCRYPTION'):
            raise not_supported('procedure option %s' % word)


def _formal(part):
    if not part or part[0].kind != 'var':
        raise syntax_near(part[0].text if part else ',')
    rest = part[1:]
    if rest and rest[0].is_word('AS'):
        rest = rest[1:]
    output = False
    while rest and rest[-1].is_word('OUTPUT', 'OUT', 'READONLY'):
        if rest[-1].is_word('READONLY'):
            raise not_supported('table-valued parameters')
        output = True
        rest = rest[:-1]
    equals = next((i for i, t in enumerate(rest) if t.text == '='), -1)
    type_tokens = rest if equals < 0 else rest[:equals]
    type_tokens = [t for t in type_tokens if not t.is_word('VARYING', 'NULL')]
    if type_tokens and type_tokens[0].is_word('CURSOR', 'TABLE'):
        raise not_supported('cursor and table parameters')
    if not type_tokens:
        raise syntax_near(part[-1].text)
    default = rest[equals + 1:] if equals >= 0 else None
    if default is not None and not default:
        raise syntax_near('=')
    return Formal(part[0].text, parse_type(render(type_tokens)), default, output)


# --- the catalogue ---------------------------------------------------------
def _find(conn, translator, parts):
    name = translator.object_name(parts)
    schema, bare = catalogue.split_name(name)
    row = conn.execute("SELECT object_id, definition FROM rz_objects WHERE type = 'P' AND name = ? "
                       "AND lower(schema_name) = lower(?)", (bare, schema)).fetchone()
    return name, row


def define(session, statement, out):
    """CREATE, ALTER or CREATE OR ALTER PROCEDURE."""
    verb, parts, _procedure = parse_definition(statement)
    conn = session.conn
    translator = Translator(session, conn)
    head = 2 if verb == 'CREATE OR ALTER' else 0
    definition = 'CREATE ' + render(statement[1 + head:])

    def action():
        name, row = _find(conn, translator, parts)
        if row is not None and verb != 'CREATE':
            conn.execute('UPDATE rz_objects SET definition = ? WHERE object_id = ?', (definition, row[0]))
            return
        if verb == 'ALTER':
            raise invalid_object('.'.join(parts))
        catalogue.require_schema(conn, name)
        if row is not None or catalogue.lookup(conn, name) is not None:
            raise SqlError(2714, "There is already an object named '%s' in the database."
                           % catalogue.split_name(name)[1])
        catalogue.register_object(conn, session.database, name, 'P', definition)
    session.atomic(True, action)
    out.done()


def drop(session, statement_tokens, out):
    """DROP PROC[EDURE] [IF EXISTS] name [, name ...]."""
    if_exists = len(statement_tokens) >= 2 and statement_tokens[0].is_word('IF') and \
        statement_tokens[1].is_word('EXISTS')
    if if_exists:
        statement_tokens = statement_tokens[2:]
    conn = session.conn
    translator = Translator(session, conn)
    for part in split_top(statement_tokens):
        parts, end = translator.read_name(part, 0) if part else ([], 0)
        if not parts or end != len(part):
            raise syntax_near(part[end].text if part and end < len(part) else ',')

        def action(parts=parts):
            _name, row = _find(conn, translator, parts)
            if row is None:
                if if_exists:
                    return
                raise SqlError(3701, "Cannot drop the procedure '%s', because it does not exist or you do "
                                     "not have permission." % '.'.join(parts))
            catalogue.unregister(conn, row[0])
        session.atomic(True, action)
    out.done()


def load(session, parts):
    """The Procedure called by `parts`, or None when there is none."""
    conn = session.conn
    translator = Translator(session, conn)
    try:
        _name, row = _find(conn, translator, parts)
    except SqlError:
        return None
    if row is None:
        return None
    key = (session.database.lower(), row[0], row[1])
    procedure = session.procedure_cache.get(key)
    if procedure is None:
        procedure = parse_definition(tokenize(row[1]))[2]
        session.procedure_cache[key] = procedure
    return procedure


# --- calls -------------------------------------------------------------------
def _bind(session, procedure, arguments):
    """The procedure's variables for one call: {name: Variable}, and the
    formal parameter each argument that asks for output is bound to."""
    supplied = {}
    named_seen = False
    for position, argument in enumerate(arguments):
        if argument.name:
            named_seen = True
            formal = next((f for f in procedure.formals if f.name.lower() == argument.name.lower()), None)
            if formal is None:
                raise SqlError(8145, '%s is not a parameter for procedure %s.' % (argument.name, procedure.name))
        else:
            if named_seen:
                raise SqlError(119, "Must pass parameter number %d and subsequent parameters as '@name = value'. "
                                    "After the form '@name = value' has been used, all subsequent parameters "
                                    "must be passed in the form '@name = value'." % (position + 1), severity=15)
            if position >= len(procedure.formals):
                raise SqlError(8144, 'Procedure or function %s has too many arguments specified.' % procedure.name)
            formal = procedure.formals[position]
        if argument.output and not formal.output:
            raise SqlError(8162, 'The formal parameter "%s" was not declared as an OUTPUT parameter, but the '
                                 'actual parameter passed in requested output.' % formal.name)
        supplied[formal.name.lower()] = (formal, argument)
    variables = {}
    for formal in procedure.formals:
        entry = supplied.get(formal.name.lower())
        value = entry[1].value if entry else DEFAULT
        if value is DEFAULT:
            if formal.default_tokens is None:
                raise SqlError(201, "Procedure or function '%s' expects parameter '%s', which was not supplied."
                               % (procedure.name, formal.name))
            value = session.evaluate(formal.default_tokens, {})
        variables[formal.name[1:].lower()] = Variable(formal.sqltype, values.to_storage(value, formal.sqltype))
    bound = [(argument, formal) for formal, argument in supplied.values() if argument.output]
    return variables, bound


def call(session, procedure, arguments, out):
    """Runs a procedure; returns its status and sets the value of every
    argument that asked for output."""
    if len(session.procedure_stack) >= MAX_NESTING:
        raise SqlError(217, 'Maximum stored procedure, function, trigger, or view nesting level exceeded '
                            '(limit %d).' % MAX_NESTING)
    variables, bound = _bind(session, procedure, arguments)
    saved_variables, saved_nocount = session.variables, session.nocount
    previous = out.in_procedure
    session.variables = variables
    session.procedure_stack.append(procedure.name)
    out.in_procedure = True
    status = 0
    try:
        with session.temp.scope(session):
            control.run(session, procedure.body, out, {})
    except control.Return as returned:
        status = returned.status
    finally:
        out.in_procedure = previous
        session.procedure_stack.pop()
        session.nocount = saved_nocount
        session.variables = saved_variables
    for argument, formal in bound:
        argument.value = variables[formal.name[1:].lower()].value
        argument.formal = formal
    if status is None:
        out.info(0, "The '%s' procedure attempted to return a status of NULL, which is not allowed. A status "
                    "of 0 will be returned instead." % procedure.name)
        status = 0
    return values.to_integer(status, parse_type('int'))


def execute(session, parts, argument_tokens, out, parameters, status_variable=None):
    """EXEC name args in a batch: the procedure's results, RETURNSTATUS and DONEPROC."""
    procedure = load(session, parts)
    if procedure is None:
        raise SqlError(2812, "Could not find stored procedure '%s'." % '.'.join(parts))
    arguments, targets = [], []
    for part in argument_tokens:
        name = ''
        if len(part) > 2 and part[0].kind == 'var' and part[1].text == '=':
            name, part = part[0].text, part[2:]
        output = bool(part) and part[-1].is_word('OUTPUT', 'OUT')
        if output:
            part = part[:-1]
            if len(part) != 1 or part[0].kind != 'var':
                raise SqlError(179, 'Cannot use the OUTPUT option when passing a constant to a stored procedure.')
        if not part:
            raise syntax_near(',')
        value = DEFAULT if len(part) == 1 and part[0].is_word('DEFAULT') else session.evaluate(part, parameters)
        argument = Argument(name, value, output)
        arguments.append(argument)
        if output:
            targets.append((argument, part[0].text))
    status = call(session, procedure, arguments, out)
    for argument, variable in targets:
        session.assign(variable, argument.value)
    if status_variable:
        session.assign(status_variable, status)
    out.add(tokens.returnstatus(status))
    out.done(token=tokens.DONEPROC)


def rpc_call(session, rpc, out):
    """An RPC request naming a procedure of ours; returns its status."""
    procedure = load(session, rpc.path)
    if procedure is None:
        raise SqlError(2812, "Could not find stored procedure '%s'." % '.'.join(rpc.path))
    arguments = []
    for parameter in rpc.parameters:
        argument = Argument(parameter.name, to_sqlite(parameter.value, parameter.sqltype), parameter.output)
        arguments.append(argument)
    status = call(session, procedure, arguments, out)
    for parameter, argument in zip(rpc.parameters, arguments):
        formal = getattr(argument, 'formal', None)
        if formal is not None:
            parameter.value = argument.value
            parameter.sqltype = formal.sqltype
            parameter.name = parameter.name or formal.name
    return status

