"""Runs a GUI test program once on a real X display (Xvfb with openbox) instead of the
offscreen platform: run_under_x11.py PROGRAM [ARGS...]"""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "common"))
from x11session import X11Session, check_tools  # noqa: E402


class UnderX11(unittest.TestCase):
    def test_program(self):
        check_tools(self)
        with X11Session() as session:
            result = subprocess.run(sys.argv[1:], env=session.env(), timeout=600)
        self.assertEqual(result.returncode, 0)


if __name__ == "__main__":
    suite = unittest.TestLoader().loadTestsFromTestCase(UnderX11)
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
