"""The Debian package made by CPack from this build: its files, its computed dependencies
and its maintainer scripts, read back with dpkg-deb."""

import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import BINARY_DIR, require_tools  # noqa: E402


class PackageTest(unittest.TestCase):
    def test_package_contents_and_dependencies(self):
        require_tools(self, "cpack", "dpkg-deb", "dpkg-shlibdeps")
        with tempfile.TemporaryDirectory() as out:
            made = subprocess.run(["cpack", "--config", os.path.join(BINARY_DIR, "CPackConfig.cmake"),
                                   "-B", out], capture_output=True, text=True, timeout=240)
            self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
            debs = [f for f in os.listdir(out) if f.endswith(".deb")]
            self.assertEqual(len(debs), 1, os.listdir(out))
            deb = os.path.join(out, debs[0])

            listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True).stdout
            files = {line.split()[-1] for line in listing.splitlines()}
            expected = {"./usr/bin/hopwell", "./usr/share/applications/hopwell.desktop"}
            expected |= {"./usr/share/icons/hicolor/%dx%d/apps/hopwell.png" % (s, s)
                         for s in (16, 22, 24, 32, 48, 64, 128, 256)}
            self.assertEqual(expected - files, set())
            self.assertEqual({f for f in files if not f.endswith("/")} - expected, set(),
                             "nothing else is packaged")

            fields = {name: subprocess.run(["dpkg-deb", "-f", deb, name], capture_output=True,
                                           text=True).stdout.strip()
                      for name in ("Package", "Version", "Depends")}
            self.assertEqual(fields["Package"], "hopwell")
            self.assertEqual(fields["Version"], "1.7.1")
            depends = {re.split(r"[ (]", d.strip())[0] for d in fields["Depends"].split(",")}
            for library in ("libqt6widgets6", "libboost-log1.74.0", "libcurl4", "libc6"):
                self.assertIn(library, depends, fields["Depends"])

            control = os.path.join(out, "control")
            subprocess.run(["dpkg-deb", "-e", deb, control], check=True)
            with open(os.path.join(control, "postinst")) as f:
                postinst = f.read()
            self.assertIn("update-desktop-database", postinst)
            self.assertIn("update-mime-database", postinst)
            self.assertTrue(os.access(os.path.join(control, "postrm"), os.X_OK))


if __name__ == "__main__":
    unittest.main()
