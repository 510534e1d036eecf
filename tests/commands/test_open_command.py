"""End-to-end check of `hopwell --headless kelv:open:...` against the platform simulator and
the stand-in editing application the chapter's parameter document names."""

import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import ClientFolders, HOPWELL, RunningSimulator  # noqa: E402


class OpenCommandTest(unittest.TestCase):
    def setUp(self):
        self.folders = ClientFolders()
        self.tmp = self.folders.tmp
        self.record = os.path.join(self.folders.root, "standin.log")
        self.env = self.folders.env(HOPWELL_STANDIN_RECORD=self.record)

    def tearDown(self):
        self.folders.cleanup()

    def test_open_from_the_command_line_starts_the_application_on_the_document(self):
        # The parameter address with encoded slashes (a port is read up to the first plain "/").
        argument = "kelv:open:http:%2F%2F127.0.0.1:18080/chapters%2Fch-9:tok-9"
        with RunningSimulator() as sim:
            result = subprocess.run([HOPWELL, "--headless", argument], env=self.env,
                                    capture_output=True, text=True, timeout=120)
            paths = [r["path"] for r in sim.requests()]
            tokens = {r["path"]: dict((k.lower(), v) for k, v in r["headers"]).get("x-api-token")
                      for r in sim.requests()}
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("/chapters/ch-9/api/v2/ext/chapter/download_parameters", paths)
        self.assertIn("/api/v2/ext/chapter/lock/ch-9", paths)
        self.assertNotIn("/api/v2/ext/chapter/unlock/ch-9", paths)
        self.assertEqual(tokens["/api/v2/ext/chapter/ch-9/files/chapter.zip"], "tok-9")

        document = os.path.join(self.tmp, "Kelv", "space-1", "ch-9", "Chapter ch-9_v3.indd")
        self.assertTrue(os.path.isfile(document))
        deadline = time.monotonic() + 20
        line = ""
        while time.monotonic() < deadline and not line.endswith("\n"):
            if os.path.exists(self.record):
                with open(self.record, encoding="utf-8") as f:
                    line = f.read()
            time.sleep(0.05)
        self.assertEqual(line.split("\t")[1:], [document + "\n"])


if __name__ == "__main__":
    unittest.main()
