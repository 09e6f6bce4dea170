"""A T-SQL variable: its declared type and value."""


class Variable:
    def __init__(self, sqltype, value=None):
        self.sqltype = sqltype
        self.value = value
