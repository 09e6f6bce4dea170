"""Qt's QODBC driver on FreeTDS (the benchmarks' peer) against the server."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase  # noqa: E402

CHECK = os.environ.get('RZ_QODBC_CHECK', '')


@unittest.skipUnless(CHECK and os.path.exists(CHECK),
                     'RZ_QODBC_CHECK does not name the built qodbc_check program')
class QodbcTest(ServerTestCase):
    def test_forward_only_and_scrollable_queries(self):
        result = subprocess.run([CHECK, self.host], capture_output=True, timeout=60,
                                env=dict(os.environ, QT_QPA_PLATFORM='offscreen'))
        output = result.stdout.decode(errors='replace') + result.stderr.decode(errors='replace')
        self.assertEqual(0, result.returncode, output)
        self.assertIn('0 failure(s)', output)


if __name__ == '__main__':
    unittest.main()
