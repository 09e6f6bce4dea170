"""Qt's QODBC and QTDS drivers on FreeTDS (the benchmarks' peers) against the server."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import ServerTestCase  # noqa: E402

CHECK = os.environ.get('RZ_QT_DRIVER_CHECK', '')


@unittest.skipUnless(CHECK, 'RZ_QT_DRIVER_CHECK is not set (CTest sets it to rz_testserver_qt_driver_check)')
class QtDriversTest(ServerTestCase):
    def run_check(self, driver):
        self.assertTrue(os.path.exists(CHECK), 'build the target rz_testserver_qt_driver_check first: %s' % CHECK)
        result = subprocess.run([CHECK, self.host, driver], capture_output=True, timeout=60)
        output = result.stdout.decode(errors='replace') + result.stderr.decode(errors='replace')
        self.assertEqual(0, result.returncode, output)
        self.assertIn('0 failure(s)', output)

    def test_qodbc_forward_only_and_scrollable(self):
        self.run_check('QODBC')

    def test_qtds(self):
        self.run_check('QTDS')


if __name__ == '__main__':
    unittest.main()
