"""End-to-end checks of crash handling: a command thread that faults (the test builds' hook
HOPWELL_TEST_FAULT) leaves one crash record in the log folder, the helper adds a symbolised
backtrace and prints the message, and the process ends by the signal."""

import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import HOPWELL, ClientFolders  # noqa: E402

MESSAGE = ("Kelvory Hopwell encountered a problem and had to quit.\n\n"
           "Please send the folder '{folder}' to support@kelvory.example.")


class CrashTest(unittest.TestCase):
    def setUp(self):
        self.folders = ClientFolders()
        self.logs = self.folders.log_folder

    def tearDown(self):
        self.folders.cleanup()

    def test_fault_on_a_command_thread(self):
        # The desktop client on the offscreen platform prints the message: no box can be seen.
        for front_end, kind, signum, name in [
                (["--headless"], "segv", signal.SIGSEGV, "SIGSEGV"),
                (["--headless"], "abort", signal.SIGABRT, "SIGABRT"),
                ([], "segv", signal.SIGSEGV, "SIGSEGV")]:
            with self.subTest(front_end=front_end, kind=kind):
                for old in glob.glob(os.path.join(self.logs, "*.dmp")):
                    os.remove(old)
                env = self.folders.env(QT_QPA_PLATFORM="offscreen", HOPWELL_TEST_FAULT=kind)
                result = subprocess.run([HOPWELL, *front_end, "kelv:test"], env=env,
                                        capture_output=True, text=True, timeout=120)
                self.assertEqual(result.returncode, -signum, result.stderr)
                self.assertIn(MESSAGE.format(folder=self.logs), result.stderr)

                records = glob.glob(os.path.join(self.logs, "Hopwell_*.dmp"))
                self.assertEqual(len(records), 1, os.listdir(self.logs))
                self.assertRegex(os.path.basename(records[0]), r"^Hopwell_\d{8}_\d{6}\.dmp$")
                with open(records[0]) as f:
                    record = f.read()
                self.assertIn("Signal: %d (%s)" % (signum, name), record)
                thread = re.search(r"^Thread: 0x([0-9a-f]{8})$", record, re.M)
                process = re.search(r"^Process: (\d+)$", record, re.M)
                self.assertTrue(thread and process, record[:400])
                self.assertNotEqual(int(thread.group(1), 16), int(process.group(1)),
                                    "the fault is on a command thread, not the main thread")
                self.assertRegex(record, r"(?m)^[0-9a-f]+-[0-9a-f]+ r-xp .*hopwell$")
                backtrace = record[record.index("Backtrace:"):]
                self.assertRegex(backtrace, r"FaultOnCommandThread\(char const\*\)[^\n]* at [^\n]*TestFault\.cpp:\d+")
                # The records logged before the fault, milliseconds earlier, are in the log.
                with open(sorted(glob.glob(os.path.join(self.logs, "Hopwell_*.log")))[-1]) as f:
                    log = f.read()
                self.assertIn("]: <info> Kelvory Hopwell version ", log)
                self.assertIn("]: <info> ProcessCommand kelv:test\n", log)

    def test_helper_starts_when_the_program_file_is_gone(self):
        # A package upgrade removes or replaces the program file while the client runs: the
        # helper is still this program. The client waits on a command file (a FIFO) while the
        # copy it was started from is deleted.
        copy = os.path.join(self.folders.root, "hopwell-before-upgrade")
        shutil.copy2(HOPWELL, copy)
        fifo = os.path.join(self.folders.root, "command")
        os.mkfifo(fifo)
        env = self.folders.env(HOPWELL_TEST_FAULT="segv")
        process = subprocess.Popen([copy, "--headless", fifo], env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        os.remove(copy)
        with open(fifo, "w") as f:
            f.write("kelv:test\n")
        _, stderr = process.communicate(timeout=120)
        self.assertEqual(process.returncode, -signal.SIGSEGV, stderr)
        self.assertIn(MESSAGE.format(folder=self.logs), stderr)


    def test_stripped_client_names_functions_from_its_separate_debug_file(self):
        # As the package is made: the debug data apart, the client stripped with a debug link
        # to it (the package's hopwell-dbgsym puts the file where the build id finds it).
        if shutil.which("objcopy") is None:
            self.skipTest("objcopy is missing")
        folder = os.path.join(self.folders.root, "bin")
        os.makedirs(os.path.join(folder, ".debug"))
        stripped = os.path.join(folder, "hopwell")
        debug = os.path.join(folder, ".debug", "hopwell.debug")
        subprocess.run(["objcopy", "--only-keep-debug", HOPWELL, debug], check=True)
        subprocess.run(["objcopy", "--strip-unneeded", HOPWELL, stripped], check=True)
        subprocess.run(["objcopy", "--add-gnu-debuglink=" + debug, stripped], check=True)
        env = self.folders.env(HOPWELL_TEST_FAULT="segv")
        for with_debug in (True, False):
            with self.subTest(with_debug=with_debug):
                if not with_debug:
                    os.rename(debug, debug + ".away")
                for old in glob.glob(os.path.join(self.logs, "*.dmp")):
                    os.remove(old)
                result = subprocess.run([stripped, "--headless", "kelv:test"], env=env,
                                        capture_output=True, text=True, timeout=120)
                self.assertEqual(result.returncode, -signal.SIGSEGV, result.stderr)
                records = glob.glob(os.path.join(self.logs, "Hopwell_*.dmp"))
                self.assertEqual(len(records), 1, os.listdir(self.logs))
                with open(records[0]) as f:
                    backtrace = f.read().split("Backtrace:", 1)[1]
                faulting = r"FaultOnCommandThread\(char const\*\)[^\n]* at [^\n]*TestFault\.cpp:\d+"
                if with_debug:
                    self.assertRegex(backtrace, faulting)
                else:
                    # No guessed names after the nearest exported symbol: the frames say so.
                    self.assertNotIn("FaultOnCommandThread", backtrace)
                    self.assertIn(" ?? (%s)" % stripped, backtrace)
                    for line in backtrace.splitlines():
                        if line.endswith("(%s)" % stripped):
                            self.assertRegex(line, r"^#\d+ 0x[0-9a-f]+ \?\? \(")


if __name__ == "__main__":
    unittest.main()
