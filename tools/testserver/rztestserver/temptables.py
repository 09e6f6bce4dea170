"""Local temporary tables (#name). Each session keeps its own in a SQLite file
attached to every connection of the session as the schema rz_temp, with the
same side tables as a database, so no other session can see them.

A table is made in the innermost scope that is running: the session itself,
a stored procedure, EXEC of a string, or an sp_executesql / prepared
statement. It is dropped when that scope ends. A scope may make a table of a
name an outer scope already has; its statements then see their own. The
SQLite name carries the nesting level ('#t' at the session's level, '#t~2'
two scopes down), which is how a name finds the innermost table."""
import contextlib
import os
import tempfile

SCHEMA = 'rz_temp'
CATALOG = 'tempdb'


def is_temporary(name):
    return name.startswith('#')


def side(name):
    """The schema prefix of the side tables describing the table `name`."""
    return SCHEMA + '.' if is_temporary(name) else ''


def side_for_id(object_id):
    """The same, by object id: temporary tables have negative ids."""
    return SCHEMA + '.' if object_id is not None and object_id < 0 else ''


def display_name(name):
    """A temporary table's name as the client wrote it, without the level."""
    return name.split('~', 1)[0] if is_temporary(name) else name


class TempStore:
    def __init__(self, directory, spid):
        handle, self.path = tempfile.mkstemp(prefix='session-%d-' % spid, suffix='.sqlite', dir=directory)
        os.close(handle)
        self.installed = False
        self.scopes = []            # SQLite names made in each open scope, innermost last

    def attach(self, conn, side_tables):
        conn.execute('ATTACH DATABASE ? AS %s' % SCHEMA, (self.path,))
        conn.execute('PRAGMA %s.synchronous=OFF' % SCHEMA)
        if not self.installed:
            conn.executescript(side_tables.replace('CREATE TABLE IF NOT EXISTS ',
                                                   'CREATE TABLE IF NOT EXISTS %s.' % SCHEMA))
            self.installed = True

    def remove(self):
        for path in (self.path, self.path + '-journal'):
            try:
                os.remove(path)
            except OSError:
                pass

    # --- names ------------------------------------------------------------------
    @staticmethod
    def _at_level(name, level):
        return name if level == 0 else '%s~%d' % (name, level)

    @staticmethod
    def exists(conn, sqlite_name):
        return conn.execute('SELECT 1 FROM %s.rz_objects WHERE name = ?' % SCHEMA,
                            (sqlite_name,)).fetchone() is not None

    def resolve(self, conn, name):
        """The SQLite table a statement means by #name: the innermost scope's."""
        for level in range(len(self.scopes), 0, -1):
            candidate = self._at_level(name, level)
            if self.exists(conn, candidate):
                return candidate
        return name

    def new_name(self, name):
        """The SQLite name for a #name made now."""
        return self._at_level(name, len(self.scopes))

    def created(self, sqlite_name):
        if self.scopes:
            self.scopes[-1].append(sqlite_name)

    @contextlib.contextmanager
    def scope(self, session):
        """Runs a procedure, dynamic batch or parameterised statement: the
        temporary tables it makes are gone when it ends."""
        self.scopes.append([])
        try:
            yield
        finally:
            for name in self.scopes.pop():
                try:
                    session.drop_temporary(name)
                except Exception:       # already dropped, or its transaction rolled back
                    pass
