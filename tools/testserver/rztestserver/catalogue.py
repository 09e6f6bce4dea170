"""The side tables that remember what SQL Server declared, and the catalogue
views (sys.*, INFORMATION_SCHEMA.*) built on them.

Every SQLite column is declared with its SQL Server type followed by flags,
for example "int|nn|id" or "datetime2(3)|text": SQLite keeps the declared type
verbatim and hands it back for every result column taken straight from a
table, which is how results report exact types. The flags:
nn = NOT NULL, id = IDENTITY, text/blob = steer SQLite's type affinity."""
import datetime
import hashlib

from . import sqltypes
from .errors import SqlError
from .temptables import CATALOG as TEMP_CATALOG, display_name, side, side_for_id

SIDE_TABLES = '''
CREATE TABLE IF NOT EXISTS rz_objects (
  object_id "int|nn" NOT NULL UNIQUE,
  name "nvarchar(128)|nn" NOT NULL COLLATE rz_ci,
  schema_name "nvarchar(128)|nn" NOT NULL COLLATE rz_ci,
  schema_id "int|nn" NOT NULL,
  catalog_name "nvarchar(128)|nn" NOT NULL,
  type "char(2)|nn" NOT NULL,
  type_desc "nvarchar(60)" ,
  table_type "varchar(10)",
  create_date "datetime|nn|text" NOT NULL,
  definition "nvarchar(4000)",
  check_option "varchar(7)",
  is_updatable "varchar(2)"
);
CREATE TABLE IF NOT EXISTS rz_columns (
  object_id "int|nn" NOT NULL,
  table_name "nvarchar(128)|nn" NOT NULL COLLATE rz_ci,
  name "nvarchar(128)" COLLATE rz_ci,
  column_id "int|nn" NOT NULL,
  system_type_id "tinyint|nn" NOT NULL,
  user_type_id "int|nn" NOT NULL,
  max_length "smallint|nn" NOT NULL,
  precision "tinyint|nn" NOT NULL,
  scale "tinyint|nn" NOT NULL,
  is_nullable "bit",
  is_identity "bit|nn" NOT NULL,
  is_computed "bit|nn" NOT NULL,
  data_type "nvarchar(128)",
  declared_type "nvarchar(128)",
  column_default "nvarchar(4000)",
  is_nullable_text "varchar(3)",
  character_maximum_length "int",
  character_octet_length "int",
  numeric_precision "tinyint",
  numeric_precision_radix "smallint",
  numeric_scale "int",
  datetime_precision "smallint",
  character_set_name "nvarchar(128)",
  collation_name "nvarchar(128)",
  seed_value "bigint",
  increment_value "bigint",
  last_value "bigint",
  default_sql "nvarchar(4000)",
  legacy_type "tinyint"
);
CREATE TABLE IF NOT EXISTS rz_constraints (
  constraint_name "nvarchar(128)|nn" NOT NULL COLLATE rz_ci,
  object_id "int|nn" NOT NULL,
  table_name "nvarchar(128)|nn" NOT NULL COLLATE rz_ci,
  constraint_type "varchar(11)|nn" NOT NULL,
  is_deferrable "varchar(2)|nn" NOT NULL,
  initially_deferred "varchar(2)|nn" NOT NULL
);
CREATE TABLE IF NOT EXISTS rz_constraint_columns (
  constraint_name "nvarchar(128)|nn" NOT NULL COLLATE rz_ci,
  table_name "nvarchar(128)|nn" NOT NULL COLLATE rz_ci,
  column_name "nvarchar(128)|nn" NOT NULL COLLATE rz_ci,
  ordinal_position "int|nn" NOT NULL
);
CREATE TABLE IF NOT EXISTS rz_schemas (
  name "nvarchar(128)|nn" NOT NULL COLLATE rz_ci,
  schema_id "int|nn" NOT NULL,
  principal_id "int"
);
CREATE TABLE IF NOT EXISTS rz_databases (
  name "nvarchar(128)|nn" NOT NULL COLLATE rz_ci,
  database_id "int|nn" NOT NULL,
  create_date "datetime|nn|text" NOT NULL
);
'''

CATALOGUE_VIEWS = {
    'rz_sys_objects': '''SELECT name, object_id, NULL AS principal_id, schema_id,
        0 AS parent_object_id, type, type_desc, create_date, create_date AS modify_date
        FROM rz_objects''',
    'rz_sys_tables': '''SELECT name, object_id, schema_id, type, type_desc, create_date,
        create_date AS modify_date FROM rz_objects WHERE type = 'U' ORDER BY object_id''',
    'rz_sys_views': '''SELECT name, object_id, schema_id, type, type_desc, create_date,
        create_date AS modify_date FROM rz_objects WHERE type = 'V' ORDER BY object_id''',
    'rz_sys_procedures': '''SELECT name, object_id, schema_id, type, type_desc, create_date,
        create_date AS modify_date FROM rz_objects WHERE type = 'P' ORDER BY object_id''',
    'rz_sys_sql_modules': '''SELECT object_id, definition FROM rz_objects WHERE type IN ('P', 'V')''',
    'rz_sys_all_objects': '''SELECT name, object_id, schema_id, type, type_desc, create_date
        FROM rz_objects''',
    'rz_sys_columns': '''SELECT object_id, name, column_id, system_type_id, user_type_id, max_length,
        precision, scale, is_nullable, is_identity, is_computed FROM rz_columns''',
    'rz_sys_identity_columns': '''SELECT object_id, name, column_id, system_type_id, user_type_id,
        max_length, precision, scale, is_nullable, is_identity, seed_value, increment_value,
        last_value FROM rz_columns WHERE is_identity = 1''',
    'rz_sys_schemas': 'SELECT name, schema_id, principal_id FROM rz_schemas ORDER BY schema_id',
    'rz_sys_databases': 'SELECT name, database_id, create_date FROM rz_databases',
    'rz_sys_sysobjects': '''SELECT name, object_id AS id, type AS xtype, type, create_date AS crdate
        FROM rz_objects''',
    'rz_sys_syscolumns': '''SELECT name, object_id AS id, column_id AS colid, system_type_id AS xtype,
        legacy_type AS type, max_length AS length, precision AS prec, scale,
        is_nullable AS isnullable FROM rz_columns''',
    'rz_is_tables': '''SELECT catalog_name AS TABLE_CATALOG, schema_name AS TABLE_SCHEMA,
        name AS TABLE_NAME, table_type AS TABLE_TYPE FROM rz_objects WHERE type IN ('U', 'V')
        ORDER BY object_id''',
    'rz_is_views': '''SELECT catalog_name AS TABLE_CATALOG, schema_name AS TABLE_SCHEMA,
        name AS TABLE_NAME, definition AS VIEW_DEFINITION, check_option AS CHECK_OPTION,
        is_updatable AS IS_UPDATABLE FROM rz_objects WHERE type = 'V' ORDER BY object_id''',
    'rz_is_columns': '''SELECT o.catalog_name AS TABLE_CATALOG, o.schema_name AS TABLE_SCHEMA,
        o.name AS TABLE_NAME, c.name AS COLUMN_NAME, c.column_id AS ORDINAL_POSITION,
        c.column_default AS COLUMN_DEFAULT, c.is_nullable_text AS IS_NULLABLE,
        c.data_type AS DATA_TYPE, c.character_maximum_length AS CHARACTER_MAXIMUM_LENGTH,
        c.character_octet_length AS CHARACTER_OCTET_LENGTH,
        c.numeric_precision AS NUMERIC_PRECISION, c.numeric_precision_radix AS NUMERIC_PRECISION_RADIX,
        c.numeric_scale AS NUMERIC_SCALE, c.datetime_precision AS DATETIME_PRECISION,
        c.character_set_name AS CHARACTER_SET_NAME, c.collation_name AS COLLATION_NAME
        FROM rz_columns c JOIN rz_objects o ON o.object_id = c.object_id
        ORDER BY o.object_id, c.column_id''',
    'rz_is_table_constraints': '''SELECT o.catalog_name AS CONSTRAINT_CATALOG,
        o.schema_name AS CONSTRAINT_SCHEMA, k.constraint_name AS CONSTRAINT_NAME,
        o.catalog_name AS TABLE_CATALOG, o.schema_name AS TABLE_SCHEMA, o.name AS TABLE_NAME,
        k.constraint_type AS CONSTRAINT_TYPE, k.is_deferrable AS IS_DEFERRABLE,
        k.initially_deferred AS INITIALLY_DEFERRED
        FROM rz_constraints k JOIN rz_objects o ON o.object_id = k.object_id''',
    'rz_is_constraint_column_usage': '''SELECT o.catalog_name AS TABLE_CATALOG,
        o.schema_name AS TABLE_SCHEMA, o.name AS TABLE_NAME, u.column_name AS COLUMN_NAME,
        o.catalog_name AS CONSTRAINT_CATALOG, o.schema_name AS CONSTRAINT_SCHEMA,
        u.constraint_name AS CONSTRAINT_NAME
        FROM rz_constraint_columns u JOIN rz_constraints k ON k.constraint_name = u.constraint_name
        JOIN rz_objects o ON o.object_id = k.object_id''',
    'rz_is_key_column_usage': '''SELECT o.catalog_name AS CONSTRAINT_CATALOG,
        o.schema_name AS CONSTRAINT_SCHEMA, u.constraint_name AS CONSTRAINT_NAME,
        o.catalog_name AS TABLE_CATALOG, o.schema_name AS TABLE_SCHEMA, o.name AS TABLE_NAME,
        u.column_name AS COLUMN_NAME, u.ordinal_position AS ORDINAL_POSITION
        FROM rz_constraint_columns u JOIN rz_constraints k ON k.constraint_name = u.constraint_name
        JOIN rz_objects o ON o.object_id = k.object_id''',
}

SYS_VIEWS = {'objects', 'tables', 'views', 'procedures', 'sql_modules', 'all_objects', 'columns', 'identity_columns', 'schemas',
             'databases', 'sysobjects', 'syscolumns'}
# the compatibility views, also reachable without a schema or through dbo
COMPATIBILITY_VIEWS = {'sysobjects', 'syscolumns'}
# syscolumns.type: the old type codes that db-library clients decode
LEGACY_TYPES = {
    'tinyint': 48, 'smallint': 52, 'int': 56, 'bigint': 63, 'bit': 50, 'decimal': 55, 'numeric': 63,
    'money': 60, 'smallmoney': 122, 'float': 62, 'real': 59, 'char': 47, 'varchar': 39, 'nchar': 47,
    'nvarchar': 39, 'text': 35, 'ntext': 35, 'binary': 45, 'varbinary': 37, 'image': 34, 'datetime': 61,
    'smalldatetime': 58, 'date': 39, 'time': 39, 'datetime2': 39, 'datetimeoffset': 39,
    'uniqueidentifier': 37,
}
INFORMATION_SCHEMA_VIEWS = {'tables', 'views', 'columns', 'table_constraints',
                            'constraint_column_usage', 'key_column_usage'}


def catalogue_view(schema, name):
    """The SQLite view behind sys.<name> or INFORMATION_SCHEMA.<name>, or None."""
    schema, name = schema.lower(), name.lower()
    if schema in ('sys', 'dbo', '') and name in COMPATIBILITY_VIEWS:
        return 'rz_sys_' + name
    if schema == 'sys' and name in SYS_VIEWS:
        return 'rz_sys_' + name
    if schema == 'information_schema' and name in INFORMATION_SCHEMA_VIEWS:
        return 'rz_is_' + name
    return None


def install(conn, database_name, all_databases):
    """Creates the side tables and catalogue views in a fresh database."""
    conn.executescript(SIDE_TABLES)
    for name, body in CATALOGUE_VIEWS.items():
        conn.execute('CREATE VIEW IF NOT EXISTS %s AS %s' % (name, body))
    if not conn.execute('SELECT 1 FROM rz_schemas').fetchone():
        conn.executemany('INSERT INTO rz_schemas VALUES (?, ?, ?)',
                         [('dbo', 1, 1), ('guest', 2, 2), ('INFORMATION_SCHEMA', 3, 3), ('sys', 4, 4)])
    conn.execute('DELETE FROM rz_databases')
    conn.executemany('INSERT INTO rz_databases VALUES (?, ?, ?)',
                     [(name, index + 1, '2024-01-01 00:00:00') for index, name in enumerate(all_databases)])
    conn.commit()


class ColumnInfo:
    def __init__(self, name, sqltype, nullable=True, identity=False, seed=1, increment=1,
                 default_sql=None, default_text=None):
        self.name = name
        self.sqltype = sqltype
        self.nullable = nullable
        self.identity = identity
        self.seed = seed
        self.increment = increment
        self.default_sql = default_sql        # SQLite expression
        self.default_text = default_text      # as SQL Server shows it, '((0))'

    def declared(self):
        """The declared type SQLite keeps for this column."""
        flags = [self.sqltype.sql()]
        if not self.nullable:
            flags.append('nn')
        if self.identity:
            flags.append('id')
        if self.sqltype.name in sqltypes.TEMPORAL_TYPES or self.sqltype.name == 'uniqueidentifier' or \
                self.sqltype.is_wide_decimal:
            flags.append('text')
        elif self.sqltype.name in sqltypes.BINARY_TYPES or self.sqltype.name in (
                'decimal', 'numeric', 'money', 'smallmoney'):
            flags.append('blob')
        return '|'.join(flags)


class TableInfo:
    def __init__(self, name, object_id, kind, columns):
        self.name = name
        self.object_id = object_id
        self.kind = kind          # 'U' or 'V'
        self.columns = columns
        self.side = side(name)    # where the side tables describing it are

    @property
    def display_name(self):
        return display_name(self.name)

    def qualified(self):
        """The table's name for SQL that must name its schema (CREATE)."""
        return qualified(self.name)

    def column(self, name):
        for column in self.columns:
            if column.name.lower() == name.lower():
                return column
        return None

    @property
    def identity(self):
        for column in self.columns:
            if column.identity:
                return column
        return None


def parse_declared(declared):
    """(SqlType, nullable, identity) from a declared type of ours, or None."""
    if not declared:
        return None
    parts = declared.split('|')
    try:
        sqltype = sqltypes.parse_type(parts[0])
    except SqlError:
        return None
    except ValueError:
        return None
    return sqltype, 'nn' not in parts, 'id' in parts


def next_object_id(conn):
    row = conn.execute('SELECT MAX(object_id) FROM rz_objects').fetchone()
    return (row[0] or 1977058079) + 16000057


def constraint_name(prefix, table, salt):
    digest = hashlib.md5(('%s/%s/%s' % (prefix, table, salt)).encode()).hexdigest()[:16].upper()
    return '%s__%s__%s' % (prefix, split_name(table)[1][:8], digest)


def require_schema(conn, name):
    """The id of the schema of a SQLite table name; error 2760 when it does not exist."""
    schema = split_name(name)[0]
    found = schema_id(conn, schema)
    if found is None:
        raise SqlError(2760, 'The specified schema name "%s" either does not exist or you do not have '
                             'permission to use it.' % schema)
    return found


TYPE_DESCRIPTIONS = {'U': 'USER_TABLE', 'V': 'VIEW', 'P': 'SQL_STORED_PROCEDURE'}


def register_object(conn, database, name, kind, definition=None, object_id=None):
    """Records a new table or view by its SQLite name; its schema must exist."""
    bare = split_name(name)[1]
    found = require_schema(conn, name)
    schema = conn.execute('SELECT name FROM rz_schemas WHERE schema_id = ?', (found,)).fetchone()[0]
    if object_id is None:
        object_id = next_object_id(conn)
    conn.execute(
        'INSERT INTO %srz_objects VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)' % side(name),
        (object_id, bare, schema, found, TEMP_CATALOG if side(name) else database, kind,
         TYPE_DESCRIPTIONS[kind],
         {'U': 'BASE TABLE', 'V': 'VIEW'}.get(kind), current_timestamp_text(),
         definition, 'NONE' if kind == 'V' else None, 'NO' if kind == 'V' else None))
    return object_id


def current_timestamp_text():
    now = datetime.datetime.now()
    return now.strftime('%Y-%m-%d %H:%M:%S.') + '%03d' % (now.microsecond // 1000)


def register_columns(conn, object_id, table, columns):
    rows = []
    for index, column in enumerate(columns, 1):
        sqltype = column.sqltype
        is_char = sqltype.name in sqltypes.STRING_TYPES
        char_length = sqltype.char_length()
        octet = None
        if char_length is not None:
            octet = char_length * 2 if sqltype.is_unicode and char_length > 0 else char_length
            if sqltype.name == 'ntext':
                octet = 2147483646
        numeric = sqltype.name in sqltypes.INTEGER_RANGES or sqltype.name in (
            'decimal', 'numeric', 'money', 'smallmoney', 'float', 'real')
        temporal = sqltype.name in ('date', 'time', 'datetime', 'smalldatetime', 'datetime2',
                                    'datetimeoffset')
        datetime_precision = None
        if temporal:
            datetime_precision = {'date': 0, 'datetime': 3, 'smalldatetime': 0}.get(sqltype.name, sqltype.scale)
        rows.append((
            object_id, table, column.name, index, sqltypes.SYSTEM_TYPE_IDS[sqltype.name],
            sqltypes.SYSTEM_TYPE_IDS[sqltype.name], sqltype.max_length(),
            sqltype.numeric_precision(), sqltype.numeric_scale(),
            1 if column.nullable else 0, 1 if column.identity else 0, 0,
            sqltype.name, sqltype.sql(), column.default_text,
            'YES' if column.nullable else 'NO', char_length, octet,
            sqltype.numeric_precision() if numeric else None,
            (2 if sqltype.name in ('float', 'real') else 10) if numeric else None,
            sqltype.numeric_scale() if numeric and sqltype.name not in ('float', 'real') else None,
            datetime_precision,
            ('UNICODE' if sqltype.is_unicode else 'iso_1') if is_char else None,
            'SQL_Latin1_General_CP1_CI_AS' if is_char else None,
            column.seed if column.identity else None, column.increment if column.identity else None,
            None, column.default_sql, LEGACY_TYPES[sqltype.name]))
    conn.executemany('INSERT INTO %srz_columns VALUES (%s)' % (side(table), ', '.join('?' * 29)), rows)


def register_constraint(conn, object_id, table, name, kind, columns):
    conn.execute('INSERT INTO %srz_constraints VALUES (?, ?, ?, ?, ?, ?)' % side(table),
                 (name, object_id, table, kind, 'NO', 'NO'))
    conn.executemany('INSERT INTO %srz_constraint_columns VALUES (?, ?, ?, ?)' % side(table),
                     [(name, table, column, index) for index, column in enumerate(columns, 1)])


def unregister(conn, object_id):
    prefix = side_for_id(object_id)
    for table in ('rz_objects', 'rz_columns', 'rz_constraints'):
        conn.execute('DELETE FROM %s%s WHERE object_id = ?' % (prefix, table), (object_id,))
    conn.execute('DELETE FROM {0}rz_constraint_columns WHERE constraint_name NOT IN '
                 '(SELECT constraint_name FROM {0}rz_constraints)'.format(prefix))


def qualified(name):
    return side(name) + '`%s`' % name.replace('`', '``')


def sqlite_name(schema, name):
    """The SQLite table behind schema.name: the bare name in dbo, 'schema.name' elsewhere."""
    if not schema or schema.lower() == 'dbo':
        return name
    return '%s.%s' % (schema, name)


def split_name(table):
    """(schema, name) of a SQLite table name made by sqlite_name."""
    schema, dot, name = table.partition('.')
    return (schema, name) if dot else ('dbo', table)


def schema_id(conn, schema):
    """The id of a schema (case-insensitive), or None."""
    row = conn.execute('SELECT schema_id FROM rz_schemas WHERE lower(name) = lower(?)', (schema,)).fetchone()
    return row[0] if row else None


def create_schema(conn, schema):
    if schema_id(conn, schema) is not None:
        raise SqlError(2714, "There is already an object named '%s' in the database." % schema)
    row = conn.execute('SELECT MAX(schema_id) FROM rz_schemas WHERE schema_id < 16384').fetchone()
    conn.execute('INSERT INTO rz_schemas VALUES (?, ?, ?)', (schema, max(row[0] or 0, 4) + 1, 1))


def drop_schema(conn, schema):
    found = schema_id(conn, schema)
    if found is None or found <= 4:
        raise SqlError(3701, "Cannot drop the schema '%s', because it does not exist or you do not have "
                             "permission." % schema)
    row = conn.execute('SELECT name FROM rz_objects WHERE schema_id = ?', (found,)).fetchone()
    if row is not None:
        raise SqlError(3729, "Cannot drop schema '%s' because it is being referenced by object '%s'."
                       % (schema, row[0]))
    conn.execute('DELETE FROM rz_schemas WHERE schema_id = ?', (found,))


def name_taken(conn, name):
    """Whether an object of any kind has the SQLite name `name`."""
    schema, bare = split_name(name)
    return conn.execute('SELECT 1 FROM %srz_objects WHERE name = ? AND lower(schema_name) = lower(?)'
                        % side(name), (bare, schema)).fetchone() is not None


def lookup(conn, name):
    """TableInfo of a table or view by SQLite name (case-insensitive), or None."""
    schema, bare = split_name(name)
    prefix = side(name)
    row = conn.execute("SELECT object_id, name, type, schema_name FROM %srz_objects WHERE name = ? "
                       "AND lower(schema_name) = lower(?) AND type IN ('U', 'V')" % prefix,
                       (bare, schema)).fetchone()
    if row is None:
        return _catalogue_view_info(conn, name)
    object_id, real_name, kind, real_schema = row
    columns = []
    for (column_name, declared, nullable, identity, seed, increment, default_sql,
         default_text) in conn.execute(
            'SELECT name, declared_type, is_nullable, is_identity, seed_value, increment_value, '
            'default_sql, column_default FROM %srz_columns WHERE object_id = ? ORDER BY column_id' % prefix,
            (object_id,)):
        columns.append(ColumnInfo(column_name, sqltypes.parse_type(declared), bool(nullable),
                                  bool(identity), seed, increment, default_sql, default_text))
    return TableInfo(sqlite_name(real_schema, real_name), object_id, kind, columns)


def _catalogue_view_info(conn, name):
    """TableInfo of one of our catalogue views (sys.*, INFORMATION_SCHEMA.*)."""
    if name.lower() not in CATALOGUE_VIEWS:
        return None
    columns = []
    for _cid, column_name, declared, _notnull, _default, _pk in conn.execute(
            'PRAGMA table_info(%s)' % name.lower()):
        parsed = parse_declared(declared)
        sqltype, nullable, _identity = parsed if parsed else (sqltypes.SqlType('int'), True, False)
        columns.append(ColumnInfo(column_name, sqltype, nullable))
    return TableInfo(name.lower(), None, 'V', columns)
