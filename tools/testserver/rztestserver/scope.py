"""The tables a statement names, by alias and by name, and the columns
its names refer to."""
from . import catalogue

NAME_KINDS = ('word', 'name')


def is_name(token):
    return token.kind in NAME_KINDS and not (token.kind == 'word' and token.upper in _NOT_NAMES)


_NOT_NAMES = {'SELECT', 'FROM', 'WHERE', 'AND', 'OR', 'NOT', 'IN', 'IS', 'NULL', 'LIKE', 'BETWEEN',
              'ON', 'JOIN', 'INNER', 'LEFT', 'RIGHT', 'OUTER', 'FULL', 'CROSS', 'GROUP', 'ORDER', 'BY',
              'HAVING', 'SET', 'VALUES', 'INTO', 'UPDATE', 'DELETE', 'INSERT', 'TOP', 'AS', 'WHEN', 'THEN',
              'ELSE', 'END', 'CASE', 'UNION', 'ALL', 'DISTINCT', 'EXISTS', 'ASC', 'DESC', 'WITH'}


class Scope:
    """Tables named in a statement, by alias and by name."""

    def __init__(self, session, translator):
        self.session = session
        self.translator = translator
        self.tables = {}       # alias or name (lower) -> TableInfo
        self.ordered = []

    def add(self, tokens):
        for index, token in enumerate(tokens):
            if not token.is_word('FROM', 'JOIN', 'UPDATE', 'INTO'):
                continue
            position = index + 1
            while position < len(tokens):
                parts, after = self.translator.read_name(tokens, position)
                if not parts:
                    break
                info = catalogue.lookup(self.session.conn, self.translator.object_name(parts))
                alias = None
                if after < len(tokens) and tokens[after].is_word('AS'):
                    after += 1
                if after < len(tokens) and is_name(tokens[after]):
                    alias = tokens[after].value
                    after += 1
                if info is not None:
                    self.tables[parts[-1].lower()] = info
                    if alias:
                        self.tables[alias.lower()] = info
                    self.ordered.append(info)
                if token.upper == 'FROM' and after < len(tokens) and tokens[after].text == ',':
                    position = after + 1
                    continue
                break

    def column(self, parts):
        if len(parts) >= 2:
            info = self.tables.get(parts[-2].lower())
            return info.column(parts[-1]) if info else None
        for info in self.ordered:
            column = info.column(parts[-1])
            if column is not None:
                return column
        return None
