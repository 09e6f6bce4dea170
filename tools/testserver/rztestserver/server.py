"""Listeners, the per-connection threads and the server's shared state."""
import shutil
import socket
import sys
import tempfile
import threading
import time

from . import tls
from .connection import Connection
from .storage import Databases


class Faults:
    """Failures on purpose, for reliability tests."""

    def __init__(self, hang=False, drop_after_rows=None, delay_ms=0, garbage_after_rows=None,
                 drop_during_login=False, drop_during_upload=False, drop_during_commit=False,
                 row_delay_ms=0, rows_per_delay=1):
        self.hang = hang
        self.drop_after_rows = drop_after_rows
        self.delay_ms = delay_ms
        self.garbage_after_rows = garbage_after_rows
        self.drop_during_login = drop_during_login
        self.drop_during_upload = drop_during_upload
        self.drop_during_commit = drop_during_commit
        self.row_delay_ms = row_delay_ms
        self.rows_per_delay = rows_per_delay


class Server:
    def __init__(self, addresses, logins, database_names, data_file=None, faults=None, verbose=False):
        self.addresses = addresses
        self.logins = {name.lower(): password for name, password in logins}
        self.databases = Databases(database_names, data_file)
        self.faults = faults or Faults()
        self.verbose = verbose
        self.tls_context = None          # set by use_tls()
        self.kerberos = None             # a KerberosAcceptor: integrated logins are accepted
        self.require_encryption = False
        self.tls_dir = None
        self.stopping = threading.Event()
        self.listeners = []
        self.connections = set()
        self.lock = threading.Lock()
        self.log_lock = threading.Lock()

    def log(self, text):
        with self.log_lock:
            sys.stderr.write('%s %s\n' % (time.strftime('%H:%M:%S'), text))
            sys.stderr.flush()

    def trace(self, connection, text):
        if self.verbose:
            connection.log(text if len(text) < 2000 else text[:2000] + '...')

    def use_tls(self, require=False, certificate_copy=None):
        """Offers TLS with a self-signed certificate made now for the listen
        addresses; certificate_copy names a file for clients to trust it from."""
        self.tls_dir = tempfile.mkdtemp(prefix='rz-testserver-tls-')
        certificate, key = tls.make_certificate(self.tls_dir, [host for host, _ in self.addresses])
        if certificate_copy:
            shutil.copyfile(certificate, certificate_copy)
        self.tls_context = tls.server_context(certificate, key)
        self.require_encryption = require

    def default_database(self, login):
        return self.databases.names[0]

    def bind(self):
        """Opens every listener; raises OSError if one cannot be bound."""
        for host, port in self.addresses:
            sock = socket.socket(socket.AF_INET6 if ':' in host else socket.AF_INET, socket.SOCK_STREAM)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind((host, port))
            sock.listen(64)
            self.listeners.append(sock)

    def serve(self):
        threads = []
        for sock in self.listeners:
            thread = threading.Thread(target=self._accept_loop, args=(sock,), daemon=True)
            thread.start()
            threads.append(thread)
        return threads

    def _accept_loop(self, listener):
        while not self.stopping.is_set():
            try:
                sock, address = listener.accept()
            except OSError:
                return
            if self.stopping.is_set():
                sock.close()
                return
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            connection = Connection(self, sock, address[:2])
            with self.lock:
                self.connections.add(connection)
            connection.log('connected to %s:%d' % listener.getsockname()[:2])
            connection.start()

    def forget(self, connection):
        with self.lock:
            self.connections.discard(connection)

    def stop(self):
        self.stopping.set()
        for sock in self.listeners:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()
        with self.lock:
            connections = list(self.connections)
        for connection in connections:
            try:
                connection.sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        for connection in connections:
            connection.join(timeout=2)
        self.databases.cleanup()
        if self.tls_dir:
            shutil.rmtree(self.tls_dir, ignore_errors=True)
