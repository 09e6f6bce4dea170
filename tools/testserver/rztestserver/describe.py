"""sp_describe_undeclared_parameters: the type of every undeclared @parameter,
deduced from the column it is compared with or assigned to."""
from . import catalogue, procedures, sqltypes, wire
from .lexer import tokenize, split_statements
from .scope import Scope, is_name as _is_name
from .sqltypes import SqlType
from .tokens import Column
from .translate import Translator, find_matching, split_top

COMPARISONS = {'=', '<>', '!=', '<', '>', '<=', '>=', '!<', '!>'}
ARITHMETIC = {'+', '-', '*', '/', '%'}
SYSNAME = SqlType('nvarchar', 128)


def _columns():
    spec = [
        ('parameter_ordinal', SqlType('int'), False), ('name', SYSNAME, False),
        ('suggested_system_type_id', SqlType('int'), False),
        ('suggested_system_type_name', SqlType('nvarchar', 256), True),
        ('suggested_max_length', SqlType('smallint'), False),
        ('suggested_precision', SqlType('tinyint'), False), ('suggested_scale', SqlType('tinyint'), False),
        ('suggested_user_type_id', SqlType('int'), True), ('suggested_user_type_database', SYSNAME, True),
        ('suggested_user_type_schema', SYSNAME, True), ('suggested_user_type_name', SYSNAME, True),
        ('suggested_assembly_qualified_type_name', SqlType('nvarchar', 4000), True),
        ('suggested_xml_collection_id', SqlType('int'), True),
        ('suggested_xml_collection_database', SYSNAME, True),
        ('suggested_xml_collection_schema', SYSNAME, True), ('suggested_xml_collection_name', SYSNAME, True),
        ('suggested_is_xml_document', SqlType('bit'), False),
        ('suggested_is_case_sensitive', SqlType('bit'), False),
        ('suggested_is_fixed_length_clr_type', SqlType('bit'), False),
        ('suggested_is_input', SqlType('bit'), False), ('suggested_is_output', SqlType('bit'), False),
        ('formal_parameter_name', SYSNAME, True), ('suggested_tds_type_id', SqlType('int'), False),
        ('suggested_tds_length', SqlType('int'), False),
    ]
    return [Column(name, sqltype, nullable) for name, sqltype, nullable in spec]


def _name_before(tokens, index):
    """Dotted name ending just before `index`, or None."""
    parts = []
    position = index - 1
    while position >= 0 and _is_name(tokens[position]):
        parts.insert(0, tokens[position].value)
        if position >= 1 and tokens[position - 1].text == '.':
            position -= 2
        else:
            break
    return parts or None


def _name_after(tokens, index):
    parts = []
    position = index
    while position < len(tokens) and _is_name(tokens[position]):
        parts.append(tokens[position].value)
        if position + 1 < len(tokens) and tokens[position + 1].text == '.':
            position += 2
        else:
            break
    return parts or None


def _literal_type(before, before_operand, after, after_operand):
    """The type of a number literal the parameter is compared with or is an
    operand of arithmetic with (10 + @p is int: the candidate type that
    needs no conversion)."""
    for operator, operand in ((before, before_operand), (after, after_operand)):
        if operator is not None and operator.text in COMPARISONS | ARITHMETIC and operand is not None \
                and operand.kind == 'number' and 'e' not in operand.text.lower():
            if '.' in operand.text:
                whole, fraction = operand.text.split('.')
                precision = max(len(whole.lstrip('0')) + len(fraction), 1)
                return SqlType('numeric', precision=precision, scale=len(fraction))
            return SqlType('int') if abs(int(operand.text)) < 2 ** 31 else SqlType('bigint')
    return None


def _procedure_arguments(tokens, scope, found):
    """EXEC [@status =] proc @a, @name = @b: each marker passed as an argument
    takes the type of the procedure's parameter it is given to."""
    index = 1
    if index + 1 < len(tokens) and tokens[index].kind == 'var' and tokens[index + 1].text == '=':
        found.setdefault(tokens[index].text[1:].lower(), SqlType('int'))     # the return status
        index += 2
    parts, index = scope.translator.read_name(tokens, index)
    procedure = procedures.load(scope.session, parts) if parts else None
    if procedure is None:
        return
    formals = {formal.name.lower(): formal for formal in procedure.formals}
    for position, argument in enumerate(split_top(tokens[index:])):
        while argument and argument[-1].is_word('OUTPUT', 'OUT'):
            argument = argument[:-1]
        if len(argument) == 3 and argument[0].kind == 'var' and argument[1].text == '=':
            formal, argument = formals.get(argument[0].text.lower()), argument[2:]
        else:
            formal = procedure.formals[position] if position < len(procedure.formals) else None
        if formal is not None and len(argument) == 1 and argument[0].kind == 'var':
            found.setdefault(argument[0].text[1:].lower(), formal.sqltype)


def _deduce(statement, scope, found):
    """Fills found[name] with the SqlType each parameter gets."""
    tokens = statement
    if tokens and tokens[0].is_word('EXEC', 'EXECUTE'):
        _procedure_arguments(tokens, scope, found)
    # INSERT INTO t (a, b) VALUES (@p1, @p2)
    if tokens and tokens[0].is_word('INSERT'):
        index = 1 + (1 if len(tokens) > 1 and tokens[1].is_word('INTO') else 0)
        parts, after = scope.translator.read_name(tokens, index)
        info = catalogue.lookup(scope.session.conn, scope.translator.object_name(parts)) if parts else None
        if info is not None:
            if after < len(tokens) and tokens[after].text == '(':
                end = find_matching(tokens, after)
                names = [p[-1].value for p in split_top(tokens[after + 1:end]) if p]
                after = end + 1
            else:
                names = [c.name for c in info.columns if not c.identity]
            if after < len(tokens) and tokens[after].is_word('VALUES'):
                position = after + 1
                while position < len(tokens) and tokens[position].text == '(':
                    end = find_matching(tokens, position)
                    for name, item in zip(names, split_top(tokens[position + 1:end])):
                        if len(item) == 1 and item[0].kind == 'var':
                            column = info.column(name)
                            if column is not None:
                                found.setdefault(item[0].text[1:].lower(), column.sqltype)
                    position = end + 1
                    if position < len(tokens) and tokens[position].text == ',':
                        position += 1
    for index, token in enumerate(tokens):
        if token.kind != 'var':
            continue
        name = token.text[1:].lower()
        if name in found:
            continue
        before = tokens[index - 1] if index > 0 else None
        after = tokens[index + 1] if index + 1 < len(tokens) else None
        column = None
        if before is not None and (before.text in COMPARISONS or before.is_word('LIKE')):
            parts = _name_before(tokens, index - 1)
            column = scope.column(parts) if parts else None
        if column is None and after is not None and (after.text in COMPARISONS or after.is_word('LIKE')):
            parts = _name_after(tokens, index + 2)
            column = scope.column(parts) if parts else None
        if column is None and before is not None and before.text in ARITHMETIC:
            # id + @p: the other operand's type
            parts = _name_before(tokens, index - 1)
            column = scope.column(parts) if parts else None
        if column is None and after is not None and after.text in ARITHMETIC:
            parts = _name_after(tokens, index + 2)
            column = scope.column(parts) if parts else None
        if column is None and before is not None and before.is_word('BETWEEN', 'AND', 'IN') or (
                before is not None and before.text in (',', '(')):
            # a BETWEEN b AND @p, a IN (@p, ...)
            position = index - 1
            depth = 0
            while position >= 0:
                current = tokens[position]
                if current.text == ')':
                    depth += 1
                elif current.text == '(':
                    if depth == 0 and position > 0 and tokens[position - 1].is_word('IN'):
                        parts = _name_before(tokens, position - 1)
                        column = scope.column(parts) if parts else None
                        break
                    depth -= 1
                elif depth == 0 and current.is_word('BETWEEN'):
                    parts = _name_before(tokens, position)
                    column = scope.column(parts) if parts else None
                    break
                elif depth == 0 and current.kind == 'word' and current.upper in ('WHERE', 'SET', 'ON', 'OR'):
                    break
                position -= 1
        literal = _literal_type(before, tokens[index - 2] if index > 1 else None, after,
                                tokens[index + 2] if index + 2 < len(tokens) else None)
        if column is not None:
            found[name] = column.sqltype
        elif literal is not None:
            found[name] = literal
        elif before is not None and (before.is_word('TOP') or (
                before.text == '(' and index > 1 and tokens[index - 2].is_word('TOP'))):
            found[name] = SqlType('bigint')


def describe_undeclared_parameters(session, text, declared):
    statements = split_statements(tokenize(text))
    translator = Translator(session, session.conn)
    declared_names = {name for name, _type, _output in declared}
    order = []
    for statement in statements:
        is_call = bool(statement) and statement[0].is_word('EXEC', 'EXECUTE')
        for index, token in enumerate(statement):
            if is_call and index > 1 and index + 1 < len(statement) and statement[index + 1].text == '=':
                continue            # the name of the procedure's parameter an argument is given to
            if token.kind == 'var':
                name = token.text[1:].lower()
                if name not in declared_names and name not in [n for n, _ in order]:
                    order.append((name, token.text))
    found = {}
    for statement in statements:
        scope = Scope(session, translator)
        scope.add(statement)
        _deduce(statement, scope, found)
    rows = []
    for ordinal, (name, written) in enumerate(order, 1):
        sqltype = found.get(name, SqlType('nvarchar', 4000))
        tds_type = wire.type_info(sqltype)[0]
        max_length = sqltype.max_length()
        rows.append([
            ordinal, written, sqltypes.SYSTEM_TYPE_IDS[sqltype.name], sqltype.sql(), max_length,
            sqltype.numeric_precision() if sqltype.name not in sqltypes.STRING_TYPES else 0,
            sqltype.numeric_scale() if sqltype.name not in sqltypes.STRING_TYPES else 0,
            None, None, None, None, None, None, None, None, None, 0,
            0, 0, 1, 0, None, tds_type, 65535 if max_length == -1 else max_length,
        ])
    return _columns(), rows
