"""A minimal unixODBC client on ctypes, so that the tests drive FreeTDS's
ODBC driver exactly as the provider does (prepared statements, transactions
by the transaction manager, cancellation, scrollable cursors)."""
import ctypes

SQL_HANDLE_ENV, SQL_HANDLE_DBC, SQL_HANDLE_STMT = 1, 2, 3
SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA, SQL_ERROR = 0, 1, 100, -1
SQL_NULL_DATA = -1
SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3 = 200, 3
SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF, SQL_AUTOCOMMIT_ON = 102, 0, 1
SQL_ATTR_LOGIN_TIMEOUT = 103
SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC = 6, 3
SQL_ATTR_QUERY_TIMEOUT = 0
SQL_ATTR_PARAMSET_SIZE = 22
SQL_COMMIT, SQL_ROLLBACK = 0, 1
SQL_DRIVER_NOPROMPT = 0
SQL_C_CHAR, SQL_C_WCHAR, SQL_C_SLONG, SQL_C_BINARY, SQL_C_DOUBLE = 1, -8, -16, -2, 8
SQL_INTEGER, SQL_WVARCHAR, SQL_WLONGVARCHAR, SQL_DOUBLE = 4, -9, -10, 8
SQL_PARAM_INPUT = 1
SQL_PARAM_INPUT_OUTPUT = 2
SQL_FETCH_NEXT, SQL_FETCH_FIRST, SQL_FETCH_LAST, SQL_FETCH_PRIOR, SQL_FETCH_ABSOLUTE = 1, 2, 3, 4, 5
SQL_CLOSE = 0
SQL_DESC_TYPE_NAME = 14

DRIVER = '/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so'

_lib = ctypes.CDLL('libodbc.so.2')
_lib.SQLAllocHandle.argtypes = [ctypes.c_short, ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p)]
_lib.SQLSetEnvAttr.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
_lib.SQLSetConnectAttr.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
_lib.SQLSetStmtAttr.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
_lib.SQLDriverConnect.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_short,
                                  ctypes.c_char_p, ctypes.c_short, ctypes.POINTER(ctypes.c_short),
                                  ctypes.c_ushort]
_lib.SQLExecDirect.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
_lib.SQLPrepare.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
_lib.SQLExecute.argtypes = [ctypes.c_void_p]
_lib.SQLFetch.argtypes = [ctypes.c_void_p]
_lib.SQLFetchScroll.argtypes = [ctypes.c_void_p, ctypes.c_short, ctypes.c_long]
_lib.SQLGetData.argtypes = [ctypes.c_void_p, ctypes.c_ushort, ctypes.c_short, ctypes.c_void_p,
                            ctypes.c_long, ctypes.POINTER(ctypes.c_long)]
_lib.SQLNumResultCols.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_short)]
_lib.SQLRowCount.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_long)]
_lib.SQLMoreResults.argtypes = [ctypes.c_void_p]
_lib.SQLBindParameter.argtypes = [ctypes.c_void_p, ctypes.c_ushort, ctypes.c_short, ctypes.c_short,
                                  ctypes.c_short, ctypes.c_ulong, ctypes.c_short, ctypes.c_void_p,
                                  ctypes.c_long, ctypes.POINTER(ctypes.c_long)]
_lib.SQLEndTran.argtypes = [ctypes.c_short, ctypes.c_void_p, ctypes.c_short]
_lib.SQLFreeStmt.argtypes = [ctypes.c_void_p, ctypes.c_ushort]
_lib.SQLCloseCursor.argtypes = [ctypes.c_void_p]
_lib.SQLFreeHandle.argtypes = [ctypes.c_short, ctypes.c_void_p]
_lib.SQLDisconnect.argtypes = [ctypes.c_void_p]
_lib.SQLGetDiagRec.argtypes = [ctypes.c_short, ctypes.c_void_p, ctypes.c_short, ctypes.c_char_p,
                               ctypes.POINTER(ctypes.c_int), ctypes.c_char_p, ctypes.c_short,
                               ctypes.POINTER(ctypes.c_short)]
_lib.SQLColAttribute.argtypes = [ctypes.c_void_p, ctypes.c_ushort, ctypes.c_ushort, ctypes.c_char_p,
                                 ctypes.c_short, ctypes.POINTER(ctypes.c_short), ctypes.POINTER(ctypes.c_long)]
_lib.SQLDescribeCol.argtypes = [ctypes.c_void_p, ctypes.c_ushort, ctypes.c_char_p, ctypes.c_short,
                                ctypes.POINTER(ctypes.c_short), ctypes.POINTER(ctypes.c_short),
                                ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_short),
                                ctypes.POINTER(ctypes.c_short)]


class OdbcError(Exception):
    def __init__(self, records):
        super().__init__('; '.join('[%s] %s (native %d)' % r for r in records))
        self.records = records
        self.sqlstate = records[0][0] if records else ''
        self.native = records[0][2] if records else 0
        self.message = records[0][1] if records else ''


def _diagnostics(kind, handle):
    records = []
    for number in range(1, 10):
        state = ctypes.create_string_buffer(6)
        native = ctypes.c_int()
        text = ctypes.create_string_buffer(2048)
        length = ctypes.c_short()
        if _lib.SQLGetDiagRec(kind, handle, number, state, ctypes.byref(native), text, 2048,
                              ctypes.byref(length)) not in (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO):
            break
        records.append((state.value.decode(), text.value.decode('utf-8', 'replace'), native.value))
    return records


def _check(rc, kind, handle):
    if rc not in (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA):
        raise OdbcError(_diagnostics(kind, handle))
    return rc


_env = ctypes.c_void_p()
_check(_lib.SQLAllocHandle(SQL_HANDLE_ENV, None, ctypes.byref(_env)), SQL_HANDLE_ENV, None)
_lib.SQLSetEnvAttr(_env, SQL_ATTR_ODBC_VERSION, ctypes.c_void_p(SQL_OV_ODBC3), 0)


def connection_string(host, database='testdb', user='sa', password='Secret123', encryption='off', extra=''):
    return ('DRIVER=%s;SERVER=%s;PORT=1433;UID=%s;PWD=%s;DATABASE=%s;TDS_Version=7.4;'
            'ClientCharset=UTF-8;Encryption=%s;%s' % (DRIVER, host, user, password, database, encryption, extra))


class Connection:
    def __init__(self, text, login_timeout=None):
        self.handle = ctypes.c_void_p()
        _check(_lib.SQLAllocHandle(SQL_HANDLE_DBC, _env, ctypes.byref(self.handle)), SQL_HANDLE_ENV, _env)
        if login_timeout is not None:
            _lib.SQLSetConnectAttr(self.handle, SQL_ATTR_LOGIN_TIMEOUT, ctypes.c_void_p(login_timeout), 0)
        data = text.encode()
        out_length = ctypes.c_short()
        rc = _lib.SQLDriverConnect(self.handle, None, data, len(data), None, 0, ctypes.byref(out_length),
                                   SQL_DRIVER_NOPROMPT)
        if rc not in (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO):
            error = OdbcError(_diagnostics(SQL_HANDLE_DBC, self.handle))
            _lib.SQLFreeHandle(SQL_HANDLE_DBC, self.handle)
            self.handle = None
            raise error

    def cursor(self):
        return Statement(self)

    def set_autocommit(self, on):
        _check(_lib.SQLSetConnectAttr(self.handle, SQL_ATTR_AUTOCOMMIT,
                                      ctypes.c_void_p(SQL_AUTOCOMMIT_ON if on else SQL_AUTOCOMMIT_OFF), 0),
               SQL_HANDLE_DBC, self.handle)

    def commit(self):
        _check(_lib.SQLEndTran(SQL_HANDLE_DBC, self.handle, SQL_COMMIT), SQL_HANDLE_DBC, self.handle)

    def rollback(self):
        _check(_lib.SQLEndTran(SQL_HANDLE_DBC, self.handle, SQL_ROLLBACK), SQL_HANDLE_DBC, self.handle)

    def close(self):
        if self.handle:
            _lib.SQLDisconnect(self.handle)
            _lib.SQLFreeHandle(SQL_HANDLE_DBC, self.handle)
            self.handle = None


class Statement:
    def __init__(self, connection):
        self.handle = ctypes.c_void_p()
        _check(_lib.SQLAllocHandle(SQL_HANDLE_STMT, connection.handle, ctypes.byref(self.handle)),
               SQL_HANDLE_DBC, connection.handle)
        self._keep = []

    def _ok(self, rc):
        return _check(rc, SQL_HANDLE_STMT, self.handle)

    def set_static_cursor(self):
        self._ok(_lib.SQLSetStmtAttr(self.handle, SQL_ATTR_CURSOR_TYPE, ctypes.c_void_p(SQL_CURSOR_STATIC), 0))

    def execute(self, sql):
        data = sql.encode('utf-8')
        return self._ok(_lib.SQLExecDirect(self.handle, data, len(data)))

    def prepare(self, sql):
        data = sql.encode('utf-8')
        self._ok(_lib.SQLPrepare(self.handle, data, len(data)))

    def bind(self, values, outputs=(), describe=True):
        """Binds parameters: int as SQL_INTEGER, str as SQL_WVARCHAR (SQL_WLONGVARCHAR if long),
        float as SQL_DOUBLE, None as a NULL string. Parameters whose numbers are
        in `outputs` are input/output; output() reads them after execution."""
        self._keep = []
        self._buffers = {}
        for number, value in enumerate(values, 1):
            indicator = ctypes.c_long()
            if isinstance(value, int):
                buffer = ctypes.c_int(value)
                indicator.value = 4
                args = (SQL_C_SLONG, SQL_INTEGER, 10, 0, ctypes.byref(buffer), 4)
            elif isinstance(value, float):
                buffer = ctypes.c_double(value)
                indicator.value = 8
                args = (SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, ctypes.byref(buffer), 8)
            else:
                data = (value or '').encode('utf-16-le')
                buffer = ctypes.create_string_buffer(data + b'\x00\x00', len(data) + 2)
                indicator.value = SQL_NULL_DATA if value is None else len(data)
                long_value = len(data) > 8000
                args = (SQL_C_WCHAR, SQL_WLONGVARCHAR if long_value else SQL_WVARCHAR,
                        max(1, len(value or '')), 0, buffer, len(data) + 2)
            self._keep.extend([buffer, indicator])
            self._buffers[number] = (buffer, indicator)
            c_type, sql_type, size, digits, pointer, length = args
            direction = SQL_PARAM_INPUT_OUTPUT if number in outputs else SQL_PARAM_INPUT
            self._ok(_lib.SQLBindParameter(self.handle, number, direction, c_type, sql_type, size,
                                           digits, pointer, length, ctypes.byref(indicator)))
        # describe now, as applications do; FreeTDS would otherwise describe
        # (sp_prepare) in the middle of a server cursor's fetches
        if describe:
            self.columns()

    def output(self, number):
        """The value an input/output parameter holds after execution."""
        buffer, indicator = self._buffers[number]
        if indicator.value == SQL_NULL_DATA:
            return None
        if isinstance(buffer, (ctypes.c_int, ctypes.c_double)):
            return buffer.value
        return buffer.raw[:indicator.value].decode('utf-16-le')

    def bind_int_arrays(self, columns):
        """Binds one array of integers per parameter and executes all rows of
        parameters at once (SQL_ATTR_PARAMSET_SIZE)."""
        rows = len(columns[0])
        self._ok(_lib.SQLSetStmtAttr(self.handle, SQL_ATTR_PARAMSET_SIZE, ctypes.c_void_p(rows), 0))
        self._keep = []
        for number, values in enumerate(columns, 1):
            buffer = (ctypes.c_int * rows)(*values)
            indicators = (ctypes.c_long * rows)(*([4] * rows))
            self._keep.extend([buffer, indicators])
            self._ok(_lib.SQLBindParameter(self.handle, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0,
                                           buffer, 4, indicators))

    def run(self):
        return self._ok(_lib.SQLExecute(self.handle))

    def columns(self):
        count = ctypes.c_short()
        self._ok(_lib.SQLNumResultCols(self.handle, ctypes.byref(count)))
        return count.value

    def describe(self, column):
        """(name, ODBC type, size, digits, nullable, server type name)."""
        name = ctypes.create_string_buffer(256)
        name_length, data_type, digits, nullable = (ctypes.c_short() for _ in range(4))
        size = ctypes.c_ulong()
        self._ok(_lib.SQLDescribeCol(self.handle, column, name, 256, ctypes.byref(name_length),
                                     ctypes.byref(data_type), ctypes.byref(size), ctypes.byref(digits),
                                     ctypes.byref(nullable)))
        type_name = ctypes.create_string_buffer(256)
        length = ctypes.c_short()
        self._ok(_lib.SQLColAttribute(self.handle, column, SQL_DESC_TYPE_NAME, type_name, 256,
                                      ctypes.byref(length), None))
        return (name.value.decode(), data_type.value, size.value, digits.value, nullable.value,
                type_name.value.decode())

    def rowcount(self):
        count = ctypes.c_long()
        self._ok(_lib.SQLRowCount(self.handle, ctypes.byref(count)))
        return count.value

    def fetch(self, orientation=None, offset=0):
        if orientation is None:
            rc = self._ok(_lib.SQLFetch(self.handle))
        else:
            rc = self._ok(_lib.SQLFetchScroll(self.handle, orientation, offset))
        if rc == SQL_NO_DATA:
            return None
        return [self.get_text(column) for column in range(1, self.columns() + 1)]

    def get_text(self, column):
        """The column as text (None for NULL), read in pieces like a long value."""
        parts = []
        while True:
            buffer = ctypes.create_string_buffer(65536)
            indicator = ctypes.c_long()
            rc = _lib.SQLGetData(self.handle, column, SQL_C_WCHAR, buffer, 65536, ctypes.byref(indicator))
            if rc == SQL_NO_DATA:
                break
            self._ok(rc)
            if indicator.value == SQL_NULL_DATA:
                return None
            if rc == SQL_SUCCESS_WITH_INFO:
                parts.append(buffer.raw[:65534])
                continue
            parts.append(buffer.raw[:indicator.value])
            break
        return b''.join(parts).decode('utf-16-le')

    def fetchall(self):
        rows = []
        while True:
            row = self.fetch()
            if row is None:
                return rows
            rows.append(row)

    def more_results(self):
        return self._ok(_lib.SQLMoreResults(self.handle)) != SQL_NO_DATA

    def close_cursor(self):
        self._ok(_lib.SQLFreeStmt(self.handle, SQL_CLOSE))

    def close(self):
        if self.handle:
            _lib.SQLFreeHandle(SQL_HANDLE_STMT, self.handle)
            self.handle = None
