"""The resident client on a real X display (Xvfb with openbox, no tray): the main window
maps, a second launch adds a row, minimising keeps the window reachable, and a launch
without a command (with the startup id a launcher gives) brings it back to the front,
active."""

import os
import re
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import HOPWELL, ClientFolders, resident_client, wait_for  # noqa: E402
from x11session import X11Session, check_tools  # noqa: E402


class X11ClientTest(unittest.TestCase):
    def test_window_relays_minimise_and_raise(self):
        check_tools(self)
        folders = ClientFolders()
        self.addCleanup(folders.cleanup)
        root = folders.root
        with X11Session() as session:
            dump = os.path.join(root, "jobs.txt")
            env = session.env(folders.env(HOPWELL_JOB_DUMP=dump))

            def x(*args):
                return subprocess.run(list(args), env=env, capture_output=True, text=True).stdout

            def window_state(window):
                match = re.search(r"window state: (\w+)", x("xprop", "-id", window, "WM_STATE"))
                return match.group(1) if match else "Withdrawn"

            def active_window():
                match = re.search(r"window id # (0x[0-9a-f]+)", x("xprop", "-root", "_NET_ACTIVE_WINDOW"))
                return int(match.group(1), 16) if match else 0

            def jobs():
                try:
                    with open(dump) as f:
                        return [line for line in f if line.strip()]
                except FileNotFoundError:
                    return None

            with resident_client(env, root) as client:
                found = wait_for(lambda: x("xdotool", "search", "--onlyvisible", "--name",
                                           r"^Kelvory Hopwell \(").split())
                self.assertTrue(found, "the main window never mapped")
                window = found[0]
                self.assertEqual(window_state(window), "Normal")
                self.assertTrue(wait_for(lambda: jobs() == []))

                second = subprocess.run([HOPWELL, "kelv:second"], env=env, capture_output=True,
                                        text=True, timeout=30)
                self.assertEqual(second.returncode, 0, second.stderr)
                self.assertTrue(wait_for(lambda: len(jobs() or []) == 1), jobs())

                x("xdotool", "windowminimize", window)
                self.assertTrue(wait_for(lambda: window_state(window) == "Iconic"),
                                "without a tray a minimised window stays iconic, not withdrawn: "
                                + window_state(window))
                time.sleep(0.3)  # the client must not withdraw it a moment later
                self.assertEqual(window_state(window), "Iconic")

                # As a launcher starts it: with a startup id, whose time the activation carries.
                startup = dict(env, DESKTOP_STARTUP_ID="launcher-1-host-hopwell-0_TIME%d"
                               % (int(time.monotonic() * 1000) & 0xFFFFFFFF))
                bare = subprocess.run([HOPWELL], env=startup, capture_output=True, text=True,
                                      timeout=30)
                self.assertEqual(bare.returncode, 0, bare.stderr)
                self.assertTrue(wait_for(lambda: window_state(window) == "Normal"))
                self.assertTrue(wait_for(lambda: active_window() == int(window)),
                                "the window is active again")
                self.assertEqual(len(jobs()), 1, "a bare launch adds no job")

                client.send_signal(signal.SIGTERM)
                self.assertEqual(client.wait(timeout=20), -signal.SIGTERM)


if __name__ == "__main__":
    unittest.main()
