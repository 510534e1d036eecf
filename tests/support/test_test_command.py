"""End-to-end checks of `hopwell --headless kelv:test` against the platform simulator."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import HOPWELL, ClientFolders, RunningSimulator, client_env  # noqa: E402
from hopwell_sim.testing import USER_CA_DIR  # noqa: E402

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

    def test_trusts_the_simulator_ca_at_its_default_place_or_the_named_file(self):
        # As installed from the package: no option, the simulator started without --ca-dir.
        data = os.path.join(self.folders.root, "data")
        other = os.path.join(self.folders.root, "other")
        ca_file = os.path.join(data, "Kelv", "simulator-ca", "ca.pem")
        sim_env = client_env(XDG_DATA_HOME=data)
        cases = [("default place", dict(XDG_DATA_HOME=data), 0, None),
                 ("HOPWELL_CA_FILE", dict(XDG_DATA_HOME=other, HOPWELL_CA_FILE=ca_file), 0, None),
                 ("neither", dict(XDG_DATA_HOME=other), 1, "SSL certificate problem: ")]
        with RunningSimulator(ca_dir=USER_CA_DIR, env=sim_env):
            self.assertTrue(os.path.isfile(ca_file))
            self.assertEqual(os.stat(os.path.dirname(os.path.dirname(ca_file))).st_mode & 0o777, 0o700)
            for name, change, code, error in cases:
                with self.subTest(name):
                    self.env.pop("HOPWELL_CA_FILE", None)
                    self.env.update(change)
                    result = self.run_test_command()
                    self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                    if error:
                        self.assertIn("Error: Could not establish internet connection\n",
                                      result.stdout)
                        self.assertIn("    " + error, self.log_text())

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
