"""Control of flow: a batch parsed into statements, BEGIN ... END blocks,
IF ... ELSE and WHILE before anything in it runs."""
from .errors import SqlError, syntax_near, not_supported
from .lexer import STATEMENT_STARTERS, starts_statement

# words that end an IF or WHILE condition: the statement it controls begins
_BODY_STARTERS = STATEMENT_STARTERS - {'WITH'}


class Block:
    def __init__(self, statements):
        self.statements = statements


class If:
    def __init__(self, condition, then, otherwise):
        self.condition = condition      # tokens
        self.then = then                # one node
        self.otherwise = otherwise      # one node or None


class While:
    def __init__(self, condition, body):
        self.condition = condition
        self.body = body


class Routine:
    """CREATE/ALTER PROCEDURE: the rest of the batch is its definition."""

    def __init__(self, tokens):
        self.tokens = tokens


def parse(tokens):
    """The statements of a batch (token lists, Block, If, While, Routine)."""
    parser = _Parser(tokens)
    statements = []
    while parser.skip_semicolons():
        statements.append(parser.statement(top=not statements))
    return statements


def _is_routine(tokens, index):
    words = [t.upper for t in tokens[index:index + 4] if t.kind == 'word']
    if not words or words[0] not in ('CREATE', 'ALTER'):
        return False
    if words[:3] == ['CREATE', 'OR', 'ALTER']:
        words = ['CREATE'] + words[3:]
    return len(words) > 1 and words[1] in ('PROCEDURE', 'PROC')


class _Parser:
    def __init__(self, tokens):
        self.tokens = tokens
        self.pos = 0

    def peek(self, offset=0):
        index = self.pos + offset
        return self.tokens[index] if index < len(self.tokens) else None

    def skip_semicolons(self):
        while self.pos < len(self.tokens) and self.tokens[self.pos].text == ';' and \
                self.tokens[self.pos].kind == 'punct':
            self.pos += 1
        return self.pos < len(self.tokens)

    def statement(self, top=False):
        token = self.peek()
        if token is None:
            raise syntax_near(self.tokens[-1].text if self.tokens else '')
        if token.is_word('BEGIN'):
            following = self.peek(1)
            if following is not None and following.is_word('TRY', 'CATCH'):
                raise not_supported('BEGIN TRY ... END CATCH')
            if following is None or not following.is_word('TRAN', 'TRANSACTION', 'DISTRIBUTED'):
                return self.block()
        if token.is_word('IF'):
            self.pos += 1
            condition = self.condition()
            then = self.statement()
            otherwise = None
            mark = self.pos
            self.skip_semicolons()
            if self.peek() is not None and self.peek().is_word('ELSE'):
                self.pos += 1
                otherwise = self.statement()
            else:
                self.pos = mark
            return If(condition, then, otherwise)
        if token.is_word('WHILE'):
            self.pos += 1
            condition = self.condition()
            return While(condition, self.statement())
        if token.is_word('END', 'ELSE'):
            raise syntax_near(token.text)
        if _is_routine(self.tokens, self.pos):
            if not top:
                raise SqlError(111, "'%s PROCEDURE' must be the first statement in a query batch."
                               % token.upper, severity=15)
            routine = Routine(self.tokens[self.pos:])
            self.pos = len(self.tokens)
            return routine
        return self.simple()

    def block(self):
        begin = self.peek()
        self.pos += 1
        statements = []
        while True:
            if not self.skip_semicolons():
                raise syntax_near(self.tokens[-1].text)
            if self.peek().is_word('END'):
                self.pos += 1
                break
            statements.append(self.statement())
        if not statements:
            raise syntax_near('END' if begin is not None else '')
        return Block(statements)

    def condition(self):
        start = self.pos
        depth = 0
        while self.pos < len(self.tokens):
            token = self.tokens[self.pos]
            if token.kind == 'punct' and token.text == '(':
                depth += 1
            elif token.kind == 'punct' and token.text == ')':
                depth -= 1
            elif depth == 0 and self.pos > start and token.kind == 'word' and token.upper in _BODY_STARTERS:
                break
            self.pos += 1
        if self.pos >= len(self.tokens) or self.pos == start:
            raise syntax_near(self.tokens[-1].text)
        return self.tokens[start:self.pos]

    def simple(self):
        """One statement: up to ';', END or ELSE of an enclosing construct,
        or the word that starts the next statement."""
        start = self.pos
        depth = cases = 0
        self.pos += 1
        while self.pos < len(self.tokens):
            token = self.tokens[self.pos]
            if token.kind == 'punct':
                if token.text == '(':
                    depth += 1
                elif token.text == ')':
                    depth -= 1
                elif token.text == ';' and depth == 0:
                    break
            elif token.kind == 'word' and depth == 0:
                word = token.upper
                if word == 'CASE':
                    cases += 1
                elif word == 'END':
                    if not cases:
                        break
                    cases -= 1
                elif word == 'ELSE' and not cases:
                    break
                elif starts_statement(self.tokens[start:self.pos], self.tokens, self.pos):
                    break
            elif token.kind == 'word' and token.upper == 'CASE':
                cases += 1
            elif token.kind == 'word' and token.upper == 'END' and cases:
                cases -= 1
            self.pos += 1
        return self.tokens[start:self.pos]


class Break(Exception):
    pass


class Continue(Exception):
    pass


class Return(Exception):
    def __init__(self, status):
        super().__init__(status)
        self.status = status


# errors after which SQL Server runs nothing more of the batch
ABORTING = (102, 156, 105, 113, 137, 2812, 911, 111, 134)


class Aborted(Exception):
    """The batch ends: its error has been reported."""


def run(session, nodes, out, parameters):
    for node in nodes:
        run_node(session, node, out, parameters)


def run_node(session, node, out, parameters):
    if isinstance(node, list):
        _guarded(session, node, out, lambda: session.execute_statement(node, out, parameters))
    elif isinstance(node, Block):
        run(session, node.statements, out, parameters)
    elif isinstance(node, If):
        if _guarded(session, node.condition, out, lambda: session.condition(node.condition, parameters)):
            run_node(session, node.then, out, parameters)
        elif node.otherwise is not None:
            run_node(session, node.otherwise, out, parameters)
    elif isinstance(node, While):
        while _guarded(session, node.condition, out, lambda: session.condition(node.condition, parameters)):
            try:
                run_node(session, node.body, out, parameters)
            except Break:
                break
            except Continue:
                continue
    elif isinstance(node, Routine):
        _guarded(session, node.tokens, out, lambda: session.define_procedure(node.tokens, out))


def _guarded(session, statement, out, action):
    """Runs one statement; its error goes to the client and ends the batch
    only where SQL Server ends it. Returns the action's result, or None."""
    from .errors import internal_error
    from .lexer import render
    from .packets import AttentionReceived, ConnectionClosed
    from . import functions
    try:
        try:
            functions.clear_pending_error()
            result = action()
        except (SqlError, AttentionReceived, ConnectionClosed, OSError, Break, Continue, Return, Aborted):
            raise
        except IndexError:
            # the parsers ran off the end: the statement stops too early
            raise syntax_near(statement[-1].text)
        except Exception as failure:     # a gap in the translation must not end the session
            raise internal_error(failure, render(statement))
        session.last_error = 0
        return result
    except SqlError as error:
        session.last_error = error.number
        if error.line == 1:
            error.line = statement[0].line
        if not error.procedure and session.procedure_stack:
            error.procedure = session.procedure_stack[-1]
        out.error(error)
        out.done(error=True)
        if error.number in ABORTING or error.severity >= 20:
            raise Aborted()
        return None
