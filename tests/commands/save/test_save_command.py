"""`hopwell --headless kelv:save:...` against the platform simulator, over HTTPS: the "save"
row of intake runs the save command, whose archive the simulator confirms."""

import hashlib
import io
import json
import os
import subprocess
import sys
import unittest
import urllib.request
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "common"))
from script_test import ClientFolders, HOPWELL, RunningSimulator  # noqa: E402


class SaveCommandTest(unittest.TestCase):
    def setUp(self):
        self.folders = ClientFolders()
        self.env = self.folders.env()
        self.kelv = os.path.join(self.env["TMPDIR"], "Kelv")
        self.working = os.path.join(self.kelv, "space", "12")
        os.makedirs(os.path.join(self.working, "Links"))
        for name, data in (("chapter.indd", os.urandom(300000)), ("Links/a.png", b"png")):
            with open(os.path.join(self.working, name), "wb") as f:
                f.write(data)

    def tearDown(self):
        self.folders.cleanup()

    def write_request(self, base_url):
        files = "".join('<File Type="%s" Name="%s" Path="%s" Size="%d"/>'
                        % (kind, name, os.path.join(self.working, name),
                           os.path.getsize(os.path.join(self.working, name)))
                        for kind, name in (("INDD", "chapter.indd"), ("LINK", "Links/a.png")))
        upload = os.path.join(self.kelv, "upload", "7")
        os.makedirs(upload)
        with open(os.path.join(upload, "cgu_7.xml"), "w") as f:
            f.write('<?xml version="1.0"?><Save version="1"><IDS>space</IDS><TPVID>12</TPVID>'
                    "<Token>tok</Token><URL>%s</URL><WorkingFolderName>12</WorkingFolderName>"
                    "<UploadFilesList><Archive>%s</Archive></UploadFilesList></Save>" % (base_url, files))

    def test_save_is_confirmed_and_the_working_folder_goes(self):
        with RunningSimulator() as sim:
            self.write_request(sim.https_base)
            result = subprocess.run([HOPWELL, "--headless", "kelv:save:7:key"], env=self.env,
                                    capture_output=True, text=True, timeout=120)
            checkins = json.loads(sim.control("/_sim/checkins"))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(len(checkins), 1)
        self.assertEqual(checkins[0]["result"]["status"], "CHECKIN_FILES_SUCCESS")
        self.assertEqual(checkins[0]["archives"][0]["entries"], ["chapter.indd", "Links/a.png"])
        self.assertFalse(os.path.exists(os.path.join(self.kelv, "space")))

    def test_checkin_switch_that_does_not_compare_the_entries(self):
        # The real platform checks what arrived (size, CRC-32, a valid zip), not whether it
        # holds every listed file; the fault-injection test needs a simulator that does the same.
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w") as archive:
            archive.writestr("a.txt", b"alpha")
        data = buffer.getvalue()
        listed = {"archives": [{"name": "cgu_9_0.zip", "size": str(len(data)),
                                "crc32": "%X" % (zlib.crc32(data) & 0xFFFFFFFF),
                                "files": [{"typeKey": "T", "archivepath": name, "size": "5"}
                                          for name in ("a.txt", "b.txt")]}]}
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))

        def post(sim, path, body):
            request = urllib.request.Request(sim.http_base + path, data=body, method="POST",
                                             headers={"X-API-Token": "tok"})
            with opener.open(request, timeout=10) as answer:
                return json.loads(answer.read())

        with RunningSimulator() as sim:
            results = []
            for switches in ({}, {"check_entries": False}):
                sim.reset()
                sim.control("/_sim/save", switches)
                post(sim, "/api/v2/ext/upload?n=cgu_9_0_1.zip", data)
                results.append(post(sim, "/api/v2/ext/checkin", json.dumps(listed).encode())["status"])
            record = json.loads(sim.control("/_sim/checkins"))[0]["archives"][0]
        self.assertEqual(results, ["CHECKIN_FILES_FAILED", "CHECKIN_FILES_SUCCESS"])
        self.assertEqual(record["sha256"], {"a.txt": hashlib.sha256(b"alpha").hexdigest()})


if __name__ == "__main__":
    unittest.main()
