"""The desktop integration: the desktop entry validates, `cmake --install` plus
scripts/install-desktop put the client, the entry and the icons in place and register the
"kelv:" scheme, and `xdg-open "kelv:test"` then reaches the client with exactly that command.
Runs in private XDG folders."""

import glob
import os
import re
import signal
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import BINARY_DIR, SOURCE_DIR, wait_for  # noqa: E402
from script_test import require_tools as require  # noqa: E402

ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", header[16:24])


class DesktopInstallTest(unittest.TestCase):
    def test_desktop_entry_validates(self):
        require(self, "desktop-file-validate")
        result = subprocess.run(["desktop-file-validate",
                                 os.path.join(SOURCE_DIR, "desktop", "hopwell.desktop")],
                                capture_output=True, text=True)
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))

    def test_install_registers_the_kelv_scheme(self):
        require(self, "xdg-mime", "xdg-open", "update-desktop-database")
        with tempfile.TemporaryDirectory() as root:
            prefix = os.path.join(root, "prefix")
            runtime = os.path.join(root, "run")
            os.makedirs(runtime, mode=0o700)
            env = {k: v for k, v in os.environ.items()
                   if not k.startswith(("XDG_", "KDE_", "GNOME_", "DESKTOP_SESSION"))}
            env.update(HOME=root, XDG_DATA_HOME=os.path.join(prefix, "share"),
                       XDG_CONFIG_HOME=os.path.join(root, "config"), XDG_DATA_DIRS="/nonexistent",
                       XDG_RUNTIME_DIR=runtime, TMPDIR=os.path.join(root, "tmp"),
                       APPDATA=os.path.join(root, "app"), BUILD=BINARY_DIR,
                       PATH=os.path.join(prefix, "bin") + ":" + os.environ["PATH"],
                       QT_QPA_PLATFORM="offscreen", DISPLAY=":97",
                       HOPWELL_JOB_DUMP=os.path.join(root, "jobs.txt"))
            os.makedirs(env["TMPDIR"])
            install = subprocess.run([os.path.join(SOURCE_DIR, "scripts", "install-desktop"), prefix],
                                     env=env, capture_output=True, text=True, timeout=120)
            self.assertEqual(install.returncode, 0, install.stderr)

            self.assertTrue(os.access(os.path.join(prefix, "bin", "hopwell"), os.X_OK))
            self.assertTrue(os.path.isfile(os.path.join(prefix, "share", "applications", "hopwell.desktop")))
            for size in ICON_SIZES:
                icon = os.path.join(prefix, "share", "icons", "hicolor", "%dx%d" % (size, size),
                                    "apps", "hopwell.png")
                self.assertEqual(png_size(icon), (size, size))
            query = subprocess.run(["xdg-mime", "query", "default", "x-scheme-handler/kelv"],
                                   env=env, capture_output=True, text=True)
            self.assertEqual(query.stdout.strip(), "hopwell.desktop")

            # The running client takes what the browser's launch relays.
            client = subprocess.Popen(["hopwell"], env=env, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
            try:
                self.assertTrue(wait_for(lambda: os.path.exists(env["HOPWELL_JOB_DUMP"])))
                opened = subprocess.run(["xdg-open", "kelv:test"], env=env, capture_output=True,
                                        text=True, timeout=60)
                self.assertEqual(opened.returncode, 0, opened.stderr)
                self.assertTrue(wait_for(lambda: read(env["HOPWELL_JOB_DUMP"]).strip()))
                client.send_signal(signal.SIGTERM)
                client.wait(timeout=20)
            finally:
                if client.poll() is None:
                    client.kill()
                    client.wait()
            log = "".join(read(p) for p in glob.glob(
                os.path.join(env["TMPDIR"], "Kelv", "Hopwell", "*.log")))
            self.assertEqual(re.findall(r"<info> ProcessCommand (.*)$", log, re.M), ["kelv:test"])


if __name__ == "__main__":
    unittest.main()
