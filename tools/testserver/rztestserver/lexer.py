"""Splitting T-SQL text into tokens and statements."""
import re

from .errors import SqlError, syntax_near


class Token:
    __slots__ = ('kind', 'text', 'value', 'national', 'line')

    def __init__(self, kind, text, value=None, national=False, line=1):
        self.kind = kind          # word, name, string, number, binary, var, sysvar, op, punct
        self.text = text          # source text
        self.value = value        # identifier name, string contents, ...
        self.national = national
        self.line = line          # line of the batch the token starts on

    def __repr__(self):
        return '%s:%s' % (self.kind, self.text)

    def is_word(self, *words):
        return self.kind == 'word' and self.value.upper() in words

    @property
    def upper(self):
        return self.value.upper() if self.kind == 'word' else None


_PATTERNS = re.compile(r'''
    (?P<space>\s+)
  | (?P<comment>--[^\n]*|/\*.*?\*/)
  | (?P<nstring>[Nn]'(?:[^']|'')*')
  | (?P<string>'(?:[^']|'')*')
  | (?P<bracket>\[(?:[^\]]|\]\])*\])
  | (?P<quoted>"(?:[^"]|"")*")
  | (?P<binary>0[xX][0-9A-Fa-f]*)
  | (?P<number>(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)
  | (?P<sysvar>@@[A-Za-z_][A-Za-z0-9_]*)
  | (?P<var>@[A-Za-z0-9_@#$]+)
  | (?P<word>[A-Za-z_#][A-Za-z0-9_#$@]*)
  | (?P<op><>|!=|>=|<=|!<|!>|\+=|-=|\*=|/=|[-+*/%=<>&|^~!])
  | (?P<punct>[(),.;:])
''', re.VERBOSE | re.DOTALL)


def tokenize(text):
    tokens = []
    pos = 0
    line = 1
    while pos < len(text):
        match = _PATTERNS.match(text, pos)
        if not match:
            if text.startswith("'", pos) or text.startswith("N'", pos):
                raise SqlError(105, "Unclosed quotation mark after the character string '%s'."
                               % text[pos + 1:], severity=15)
            if text.startswith('/*', pos):
                raise SqlError(113, "Missing end comment mark '*/'.", severity=15)
            if text.startswith('[', pos):
                raise SqlError(105, "Unclosed quotation mark after the character string '%s'."
                               % text[pos + 1:], severity=15)
            raise syntax_near(text[pos])
        kind = match.lastgroup
        source = match.group()
        pos = match.end()
        start_line = line
        line += source.count('\n')
        if kind in ('space', 'comment'):
            continue
        if kind == 'nstring':
            tokens.append(Token('string', source, source[2:-1].replace("''", "'"), national=True))
        elif kind == 'string':
            tokens.append(Token('string', source, source[1:-1].replace("''", "'")))
        elif kind == 'bracket':
            tokens.append(Token('name', source, source[1:-1].replace(']]', ']')))
        elif kind == 'quoted':
            tokens.append(Token('name', source, source[1:-1].replace('""', '"')))
        elif kind == 'word':
            tokens.append(Token('word', source, source))
        else:
            tokens.append(Token(kind, source, source))
        tokens[-1].line = start_line
    return tokens


STATEMENT_STARTERS = {
    'SELECT', 'INSERT', 'UPDATE', 'DELETE', 'CREATE', 'DROP', 'ALTER', 'BEGIN', 'COMMIT',
    'ROLLBACK', 'SAVE', 'SET', 'DECLARE', 'USE', 'PRINT', 'EXEC', 'EXECUTE', 'IF', 'TRUNCATE',
    'WITH', 'RAISERROR', 'THROW', 'MERGE', 'WHILE', 'RETURN', 'GRANT', 'DENY', 'REVOKE', 'BREAK',
    'CONTINUE', 'WAITFOR',
}


def split_statements(tokens):
    """Splits a batch into statements at ';' and where a new statement starts."""
    statements = []
    current = []
    depth = 0
    for index, token in enumerate(tokens):
        if token.kind == 'punct' and token.text == ';' and depth == 0:
            if current:
                statements.append(current)
            current = []
            continue
        if token.kind == 'punct' and token.text == '(':
            depth += 1
        elif token.kind == 'punct' and token.text == ')':
            depth -= 1
        if depth == 0 and current and token.kind == 'word' and starts_statement(current, tokens, index):
            statements.append(current)
            current = []
        current.append(token)
    if current:
        statements.append(current)
    return statements


_ALTER_ACTIONS = ('ADD', 'DROP', 'ALTER', 'SET', 'WITH', 'CHECK', 'NOCHECK', 'SWITCH', 'REBUILD',
                  'ENABLE', 'DISABLE')


def starts_statement(current, tokens, index):
    """Whether tokens[index] begins a new statement after `current`."""
    word = tokens[index].upper
    if word not in STATEMENT_STARTERS:
        return False
    first = current[0].upper
    if first == 'ALTER' and word in ('DROP', 'ALTER') and not any(
            t.is_word(*_ALTER_ACTIONS) for t in current[2:]):
        return False      # ALTER TABLE t DROP COLUMN c, ALTER TABLE t ALTER COLUMN c ...
    previous = tokens[index - 1]
    prev_word = previous.upper if previous.kind == 'word' else None
    if first == 'WITH' and previous.text == ')':
        return False      # the statement that uses the common table expressions
    if first == 'IF' or first == 'WHILE':
        return not current[-1].is_word('ELSE') and _if_complete(current)
    if word == 'SELECT':
        if prev_word in ('UNION', 'ALL', 'EXCEPT', 'INTERSECT', 'AS', 'DISTINCT'):
            return False
        if first == 'INSERT' and not any(t.is_word('VALUES', 'SELECT') for t in current):
            return False
        if first in ('CREATE', 'ALTER') and any(t.is_word('VIEW') for t in current[:3]) and not any(
                t.is_word('SELECT') for t in current):
            return False
        if first == 'WITH' and not any(t.is_word('SELECT') for t in current):
            return False
        if first == 'DECLARE' and current[-1].is_word('CURSOR', 'FOR'):
            return False
        return True
    if word == 'SET':
        return first != 'UPDATE' or any(t.is_word('SET') for t in current)
    if word in ('DELETE', 'UPDATE'):
        return prev_word not in ('ON', 'FOR', 'INSTEAD', 'OF') and previous.text != ','
    if word in ('BEGIN', 'COMMIT', 'ROLLBACK', 'SAVE'):
        return True
    if word in ('INSERT',):
        return prev_word not in ('FOR', 'INSTEAD', 'OF') and previous.text != ','
    if word == 'WITH':
        return False
    if word == 'EXEC' or word == 'EXECUTE':
        return first != 'INSERT'
    if word == 'IF':
        # DROP TABLE IF EXISTS ...: part of the statement, not a new one.
        return prev_word not in ('TABLE', 'VIEW', 'INDEX', 'PROCEDURE', 'PROC', 'FUNCTION', 'TRIGGER',
                                 'SCHEMA', 'TYPE', 'SEQUENCE', 'DATABASE')
    return True


def _if_complete(current):
    """An IF takes its condition and exactly one statement."""
    depth = 0
    for position, token in enumerate(current[1:], 1):
        if token.text == '(':
            depth += 1
        elif token.text == ')':
            depth -= 1
        elif depth == 0 and token.kind == 'word' and token.upper in STATEMENT_STARTERS - {'SELECT'} \
                and position > 1:
            return len(current) > position + 1
    return False


def render(tokens):
    """Joins tokens back into SQL text."""
    out = []
    previous = None
    for token in tokens:
        if previous is not None and not (token.text in (')', ',', '.') or previous.text in ('(', '.')):
            out.append(' ')
        out.append(token.text)
        previous = token
    return ''.join(out)
