"""End-to-end checks of `hopwell --headless kelv:esef:...` against the platform simulator."""

import io
import json
import os
import subprocess
import sys
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "common"))
from script_test import ClientFolders, HOPWELL, RunningSimulator  # noqa: E402
from hopwell_sim.endpoints import esef  # noqa: E402

COMMAND = "kelv:esef:http://127.0.0.1:18080/esef/reports/2025:tok42"
PACKAGE_PATH = "/esef/tagger/"


class EsefCommandTest(unittest.TestCase):
    def setUp(self):
        self.folders = ClientFolders()
        self.tmp = self.folders.tmp
        self.launches = os.path.join(self.folders.root, "launches.jsonl")
        self.env = self.folders.env(HOPWELL_TAGGER_LOG=self.launches)

    def tearDown(self):
        self.folders.cleanup()

    def run_client(self, *commands):
        return subprocess.run([HOPWELL, "--headless", *commands], env=self.env,
                              capture_output=True, text=True, timeout=120)

    def wait_for_launches(self, count):
        """The stand-in tagger's records; it runs on its own, so wait (up to 20 s)."""
        deadline = time.monotonic() + 20
        while True:
            lines = []
            if os.path.exists(self.launches):
                with open(self.launches, encoding="utf-8") as f:
                    lines = [json.loads(line) for line in f if line.endswith("\n")]
            if len(lines) >= count or time.monotonic() > deadline:
                return lines
            time.sleep(0.05)

    def assert_tagger_whole(self):
        tagger = os.path.join(self.tmp, "Kelv", "tagger")
        with zipfile.ZipFile(io.BytesIO(esef.tagger_package())) as package:
            for info in package.infolist():
                with open(os.path.join(tagger, info.filename), "rb") as f:
                    self.assertEqual(f.read(), package.read(info), info.filename)
        self.assertTrue(os.access(os.path.join(tagger, esef.TAGGER_PROGRAM), os.X_OK))

    def test_installs_once_and_opens_the_report(self):
        with RunningSimulator() as sim:
            first = self.run_client(COMMAND)
            second = self.run_client(COMMAND)
            requests = sim.requests()
        self.assertEqual(first.returncode, 0, first.stdout + first.stderr)
        self.assertEqual(second.returncode, 0, second.stdout + second.stderr)
        self.assertIn("Successfully downloaded ESEF AnnualReport2025", first.stdout)
        # The front end may merge quick changes; the steps' own values are checked by the
        # command's tests.
        self.assertIn("[  5%] Downloading ESEF Parameters", first.stdout)
        self.assertIn("[100%]", first.stdout)
        self.assertEqual(sum(r["path"].startswith(PACKAGE_PATH) for r in requests), 1)
        self.assert_tagger_whole()
        cache = os.path.join(self.folders.root, "app", "AMANAConsulting", "XBRLCache")
        self.assertTrue(os.path.isfile(os.path.join(cache, "esma", "2024", "esef_taxonomy.xsd")))

        launches = self.wait_for_launches(2)
        self.assertEqual(len(launches), 2)
        folders = set()
        for launch in launches:
            self.assertEqual(len(launch["argv"]), 1)
            argument = launch["argv"][0]
            self.assertTrue(argument.startswith('-DocumentName="') and argument.endswith('"'))
            document = argument[len('-DocumentName="'):-1]
            folder = os.path.dirname(document)
            folders.add(folder)
            self.assertEqual(os.path.basename(document), "report.pdf")
            self.assertEqual(sorted(os.listdir(folder)), ["AnnualReport2025.zip", "readme.txt",
                                                          "report.pdf", "report.pdf.mapping"])
        self.assertEqual(len(folders), 2, "each run has a fresh work folder")

    def test_two_commands_at_once_install_once(self):
        with RunningSimulator() as sim:
            # The package answers late, so the second command arrives during the download.
            sim.add_scenario({"mode": "delay", "delay": 3, "path_prefix": PACKAGE_PATH})
            result = self.run_client(COMMAND, COMMAND)
            requests = sim.requests()
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertEqual(result.stdout.count("Successfully downloaded ESEF AnnualReport2025\n"), 1)
        # Refused before the installer (the step's own failure) or by it (the installer's
        # message, then the installation failure): either way the flag was seen.
        self.assertIn("Kelvory XBRL Tagger is currently installing.", result.stdout)
        self.assertEqual(result.stdout.count("\nError: "), 1)
        self.assertEqual(sum(r["path"].startswith(PACKAGE_PATH) for r in requests), 1)
        self.assert_tagger_whole()
        self.assertEqual(len(self.wait_for_launches(1)), 1)


if __name__ == "__main__":
    unittest.main()
