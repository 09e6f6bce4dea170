"""Starting test servers and connecting to them."""
import os
import select
import signal
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.environ.get('RZ_TESTSERVER') or os.path.join(os.path.dirname(HERE), 'rz-testserver')
LOGIN = ('sa', 'Secret123')


class TestServer:
    """One rz-testserver process on the given loopback addresses (port 1433).
    Also the launcher of rzsql's tests (tests/rzsql)."""

    def __init__(self, *hosts, databases=('master', 'testdb'), extra=()):
        self.hosts = hosts
        args = [SERVER]
        for host in hosts:
            args += ['--listen', '%s:1433' % host]
        args += ['--login', '%s:%s' % LOGIN, '--login', 'reader:Read0nly']
        for name in databases:
            args += ['--database', name]
        args += list(extra)
        # stderr goes to a file: a full pipe would block the server's logging
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=self.log)
        readable, _, _ = select.select([self.process.stdout], [], [], 10)
        line = self.process.stdout.readline() if readable else b''
        if line.strip() != b'ready':
            self.stop()
            raise RuntimeError('rz-testserver did not start: %r %s' % (line, self.stderr_text()))

    def stderr_text(self):
        self.log.seek(0)
        return self.log.read().decode(errors='replace')

    def log_containing(self, text, timeout=10):
        """The server's log once it holds text: a client can be gone before
        the server has logged what it made of the connection."""
        deadline = time.monotonic() + timeout
        while text not in self.stderr_text() and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.stderr_text()

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if not self.process.stdout.closed:
            self.process.stdout.close()
        return self.process.returncode

    def __del__(self):
        if getattr(self, 'log', None) is not None:
            self.log.close()


def odbc_connection_string(host, database='testdb', encryption='off'):
    """FreeTDS's ODBC driver, found by its library path (no odbcinst.ini needed)."""
    return ('DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so;SERVER=%s;PORT=1433;UID=%s;PWD=%s;DATABASE=%s;'
            'TDS_Version=7.4;ClientCharset=UTF-8;Encryption=%s' % (host, LOGIN[0], LOGIN[1], database, encryption))


def pytds_connect(host, database='testdb', user=LOGIN[0], password=LOGIN[1], **kwargs):
    import pytds
    kwargs.setdefault('autocommit', True)
    kwargs.setdefault('login_timeout', 5)
    kwargs.setdefault('timeout', 20)
    return pytds.connect(host, database=database, user=user, password=password, port=1433, **kwargs)


def rows(cursor, sql=None, params=None):
    """The rows of `sql` run on cursor, or of what it ran last, as tuples."""
    if sql is not None:
        cursor.execute(sql, params)
    return [tuple(row) for row in cursor.fetchall()]


def result_sets(cursor, sql, params=None):
    """Runs a batch: every result set it gives, as lists of tuples."""
    cursor.execute(sql, params)
    sets = []
    while True:
        if cursor.description:
            sets.append([tuple(row) for row in cursor.fetchall()])
        if not cursor.nextset():
            return sets


def last_result(cursor, sql, params=None):
    """Runs a batch: the rows of its last result set, or None."""
    sets = result_sets(cursor, sql, params)
    return sets[-1] if sets else None


class ServerTestCase(unittest.TestCase):
    """Runs one server for all tests of a class, and setup_sql on it once."""
    host = '127.0.0.10'
    extra = ()
    setup_sql = ()

    @classmethod
    def setUpClass(cls):
        cls.server = TestServer(cls.host, extra=cls.extra)
        if cls.setup_sql:
            connection = pytds_connect(cls.host)
            for sql in cls.setup_sql:
                connection.cursor().execute(sql)
            connection.close()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def connect(self, **kwargs):
        connection = pytds_connect(self.host, **kwargs)
        self.addCleanup(connection.close)
        return connection

    def query(self, sql, params=None, connection=None):
        connection = connection or self.connect()
        cursor = connection.cursor()
        cursor.execute(sql, params)
        return cursor.fetchall() if cursor.description else None

    def assertServerError(self, number, function, *args):
        import pytds
        with self.assertRaises(pytds.Error) as caught:
            function(*args)
        self.assertEqual(number, caught.exception.msg_no if hasattr(caught.exception, 'msg_no')
                         else getattr(caught.exception, 'number', None), str(caught.exception))
        return caught.exception
