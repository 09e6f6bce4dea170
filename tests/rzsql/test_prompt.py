"""The interactive prompt, typed at through a terminal (tmux)."""

import os
import unittest

from rzsqltest import Terminal, TestServer, temporary_directory


class Prompt(unittest.TestCase):
    def setUp(self):
        self.dir = temporary_directory(self)
        self.history = os.path.join(self.dir, "history")

    def open_terminal(self):
        terminal = Terminal(["--driver", "QSQLITE", "-d", ":memory:"], env={"RZSQL_HISTORY": self.history})
        self.addCleanup(terminal.close)
        terminal.wait_for(lambda s: "\n1>" in s)
        return terminal

    def test_a_line_ending_with_a_semicolon_runs_the_batch(self):
        t = self.open_terminal()
        t.type("SELECT 40 + 2", "Enter")
        t.wait_for(lambda s: "\n2>" in s)
        t.type("  AS answer;", "Enter")
        # The next prompt comes after the count: wait for it, not only for the rows.
        screen = t.wait_for(lambda s: "(1 row)\n1>" in s)
        self.assertIn("1> SELECT 40 + 2\n2>   AS answer;\n answer\n--------\n     42\n(1 row)\n1>", screen)

    def test_a_semicolon_inside_a_literal_or_go_on_its_own_line(self):
        t = self.open_terminal()
        t.type("SELECT 'a;", "Enter", "b' AS s", "Enter")
        t.wait_for(lambda s: "\n3>" in s)
        t.type("go", "Enter")
        screen = t.wait_for(lambda s: "(1 row)" in s)
        self.assertIn(" a;\\nb\n", screen)

    def test_lines_can_be_edited_and_recalled_from_an_earlier_session(self):
        t = self.open_terminal()
        t.type("SELECT 'first' AS word;", "Enter")
        t.wait_for(lambda s: "(1 row)" in s)
        # Recall the line, rub out the column's name and end, type a new one.
        t.type("Up", *["BSpace"] * 5, "label;", "Enter")
        t.wait_for(lambda s: " label\n" in s)
        t.type("\\q", "Enter")
        t.wait_for(lambda s: "EXIT-STATUS 0" in s)
        t.close()

        with open(self.history, encoding="utf-8") as f:
            self.assertIn("SELECT 'first' AS word;", f.read())
        t = self.open_terminal()
        t.type("Up", "Up", "Enter") # the line typed before quitting
        screen = t.wait_for(lambda s: "(1 row)" in s)
        self.assertIn(" label\n-------\n first\n", screen)


class PromptOnSqlServer(unittest.TestCase):
    """The same prompt through the REZUVEDOV plug-in against the test server."""

    def setUp(self):
        self.server = TestServer("127.0.0.53")
        self.addCleanup(self.server.stop)
        history = os.path.join(temporary_directory(self), "history")
        self.terminal = Terminal(["--driver", "REZUVEDOV", *self.server.connection()],
                                 env={"RZSQL_HISTORY": history})
        self.addCleanup(self.terminal.close)

    def test_statements_and_errors_at_the_prompt(self):
        t = self.terminal
        t.wait_for(lambda s: "\n1>" in s)
        self.assertIn("connected to %s, database %s through REZUVEDOV" % (self.server.host, self.server.database),
                      t.screen())
        t.type("SELECT N'Grüße' AS greeting,", "Enter", "       42 AS answer;", "Enter")
        screen = t.wait_for(lambda s: "(1 row)" in s)
        self.assertIn(" greeting | answer\n----------+--------\n Grüße    |     42\n(1 row)\n", screen)
        t.type("SELECT * FROM no_such_table;", "Enter")
        screen = t.wait_for(lambda s: "Invalid object name" in s)
        self.assertIn("  driver text:   MSSQL DB:", screen)
        t.type("\\q", "Enter")
        t.wait_for(lambda s: "EXIT-STATUS 1" in s) # a statement failed


class ProgressAtThePrompt(unittest.TestCase):
    """A result that takes seconds, from a test server that paces its rows."""

    def setUp(self):
        self.server = TestServer("127.0.0.55", extra=["--row-delay-ms", "3000"])
        self.addCleanup(self.server.stop)
        if self.server.external:
            self.skipTest("rows are paced by the local test server only")
        self.terminal = Terminal(["--driver", "REZUVEDOV", *self.server.connection()],
                                 env={"RZSQL_HISTORY": os.path.join(temporary_directory(self), "history")})
        self.addCleanup(self.terminal.close)

    def test_progress_of_a_slow_result_is_one_line_wiped_at_the_end(self):
        t = self.terminal
        t.wait_for(lambda s: "\n1>" in s)
        t.type("SELECT 42 AS answer;", "Enter")
        t.wait_for(lambda s: "rzsql: waiting for rows, " in s)
        screen = t.wait_for(lambda s: "(1 row)" in s)
        self.assertNotIn("waiting for rows", screen)
        self.assertIn(" answer\n--------\n     42\n(1 row)\n", screen)


if __name__ == "__main__":
    unittest.main(verbosity=2)
