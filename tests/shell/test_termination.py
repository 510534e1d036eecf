"""SIGTERM and SIGINT end the client in an orderly way: the log is flushed and complete, the
relay socket is removed, and the exit status tells the signal."""

import glob
import json
import os
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import HOPWELL, ClientFolders, RunningSimulator, wait_for  # noqa: E402


def ended(process):
    """Stops a client that a failed check left running, and closes its output pipe."""
    if process.poll() is None:
        process.kill()
        process.wait()
    if process.stdout is not None:
        process.stdout.close()


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
            ended(client)
        log = self.log_text()
        for line in ("Kelvory Hopwell version", "ProcessCommand kelv:unknown",
                     "Received signal 15", "Shutting down..."):
            self.assertIn(line, log)
        self.assertEqual(glob.glob(os.path.join(self.runtime, "*.sock")), [], "socket removed")

    def test_first_sigint_cancels_a_headless_run_and_the_second_ends_it(self):
        with RunningSimulator() as simulator:
            simulator.add_scenario({"mode": "delay", "delay": 30})
            run = subprocess.Popen([HOPWELL, "--headless", "kelv:test"], env=self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            try:
                self.assertIn("Verifying installation", run.stdout.readline())
                run.send_signal(signal.SIGINT)
                self.assertEqual(run.wait(timeout=20), 1)
                output = run.stdout.read()
            finally:
                ended(run)
        self.assertIn("Verifying installation Cancelled\n", output)
        log = self.log_text()
        self.assertIn("ProcessCommand kelv:test", log)
        self.assertIn("Cancelling every job on signal 2...", log)
        self.assertNotIn("Shutting down on signal", log)

    def open_chapter_headless(self, simulator, *rules):
        """A headless open whose chapter archive arrives slowly, once its download began."""
        simulator.control("/_sim/chapter", {"archive_bytes": 4000000})
        simulator.add_scenario({"mode": "slow", "chunk": 32768, "delay": 0.05,
                                "path": "/api/v2/ext/chapter/tpv-1/files/chapter.zip"})
        for rule in rules:
            simulator.add_scenario(rule)
        env = {k: v for k, v in self.env.items() if k != "HOPWELL_JOB_DUMP"}
        run = subprocess.Popen([HOPWELL, "--headless", "kelv:open:http://127.0.0.1:18080:tok-1"],
                               env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               text=True)
        archive = os.path.join(self.folders.temp_root, "space-1", "tpv-1", "chapter.zip.part")
        self.assertTrue(wait_for(lambda: os.path.exists(archive) and os.path.getsize(archive) > 0,
                                 timeout=60), "the download never began")
        return run, archive

    def test_sigterm_during_a_headless_open_releases_the_chapter(self):
        with RunningSimulator() as simulator:
            run, archive = self.open_chapter_headless(simulator)
            try:
                run.send_signal(signal.SIGTERM)
                self.assertEqual(run.wait(timeout=20), 1)
                output = run.stdout.read()
            finally:
                ended(run)
            locks = json.loads(simulator.control("/_sim/chapter/locks"))
        self.assertIn("Download of chapter Chapter tpv-1 Cancelled\n", output)
        self.assertEqual(locks["unlocks"], {"tpv-1": 1})
        self.assertEqual(locks["holders"], {})
        self.assertFalse(os.path.exists(archive))

    def test_second_signal_ends_a_run_whose_cancel_hangs(self):
        # The unlock that a cancelled open sends never gets its answer.
        with RunningSimulator() as simulator:
            run, _ = self.open_chapter_headless(
                simulator, {"mode": "delay", "delay": 60, "path": "/api/v2/ext/chapter/unlock/tpv-1"})
            try:
                run.send_signal(signal.SIGINT)
                # The simulator has released the lock and holds back its answer.
                self.assertTrue(wait_for(lambda: json.loads(simulator.control(
                    "/_sim/chapter/locks"))["unlocks"].get("tpv-1") == 1))
                run.send_signal(signal.SIGINT)
                self.assertEqual(run.wait(timeout=20), -signal.SIGINT)
            finally:
                ended(run)
        log = self.log_text()
        self.assertIn("Cancelling every job on signal 2...", log)
        self.assertIn("Shutting down on signal 2...", log)


if __name__ == "__main__":
    unittest.main()
