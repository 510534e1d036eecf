"""End-to-end checks of the resident client's single instance: relays from later launches,
recovery after a crash, simultaneous launches, and start-up without a display.

Runs the real executable on Qt's offscreen platform. The client writes its job list to the
file named by HOPWELL_JOB_DUMP (one line per job: state, description, last message), which
is how these tests see what the running instance did.
"""

import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import HOPWELL, ClientFolders, RunningSimulator, wait_for  # noqa: E402

SUCCEEDED = "3"


class SingleInstanceTest(unittest.TestCase):
    simulator = None

    @classmethod
    def setUpClass(cls):
        # Takes the simulator ports lock, so test programs of other runs take turns.
        cls.simulator = RunningSimulator()
        cls.simulator.start()

    @classmethod
    def tearDownClass(cls):
        cls.simulator.stop()

    def setUp(self):
        self.folders = ClientFolders()
        self.runtime = self.folders.runtime
        self.dump = os.path.join(self.folders.root, "jobs.txt")
        self.env = self.folders.env(QT_QPA_PLATFORM="offscreen", HOPWELL_JOB_DUMP=self.dump)
        self.processes = []

    def tearDown(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=10)
            process.stderr.close()
        self.folders.cleanup()

    # --- helpers -------------------------------------------------------------------------

    def start(self, *args):
        # stderr goes to a file: a pipe nobody reads could fill up and stall the client.
        log = open(os.path.join(self.folders.root, "stderr-%d.txt" % len(self.processes)), "w+")
        process = subprocess.Popen([HOPWELL, *args], env=self.env, stdout=subprocess.DEVNULL,
                                   stderr=log)
        process.stderr = log
        self.processes.append(process)
        return process

    def start_first(self, *args):
        """Starts the resident client and waits until it reports its (empty) job list."""
        process = self.start(*args)
        self.assertTrue(wait_for(lambda: os.path.exists(self.dump) or process.poll() is not None),
                        "the first instance never wrote its job list")
        if process.poll() is not None:
            self.fail("the first instance ended with %d: %r" % (process.returncode, open(process.stderr.name).read()))
        return process

    def launch(self, *args, timeout=15):
        return subprocess.run([HOPWELL, *args], env=self.env, capture_output=True, text=True,
                              timeout=timeout)

    def jobs(self):
        try:
            with open(self.dump, encoding="utf-8") as f:
                return [line.rstrip("\n").split("\t") for line in f if line.strip()]
        except FileNotFoundError:
            return []

    # --- tests -----------------------------------------------------------------------------

    def test_second_launch_relays_and_the_first_verifies(self):
        first = self.start_first()
        self.assertEqual(self.jobs(), [], "no command line, no job")
        started = time.monotonic()
        second = self.launch("kelv:test")
        self.assertEqual(second.returncode, 0, second.stderr)
        self.assertLess(time.monotonic() - started, 5, "the second launch returns at once")
        finished = wait_for(lambda: [j for j in self.jobs() if j[0] == SUCCEEDED], timeout=30)
        self.assertTrue(finished, "jobs: %r" % self.jobs())
        self.assertEqual(finished[0][1], "Installation verified successfully")
        self.assertIsNone(first.poll(), "the first instance keeps running")

    def test_relay_size_limit(self):
        self.start_first()
        at_limit = "kelv:x:" + "a" * (4195 - len("kelv:x:"))
        over_limit = "kelv:y:" + "b" * (4196 - len("kelv:y:"))
        self.assertEqual(len(at_limit.encode()), 4195)
        self.assertEqual(self.launch(at_limit).returncode, 0)
        self.assertEqual(self.launch(over_limit).returncode, 0)
        self.assertEqual(self.launch().returncode, 0)
        self.assertTrue(wait_for(lambda: len(self.jobs()) == 1))
        time.sleep(0.3)  # nothing else may arrive
        jobs = self.jobs()
        self.assertEqual(len(jobs), 1, jobs)
        self.assertIn("kelv:x:aaa", jobs[0][2])

    def test_relative_command_file_is_found_by_the_running_instance(self):
        self.start_first()
        elsewhere = os.path.join(self.folders.root, "elsewhere")
        os.makedirs(elsewhere)
        with open(os.path.join(elsewhere, "cmd.txt"), "w") as f:
            f.write("kelv:fromfile\n")
        second = subprocess.run([os.path.abspath(HOPWELL), "cmd.txt"], env=self.env, cwd=elsewhere,
                                capture_output=True, text=True, timeout=15)
        self.assertEqual(second.returncode, 0, second.stderr)
        self.assertTrue(wait_for(lambda: len(self.jobs()) == 1))
        self.assertEqual(self.jobs()[0][2], "Can't handle kelv:fromfile.")
        self.assertFalse(os.path.exists(os.path.join(elsewhere, "cmd.txt")), "deleted once dispatched")

    def test_killed_instance_does_not_block_the_next(self):
        first = self.start_first()
        first.send_signal(signal.SIGKILL)
        first.wait(timeout=10)
        os.remove(self.dump)
        # The lock file and the socket are still there; the next launch takes over.
        self.assertTrue(os.listdir(self.runtime))
        replacement = self.start_first("kelv:after")
        self.assertTrue(wait_for(lambda: len(self.jobs()) == 1))
        self.assertEqual(self.launch("kelv:relayed").returncode, 0)
        self.assertTrue(wait_for(lambda: len(self.jobs()) == 2), self.jobs())
        self.assertIsNone(replacement.poll())

    def test_twenty_simultaneous_launches_leave_one_instance_and_twenty_jobs(self):
        launches = [self.start("kelv:test") for _ in range(20)]
        self.assertTrue(wait_for(lambda: sum(p.poll() is not None for p in launches) >= 19, timeout=60),
                        "launches still running: %d" % sum(p.poll() is None for p in launches))
        time.sleep(0.5)
        running = [p for p in launches if p.poll() is None]
        ended = [p for p in launches if p.poll() is not None]
        self.assertEqual(len(running), 1, "exactly one resident instance")
        self.assertEqual([p.returncode for p in ended], [0] * 19)
        self.assertTrue(wait_for(lambda: len(self.jobs()) == 20, timeout=30), "jobs: %d" % len(self.jobs()))
        verify = {"Verifying installation", "Installation verified successfully",
                  "Verifying installation FAILED"}
        self.assertEqual([j for j in self.jobs() if j[1] not in verify], [], "every job is a kelv:test")

    def test_fallback_folder_open_to_others_is_named_as_the_problem(self):
        env = {k: v for k, v in self.env.items() if k != "XDG_RUNTIME_DIR"}
        folder = os.path.join(env["TMPDIR"], "hopwell-%d" % os.getuid())
        os.makedirs(folder)
        os.chmod(folder, 0o755)
        result = subprocess.run([HOPWELL, "kelv:test"], env=env, capture_output=True, text=True,
                                timeout=15)
        self.assertEqual(result.returncode, 1)
        self.assertIn(folder + " is open to other users (mode 0755, needs 0700)", result.stderr)
        self.assertNotIn("could not reach the running instance", result.stderr)

    def test_without_a_display_points_to_headless(self):
        env = {k: v for k, v in self.env.items() if k not in ("QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY")}
        result = subprocess.run([HOPWELL], env=env, capture_output=True, text=True, timeout=15)
        self.assertEqual(result.returncode, 2)
        self.assertIn("--headless", result.stderr)
        # It did not stay as the running instance: the next launch can take over.
        self.start_first()


if __name__ == "__main__":
    unittest.main()
