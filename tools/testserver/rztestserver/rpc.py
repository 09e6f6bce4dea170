"""Remote procedure calls: the RPC request read from the wire, each call run
and answered with its status and output parameters."""
from . import procedures, tokens
from .calls import HANDLERS, Call, Parameter
from .connection_helpers import request_body
from .errors import SqlError, internal_error
from .wire import InvalidValue, Reader, read_parameter_value, read_type_info

PROCEDURE_NAMES = {
    1: 'sp_cursor', 2: 'sp_cursoropen', 3: 'sp_cursorprepare', 4: 'sp_cursorexecute',
    5: 'sp_cursorprepexec', 6: 'sp_cursorunprepare', 7: 'sp_cursorfetch', 8: 'sp_cursoroption',
    9: 'sp_cursorclose', 10: 'sp_executesql', 11: 'sp_prepare', 12: 'sp_execute', 13: 'sp_prepexec',
    14: 'sp_prepexecrpc', 15: 'sp_unprepare',
}
STATUS_BY_REF = 0x01
BATCH_SEPARATORS = (0xFF, 0xFE, 0x80)




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
