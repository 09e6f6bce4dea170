"""Running rzsql as a process for the tests: the binary, a local test server,
and a tmux terminal for the interactive prompt."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE_ROOT, "tools", "testserver", "tests"))
import support  # noqa: E402  the test server's own launcher
RZSQL = os.environ.get("RZSQL_BINARY", os.path.join(SOURCE_ROOT, "build", "bin", "rzsql"))
LOGIN, PASSWORD = "sa", "Secret123"
# A second login whose password needs braces in an ODBC connection string.
ODD_LOGIN, ODD_PASSWORD = "odd", "Se;cret=1 x"


def clean_environment(extra=None):
    """The child's environment without anything that would choose a driver,
    a server or a plug-in folder behind the test's back."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("RZSQL_") and k != "QT_PLUGIN_PATH"}
    env["LC_ALL"] = "C.UTF-8"
    env.update(extra or {})
    return env


class Run:
    def __init__(self, completed, seconds):
        self.status = completed.returncode
        self.out = completed.stdout
        self.err = completed.stderr
        self.seconds = seconds

    def __repr__(self):
        return "status %d\n--- stdout\n%s--- stderr\n%s" % (self.status, self.out, self.err)


def rzsql(*args, stdin="", env=None, timeout=120):
    started = time.monotonic()
    completed = subprocess.run([RZSQL, *args], input=stdin, capture_output=True, text=True,
                               env=clean_environment(env), timeout=timeout)
    return Run(completed, time.monotonic() - started)


class TestServer:
    """rz-testserver on the given loopback addresses, or the server named by
    RZ_TEST_HOST (then nothing is started)."""

    def __init__(self, *addresses, extra=()):
        self.external = bool(os.environ.get("RZ_TEST_HOST"))
        self.host = os.environ["RZ_TEST_HOST"] if self.external else addresses[0]
        self.database = os.environ.get("RZ_TEST_DATABASE", "testdb")
        self.user = os.environ.get("RZ_TEST_USER", LOGIN)
        self.password = os.environ.get("RZ_TEST_PASSWORD", PASSWORD)
        self.server = None
        if not self.external:
            self.server = support.TestServer(
                *addresses, extra=["--login", "%s:%s" % (ODD_LOGIN, ODD_PASSWORD), *extra])

    def connection(self, host=None):
        return ["-S", host or self.host, "-d", self.database, "-U", self.user, "-P", self.password]

    def stop(self):
        if self.server:
            self.server.stop()


class Terminal:
    """rzsql in a tmux window, typed at like a person would. The tmux server
    is a private one, started with the test's clean environment."""

    count = 0

    def __init__(self, args, env=None):
        if not shutil.which("tmux"):
            raise unittest.SkipTest("tmux is not installed")
        Terminal.count += 1
        self.socket = "rzsql-test-%d-%d" % (os.getpid(), Terminal.count)
        self.env = clean_environment(env)
        command = " ".join(_quote(a) for a in [RZSQL, *args]) + "; echo EXIT-STATUS $?; sleep 60"
        self._tmux("new-session", "-d", "-s", "rzsql", "-x", "150", "-y", "50", command)

    def _tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket, *args], env=self.env,
                              capture_output=True, text=True, check=True).stdout

    def type(self, *keys):
        # tmux reads an argument ending in ';' as the end of its command.
        keys = [k[:-1] + "\\;" if k.endswith(";") else k for k in keys]
        self._tmux("send-keys", "-t", "rzsql", *keys)

    def screen(self):
        return self._tmux("capture-pane", "-p", "-t", "rzsql")

    def wait_for(self, predicate, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            text = self.screen()
            if predicate(text):
                return text
            time.sleep(0.1)
        raise AssertionError("the terminal never showed what was expected:\n" + self.screen())

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)
        directory = os.environ.get("TMUX_TMPDIR", "/tmp")
        path = os.path.join(directory, "tmux-%d" % os.getuid(), self.socket)
        if os.path.exists(path):
            os.unlink(path)


def _quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def temporary_directory(test):
    path = tempfile.mkdtemp(prefix="rzsql-test-")
    test.addCleanup(shutil.rmtree, path, True)
    return path
