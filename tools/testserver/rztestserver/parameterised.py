"""Statements with declared parameters (sp_executesql, prepared statements,
parameterised server cursors): the declarations, and the parameters bound
as the statement's variables for one execution."""
import re

from .errors import SqlError
from .sqltypes import parse_type
from .values import to_sqlite
from .variables import Variable


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


def bind(session, declarations, values, statement_text):
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
                                 "not supplied." % (declaration_text(declarations), statement_text[:100],
                                                    name), severity=16)
        value = to_sqlite(parameter.value, parameter.sqltype)
        session.variables[name] = Variable(sqltype, value)
        bound.append((name, parameter))
    return saved, bound


def declaration_text(declarations):
    return ','.join('@%s %s' % (name, sqltype.sql()) for name, sqltype, _ in declarations)


def run(session, declarations, statement, values, out):
    saved, bound = bind(session, declarations, values, statement)
    try:
        with session.temp.scope(session):
            session.execute_batch(statement, out)
        for name, parameter in bound:
            if parameter.output:
                parameter.value = session.variables[name].value
    finally:
        session.variables = saved
