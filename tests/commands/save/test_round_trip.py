"""The round trip through the headless binary: install the plug-ins, open a chapter, and let
the stand-in editing application play the plug-in's "Save to Server", which starts the
save; the simulator confirms both archives and the working folder is gone."""

import json
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "common"))
from script_test import ClientFolders, HOPWELL, RunningSimulator  # noqa: E402


class RoundTripTest(unittest.TestCase):
    def setUp(self):
        self.folders = ClientFolders()
        self.record = os.path.join(self.folders.root, "standin.log")
        self.env = self.folders.env(HOPWELL_STANDIN_RECORD=self.record,
                                    HOPWELL_STANDIN_SAVE=HOPWELL + " --headless")

    def tearDown(self):
        self.folders.cleanup()

    def hopwell(self, command):
        result = subprocess.run([HOPWELL, "--headless", command], env=self.env,
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, command + "\n" + result.stdout + result.stderr)

    def saved(self, deadline):
        while time.monotonic() < deadline:
            if os.path.exists(self.record):
                with open(self.record) as f:
                    for line in f:
                        fields = line.rstrip("\n").split("\t")
                        if len(fields) == 4 and fields[1] == "save":
                            return fields[2:]
            time.sleep(0.05)
        return None

    def test_install_open_edit_save(self):
        with RunningSimulator() as sim:
            install = sim.http_base + "/api/v2/ext/plugin/install_parameters"
            self.hopwell("kelv:install:" + install.replace("/", "%2F"))
            self.hopwell("kelv:open:%s:tok-1" % sim.http_base)
            saved = self.saved(time.monotonic() + 90)
            checkins = json.loads(sim.control("/_sim/checkins"))
        self.assertEqual(saved, ["tpv-1", "0"])
        self.assertEqual(len(checkins), 1)
        self.assertEqual(checkins[0]["result"], {"status": "CHECKIN_FILES_SUCCESS"})
        archives = checkins[0]["archives"]
        self.assertEqual([a["confirmed"] for a in archives], [True, True])
        self.assertIn("Chapter tpv-1_v3.indd", archives[0]["entries"])
        self.assertIn("photo0.jpg", archives[0]["entries"])
        self.assertTrue(archives[1]["entries"][0].endswith(".pdf"))
        kelv = os.path.join(self.env["TMPDIR"], "Kelv")
        self.assertFalse(os.path.exists(os.path.join(kelv, "space-1", "tpv-1")))
        self.assertEqual(os.listdir(os.path.join(kelv, "upload")), [])


if __name__ == "__main__":
    unittest.main()
