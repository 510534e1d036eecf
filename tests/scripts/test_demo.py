"""The README's demo, run as a user runs it (on the client this build made): every job ends
well, the simulator confirms both uploaded archives byte for byte, and the stand-in tagger is
started on the report."""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import BINARY_DIR, SOURCE_DIR, client_env  # noqa: E402


class DemoTest(unittest.TestCase):
    def test_demo_runs_every_job_end_to_end(self):
        with tempfile.TemporaryDirectory() as home:
            # The demo's simulator makes its CA in the user's data folder, where the client
            # looks by default: a private one keeps the real user's folder out of it.
            env = client_env(HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
                             XDG_CONFIG_HOME=os.path.join(home, "config"),
                             XDG_CACHE_HOME=os.path.join(home, "cache"),
                             HOPWELL_BINARY_DIR=BINARY_DIR, TERM="dumb")
            env.pop("TMPDIR", None)
            env.pop("APPDATA", None)
            result = subprocess.run([os.path.join(SOURCE_DIR, "scripts", "demo"), "--no-setup",
                                     "--no-build"], cwd=SOURCE_DIR, env=env, capture_output=True,
                                    text=True, timeout=280)
        output = result.stdout + result.stderr
        self.assertEqual(result.returncode, 0, output)
        # Each job's end line (the headless summary: the job's description alone on its line),
        # in the demo's order, with what the simulator and the stand-ins confirmed.
        expected = [
            "\nInstallation verified successfully\n",
            "\nInstallation completed\n",
            "\nSuccessfully downloaded chapter Chapter tpv-1\n",
            "\nSuccessfully uploaded document Chapter tpv-1_v3\n",
            "stand-in: kelv:save:tpv-1 ended with exit code 0",
            "simulator: check-in CHECKIN_FILES_SUCCESS",
            "\nSuccessfully downloaded ESEF AnnualReport2025\n",
            "stand-in tagger started with: -DocumentName=",
            "demo: every job succeeded",
        ]
        position = 0
        for text in expected:
            found = output.find(text, position)
            self.assertGreaterEqual(found, 0, "%r missing (in order) from:\n%s" % (text, output))
            position = found + len(text) - 1
        self.assertEqual(output.count("confirmed byte for byte"), 2, output)
        self.assertNotIn("NOT confirmed", output)


if __name__ == "__main__":
    unittest.main()
