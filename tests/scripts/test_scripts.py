"""Standing checks on the tracked files: no merge left its conflict markers behind, and every
shell script parses (bash -n) and passes shellcheck at warning level."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import SOURCE_DIR, require_tools  # noqa: E402

# Built from pieces so that this file does not hold a marker itself.
MARKER = re.compile(r"^(%s|%s|%s)( |$)" % ("<" * 7, "=" * 7, ">" * 7), re.MULTILINE)
SCRIPT_FOLDERS = ("scripts", "bench", ".ci")


def tracked_files():
    result = subprocess.run(["git", "-C", SOURCE_DIR, "ls-files", "-z"], capture_output=True,
                            timeout=60)
    if result.returncode != 0:
        return None
    return [name for name in result.stdout.decode().split("\0") if name]


def is_shell_script(path):
    if path.endswith(".sh"):
        return True
    with open(path, "rb") as f:
        head = f.read(200)
    return re.match(rb"#!\s*/(usr/)?bin/(env\s+)?(ba)?sh\b", head) is not None or \
        b"# shellcheck shell=" in head


class TrackedFilesTest(unittest.TestCase):
    def setUp(self):
        self.files = tracked_files()
        if self.files is None:
            self.skipTest("not a git checkout")

    def shell_scripts(self):
        scripts = []
        for name in self.files:
            path = os.path.join(SOURCE_DIR, name)
            if name.split("/")[0] in SCRIPT_FOLDERS and os.path.isfile(path) and is_shell_script(path):
                scripts.append(path)
        return scripts

    def test_no_conflict_markers(self):
        found = []
        for name in self.files:
            path = os.path.join(SOURCE_DIR, name)
            if not os.path.isfile(path) or os.path.islink(path):
                continue
            with open(path, "rb") as f:
                text = f.read().decode("utf-8", "replace")
            for match in MARKER.finditer(text):
                found.append("%s:%d" % (name, text.count("\n", 0, match.start()) + 1))
        self.assertEqual(found, [], "conflict markers left by a merge")

    def test_shell_scripts_parse_and_pass_shellcheck(self):
        scripts = self.shell_scripts()
        self.assertIn(os.path.join(SOURCE_DIR, "scripts", "demo"), scripts)
        for script in scripts:
            result = subprocess.run(["bash", "-n", script], capture_output=True, text=True, timeout=30)
            self.assertEqual(result.returncode, 0, result.stderr)
        require_tools(self, "shellcheck")
        result = subprocess.run(["shellcheck", "-S", "warning", "-x"] + scripts, cwd=SOURCE_DIR,
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)


if __name__ == "__main__":
    unittest.main()
