"""SIGTERM and SIGINT end the client in an orderly way: the log is flushed and complete, the
relay socket is removed, and the exit status tells the signal."""

import glob
import os
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import HOPWELL, ClientFolders, RunningSimulator, wait_for  # noqa: E402


class TerminationTest(unittest.TestCase):
    def setUp(self):
        self.folders = ClientFolders()
        self.runtime = self.folders.runtime
        self.dump = os.path.join(self.folders.root, "jobs.txt")
        self.env = self.folders.env(QT_QPA_PLATFORM="offscreen", HOPWELL_JOB_DUMP=self.dump)

    def tearDown(self):
        self.folders.cleanup()

    def log_text(self):
        return self.folders.log_text()

    def test_sigterm_ends_the_desktop_client_without_asking(self):
        client = subprocess.Popen([HOPWELL, "kelv:unknown"], env=self.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_for(lambda: os.path.exists(self.dump)), "the client never started")
            self.assertTrue(glob.glob(os.path.join(self.runtime, "*.sock")))
            client.send_signal(signal.SIGTERM)
            self.assertEqual(client.wait(timeout=20), -signal.SIGTERM)
        finally:
            if client.poll() is None:
                client.kill()
                client.wait()
        log = self.log_text()
        for line in ("Kelvory Hopwell version", "ProcessCommand kelv:unknown",
                     "Received signal 15", "Shutting down..."):
            self.assertIn(line, log)
        self.assertEqual(glob.glob(os.path.join(self.runtime, "*.sock")), [], "socket removed")

    def test_sigint_ends_a_headless_run_with_its_log_flushed(self):
        with RunningSimulator() as simulator:
            simulator.add_scenario({"mode": "delay", "delay": 30})
            run = subprocess.Popen([HOPWELL, "--headless", "kelv:test"], env=self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            try:
                self.assertIn("Verifying installation", run.stdout.readline())
                run.send_signal(signal.SIGINT)
                self.assertEqual(run.wait(timeout=20), -signal.SIGINT)
            finally:
                if run.poll() is None:
                    run.kill()
                    run.wait()
                run.stdout.close()
        log = self.log_text()
        self.assertIn("ProcessCommand kelv:test", log)
        self.assertIn("Shutting down on signal 2...", log)


if __name__ == "__main__":
    unittest.main()
