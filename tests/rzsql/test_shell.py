"""rzsql's own behaviour (input, output, binding, errors, exit status), shown
on Qt's SQLite driver so that it holds whatever the SQL Server stack does."""

import os
import unittest

from rzsqltest import rzsql, temporary_directory


class ShellTest(unittest.TestCase):
    def setUp(self):
        self.dir = temporary_directory(self)
        self.db = os.path.join(self.dir, "shell.sqlite")

    def sql(self, *args, **kwargs):
        return rzsql("--driver", "QSQLITE", "-d", self.db, *args, **kwargs)

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path


class Output(ShellTest):
    def test_a_result_is_an_aligned_table_with_nulls_and_a_row_count(self):
        r = self.sql("-e", "SELECT 1 AS one, 'Ada' AS name, NULL AS missing "
                           "UNION ALL SELECT 1234, 'Grace Hopper', 2.5")
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out,
                         " one  | name         | missing\n"
                         "------+--------------+---------\n"
                         "    1 | Ada          | NULL\n"
                         " 1234 | Grace Hopper | 2.5\n"
                         "(2 rows)\n")
        self.assertEqual(r.err, "")

    def test_values_that_would_break_the_columns_are_escaped(self):
        r = self.sql("-e", "SELECT 'a' || char(10) || 'b' || char(9) || 'c' AS t, x'00ff' AS b, 0.1 AS f")
        self.assertIn(" a\\nb\\tc | 0x00FF | 0.1\n", r.out)

    def test_csv_quotes_what_needs_it_and_keeps_null_apart_from_empty(self):
        r = self.sql("--csv", "-e", "SELECT 1 AS id, NULL AS n, '' AS e, 'x,\"y\"' AS q, 'a' || char(10) || 'b' AS nl")
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out, 'id,n,e,q,nl\n1,,"","x,""y""","a\nb"\n')

    def test_statements_without_rows_report_the_rows_they_changed(self):
        r = self.sql("-e", "CREATE TABLE t (x INT)", "-e", "INSERT INTO t VALUES (1), (2), (3)",
                     "-e", "UPDATE t SET x = x + 1 WHERE x > 1")
        self.assertEqual(r.status, 0, r)
        self.assertTrue(r.out.endswith("(3 rows affected)\n(2 rows affected)\n"), r)

    def test_echo_and_timing(self):
        r = self.sql("--echo", "--timing", "-e", "SELECT 5 AS five")
        self.assertRegex(r.out, r"^Connected in \d+\.\d{3} ms\nSELECT 5 AS five\n five\n")
        self.assertRegex(r.out, r"\nTime: \d+\.\d{3} ms\n")


class Batches(ShellTest):
    SCRIPT = ("CREATE TABLE t (x INT)\n"
              "GO\n"
              "\n"
              "INSERT INTO t VALUES (1)\n"
              "  go 3  \n"
              "SELECT count(*) AS n,\n"
              "       sum(x) AS total\n"
              "FROM t\n")          # the last batch needs no GO

    def test_a_file_and_standard_input_are_cut_into_batches_at_go_lines(self):
        for r in (self.sql("-i", self.write("script.sql", self.SCRIPT)),
                  self.sql(stdin=("DROP TABLE t\nGO\n" + self.SCRIPT).replace("\n", "\r\n"))):
            self.assertEqual(r.status, 0, r)
            self.assertTrue(r.out.endswith(" n | total\n---+-------\n 3 |     3\n(1 row)\n"), r)
            self.assertEqual(r.out.count("(1 row affected)"), 3, r)

    def test_a_semicolon_does_not_end_a_batch_outside_the_prompt(self):
        r = self.sql(stdin="SELECT 1 AS a;\nSELECT 2 AS b;\n")
        # One batch of two statements, which SQLite refuses as a whole.
        self.assertEqual(r.status, 1, r)
        self.assertIn("Unable to execute multiple statements at a time", r.err)

    def test_a_failed_batch_makes_the_status_non_zero_and_the_rest_runs_unless_told_to_stop(self):
        r = self.sql(stdin="SELECT 1 AS a\nGO\nSELEC 2\nGO\nSELECT 3 AS c\n")
        self.assertEqual(r.status, 1, r)
        self.assertIn(" c\n", r.out)
        self.assertIn("rzsql: the batch at line 3 failed: StatementError\n", r.err)
        self.assertIn("  driver text:   Unable to execute statement\n", r.err)
        self.assertIn('  database text: near "SELEC": syntax error\n', r.err)
        # -b: stop at the failed batch.
        r = self.sql("-b", stdin="SELEC 2\nGO\nSELECT 3 AS c\n")
        self.assertEqual(r.status, 1, r)
        self.assertNotIn(" c\n", r.out)

    def test_quit_command_ends_the_input(self):
        r = self.sql(stdin="SELECT 1 AS a\nGO\n\\q\nSELECT 2 AS b\n")
        self.assertEqual(r.status, 0, r)
        self.assertNotIn(" b\n", r.out)


class Binding(ShellTest):
    def test_typed_values_reach_the_driver_with_their_types(self):
        r = self.sql("--csv",
                     "-e", "SELECT typeof(?) AS a, typeof(?) AS b, typeof(?) AS c, typeof(?) AS d, "
                           "typeof(?) AS e, ? AS f",
                     "--bind", "int:42", "--bind", "float:2.5", "--bind", "null", "--bind", "hex:0x0aff",
                     "--bind", "plain text", "--bind", "str:int:7")
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out, "a,b,c,d,e,f\ninteger,real,null,blob,text,int:7\n")

    def test_question_marks_in_literals_comments_and_brackets_are_not_placeholders(self):
        r = self.sql("--csv", "-e", "SELECT '?' AS [q?], ? AS v /* ? */ -- ?", "--bind", "int:1")
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out, "q?,v\n?,1\n")

    def test_a_count_that_does_not_match_the_placeholders_is_refused(self):
        r = self.sql("-e", "SELECT ? AS a, ? AS b", "--bind", "1")
        self.assertEqual(r.status, 1, r)
        self.assertIn("has 2 placeholder(s) '?' but 1 value(s) are bound", r.err)

    def test_command_line_values_serve_every_batch_with_placeholders(self):
        r = self.sql("--csv", "-e", "SELECT 'none' AS x", "-e", "SELECT ? AS y", "--bind", "int:9")
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out, "x\nnone\n\ny\n9\n")

    def test_bind_command_serves_the_next_batch_only(self):
        r = self.sql("--csv", stdin="\\bind 'two words' int:3\n"
                                    "SELECT ? AS a, ? AS b\nGO\n"
                                    "SELECT 'after' AS c\nGO\n"
                                    "\\bind 1\nSELECT 'none' AS d\n")
        self.assertEqual(r.status, 1, r)
        self.assertIn("a,b\ntwo words,3\n", r.out)
        self.assertIn("c\nafter\n", r.out)
        self.assertIn("has 0 placeholder(s) '?' but 1 value(s) are bound", r.err)

    def test_a_value_that_does_not_read_as_its_type_is_an_error(self):
        r = self.sql("-e", "SELECT ? AS a", "--bind", "int:seven")
        self.assertEqual(r.status, 2, r)
        self.assertIn('cannot read "seven" as a int value', r.err)


class Catalogue(ShellTest):
    def setUp(self):
        super().setUp()
        self.sql("-e", "CREATE TABLE orders (region TEXT NOT NULL, num INT NOT NULL, note TEXT, "
                       "PRIMARY KEY (region, num))",
                 "-e", "CREATE TABLE Animals (id INTEGER PRIMARY KEY)",
                 "-e", "CREATE VIEW big_orders AS SELECT * FROM orders WHERE num > 10")

    def test_tables_lists_tables_and_views(self):
        r = self.sql("-e", "\\tables")
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out, " name       | type\n------------+-------\n Animals    | table\n"
                                " big_orders | view\n orders     | table\n(3 rows)\n")

    def test_describe_shows_columns_and_primary_key(self):
        r = self.sql("-e", "\\d orders")
        self.assertEqual(r.status, 0, r)
        self.assertRegex(r.out, r"\n region +\| QString +\|.*\| NO +\| NO\n")
        self.assertRegex(r.out, r"\n note +\| QString +\|.*\| YES +\| NO\n")
        self.assertIn("(3 rows)\nPrimary key: region, num\n", r.out)

    def test_describe_of_an_unknown_table_fails(self):
        r = self.sql("-e", "\\d nosuch")
        self.assertEqual(r.status, 1, r)
        self.assertIn('no table or view named "nosuch"', r.err)


class Setup(ShellTest):
    def test_the_connection_can_come_from_the_environment(self):
        r = rzsql("-e", "SELECT 7 AS seven", env={"RZSQL_DRIVER": "QSQLITE", "RZSQL_DATABASE": self.db})
        self.assertEqual(r.status, 0, r)
        self.assertIn("     7\n", r.out)

    def test_options_win_over_the_environment(self):
        r = rzsql("-d", self.db, "-e", "PRAGMA database_list", "--csv",
                  env={"RZSQL_DRIVER": "QSQLITE", "RZSQL_DATABASE": "/nonexistent/dir/x.sqlite"})
        self.assertEqual(r.status, 0, r)
        self.assertIn(self.db, r.out)

    def test_a_connection_that_fails_is_reported_with_status_2(self):
        r = rzsql("--driver", "QSQLITE", "-d", "/nonexistent/dir/x.sqlite", "-e", "SELECT 1")
        self.assertEqual(r.status, 2, r)
        self.assertIn("rzsql: cannot connect: ConnectionError\n", r.err)

    def test_an_unknown_driver_is_named_with_the_ones_available(self):
        r = rzsql("--driver", "NOSUCH", "-e", "SELECT 1")
        self.assertEqual(r.status, 2, r)
        self.assertRegex(r.err, r'"NOSUCH" cannot be loaded \(available: .*QSQLITE')

    def test_bad_arguments(self):
        self.assertEqual(rzsql("--no-such-option").status, 2)
        self.assertEqual(rzsql("-S", "host,notaport", "-e", "SELECT 1").status, 2)
        self.assertEqual(self.sql("-i", "/nonexistent/file.sql").status, 2)
        self.assertEqual(self.sql("-e", "\\frobnicate").status, 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
