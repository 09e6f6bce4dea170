"""The server's databases: one SQLite file each, shared by all sessions."""
import os
import shutil
import sqlite3
import tempfile
import threading

from . import catalogue, functions


class Databases:
    """Names the databases and opens SQLite connections to them.

    Without --data the files live in a private temporary directory that is
    removed on exit, so the data lasts as long as the server process."""

    def __init__(self, names, data_file=None):
        self.names = list(names) or ['master']
        self.temporary_dir = None
        self.paths = {}
        if data_file:
            stem, _ext = os.path.splitext(data_file)
            for index, name in enumerate(self.names):
                self.paths[name.lower()] = data_file if index == 0 else '%s.%s.sqlite' % (stem, name)
        else:
            base = '/dev/shm' if os.access('/dev/shm', os.W_OK) else None
            self.temporary_dir = tempfile.mkdtemp(prefix='rz-testserver-', dir=base)
            for name in self.names:
                self.paths[name.lower()] = os.path.join(self.temporary_dir, name + '.sqlite')
        # per-session files (temporary tables) live apart from the data
        base = '/dev/shm' if os.access('/dev/shm', os.W_OK) else None
        self.scratch_dir = tempfile.mkdtemp(prefix='rz-testserver-sessions-%d-' % os.getpid(), dir=base)
        self.lock = threading.Lock()
        self.last_temporary_id = -1169054016
        for name in self.names:
            conn = self.connect(name)
            conn.execute('PRAGMA journal_mode=WAL')
            catalogue.install(conn, name, self.names)
            conn.close()

    def canonical(self, name):
        """The database's name as configured, or None if there is none."""
        for known in self.names:
            if known.lower() == (name or '').lower():
                return known
        return None

    def connect(self, name, session_functions=None):
        conn = sqlite3.connect(self.paths[name.lower()], timeout=10.0, isolation_level=None,
                               check_same_thread=False)
        conn.execute('PRAGMA foreign_keys=ON')
        conn.execute('PRAGMA synchronous=OFF')
        functions.register(conn, session_functions or {})
        return conn

    def next_temporary_id(self):
        """Temporary tables of all sessions share one tempdb, so their
        (negative) object ids are unique across the server."""
        with self.lock:
            self.last_temporary_id -= 16000057
            return self.last_temporary_id

    def cleanup(self):
        shutil.rmtree(self.scratch_dir, ignore_errors=True)
        if self.temporary_dir:
            shutil.rmtree(self.temporary_dir, ignore_errors=True)
