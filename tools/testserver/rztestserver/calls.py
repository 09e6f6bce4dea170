"""Calls of the system procedures that clients use for parameters, prepared
statements and server cursors, by RPC or by EXEC in a batch: the call with
its parameters, and the table of procedures by name."""
from . import cursors, parameterised, systemprocedures, tokens
from .describe import describe_undeclared_parameters
from .errors import SqlError


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


def return_now(out, parameter, value):
    """Sends an output parameter before the results (handles of prepared statements)."""
    parameter.value = value
    parameter.returned = True
    out.add(tokens.returnvalue(parameter.ordinal, parameter.name, parameter.sqltype, value))


def sp_executesql(session, call, out):
    if not call.parameters:
        raise SqlError(201, "Procedure or function 'sp_executesql' expects parameter '@statement', which was "
                            "not supplied.")
    statement = call.value(0) or ''
    declarations = parameterised.parse_declarations(call.value(1)) if len(call.parameters) > 1 else []
    parameterised.run(session, declarations, statement, call.parameters[2:], out)


def _new_handle(session, declarations_text, statement):
    store = session.prepared_statements
    session.next_handle += 1
    store[session.next_handle] = (declarations_text, statement)
    return session.next_handle


def sp_prepare(session, call, out):
    declarations_text, statement = call.value(1), call.value(2) or ''
    declarations = parameterised.parse_declarations(declarations_text)
    handle = _new_handle(session, declarations_text, statement)
    return_now(out, call.parameters[0], handle)
    columns = session.describe_statement(statement, declarations)
    if columns:
        out.add(tokens.colmetadata(columns))


def sp_prepexec(session, call, out):
    declarations_text, statement = call.value(1), call.value(2) or ''
    declarations = parameterised.parse_declarations(declarations_text)
    handle = _new_handle(session, declarations_text, statement)
    return_now(out, call.parameters[0], handle)
    parameterised.run(session, declarations, statement, call.parameters[3:], out)


def sp_execute(session, call, out):
    handle = call.value(0)
    prepared = session.prepared_statements.get(handle)
    if prepared is None:
        raise SqlError(8179, 'Could not find prepared statement with handle %s.' % handle)
    declarations_text, statement = prepared
    parameterised.run(session, parameterised.parse_declarations(declarations_text), statement, call.parameters[1:], out)


def sp_unprepare(session, call, out):
    handle = call.value(0)
    if session.prepared_statements.pop(handle, None) is None:
        raise SqlError(8179, 'Could not find prepared statement with handle %s.' % handle)


def sp_describe_undeclared_parameters(session, call, out):
    statement = call.value(0) or ''
    declared = parameterised.parse_declarations(call.value(1)) if len(call.parameters) > 1 else []
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
