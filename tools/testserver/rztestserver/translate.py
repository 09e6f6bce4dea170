"""Rewriting T-SQL expressions, names and queries into SQLite's dialect."""
from . import catalogue
from .errors import SqlError, invalid_object, syntax_near, not_supported
from .lexer import render
from .scope import Scope
from .sqltypes import EXACT_PRECISIONS, SqlType, decimal_result, parse_type
from .temptables import is_temporary

# T-SQL function -> SQLite function (ours are registered by functions.py)
FUNCTIONS = {
    'ISNULL': 'ifnull', 'LEN': 'rz_len', 'DATALENGTH': 'rz_datalength', 'SUBSTRING': 'rz_substring',
    'CHARINDEX': 'rz_charindex', 'LEFT': 'rz_left', 'RIGHT': 'rz_right', 'GETDATE': 'rz_getdate',
    'CURRENT_TIMESTAMP': 'rz_getdate', 'SYSDATETIME': 'rz_sysdatetime', 'GETUTCDATE': 'rz_getutcdate',
    'SYSUTCDATETIME': 'rz_sysutcdatetime', 'NEWID': 'rz_newid', 'YEAR': 'rz_year', 'MONTH': 'rz_month',
    'DAY': 'rz_day', 'DATEPART': 'rz_datepart', 'DATEADD': 'rz_dateadd', 'DATEDIFF': 'rz_datediff',
    'DATENAME': 'rz_datename', 'CEILING': 'rz_ceiling', 'FLOOR': 'rz_floor', 'POWER': 'rz_power',
    'SQRT': 'rz_sqrt', 'SIGN': 'sign', 'ROUND': 'rz_round', 'CONCAT': 'rz_concat',
    'REPLICATE': 'rz_replicate', 'SPACE': 'rz_space', 'REVERSE': 'rz_reverse', 'ASCII': 'rz_ascii',
    'CHAR': 'char', 'NCHAR': 'char', 'UNICODE': 'unicode', 'UPPER': 'upper', 'LOWER': 'lower',
    'LTRIM': 'ltrim', 'RTRIM': 'rtrim', 'TRIM': 'trim', 'REPLACE': 'rz_replace', 'ABS': 'abs',
    'COALESCE': 'coalesce', 'NULLIF': 'nullif', 'IIF': 'iif', 'COUNT': 'count', 'COUNT_BIG': 'count',
    'SUM': 'sum', 'AVG': 'rz_avg', 'MIN': 'min', 'MAX': 'max', 'STUFF': 'rz_stuff', 'STR': 'rz_str',
    'DB_NAME': 'rz_db_name', 'USER_NAME': 'rz_user_name', 'SUSER_SNAME': 'rz_login_name',
    'SUSER_NAME': 'rz_login_name', 'CURRENT_USER': 'rz_user_name', 'SYSTEM_USER': 'rz_login_name',
    'ISNUMERIC': 'rz_isnumeric', 'QUOTENAME': 'rz_quotename', 'PI': 'rz_pi', 'EXP': 'rz_exp',
    'LOG': 'rz_log', 'LOG10': 'rz_log10', 'ROW_NUMBER': 'row_number', 'RANK': 'rank',
    'DENSE_RANK': 'dense_rank', 'EOMONTH': 'rz_eomonth', 'FORMAT': 'rz_format',
    'SERVERPROPERTY': 'rz_serverproperty', 'HOST_NAME': 'rz_host_name', 'APP_NAME': 'rz_app_name',
    'OBJECT_NAME': 'rz_object_name', 'SCHEMA_NAME': 'rz_schema_name', 'DB_ID': 'rz_db_id',
    'SCHEMA_ID': 'rz_schema_id', 'ERROR_MESSAGE': 'rz_null', 'ERROR_NUMBER': 'rz_null',
    'STRING_AGG': 'group_concat', 'SQUARE': 'rz_square', 'TRY_PARSE': 'rz_try_cast',
    'SYSDATETIMEOFFSET': 'rz_sysdatetimeoffset', 'SWITCHOFFSET': 'rz_switchoffset',
    'TODATETIMEOFFSET': 'rz_todatetimeoffset',
}
# functions that may be written without parentheses
NILADIC = {'CURRENT_TIMESTAMP', 'CURRENT_USER', 'SYSTEM_USER', 'SESSION_USER'}

RESULT_TYPES = {
    'COUNT': SqlType('int'), 'COUNT_BIG': SqlType('bigint'), 'LEN': SqlType('int'),
    'DATALENGTH': SqlType('int'), 'CHARINDEX': SqlType('int'), 'YEAR': SqlType('int'),
    'MONTH': SqlType('int'), 'DAY': SqlType('int'), 'DATEPART': SqlType('int'), 'DATEDIFF': SqlType('int'),
    'GETDATE': SqlType('datetime'), 'CURRENT_TIMESTAMP': SqlType('datetime'),
    'GETUTCDATE': SqlType('datetime'), 'SYSDATETIME': SqlType('datetime2', scale=7),
    'SYSUTCDATETIME': SqlType('datetime2', scale=7), 'NEWID': SqlType('uniqueidentifier'),
    'SYSDATETIMEOFFSET': SqlType('datetimeoffset', scale=7), 'SWITCHOFFSET': SqlType('datetimeoffset', scale=7),
    'TODATETIMEOFFSET': SqlType('datetimeoffset', scale=7),
    'OBJECT_ID': SqlType('int'), 'COLUMNPROPERTY': SqlType('int'), 'DB_NAME': SqlType('nvarchar', 128),
    'USER_NAME': SqlType('nvarchar', 128), 'SUSER_SNAME': SqlType('nvarchar', 128),
    'IDENT_CURRENT': SqlType('numeric', precision=38, scale=0),
    'SCOPE_IDENTITY': SqlType('numeric', precision=38, scale=0),
    'OBJECT_NAME': SqlType('nvarchar', 128), 'SCHEMA_NAME': SqlType('nvarchar', 128),
    'DB_ID': SqlType('smallint'), 'ROW_NUMBER': SqlType('bigint'), 'RANK': SqlType('bigint'),
    'DENSE_RANK': SqlType('bigint'), 'ISNUMERIC': SqlType('int'), 'UNICODE': SqlType('int'),
    'ASCII': SqlType('int'), 'DATENAME': SqlType('nvarchar', 30),
}
SYSVAR_TYPES = {
    '@@IDENTITY': SqlType('numeric', precision=38, scale=0), '@@ROWCOUNT': SqlType('int'),
    '@@TRANCOUNT': SqlType('int'), '@@VERSION': SqlType('nvarchar', 300), '@@SPID': SqlType('smallint'),
    '@@SERVERNAME': SqlType('nvarchar', 128), '@@ERROR': SqlType('int'), '@@LANGUAGE': SqlType('nvarchar', 128),
    '@@MAX_PRECISION': SqlType('tinyint'), '@@SERVICENAME': SqlType('nvarchar', 128),
    '@@DATEFIRST': SqlType('tinyint'), '@@TEXTSIZE': SqlType('int'), '@@LOCK_TIMEOUT': SqlType('int'),
    '@@NESTLEVEL': SqlType('int'), '@@OPTIONS': SqlType('int'), '@@MAX_CONNECTIONS': SqlType('int'),
}
CLAUSE_WORDS = {'FROM', 'WHERE', 'GROUP', 'HAVING', 'ORDER', 'UNION', 'EXCEPT', 'INTERSECT', 'OPTION',
                'INTO', 'FOR', 'OFFSET', 'FETCH'}
ARITHMETIC = {'+', '-', '*', '/', '%'}
# words after which '-' or '+' is a sign, not an operator
_NOT_OPERAND_END = {'SELECT', 'WHERE', 'AND', 'OR', 'NOT', 'ON', 'WHEN', 'THEN', 'ELSE', 'RETURN',
                    'BY', 'SET', 'VALUES', 'IS', 'IN', 'LIKE', 'BETWEEN', 'CASE', 'HAVING', 'TOP', 'AS'}


def wide_decimal(sql):
    """A decimal of more than 15 digits, kept as exact text: TEXT affinity and
    the rz_decimal collation make SQLite compare and order it as a number."""
    return 'CAST(%s AS TEXT) COLLATE rz_decimal' % sql


def quote_name(name):
    # backquotes: SQLite would take an unknown "name" for a string literal
    return '`%s`' % name.replace('`', '``')


def sql_string(text):
    return "'%s'" % text.replace("'", "''")


def find_matching(tokens, start):
    """Index of the ')' closing the '(' at `start`."""
    depth = 0
    for index in range(start, len(tokens)):
        text = tokens[index].text
        if tokens[index].kind == 'punct':
            if text == '(':
                depth += 1
            elif text == ')':
                depth -= 1
                if depth == 0:
                    return index
    raise SqlError(102, "Incorrect syntax near '%s'." % tokens[-1].text, severity=15)


def split_top(tokens, separator=','):
    """Splits at top-level separators (commas by default)."""
    parts, current, depth = [], [], 0
    for token in tokens:
        if token.kind == 'punct' and token.text == '(':
            depth += 1
        elif token.kind == 'punct' and token.text == ')':
            depth -= 1
        if depth == 0 and token.kind == 'punct' and token.text == separator:
            parts.append(current)
            current = []
        else:
            current.append(token)
    parts.append(current)
    return parts


def index_of_word(tokens, *words, start=0):
    depth = 0
    for index in range(start, len(tokens)):
        token = tokens[index]
        if token.kind == 'punct' and token.text == '(':
            depth += 1
        elif token.kind == 'punct' and token.text == ')':
            depth -= 1
        elif depth == 0 and token.kind == 'word' and token.upper in words:
            return index
    return -1


class Translator:
    """Translates token lists of one statement; `session` supplies state
    (variables, identity values) and `conn` the catalogue."""

    def __init__(self, session, conn):
        self.session = session
        self.conn = conn
        self.parameters = set()     # SQLite parameter names used
        self.referenced = {}        # SQLite object name -> name as written
        self.into = None            # the new table of SELECT ... INTO, as written
        self.identity_items = {}    # select item position -> (SqlType, seed, increment) of IDENTITY()
        self.constant_items = set() # positions of select items that are a literal (never NULL)
        self.types = {}             # translated operand -> its SqlType, where known
        self.literal_digits = {}    # translated integer literal -> its digits
        self.column_names = {}      # translated column reference -> its name parts
        self.wide_literals = {}     # translated literal of more than 15 digits -> its text
        self._scope = None
        self._scope_tokens = None

    # --- names --------------------------------------------------------------
    def read_name(self, tokens, index):
        """Reads a dotted name starting at `index`; returns (parts, next index)."""
        parts = []
        while index < len(tokens):
            token = tokens[index]
            if token.kind in ('word', 'name'):
                parts.append(token.value)
            elif token.kind == 'op' and token.text == '*' and parts is not None and \
                    index > 0 and tokens[index - 1].text == '.':
                parts.append('*')
                index += 1
                break
            else:
                break
            index += 1
            if index < len(tokens) and tokens[index].text == '.':
                index += 1
                if index < len(tokens) and tokens[index].text == '.':   # db..table
                    parts.append('dbo')
                    index += 1
            else:
                break
        return parts, index

    def object_name(self, parts):
        """The SQLite name for a table or view reference."""
        if parts and is_temporary(parts[-1]):
            # database and schema carry no weight: every #table lives in tempdb
            if parts[-1].startswith('##'):
                raise not_supported('global temporary tables')
            return self.session.temp.resolve(self.conn, parts[-1]) if self.session is not None else parts[-1]
        if len(parts) == 1 and catalogue.catalogue_view('', parts[0]):
            return catalogue.catalogue_view('', parts[0])
        if len(parts) >= 2:
            view = catalogue.catalogue_view(parts[-2], parts[-1])
            if view:
                return view
            if parts[-2].lower() in ('sys', 'information_schema'):
                raise invalid_object('.'.join(parts))
            if len(parts) == 3 and parts[0].lower() != self.session.database.lower():
                raise not_supported('references to other databases (%s)' % '.'.join(parts))
            return catalogue.sqlite_name(parts[-2], parts[-1])
        return parts[-1]

    def render_name(self, parts):
        """A dotted name inside an expression: column, alias.column or object."""
        for index in range(len(parts) - 1):
            view = catalogue.catalogue_view(parts[index], parts[index + 1])
            if view:
                rest = [view] + parts[index + 2:]
                return '.'.join(p if p == '*' or p == view else quote_name(p) for p in rest)
        for index in (1, 0):
            if len(parts) > index + 1 and parts[index].lower() == 'dbo':
                parts = parts[index + 1:]
                break
        if len(parts) >= 3:
            # schema.table.column (or db.schema.table.column): tables go by their alias-free
            # SQLite name, which column references must not carry a schema in
            parts = parts[-2:]
        return '.'.join('*' if p == '*' else quote_name(p) for p in parts)

    # --- expressions --------------------------------------------------------
    def expr(self, tokens):
        """Translates any fragment: expressions, predicates, FROM clauses."""
        items = self._items(tokens)
        return ' '.join(self._fold_arithmetic(items))

    def _items(self, tokens):
        """Turns tokens into ('operand'|'op'|'other', sql) items."""
        items = []
        index = 0
        while index < len(tokens):
            token = tokens[index]
            kind = token.kind
            if kind == 'string':
                items.append(('operand', sql_string(token.value)))
                index += 1
            elif kind == 'number':
                items.append(('operand', self._number(token.text)))
                index += 1
            elif kind == 'binary':
                items.append(('operand', "X'%s'" % (token.text[2:] if len(token.text) % 2 == 0
                                                    else '0' + token.text[2:])))
                index += 1
            elif kind == 'var':
                name = token.text[1:].lower()
                self.parameters.add(name)
                variable = self.session.variables.get(name) if self.session is not None else None
                sql = '@' + name
                if variable is not None and variable.sqltype.is_wide_decimal:
                    sql = wide_decimal(sql)
                elif variable is not None and variable.sqltype.name == 'datetimeoffset':
                    sql += ' COLLATE rz_datetimeoffset'
                if variable is not None:
                    self.types[sql] = variable.sqltype
                items.append(('operand', sql))
                index += 1
            elif kind == 'sysvar':
                items.append(('operand', self.session.system_variable(token.text.upper())))
                index += 1
            elif kind == 'punct' and token.text == '(':
                end = find_matching(tokens, index)
                inner = tokens[index + 1:end]
                if inner and inner[0].is_word('SELECT', 'WITH'):
                    items.append(('operand', '(' + self.select(inner)[0] + ')'))
                else:
                    inner_sql = self.expr(inner)
                    self._same_type('(' + inner_sql + ')', inner_sql)
                    items.append(('operand', '(' + inner_sql + ')'))
                index = end + 1
            elif kind in ('word', 'name'):
                index = self._word(tokens, index, items)
            elif kind == 'op':
                text = {'!=': '<>', '!<': '>=', '!>': '<='}.get(token.text, token.text)
                items.append(('op' if text in ARITHMETIC else 'other', text))
                index += 1
            else:
                items.append(('other', token.text))
                index += 1
        return items

    def _word(self, tokens, index, items):
        token = tokens[index]
        upper = token.upper
        after = tokens[index + 1] if index + 1 < len(tokens) else None
        if token.kind == 'word' and after is not None and after.text == '(' and upper in ('SUM', 'AVG'):
            end = find_matching(tokens, index + 1)
            windowed = end + 1 < len(tokens) and tokens[end + 1].is_word('OVER')
            items.append(('operand', self._decimal_aggregate(upper, tokens[index + 2:end], windowed)
                          or self.function(upper, tokens[index + 2:end])))
            return end + 1
        if token.kind == 'word' and after is not None and after.text == '(' and upper not in (
                'IN', 'EXISTS', 'AS', 'AND', 'OR', 'NOT', 'VALUES', 'ON', 'OVER', 'KEY', 'CHECK', 'UNIQUE',
                'INTO', 'FROM', 'JOIN', 'WHERE', 'WITH', 'IS', 'THEN', 'ELSE', 'WHEN', 'BY', 'TABLE',
                'USING', 'RETURN', 'SELECT', 'LIKE', 'BETWEEN', 'ALL', 'ANY', 'SOME', 'CASE', 'END'):
            end = find_matching(tokens, index + 1)
            items.append(('operand', self.function(upper, tokens[index + 2:end])))
            return end + 1
        if token.kind == 'word' and upper in NILADIC:
            items.append(('operand', FUNCTIONS.get(upper, 'rz_user_name') + '()'))
            return index + 1
        if token.kind == 'word' and upper == 'WITH' and after is not None and after.text == '(':
            end = find_matching(tokens, index + 1)
            hints = [t.upper for t in tokens[index + 2:end] if t.kind == 'word']
            if hints and all(h in ('NOLOCK', 'ROWLOCK', 'UPDLOCK', 'HOLDLOCK', 'READPAST', 'TABLOCK',
                                   'TABLOCKX', 'PAGLOCK', 'XLOCK', 'READCOMMITTED', 'SERIALIZABLE',
                                   'REPEATABLEREAD', 'READUNCOMMITTED', 'NOWAIT', 'INDEX')
                             for h in hints):
                return end + 1
        if token.kind == 'word' and upper == 'COLLATE' and after is not None:
            return index + 2
        if token.kind == 'word' and upper in ('NULL', 'CASE', 'END'):
            items.append(('operand' if upper in ('NULL', 'END') else 'other', upper))
            return index + 1
        if token.kind == 'word' and upper in _KEYWORDS:
            items.append(('other', upper))
            return index + 1
        parts, next_index = self.read_name(tokens, index)
        if len(parts) >= 2 or (items and items[-1][1] in ('FROM', 'JOIN', 'INTO', 'UPDATE', 'TABLE')):
            if items and items[-1][1] in ('FROM', 'JOIN', 'INTO', 'UPDATE') and '*' not in parts:
                target = self.object_name(parts)
                self.referenced[target.lower()] = '.'.join(parts)
                items.append(('operand', quote_name(target)))
                if target != parts[-1] and items[-2][1] in ('FROM', 'JOIN') \
                        and not self._alias_follows(tokens, next_index):
                    # a table of another schema answers to its own name, as in T-SQL
                    items.append(('other', 'AS ' + quote_name(parts[-1])))
            else:
                sql = self.render_name(parts)
                self.column_names[sql] = parts
                items.append(('operand', sql))
        else:
            if not parts:
                raise syntax_near(token.text)
            self.column_names[quote_name(parts[0])] = parts
            items.append(('operand', quote_name(parts[0])))
        return next_index

    def _number(self, text):
        """A number literal, and its type: int, numeric(p, s) or float."""
        lower = text.lower()
        if 'e' in lower:
            self.types[text] = SqlType('float')
            return text
        whole, _dot, fraction = text.partition('.')
        digits = (whole + fraction).lstrip('0')
        sql = text
        if len(digits) > 15:
            # beyond a double's precision: exact as text, converted where it is stored
            sql = wide_decimal("'%s'" % text)
            self.wide_literals[sql] = text
        if _dot:
            self.types[sql] = SqlType('numeric', precision=max(len(digits), len(fraction), 1),
                                      scale=len(fraction))
        elif int(text) < 2 ** 31:
            self.types[sql] = SqlType('int')
            self.literal_digits[sql] = max(len(digits), 1)
        else:
            self.types[sql] = SqlType('numeric', precision=min(len(digits), 38), scale=0)
        return sql

    # --- types of operands -----------------------------------------------------
    def scope_for(self, tokens):
        """Tables whose columns name operands: those of the statement `tokens`."""
        self._scope_tokens = tokens
        self._scope = None

    def type_of(self, sql):
        """The SqlType of a translated operand, where the translation knows it."""
        known = self.types.get(sql)
        if known is not None or sql not in self.column_names or self.session is None:
            return known
        tokens = self._scope_tokens if self._scope_tokens is not None else getattr(self, '_query_tokens', None)
        if not tokens:
            return None
        if self._scope is None or self._scope[0] is not tokens:
            scope = Scope(self.session, self)
            scope.add(tokens)
            self._scope = (tokens, scope)
        column = self._scope[1].column(self.column_names[sql])
        return column.sqltype if column is not None else None

    def _same_type(self, sql, source):
        known = self.type_of(source)
        if known is not None:
            self.types[sql] = known

    def _exact_digits(self, sql, sqltype):
        if sqltype.name in ('decimal', 'numeric'):
            return sqltype.precision, sqltype.scale
        if sql in self.literal_digits:
            return self.literal_digits[sql], 0
        return EXACT_PRECISIONS.get(sqltype.name)

    def _result_type(self, operator, left, right):
        """The type of left operator right as SQL Server derives it, or None."""
        left_type, right_type = self.type_of(left), self.type_of(right)
        if left_type is None or right_type is None:
            return None
        names = {left_type.name, right_type.name}
        if names & {'float', 'real'} and names <= {'float', 'real'} | set(EXACT_PRECISIONS) | {'decimal', 'numeric'}:
            return SqlType('float')
        if names & {'decimal', 'numeric'}:
            left_digits, right_digits = self._exact_digits(left, left_type), self._exact_digits(right, right_type)
            if left_digits is None or right_digits is None:
                return None
            return decimal_result(operator, left_digits, right_digits)
        ranking = ['bit', 'tinyint', 'smallint', 'int', 'bigint']
        if names <= set(ranking):
            return max((left_type, right_type), key=lambda t: ranking.index(t.name))
        return None

    def _combine(self, operator, left, right):
        result_type = self._result_type(operator, left, right)
        if result_type is not None and result_type.name == 'numeric':
            sql = "rz_decimal_op('%s', %s, %s, '%s')" % (operator, left, right, result_type.sql())
            if result_type.is_wide_decimal:
                sql = wide_decimal(sql)
        elif operator == '*':
            sql = '%s * %s' % (left, right)
        elif operator == '/':
            sql = 'rz_div(%s, %s)' % (left, right)
        elif operator == '%':
            sql = 'rz_mod(%s, %s)' % (left, right)
        elif operator == '+':
            sql = 'rz_add(%s, %s)' % (left, right)
        else:
            sql = '(%s - %s)' % (left, right)
        if result_type is not None:
            self.types[sql] = result_type
        return sql

    @staticmethod
    def _alias_follows(tokens, index):
        if index >= len(tokens):
            return False
        token = tokens[index]
        return token.kind == 'name' or (token.kind == 'word' and (token.upper == 'AS' or
                                                                   token.upper not in _KEYWORDS))

    def _fold_arithmetic(self, items):
        """Rewrites arithmetic so that '+' and '/' behave as in T-SQL."""
        out = []
        index = 0
        while index < len(items):
            if items[index][0] != 'operand' and not (
                    items[index] == ('op', '-') and self._sign_position(out)):
                out.append(items[index][1])
                index += 1
                continue
            operands, operators = [], []
            index = self._operand(items, index, operands)
            while (index + 1 < len(items) and items[index][0] == 'op'
                   and (items[index + 1][0] == 'operand' or items[index + 1] in (('op', '-'), ('op', '+')))):
                operators.append(items[index][1])
                index = self._operand(items, index + 1, operands)
            out.append(self._build(operands, operators))
        return out

    @staticmethod
    def _sign_position(out):
        return not out or out[-1] in ('(', ',', '=', '<', '>', '<=', '>=', '<>') or \
            out[-1].upper() in _NOT_OPERAND_END

    def _operand(self, items, index, operands):
        sign = ''
        while items[index] in (('op', '-'), ('op', '+')):
            if items[index][1] == '-':
                sign = '' if sign else '-'
            index += 1
        sql = items[index][1]
        if sign and sql in self.wide_literals:
            # SQLite's minus would make the text a double
            negative = wide_decimal("'-%s'" % self.wide_literals[sql])
            self._same_type(negative, sql)
            operands.append(negative)
            return index + 1
        if sign:
            self._same_type(sign + sql, sql)
            if sql in self.literal_digits:
                self.literal_digits[sign + sql] = self.literal_digits[sql]
        operands.append(sign + sql if sign else sql)
        return index + 1

    def _build(self, operands, operators):
        if not operators:
            return operands[0]
        terms, term_ops = [], []
        current = operands[0]
        for operator, operand in zip(operators, operands[1:]):
            if operator in ('*', '/', '%'):
                current = self._combine(operator, current, operand)
            else:
                terms.append(current)
                term_ops.append(operator)
                current = operand
        terms.append(current)
        result = terms[0]
        for operator, term in zip(term_ops, terms[1:]):
            result = self._combine(operator, result, term)
        return result

    def _typed(self, sql, sqltype):
        if sqltype.is_wide_decimal:
            sql = wide_decimal(sql)
        elif sqltype.name == 'datetimeoffset':
            sql += ' COLLATE rz_datetimeoffset'
        self.types[sql] = sqltype
        return sql

    def _decimal_aggregate(self, name, args, windowed):
        """SUM/AVG of a decimal: exact, typed decimal(38, s) as in SQL Server; None for other types."""
        parts = split_top(args) if args else []
        if len(parts) != 1 or not parts[0]:
            return None
        body = parts[0]
        quantifier = ''
        if body[0].is_word('DISTINCT', 'ALL'):
            quantifier, body = body[0].upper + ' ', body[1:]
        inner = self.expr(body)
        argument = self.type_of(inner)
        if argument is None or argument.name not in ('decimal', 'numeric'):
            return None
        call = '%s(%s%s)' % ('rz_decimal_sum' if name == 'SUM' else 'rz_decimal_avg', quantifier, inner)
        if windowed:
            return call         # OVER (...) must follow the call itself: the exact total as it is
        result = SqlType(argument.name, precision=38,
                         scale=argument.scale if name == 'SUM' else max(argument.scale, 6))
        return self._typed("rz_store(%s, '%s')" % (call, result.sql()), result)

    def function(self, name, args):
        parts = split_top(args) if args else []
        if name in ('CAST', 'TRY_CAST'):
            position = index_of_word(args, 'AS')
            if position < 0:
                raise syntax_near(args[-1].text if args else ')')
            target = parse_type(render(args[position + 1:]))
            return self._typed("%s(%s, '%s')" % ('rz_cast' if name == 'CAST' else 'rz_try_cast',
                                                 self.expr(args[:position]), target.sql()), target)
        if name in ('CONVERT', 'TRY_CONVERT'):
            target = parse_type(render(parts[0]))
            style = ', ' + self.expr(parts[2]) if len(parts) > 2 else ''
            return self._typed("%s(%s, '%s'%s)" % ('rz_cast' if name == 'CONVERT' else 'rz_try_cast',
                                                   self.expr(parts[1]), target.sql(), style), target)
        if name == 'OBJECT_ID':
            name = self.expr(parts[0])
            kind = " AND type = " + self.expr(parts[1]) if len(parts) > 1 else ''
            return ('(SELECT object_id FROM rz_objects WHERE name = rz_object_part(%s) AND '
                    'lower(schema_name) = lower(rz_schema_part(%s))%s '
                    'UNION ALL SELECT object_id FROM rz_temp.rz_objects WHERE name = rz_temp_object(%s)%s)'
                    % (name, name, kind, name, kind))
        if name == 'COLUMNPROPERTY':
            return ("(SELECT CASE lower(%s) WHEN 'isidentity' THEN is_identity WHEN 'allowsnull' THEN "
                    "is_nullable WHEN 'precision' THEN precision WHEN 'scale' THEN scale "
                    "WHEN 'iscomputed' THEN 0 END FROM (SELECT * FROM rz_columns UNION ALL "
                    "SELECT * FROM rz_temp.rz_columns) WHERE object_id = %s AND name = %s)"
                    % (self.expr(parts[2]), self.expr(parts[0]), self.expr(parts[1])))
        if name == 'IDENT_CURRENT':
            name = self.expr(parts[0])
            return ('(SELECT coalesce(c.last_value, c.seed_value) FROM rz_columns c JOIN rz_objects o '
                    'ON o.object_id = c.object_id WHERE c.is_identity = 1 AND o.name = rz_object_part(%s) '
                    'AND lower(o.schema_name) = lower(rz_schema_part(%s)))' % (name, name))
        if name == 'SCOPE_IDENTITY':
            return self.session.system_variable('@@IDENTITY')
        if name in ('DATEPART', 'DATEADD', 'DATEDIFF', 'DATENAME'):
            unit = render(parts[0]).strip("'").lower()
            rest = ', '.join(self.expr(part) for part in parts[1:])
            return "%s('%s', %s)" % (FUNCTIONS[name], unit, rest)
        if name == 'COUNT' and len(parts) == 1 and len(parts[0]) == 1 and parts[0][0].text == '*':
            return 'count(*)'
        if name in ('COUNT', 'SUM', 'AVG', 'MIN', 'MAX', 'COUNT_BIG') and parts and parts[0] \
                and parts[0][0].is_word('DISTINCT', 'ALL'):
            return '%s(%s %s)' % (FUNCTIONS[name], parts[0][0].upper,
                                  self.expr(parts[0][1:]))
        target = FUNCTIONS.get(name)
        if target is None:
            raise SqlError(195, "'%s' is not a recognized built-in function name." % name.lower(),
                           severity=15)
        return '%s(%s)' % (target, ', '.join(self.expr(part) for part in parts if part))

    # --- queries ------------------------------------------------------------
    def select(self, tokens):
        """Translates a SELECT; returns (sql, hints, names, assignments).

        hints[i] is the SqlType of select item i when the expression fixes it,
        names[i] the column name SQL Server gives it ('' for none), and
        assignments the variables of SELECT @v = ... items."""
        if tokens[0].is_word('WITH'):
            return self._with(tokens)
        union = self._union_position(tokens)
        if union >= 0:
            first = self.select(tokens[:union])
            if self.into is not None:
                self.into_union = True
            end = union + 1
            if end < len(tokens) and tokens[end].is_word('ALL'):
                end += 1
            order = index_of_word(tokens, 'ORDER', start=end)
            rest_tokens = tokens[end:order] if order >= 0 else tokens[end:]
            rest = self.select(rest_tokens)
            sql = '%s %s %s' % (first[0], render(tokens[union:end]).upper(), rest[0])
            if order >= 0:
                sql += ' ' + self.expr(tokens[order:])
            return sql, first[1], first[2], first[3]
        index = 1
        head = ['SELECT']
        limit = None
        if index < len(tokens) and tokens[index].is_word('DISTINCT', 'ALL'):
            head.append(tokens[index].upper)
            index += 1
        if index < len(tokens) and tokens[index].is_word('TOP'):
            index += 1
            if tokens[index].text == '(':
                end = find_matching(tokens, index)
                limit = self.expr(tokens[index + 1:end])
                index = end + 1
            else:
                limit = self.expr([tokens[index]])
                index += 1
            if index < len(tokens) and tokens[index].is_word('PERCENT'):
                raise not_supported('TOP ... PERCENT')
            if index + 1 < len(tokens) and tokens[index].is_word('WITH') and tokens[index + 1].is_word('TIES'):
                index += 2
        clause = index_of_word(tokens, *CLAUSE_WORDS, start=index)
        item_tokens = tokens[index:clause] if clause >= 0 else tokens[index:]
        if not item_tokens:
            raise syntax_near(tokens[index - 1].text if index <= len(tokens) else 'SELECT')
        items, hints, names, assignments = [], [], [], []
        self._query_tokens = tokens
        for position, item in enumerate(split_top(item_tokens)):
            sql, hint, name, variable = self._select_item(item, position)
            items.append(sql)
            hints.append(hint)
            names.append(name)
            assignments.append(variable)
        sql = ' '.join(head) + ' ' + ', '.join(items)
        if clause >= 0:
            sql += ' ' + self._tail(tokens[clause:])
        if limit is not None:
            sql += ' LIMIT ' + limit
        return sql, hints, names, assignments if any(assignments) else None

    def _with(self, tokens):
        # WITH name [(cols)] AS (query) [, ...] SELECT ...
        index = 1
        pieces = []
        while True:
            name = tokens[index].value
            index += 1
            columns = ''
            if tokens[index].text == '(':
                end = find_matching(tokens, index)
                columns = '(' + ', '.join(quote_name(t.value) for t in tokens[index + 1:end]
                                          if t.kind in ('word', 'name')) + ')'
                index = end + 1
            if not tokens[index].is_word('AS'):
                raise syntax_near(tokens[index].text)
            end = find_matching(tokens, index + 1)
            pieces.append('%s%s AS (%s)' % (quote_name(name), columns,
                                            self.select(tokens[index + 2:end])[0]))
            index = end + 1
            if tokens[index].text == ',':
                index += 1
                continue
            break
        body = self.select(tokens[index:])
        return ('WITH ' + ', '.join(pieces) + ' ' + body[0],) + body[1:]

    @staticmethod
    def _union_position(tokens):
        return index_of_word(tokens, 'UNION', 'EXCEPT', 'INTERSECT')

    def _tail(self, tokens):
        """FROM ... ORDER BY ...; turns OFFSET/FETCH into LIMIT/OFFSET."""
        offset = index_of_word(tokens, 'OFFSET')
        if offset >= 0:
            fetch = index_of_word(tokens, 'FETCH', start=offset)
            skip = self.expr([t for t in tokens[offset + 1:fetch if fetch >= 0 else len(tokens)]
                              if not t.is_word('ROW', 'ROWS')])
            take = '-1'
            if fetch >= 0:
                take = self.expr([t for t in tokens[fetch + 1:]
                                  if not t.is_word('NEXT', 'FIRST', 'ROW', 'ROWS', 'ONLY')])
            return self.expr(tokens[:offset]) + ' LIMIT %s OFFSET %s' % (take, skip)
        option = index_of_word(tokens, 'OPTION')
        if option >= 0:
            tokens = tokens[:option]
        if index_of_word(tokens, 'INTO') == 0:
            parts, end = self.read_name(tokens, 1)
            if not parts or self.into is not None:
                raise syntax_near('INTO')
            self.into = parts
            tokens = tokens[end:]
            if not tokens:
                return ''
        if index_of_word(tokens, 'FOR') >= 0:
            raise not_supported('FOR XML/JSON/BROWSE')
        return self.expr(tokens)

    def _select_item(self, item, position):
        """(sql, type hint, column name, variable assigned)."""
        variable = None
        if len(item) >= 3 and item[0].kind == 'var' and item[1].text == '=':
            variable = item[0].text.lower()
            item = item[2:]
        elif len(item) >= 3 and item[0].kind in ('word', 'name', 'string') and item[1].text == '=' \
                and item[0].upper not in _KEYWORDS:
            alias = item[0].value
            body = item[2:]
            if len(body) > 3 and body[0].is_word('IDENTITY') and body[1].text == '(' and \
                    find_matching(body, 1) == len(body) - 1:
                return self._identity_item(body, position, alias)
            if len(body) == 1 and body[0].kind in ('number', 'string', 'binary'):
                self.constant_items.add(position)
            sql = self.expr(body)
            return (sql + ' AS ' + quote_name(alias),
                    self._hint(body) or self._aggregate_type(body) or self._decimal_type(sql), alias, None)
        alias = None
        if len(item) >= 2 and item[-2].is_word('AS') and item[-1].kind in ('word', 'name', 'string'):
            alias = item[-1].value
            item = item[:-2]
        elif len(item) >= 2 and item[-1].kind in ('name', 'string') and item[-2].kind != 'op' \
                and item[-2].text != '.' or (
                len(item) >= 2 and item[-1].kind == 'word' and item[-1].upper not in _KEYWORDS
                and item[-2].kind not in ('op',) and item[-2].text != '.' and not item[-2].is_word('CASE')):
            alias = item[-1].value
            item = item[:-1]
        if len(item) > 3 and item[0].is_word('IDENTITY') and item[1].text == '(' and \
                find_matching(item, 1) == len(item) - 1:
            return self._identity_item(item, position, alias)
        if len(item) == 1 and item[0].kind in ('number', 'string', 'binary'):
            self.constant_items.add(position)
        sql = self.expr(item)
        hint = self._hint(item) or self._aggregate_type(item) or self._decimal_type(sql)
        if alias is not None:
            return sql + ' AS ' + quote_name(alias), hint, alias, variable
        if self._is_column(item):
            return sql, hint, None, variable
        return sql + ' AS ' + quote_name('rz_noname_%d' % position), hint, '', variable

    def _identity_item(self, item, position, alias):
        """IDENTITY(type [, seed, increment]) of SELECT ... INTO: numbered when the rows are stored."""
        arguments = split_top(item[2:-1])
        sqltype = parse_type(render(arguments[0]))
        seed, increment = 1, 1
        if len(arguments) == 3:
            seed, increment = (int(self.session.evaluate(part, {})) for part in arguments[1:])
        elif len(arguments) != 1:
            raise syntax_near(')')
        if alias is None:
            raise SqlError(1038, 'An object or column name is missing or empty. For SELECT INTO statements, '
                                 'verify each column has a name. For other statements, look for empty alias '
                                 'names. Aliases defined as "" or [] are not allowed. Change the alias to a '
                                 'valid name.', severity=15)
        self.identity_items[position] = (sqltype, seed, increment)
        return 'NULL AS ' + quote_name(alias), sqltype, alias, None

    def _decimal_type(self, sql):
        """The type of a decimal or datetimeoffset expression: arithmetic,
        variables, literals (other types come from the values themselves)."""
        known = self.types.get(sql)
        return known if known is not None and known.name in ('decimal', 'numeric', 'datetimeoffset') else None

    def _aggregate_type(self, item):
        """SUM/AVG/MIN/MAX of a table column: the type SQL Server gives the result."""
        if len(item) < 4 or item[0].kind != 'word' or item[0].upper not in ('SUM', 'AVG', 'MIN', 'MAX') \
                or item[1].text != '(' or item[-1].text != ')' or find_matching(item, 1) != len(item) - 1:
            return None
        inner = [t for t in item[2:-1] if not t.is_word('DISTINCT', 'ALL')]
        parts, end = self.read_name(inner, 0)
        if not parts or end != len(inner) or '*' in parts:
            return None
        scope = Scope(self.session, self)
        scope.add(getattr(self, '_query_tokens', []))
        column = scope.column(parts)
        if column is None:
            return None
        sqltype = column.sqltype
        function = item[0].upper
        if function in ('MIN', 'MAX'):
            return sqltype
        if sqltype.name in ('tinyint', 'smallint', 'int', 'bit'):
            return SqlType('int')
        if sqltype.name in ('bigint', 'money', 'float'):
            return sqltype
        if sqltype.name in ('smallmoney', 'real'):
            return SqlType('money' if sqltype.name == 'smallmoney' else 'float')
        if sqltype.name in ('decimal', 'numeric'):
            scale = sqltype.scale if function == 'SUM' else max(sqltype.scale, 6)
            return SqlType(sqltype.name, precision=38, scale=scale)
        return None

    @staticmethod
    def _is_column(item):
        if item[-1].text == '*':
            return True
        return all(t.kind in ('word', 'name') or t.text == '.' for t in item) and \
            not (len(item) == 1 and item[0].kind == 'word' and item[0].upper in NILADIC | {'NULL'})

    @staticmethod
    def _hint(item):
        if len(item) == 1 and item[0].kind == 'sysvar':
            return SYSVAR_TYPES.get(item[0].text.upper())
        if item and item[0].kind == 'word':
            name = item[0].upper
            if len(item) > 1 and item[1].text == '(' and find_matching(item, 1) == len(item) - 1:
                if name in ('CAST', 'TRY_CAST'):
                    position = index_of_word(item[2:-1], 'AS')
                    return parse_type(render(item[2 + position + 1:-1]))
                if name in ('CONVERT', 'TRY_CONVERT'):
                    return parse_type(render(split_top(item[2:-1])[0]))
                return RESULT_TYPES.get(name)
            if len(item) == 1 and name in NILADIC:
                return RESULT_TYPES.get(name, SqlType('nvarchar', 128))
        if len(item) == 1 and item[0].kind == 'string':
            value = item[0].value
            length = max(1, len(value))
            if item[0].national:
                return SqlType('nvarchar', length if length <= 4000 else -1)
            return SqlType('varchar', length if length <= 8000 else -1)
        if len(item) == 1 and item[0].kind == 'number' and ('.' in item[0].text) and 'e' not in item[0].text.lower():
            digits = item[0].text.lstrip('0').replace('.', '')
            scale = len(item[0].text.split('.')[1])
            precision = max(len(digits), scale, 1)
            return SqlType('numeric', precision=precision, scale=scale)
        return None


_KEYWORDS = {
    'SELECT', 'FROM', 'WHERE', 'AND', 'OR', 'NOT', 'IN', 'IS', 'NULL', 'LIKE', 'BETWEEN', 'EXISTS',
    'AS', 'ON', 'JOIN', 'INNER', 'LEFT', 'RIGHT', 'OUTER', 'FULL', 'CROSS', 'GROUP', 'BY', 'ORDER',
    'HAVING', 'ASC', 'DESC', 'DISTINCT', 'ALL', 'UNION', 'EXCEPT', 'INTERSECT', 'CASE', 'WHEN', 'THEN',
    'ELSE', 'END', 'INTO', 'VALUES', 'SET', 'UPDATE', 'DELETE', 'INSERT', 'TOP', 'ANY', 'SOME',
    'ESCAPE', 'OVER', 'PARTITION', 'DEFAULT', 'WITH', 'TABLE', 'LIMIT', 'OFFSET', 'ROWS', 'ROW',
    'FETCH', 'NEXT', 'ONLY', 'FIRST', 'USING', 'NULLS', 'LAST', 'APPLY', 'PRIMARY', 'KEY', 'UNIQUE',
    'CHECK', 'REFERENCES', 'FOREIGN', 'CONSTRAINT', 'IDENTITY', 'COLLATE', 'FOR', 'OPTION',
}
