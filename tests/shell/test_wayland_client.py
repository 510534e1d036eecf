"""The resident client on a headless sway with Qt's Wayland plugin, and a launch where no
window system can be used."""

import glob
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import (HOPWELL, ClientFolders, RunningSimulator, resident_client,  # noqa: E402
                         wait_for)
from waylandsession import PrivateBus, SwaySession, check_tools  # noqa: E402

INSTALL = "kelv:install:http:%2F%2F127.0.0.1:18080%2Fapi%2Fv2%2Fext%2Fplugin%2Finstall_parameters"


class WaylandClientTest(unittest.TestCase):
    def setUp(self):
        check_tools(self)
        self.folders = ClientFolders()
        self.addCleanup(self.folders.cleanup)
        self.dump = os.path.join(self.folders.root, "jobs.txt")

    def jobs(self):
        if os.path.exists(self.dump):
            with open(self.dump) as f:
                return [line for line in f if line.strip()]

    def launch(self, env, *args, token=None):
        env = dict(env, XDG_ACTIVATION_TOKEN=token) if token else env
        result = subprocess.run([HOPWELL, *args], env=env, capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_without_a_window_system_the_command_runs_without_a_window(self):
        with PrivateBus() as bus:
            env = self.folders.env(QT_QPA_PLATFORM="wayland", DBUS_SESSION_BUS_ADDRESS=bus.address,
                                   WAYLAND_DISPLAY=os.path.join(self.folders.root, "nothing"))
            env.pop("DISPLAY", None)
            result = subprocess.run([HOPWELL, "kelv:bogus"], env=env, capture_output=True, text=True,
                                    timeout=60)
            self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
            self.assertIn("hopwell: no window can be shown: no display could be opened "
                          "(platforms tried: wayland).\nhopwell: running kelv:bogus without a "
                          "window.\n", result.stderr)
            self.assertIn("Error: Can't handle kelv:bogus.", result.stdout)
            self.assertTrue(wait_for(bus.notifications, 5))
            self.assertEqual(bus.notifications()[0][1], "Can't handle kelv:bogus.")
        self.assertEqual(glob.glob(os.path.join(self.folders.log_folder, "*.dmp")), [])

    def test_client_on_sway(self):
        with RunningSimulator() as sim, PrivateBus() as bus, SwaySession() as sway:
            env = sway.env(self.folders.env(HOPWELL_JOB_DUMP=self.dump,
                                            DBUS_SESSION_BUS_ADDRESS=bus.address))
            with resident_client(env, self.folders.root) as client:
                def window(title):
                    return next((w for w in sway.windows() if w["name"].startswith(title)), None)

                def main():
                    return window("Kelvory Hopwell (")

                self.assertTrue(wait_for(main), "the main window never mapped")
                self.assertEqual((main()["app_id"], main()["workspace"]), ("hopwell", "1"))
                self.assertTrue(wait_for(lambda: self.jobs() == []))

                # The user looks elsewhere; a launcher starts the client with a token.
                def brought_forward():
                    return main()["focused"] or main()["urgent"]

                def look_elsewhere():
                    sway.msg("workspace", "1")
                    self.assertTrue(wait_for(lambda: not main()["urgent"], 10), "seen")
                    sway.msg("workspace", "2")
                    self.assertFalse(brought_forward())

                for args, jobs in (["kelv:test"], 1), ([], 1):
                    with self.subTest(args=args):
                        look_elsewhere()
                        self.launch(env, *args, token=sway.activation_token())
                        self.assertTrue(wait_for(lambda: len(self.jobs() or []) == jobs), self.jobs())
                        self.assertTrue(wait_for(brought_forward, 10), main())

                # A job that ends while the user looks elsewhere is notified. (A launch without a
                # token leaves the window where it is.)
                look_elsewhere()
                self.launch(env, "kelv:test")
                self.assertTrue(wait_for(lambda: len(self.jobs() or []) == 2), self.jobs())
                self.assertTrue(wait_for(lambda: bus.notifications(), 10))
                self.assertFalse(brought_forward())
                self.assertEqual(bus.notifications()[0][0], "Installation verified successfully")

                # A command's dialog floats at its own size over the main window's workspace.
                sway.msg("workspace", "1")
                sim.set_parameters("install", set={"appdefaultpath": "/nonexistent/InDesign.exe"})
                self.launch(env, INSTALL)

                def dialog():
                    return window("The Application is Missing")

                self.assertTrue(wait_for(dialog), sway.windows())
                self.assertTrue(dialog()["floating"], dialog())
                self.assertLess(dialog()["rect"]["height"], 400, dialog())
                sway.msg('[title="The Application is Missing"]', "kill")
                self.assertTrue(wait_for(lambda: dialog() is None))
                self.assertTrue(wait_for(lambda: len(self.jobs() or []) == 3), self.jobs())
                client.terminate()
                client.wait(timeout=20)


if __name__ == "__main__":
    unittest.main()
