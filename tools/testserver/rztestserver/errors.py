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


def internal_error(failure, statement):
    """An unexpected failure of the server, reported instead of dropping the client."""
    import sys
    import traceback
    traceback.print_exception(type(failure), failure, failure.__traceback__, file=sys.stderr)
    return SqlError(50000, 'The test server failed on this statement (%s: %s): %s'
                    % (type(failure).__name__, failure, statement[:200]))


def not_supported(what):
    # Azure SQL's message for features it lacks: the closest SQL Server has
    return SqlError(40517, "Keyword or statement option '%s' is not supported in this version of SQL Server."
                    % what, severity=16)
