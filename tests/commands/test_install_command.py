"""End-to-end checks of `hopwell --headless kelv:install:...` against the platform simulator,
with the stand-in editing application (tools/standin) as InDesign and InCopy."""

import glob
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import BINARY_DIR, ClientFolders, HOPWELL, RunningSimulator  # noqa: E402


STANDIN = os.path.join(BINARY_DIR, "tools", "standin")
INSTALL = "kelv:install:http:%2F%2F127.0.0.1:18080%2Fapi%2Fv2%2Fext%2Fplugin%2Finstall_parameters"
PACKAGE_PATH = "/api/v2/ext/plugin/package/"
APP = "Adobe InDesign 2026"


class InstallCommandTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = RunningSimulator()
        cls.sim.start()

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()

    def setUp(self):
        self.sim.reset()
        self.folders = ClientFolders()
        self.root = self.folders.root
        self.appdata = self.folders.appdata
        self.packages = os.path.join(self.appdata, "Kelv", "plug-ins")
        self.env = self.folders.env(HOME=os.path.join(self.root, "home"),
                                    HOPWELL_STANDIN_RECORD=os.path.join(self.root, "standin.log"))
        self.standins = []
        self.clients = []

    def tearDown(self):
        # A client a failed check left running would still be writing into the folders.
        for process in self.standins + self.clients:
            if process.poll() is None:
                process.terminate()
            process.communicate(timeout=10)
        self.folders.cleanup()

    def install(self, command=INSTALL):
        return subprocess.run([HOPWELL, "--headless", command], env=self.env, capture_output=True,
                              text=True, timeout=120)

    def start_install(self, command):
        client = subprocess.Popen([HOPWELL, "--headless", command], env=self.env, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True)
        self.clients.append(client)
        return client

    @staticmethod
    def install_for(appversion, version):
        """The install command of one application version with its own package version."""
        return INSTALL + "?appversion=%s&pluginversion=%s" % (appversion, version)

    def registered(self, appversion):
        """Every folder that the PluginConfig files of an application version register."""
        folders = set()
        for path in glob.glob(os.path.join(self.appdata, "Adobe", "*", "Version " + appversion + "*", "*",
                                           "PluginConfig*.txt")):
            lines = self.read(path).decode().splitlines()
            section = None
            for line in lines:
                if line.startswith("="):
                    section = line
                elif section == "=Path":
                    folders.add(line.strip('"'))
        return folders

    def package(self, **settings):
        self.sim.control("/_sim/plugin_package", settings)

    def package_requests(self):
        return [r for r in self.sim.requests() if r["path"].startswith(PACKAGE_PATH)]

    def config_files(self):
        return sorted(glob.glob(os.path.join(self.appdata, "Adobe", "*", "Version 21.0*", "*",
                                             "PluginConfig*.txt")))

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def assert_registered(self, version):
        files = self.config_files()
        # 26 language folders in each of 3 edition roots of 2 applications, 2 files each.
        self.assertEqual(len(files), 26 * 3 * 2 * 2)
        folder = os.path.join(self.packages, version)
        for path in files:
            sub = "Win32" if path.endswith("PluginConfig32.txt") else "x64"
            self.assertEqual(self.read(path), b'=Path\r\n"' + os.path.join(folder, sub).encode() + b'"\r\n', path)
        self.assertEqual(self.read(os.path.join(self.packages, "21.0-Version.txt")), version.encode())

    def start_standin(self, name):
        record = os.path.join(self.root, name + ".log")
        process = subprocess.Popen([os.path.join(STANDIN, name), "--record", record, "--stay", "120"])
        self.standins.append(process)
        deadline = time.monotonic() + 10
        while not (os.path.exists(record) and self.read(record).endswith(b"\n")):
            self.assertLess(time.monotonic(), deadline, "stand-in did not start")
            time.sleep(0.01)
        return process

    def test_install_again_and_update(self):
        result = self.install()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assert_registered("2026.1.0")
        self.assertEqual(len(self.package_requests()), 1)
        for language in ("en_US", "ko_KR"):
            scripts = os.path.join(self.appdata, "Adobe", "InCopy", "Version 21.0-J", language, "Scripts", "Kelvory")
            self.assertTrue(os.path.isfile(os.path.join(scripts, "Kelvory Startup", "startup.jsx")))
            self.assertTrue(os.path.isfile(os.path.join(scripts, "readme.txt")))
        self.assertTrue(os.path.isfile(os.path.join(
            self.appdata, "Adobe", "CEP", "extensions", "com.kelvory.panel", "CSXS", "manifest.xml")))

        self.sim.control("/_sim/requests/clear", {})
        versions = os.path.join(self.packages, "21.0-Version.txt")
        os.utime(versions, (0, 0))
        result = self.install()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(self.package_requests(), [])
        self.assertEqual(os.stat(versions).st_mtime, 0)  # only the PluginConfig files are written

        self.package(version="2026.2.0")
        result = self.install()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assert_registered("2026.2.0")
        self.assertFalse(os.path.exists(os.path.join(self.packages, "2026.1.0")))

    def test_two_application_versions_move_one_after_the_other(self):
        steps = [("20.0", "2026.1.0"), ("21.0", "2026.1.0"), ("21.0", "2026.2.0"), ("20.0", "2026.1.0"),
                 ("20.0", "2026.2.0")]
        for appversion, version in steps:
            with self.subTest(appversion=appversion, version=version):
                result = self.install(self.install_for(appversion, version))
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertEqual(self.registered(appversion),
                                 {os.path.join(self.packages, version, sub) for sub in ("x64", "Win32")})
                for other in ("20.0", "21.0"):
                    for folder in self.registered(other):
                        self.assertTrue(os.listdir(folder), folder)
        # Named by no versions file any more; each package was fetched once.
        self.assertFalse(os.path.exists(os.path.join(self.packages, "2026.1.0")))
        self.assertEqual(len(self.package_requests()), 2)

    def test_a_slow_package_holds_back_only_installations_of_that_package(self):
        self.sim.add_scenario({"mode": "delay", "delay": 15, "path": PACKAGE_PATH + "2026.1.0.zip"})
        slow = self.start_install(self.install_for("20.0", "2026.1.0"))
        deadline = time.monotonic() + 30
        while not self.package_requests():
            self.assertLess(time.monotonic(), deadline, "the package was not requested")
            time.sleep(0.05)
        # The slow client holds its package's lock from before its request on: another
        # installation of that package waits, one of another package does not.
        same = self.start_install(self.install_for("19.0", "2026.1.0"))
        other = self.install(self.install_for("21.0", "2026.2.0"))
        self.assertEqual(other.returncode, 0, other.stdout)
        self.assertNotIn("Waiting for another installation", other.stdout)
        for client in (slow, same):
            output, _ = client.communicate(timeout=120)
            self.assertEqual(client.returncode, 0, output)
        self.assertIn("Waiting for another installation of the plug-ins...", output)
        self.assertEqual(len([r for r in self.package_requests() if r["path"].endswith("2026.1.0.zip")]), 1)

    def test_two_clients_at_once_download_once(self):
        clients = [subprocess.Popen([HOPWELL, "--headless", INSTALL], env=self.env, stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, text=True) for _ in range(2)]
        for client in clients:
            output, _ = client.communicate(timeout=120)
            self.assertEqual(client.returncode, 0, output)
        self.assertEqual(len(self.package_requests()), 1)
        self.assert_registered("2026.1.0")

    def test_running_applications_refuse_the_update(self):
        self.start_standin("InDesign.exe")
        result = self.install()
        self.assertEqual(result.returncode, 1)
        self.assertIn(APP + " is running. Quit " + APP + " and install the plug-ins again.", result.stdout)
        self.assertIn("[Kelvory Hopwell] " + APP + " (v 21) is running.", result.stdout)
        stopped = self.standins.pop()
        stopped.terminate()
        stopped.wait(timeout=10)

        self.start_standin("InCopy.exe")
        result = self.install()
        self.assertEqual(result.returncode, 1)
        self.assertIn("Adobe InCopy 2026 is running. Quit Adobe InCopy 2026 and install the plug-ins again.",
                      result.stdout)
        self.assertEqual(self.package_requests(), [])
        self.assertEqual(self.config_files(), [])

    def test_running_application_reached_through_a_link(self):
        os.makedirs(os.path.join(self.root, "links"))
        link = os.path.join(self.root, "links", "InDesign")
        os.symlink(os.path.join(STANDIN, "InDesign.exe"), link)
        self.start_standin("InDesign.exe")
        for path in (link, os.path.join(self.root, "links", ".", "InDesign"), STANDIN + "//InDesign.exe"):
            with self.subTest(path):
                self.sim.set_parameters("install", set={"appdefaultpath": path})
                result = self.install()
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(APP + " is running. Quit " + APP + " and install the plug-ins again.", result.stdout)
        self.assertEqual(self.package_requests(), [])

    def test_missing_application(self):
        self.sim.set_parameters("install", set={"appdefaultpath": "/nonexistent/InDesign.exe"})
        result = self.install()
        self.assertEqual(result.returncode, 1)
        self.assertIn("Unable to Locate " + APP, result.stdout)
        self.assertIn("[The Application is Missing] These plug-ins require " + APP + " (v 21), which is not "
                      "installed.", result.stdout)

    def test_package_failures_record_nothing(self):
        cases = [
            ("404", lambda: self.sim.add_scenario({"mode": "404", "path_prefix": PACKAGE_PATH})),
            ("not a zip", lambda: self.package(mode="not-zip")),
            ("wrong crc", lambda: self.package(crc="0x1234")),
        ]
        for name, arrange in cases:
            with self.subTest(name):
                self.sim.reset()
                arrange()
                result = self.install()
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn("Download of plug-ins for " + APP + " failed.", result.stdout)
                self.assertFalse(os.path.exists(os.path.join(self.packages, "21.0-Version.txt")))
                self.assertEqual(self.config_files(), [])

    def snapshot(self):
        """Every path under the test folder outside the package folder and the settings roots."""
        seen = set()
        for folder, dirs, files in os.walk(self.root):
            for name in dirs + files:
                path = os.path.join(folder, name)
                if path.startswith((self.packages, os.path.join(self.appdata, "Adobe"),
                                    os.path.join(self.root, "tmp"))):
                    continue
                seen.add(path)
        return seen

    def test_hostile_documents_stay_inside(self):
        os.makedirs(os.path.join(self.root, "outside", "sub"))
        os.makedirs(os.path.join(self.appdata, "Kelv", "keep"))
        os.makedirs(self.packages)
        before = self.snapshot()
        hostile = [
            {"appversion": "../../../../outside"},
            {"appversion": "/abs"},
            {"pluginversion": "../keep"},
            {"pluginurl": "http://127.0.0.1:18080" + PACKAGE_PATH + "...zip"},
        ]
        for change in hostile:
            with self.subTest(change):
                self.sim.set_parameters("install", set=change)
                result = self.install()
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn("Download of plug-ins for " + APP + " failed.", result.stdout)
        self.sim.set_parameters("install", set={})
        with open(os.path.join(self.packages, "21.0-Version.txt"), "w") as f:
            f.write("../..")
        result = self.install()
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertEqual(self.snapshot(), before)

    def test_own_plugin_config_files(self):
        en_us = os.path.join(self.appdata, "Adobe", "InDesign", "Version 21.0", "en_US")
        os.makedirs(en_us)
        x64 = os.path.join(self.packages, "2026.1.0", "x64")
        with open(os.path.join(en_us, "PluginConfig.txt"), "wb") as f:
            f.write(b"\xef\xbb\xbfstray line\n=Path\r\n\"/Other/Plugins\"\n\n\"" + x64.upper().encode() +
                    b"\"\r\n=Exclude\n\"/x.pln\"\n")
        result = self.install()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(self.read(os.path.join(en_us, "PluginConfig.txt")),
                         b'=Exclude\r\n"/x.pln"\r\n=Path\r\n"/Other/Plugins"\r\n"' + x64.upper().encode() + b'"\r\n')
        # Only en_US is there, so the root holds no default language folders.
        self.assertFalse(os.path.exists(os.path.join(os.path.dirname(en_us), "de_DE")))


if __name__ == "__main__":
    unittest.main()
