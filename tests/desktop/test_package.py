"""The Debian package made by CPack from this build: its files, its computed dependencies,
its maintainer scripts and the stripped client with its -dbgsym package, read back with
dpkg-deb. (scripts/package also runs lintian on them.)"""

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
                                   "-B", out], capture_output=True, text=True, timeout=280)
            self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
            debs = [f for f in os.listdir(out) if f.endswith(".deb")]
            ddebs = [f for f in os.listdir(out) if f.endswith(".ddeb")]
            self.assertEqual((len(debs), len(ddebs)), (1, 1), os.listdir(out))
            deb = os.path.join(out, debs[0])
            ddeb = os.path.join(out, ddebs[0])

            listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True).stdout
            files = {line.split()[-1] for line in listing.splitlines()}
            expected = {"./usr/bin/hopwell", "./usr/share/applications/hopwell.desktop",
                        "./usr/share/metainfo/com.kelvory.hopwell.metainfo.xml",
                        "./usr/share/man/man1/hopwell.1.gz",
                        "./usr/share/doc/hopwell/copyright", "./usr/share/doc/hopwell/changelog.gz"}
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
            for library in ("libqt6widgets6", "libboost-filesystem1.74.0", "libcurl4", "libc6"):
                self.assertIn(library, depends, fields["Depends"])

            control = os.path.join(out, "control")
            subprocess.run(["dpkg-deb", "-e", deb, control], check=True)
            with open(os.path.join(control, "postinst")) as f:
                postinst = f.read()
            self.assertIn("update-desktop-database", postinst)
            self.assertIn("update-mime-database", postinst)
            self.assertTrue(os.access(os.path.join(control, "postrm"), os.X_OK))

            # The client is stripped; its debug data sits in the -dbgsym package under the
            # build id, where addr2line looks for it.
            tree = os.path.join(out, "tree")
            subprocess.run(["dpkg-deb", "-x", deb, tree], check=True)
            subprocess.run(["dpkg-deb", "-x", ddeb, tree], check=True)
            client = os.path.join(tree, "usr", "bin", "hopwell")
            sections = subprocess.run(["readelf", "-SW", client], capture_output=True,
                                      text=True).stdout
            self.assertNotIn(".symtab", sections)
            self.assertNotIn(".debug_info", sections)
            notes = subprocess.run(["readelf", "-n", client], capture_output=True, text=True).stdout
            build_id = re.search(r"Build ID: ([0-9a-f]+)", notes).group(1)
            debug = os.path.join(tree, "usr", "lib", "debug", ".build-id", build_id[:2],
                                 build_id[2:] + ".debug")
            self.assertTrue(os.path.isfile(debug), os.listdir(os.path.dirname(debug)))
            self.assertEqual(subprocess.run(["dpkg-deb", "-f", ddeb, "Package"], capture_output=True,
                                            text=True).stdout.strip(), "hopwell-dbgsym")


if __name__ == "__main__":
    unittest.main()
