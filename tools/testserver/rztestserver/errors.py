"""SQL Server errors raised while executing a request."""


class SqlError(Exception):
    """An error as SQL Server reports it: number, state, class and text."""

    def __init__(self, number, message, state=1, severity=16, line=1, procedure=''):
        super().__init__(message)
        self.number = number
        self.message = message
        self.state = state
        self.severity = severity
        self.line = line
        self.procedure = procedure


def invalid_object(name):
    return SqlError(208, "Invalid object name '%s'." % name)


def invalid_column(name):
    return SqlError(207, "Invalid column name '%s'." % name)


def syntax_near(text):
    return SqlError(102, "Incorrect syntax near '%s'." % text, state=1, severity=15)


def conversion_failed(value, source_type, target_type):
    return SqlError(245, "Conversion failed when converting the %s value '%s' to data type %s."
                    % (source_type, value, target_type))


def divide_by_zero():
    return SqlError(8134, 'Divide by zero error encountered.')


def not_supported(what):
    return SqlError(40000, 'The test server does not support %s.' % what, severity=16)
