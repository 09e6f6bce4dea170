"""Remote procedure calls: the system procedures clients use for parameters,
prepared statements and server cursors."""
import re

from . import cursors, procedures, systemprocedures, tokens
from .connection_helpers import request_body
from .errors import SqlError, internal_error
from .sqltypes import parse_type
from .values import to_sqlite
from .wire import InvalidValue, Reader, read_parameter_value, read_type_info
from .session import Variable

PROCEDURE_NAMES = {
    1: 'sp_cursor', 2: 'sp_cursoropen', 3: 'sp_cursorprepare', 4: 'sp_cursorexecute',
    5: 'sp_cursorprepexec', 6: 'sp_cursorunprepare', 7: 'sp_cursorfetch', 8: 'sp_cursoroption',
    9: 'sp_cursorclose', 10: 'sp_executesql', 11: 'sp_prepare', 12: 'sp_execute', 13: 'sp_prepexec',
    14: 'sp_prepexecrpc', 15: 'sp_unprepare',
}
STATUS_BY_REF = 0x01
BATCH_SEPARATORS = (0xFF, 0xFE, 0x80)


class Parameter:
    def __init__(self, ordinal, name, output, sqltype, value):
        self.ordinal = ordinal
        self.name = name
        self.output = output
        self.sqltype = sqltype
        self.value = value

    def __repr__(self):
        return 'Parameter(%r, %s, %r)' % (self.name, self.sqltype.sql(), self.value)


class Call:
    def __init__(self, name, parameters, path=None):
        self.name = name
        self.parameters = parameters
        self.path = path or [name]          # the name's parts as the client wrote them

    def value(self, position, default=None):
        return self.parameters[position].value if position < len(self.parameters) else default



def _undelimited(part):
    """A name part without its [brackets] or "double quotes"."""
    if len(part) >= 2 and (part[0], part[-1]) in (('[', ']'), ('"', '"')):
        return part[1:-1]
    return part

def parse_calls(payload):
    reader = Reader(request_body(payload))
    calls = []
    while reader.remaining() > 0:
        length = reader.u16()
        if length == 0xFFFF:
            procedure = reader.u16()
            name = PROCEDURE_NAMES.get(procedure, 'procedure #%d' % procedure)
        else:
            name = reader.take(length * 2).decode('utf-16-le')
        reader.u16()   # option flags
        parameters = []
        while reader.remaining() > 0 and reader.data[reader.pos] not in BATCH_SEPARATORS:
            param_name = reader.b_varchar()
            status = reader.byte()
            sqltype, info = read_type_info(reader)
            try:
                value = read_parameter_value(reader, sqltype, info)
            except InvalidValue:
                raise invalid_parameter_value(len(parameters) + 1, param_name, sqltype)
            parameters.append(Parameter(len(parameters), param_name, bool(status & STATUS_BY_REF),
                                        sqltype, value))
        path = [_undelimited(part) for part in name.split('.')]
        calls.append(Call(path[-1].lower(), parameters, path))
        if reader.remaining() > 0:
            reader.byte()
    return calls


def invalid_parameter_value(number, name, sqltype):
    return SqlError(8023, 'The incoming tabular data stream (TDS) remote procedure call (RPC) protocol stream '
                          'is incorrect. Parameter %d ("%s"): The supplied value is not a valid instance of '
                          'data type %s. Check the source data for invalid values. An example of an invalid '
                          'value is data of numeric type with scale greater than precision.'
                    % (number, name, sqltype.name))


def parse_declarations(text):
    """'@P1 int, @P2 nvarchar(10) OUTPUT' -> [(name, SqlType, output)]."""
    declarations = []
    if not text:
        return declarations
    depth, current, parts = 0, '', []
    for char in text:
        if char == '(':
            depth += 1
        elif char == ')':
            depth -= 1
        if char == ',' and depth == 0:
            parts.append(current)
            current = ''
        else:
            current += char
    parts.append(current)
    for part in parts:
        part = part.strip()
        if not part:
            continue
        match = re.match(r'(@[\w@#$]+)\s+(?:AS\s+)?(.+?)(\s+(?:OUTPUT|OUT))?(\s*=\s*.+)?$', part,
                         re.IGNORECASE | re.DOTALL)
        if not match:
            raise SqlError(102, "Incorrect syntax near '%s'." % part, severity=15)
        declarations.append((match.group(1)[1:].lower(), parse_type(match.group(2).strip()),
                             bool(match.group(3))))
    return declarations


def handle_rpc(connection, payload, out):
    session = connection.session
    try:
        calls = parse_calls(payload)
    except SqlError as error:
        out.error(error)
        out.done(error=True, token=tokens.DONEPROC)
        return
    for call in calls:
        connection.server.trace(connection, 'rpc %s %r' % (call.name, call.parameters))
        out.in_procedure = True
        try:
            handler = HANDLERS.get(call.name, procedures.rpc_call)
            status = handler(session, call, out)
            out.in_procedure = False
            out.add(tokens.returnstatus(status or 0))
            for parameter in call.parameters:
                if parameter.output and not getattr(parameter, 'returned', False):
                    out.add(tokens.returnvalue(parameter.ordinal, parameter.name, parameter.sqltype,
                                               parameter.value))
            out.done(token=tokens.DONEPROC)
        except (SqlError, ValueError, TypeError, KeyError, IndexError, AttributeError) as error:
            if not isinstance(error, SqlError):
                error = internal_error(error, call.name)
            out.in_procedure = False
            out.error(error)
            out.done(error=True, token=tokens.DONEPROC)


def _return_now(out, parameter, value):
    """Sends an output parameter before the results (handles of prepared statements)."""
    parameter.value = value
    parameter.returned = True
    out.add(tokens.returnvalue(parameter.ordinal, parameter.name, parameter.sqltype, value))


def _bind(session, declarations, values, statement_text):
    """Makes the declared parameters session variables for one execution;
    returns the variables to restore and the (name, parameter) pairs bound."""
    saved = dict(session.variables)
    bound = []
    by_name = {p.name[1:].lower(): p for p in values if p.name}
    unnamed = [p for p in values if not p.name]
    for position, (name, sqltype, _output) in enumerate(declarations):
        parameter = by_name.get(name)
        if parameter is None and unnamed:
            parameter = unnamed.pop(0)
        if parameter is None:
            raise SqlError(8178, "The parameterized query '(%s)%s' expects the parameter '@%s', which was "
                                 "not supplied." % (_declaration_text(declarations), statement_text[:100],
                                                    name), severity=16)
        value = to_sqlite(parameter.value, parameter.sqltype)
        session.variables[name] = Variable(sqltype, value)
        bound.append((name, parameter))
    return saved, bound


def _declaration_text(declarations):
    return ','.join('@%s %s' % (name, sqltype.sql()) for name, sqltype, _ in declarations)


def _run(session, declarations, statement, values, out):
    saved, bound = _bind(session, declarations, values, statement)
    try:
        with session.temp.scope(session):
            session.execute_batch(statement, out)
        for name, parameter in bound:
            if parameter.output:
                parameter.value = session.variables[name].value
    finally:
        session.variables = saved


def sp_executesql(session, call, out):
    if not call.parameters:
        raise SqlError(201, "Procedure or function 'sp_executesql' expects parameter '@statement', which was "
                            "not supplied.")
    statement = call.value(0) or ''
    declarations = parse_declarations(call.value(1)) if len(call.parameters) > 1 else []
    _run(session, declarations, statement, call.parameters[2:], out)


def _new_handle(session, declarations_text, statement):
    store = session.prepared_statements
    session.next_handle += 1
    store[session.next_handle] = (declarations_text, statement)
    return session.next_handle


def sp_prepare(session, call, out):
    declarations_text, statement = call.value(1), call.value(2) or ''
    declarations = parse_declarations(declarations_text)
    handle = _new_handle(session, declarations_text, statement)
    _return_now(out, call.parameters[0], handle)
    columns = session.describe_statement(statement, declarations)
    if columns:
        out.add(tokens.colmetadata(columns))


def sp_prepexec(session, call, out):
    declarations_text, statement = call.value(1), call.value(2) or ''
    declarations = parse_declarations(declarations_text)
    handle = _new_handle(session, declarations_text, statement)
    _return_now(out, call.parameters[0], handle)
    _run(session, declarations, statement, call.parameters[3:], out)


def sp_execute(session, call, out):
    handle = call.value(0)
    prepared = session.prepared_statements.get(handle)
    if prepared is None:
        raise SqlError(8179, 'Could not find prepared statement with handle %s.' % handle)
    declarations_text, statement = prepared
    _run(session, parse_declarations(declarations_text), statement, call.parameters[1:], out)


def sp_unprepare(session, call, out):
    handle = call.value(0)
    if session.prepared_statements.pop(handle, None) is None:
        raise SqlError(8179, 'Could not find prepared statement with handle %s.' % handle)


def sp_describe_undeclared_parameters(session, call, out):
    from .describe import describe_undeclared_parameters
    statement = call.value(0) or ''
    declared = parse_declarations(call.value(1)) if len(call.parameters) > 1 else []
    columns, rows = describe_undeclared_parameters(session, statement, declared)
    out.result(columns, rows)
    out.done(rowcount=len(rows))


HANDLERS = {
    'sp_executesql': sp_executesql, 'sp_prepare': sp_prepare, 'sp_prepexec': sp_prepexec,
    'sp_execute': sp_execute, 'sp_unprepare': sp_unprepare,
    'sp_describe_undeclared_parameters': sp_describe_undeclared_parameters,
    'sp_cursoropen': cursors.sp_cursoropen, 'sp_cursorfetch': cursors.sp_cursorfetch,
    'sp_cursoroption': cursors.sp_cursoroption, 'sp_cursorclose': cursors.sp_cursorclose,
    'sp_cursorprepare': cursors.sp_cursorprepare, 'sp_cursorexecute': cursors.sp_cursorexecute,
    'sp_cursorprepexec': cursors.sp_cursorprepexec, 'sp_cursorunprepare': cursors.sp_cursorunprepare,
    'sp_cursor': cursors.sp_cursor,
    'sp_helpindex': systemprocedures.sp_helpindex, 'sp_tables': systemprocedures.sp_tables,
    'sp_columns': systemprocedures.sp_columns, 'sp_pkeys': systemprocedures.sp_pkeys,
    'sp_special_columns': systemprocedures.sp_special_columns,
}
