"""End-to-end checks of `hopwell --headless`: exit codes, output, command files, log files."""

import os
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import HOPWELL, ClientFolders  # noqa: E402

LINE_FORMAT = re.compile(
    r"^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6} \[0x[0-9a-f]{8}\]: "
    r"<(trace|debug|info|warning|error|fatal)> .*$"
)


class HeadlessTest(unittest.TestCase):
    def setUp(self):
        self.folders = ClientFolders()
        self.tmp = self.folders.tmp
        self.env = self.folders.env()

    def tearDown(self):
        self.folders.cleanup()

    def run_headless(self, *commands):
        return subprocess.run(
            [HOPWELL, "--headless", *commands],
            env=self.env, capture_output=True, text=True, timeout=60,
        )

    def log_folder(self):
        return self.folders.log_folder

    def test_unknown_command_fails(self):
        result = self.run_headless("kelv:Save")
        self.assertEqual(result.returncode, 1)
        lines = result.stdout.splitlines()
        self.assertEqual(lines[-2:], ["Invalid action kind", "Error: Can't handle kelv:Save."])

    def test_empty_command_is_reported(self):
        result = self.run_headless('""')
        self.assertEqual(result.returncode, 1)
        self.assertIn("Nothing to do, command string is empty.", result.stdout)

    def test_usage_errors(self):
        self.assertEqual(subprocess.run([HOPWELL, "--headless"], env=self.env,
                                        capture_output=True).returncode, 2)
        self.assertEqual(subprocess.run([HOPWELL, "--bogus"], env=self.env,
                                        capture_output=True).returncode, 2)

    def test_command_file_is_read_and_deleted(self):
        path = os.path.join(self.folders.root, "cmd.txt")
        with open(path, "w") as f:
            f.write("kelv:\ntest\n")
        result = self.run_headless(path)
        # Whatever the test command's outcome here, the file named kelv:test.
        self.assertRegex(result.stdout, r"Verifying installation|Can't handle kelv:test\.")
        self.assertFalse(os.path.exists(path))

    def test_file_without_command_stays(self):
        path = os.path.join(self.folders.root, "notes.txt")
        with open(path, "w") as f:
            f.write("hello\n")
        result = self.run_headless(path)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Error: The KelvProtocolHandler could not execute the command: " + path,
                      result.stdout)
        self.assertTrue(os.path.exists(path))

    def test_several_commands_one_summary_line_each(self):
        result = self.run_headless("kelv:a", "kelv:b", "kelv:c")
        self.assertEqual(result.returncode, 1)
        errors = [l for l in result.stdout.splitlines() if l.startswith("Error: ")]
        self.assertEqual(errors, ["Error: Can't handle kelv:a.", "Error: Can't handle kelv:b.",
                                  "Error: Can't handle kelv:c."])

    def test_log_files_are_numbered_and_formatted(self):
        self.run_headless("kelv:Save")
        self.run_headless("kelv:Save")
        names = sorted(os.listdir(self.log_folder()))
        self.assertEqual(names, ["Hopwell_00000.log", "Hopwell_00001.log"])
        with open(os.path.join(self.log_folder(), names[0])) as f:
            lines = f.read().splitlines()
        self.assertTrue(lines)
        for line in lines:
            self.assertRegex(line, LINE_FORMAT)
        self.assertTrue(any("<info> Kelvory Hopwell version 1.7.1.0 " in l for l in lines))
        self.assertTrue(any("<warning>   No Command for kelv:Save" in l for l in lines))
        self.assertFalse(any("<debug>" in l or "<trace>" in l for l in lines))
        version = next(l for l in lines if "Kelvory Hopwell version" in l)
        self.assertRegex(version, r"version 1\.7\.1\.0 [0-9a-f]{40}$")

    def test_counter_continues_after_highest_file(self):
        os.makedirs(self.log_folder())
        for n in (0, 7):
            open(os.path.join(self.log_folder(), "Hopwell_%05d.log" % n), "w").close()
        self.run_headless("kelv:Save")
        self.assertIn("Hopwell_00008.log", os.listdir(self.log_folder()))

    def test_old_files_are_removed_at_start(self):
        os.makedirs(self.log_folder())
        old = os.path.join(self.log_folder(), "crash.dmp")
        recent = os.path.join(self.log_folder(), "notes.txt")
        for path, age_days in ((old, 4), (recent, 2)):
            open(path, "w").close()
            stamp = time.time() - age_days * 86400
            os.utime(path, (stamp, stamp))
        result = self.run_headless("kelv:Save")
        self.assertFalse(os.path.exists(old))
        self.assertTrue(os.path.exists(recent))
        # The clean-up runs before the log file exists: its lines reach no terminal either.
        self.assertNotIn("Deleting", result.stdout + result.stderr)

    def test_folders_and_files_are_private(self):
        self.run_headless("kelv:Save")
        kelv = os.path.join(self.tmp, "Kelv")
        for folder in (kelv, self.log_folder(), os.path.join(self.folders.root, "app", "Kelv")):
            self.assertEqual(os.stat(folder).st_mode & 0o777, 0o700, folder)
        log = os.path.join(self.log_folder(), "Hopwell_00000.log")
        self.assertEqual(os.stat(log).st_mode & 0o777, 0o600)

    def test_unusable_temp_root_is_refused_with_its_path(self):
        kelv = os.path.join(self.tmp, "Kelv")
        cases = [("a file", lambda: open(kelv, "w").close(), "it is not a folder")]
        if os.getuid() == 0:
            # A shared TMPDIR holding another user's folder.
            cases.append(("another user's", lambda: (os.mkdir(kelv), os.chown(kelv, 65534, 65534)),
                          "it belongs to another user"))
        for label, arrange, why in cases:
            with self.subTest(label):
                arrange()
                result = self.run_headless("kelv:Save")
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, "")
                self.assertEqual(result.stderr,
                                 'hopwell: Hopwell cannot use the folder "%s": %s\n' % (kelv, why))
                self.assertEqual(os.listdir(self.tmp), ["Kelv"])
                os.remove(kelv) if os.path.isfile(kelv) else os.rmdir(kelv)


if __name__ == "__main__":
    unittest.main()
