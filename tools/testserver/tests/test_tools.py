"""The command-line clients of FreeTDS and unixODBC against the server."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase, odbc_connection_string  # noqa: E402

SCRIPT = """CREATE TABLE tool_items (id int IDENTITY(1,1) PRIMARY KEY, name nvarchar(20) NOT NULL, price money)
INSERT INTO tool_items (name, price) VALUES (N'gr\u00fcn', 1.25)
INSERT INTO tool_items (name, price) VALUES (N'blau', NULL)
SELECT id, name, price FROM tool_items ORDER BY id
INSERT INTO tool_items (id, name) VALUES (1, 'x')
INSERT INTO tool_items (name) VALUES (NULL)
SELECT 1/0
"""


class ToolsTest(ServerTestCase):
    def test_tsql(self):
        script = SCRIPT.replace('\n', '\ngo\n')
        result = subprocess.run(['tsql', '-H', self.host, '-p', '1433', '-U', 'sa', '-P', 'Secret123',
                                 '-D', 'testdb'], input=script.encode(), capture_output=True, timeout=30)
        out = result.stdout.decode('utf-8', 'replace') + result.stderr.decode('utf-8', 'replace')
        for text in ('1\tgr\u00fcn\t1.25', '2\tblau\tNULL', 'Msg 544', 'Msg 515', 'Msg 8134',
                     'Divide by zero error encountered.'):
            self.assertIn(text, out)

    def test_isql_prepared_and_direct(self):
        self.query('CREATE TABLE isql_items (id int IDENTITY PRIMARY KEY, label nvarchar(10))')
        script = ("INSERT INTO isql_items (label) VALUES ('one')\n"
                  "SELECT id, label FROM isql_items\n"
                  "SELECT * FROM isql_nothing\n")
        for flags in ([], ['-e']):      # -e: SQLExecDirect instead of SQLPrepare/SQLExecute
            result = subprocess.run(['isql', '-v', '-b', '-k', odbc_connection_string(self.host)] + flags,
                                    input=script.encode(), capture_output=True, timeout=30)
            out = result.stdout.decode('utf-8', 'replace') + result.stderr.decode('utf-8', 'replace')
            self.assertRegex(out, r'\| 1 +\| one', flags)
            self.assertIn("Invalid object name 'isql_nothing'.", out)
            self.query("DROP TABLE isql_items; CREATE TABLE isql_items (id int IDENTITY PRIMARY KEY, "
                       "label nvarchar(10))")

    def test_isql_with_required_encryption_fails_clearly(self):
        result = subprocess.run(['isql', '-v', '-b', '-k', odbc_connection_string(self.host, encryption='require')],
                                input=b'SELECT 1\n', capture_output=True, timeout=30)
        self.assertNotEqual(0, result.returncode)
        self.assertIn(b'Could not SQLDriverConnect', result.stdout + result.stderr)
        self.assertIn('requires encryption', self.server.log_containing('requires encryption'))


if __name__ == '__main__':
    unittest.main()
