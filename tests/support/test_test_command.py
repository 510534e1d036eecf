"""End-to-end checks of `hopwell --headless kelv:test` against the platform simulator."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import HOPWELL, ClientFolders, RunningSimulator  # noqa: E402

TEST_URL = "https://127.0.0.1:18443/login/index.html"


class TestCommandTest(unittest.TestCase):
    def setUp(self):
        self.folders = ClientFolders()
        self.tmp = self.folders.tmp
        self.env = self.folders.env()

    def tearDown(self):
        self.folders.cleanup()

    def run_test_command(self, *args):
        return subprocess.run([HOPWELL, "--headless", "kelv:test", *args], env=self.env,
                              capture_output=True, text=True, timeout=60)

    def log_text(self):
        text = self.folders.log_text()
        self.assertTrue(text, "no log file written")
        return text

    def test_succeeds_against_the_simulator(self):
        with RunningSimulator() as sim:
            result = self.run_test_command()
            requests = sim.requests()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Verifying installation", result.stdout)
        self.assertNotIn("FAILED", result.stdout)
        self.assertEqual(len(requests), 1)
        request = requests[0]
        self.assertEqual((request["scheme"], request["method"], request["path"]),
                         ("https", "GET", "/login/index.html"))
        head = bytes.fromhex(request["raw_head_hex"]).decode("latin-1")
        self.assertIn("\r\nX-Test:asdf\r\n", head)
        params = dict(request["query_params"])
        self.assertEqual(params["hwversion"], "1.7.1")
        self.assertEqual(params["os"], "linux")
        log = self.log_text()
        self.assertIn("Successfully established internet connection to " + TEST_URL, log)
        self.assertIn("TestCmd ran successfully", log)
        self.assertNotIn("Did not escape string correctly", log)

    def test_argument_is_ignored_and_error_status_still_succeeds(self):
        with RunningSimulator("--scenario", "500") as sim:
            result = subprocess.run([HOPWELL, "--headless", "kelv:test:whatever"], env=self.env,
                                    capture_output=True, text=True, timeout=60)
            statuses = [r["status"] for r in sim.requests()]
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(statuses, [500])

    def test_fails_without_a_server(self):
        result = self.run_test_command()
        self.assertEqual(result.returncode, 1)
        self.assertIn("Could not establish internet connection", result.stdout)
        log = self.log_text()
        self.assertIn("<error> Could not access test url " + TEST_URL, log)
        self.assertNotIn("TestCmd ran successfully", log)


if __name__ == "__main__":
    unittest.main()
