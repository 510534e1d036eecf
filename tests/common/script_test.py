"""What the script tests share: where the checkout, the build and the client are, the platform
simulator's test module, and private per-user folders for each run of the client.

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
    from script_test import HOPWELL, ClientFolders, RunningSimulator  # noqa: E402
"""
import contextlib
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time

from client_env import client_env  # noqa: F401  (re-exported)

COMMON_DIR = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.environ.get("HOPWELL_SOURCE_DIR") or os.path.normpath(os.path.join(COMMON_DIR, "..", ".."))
BINARY_DIR = os.environ.get("HOPWELL_BINARY_DIR") or os.path.join(SOURCE_DIR, "build", "default")
HOPWELL = os.environ.get("HOPWELL_BIN") or os.path.join(BINARY_DIR, "src", "hopwell")
STANDIN_DIR = os.path.join(BINARY_DIR, "tools", "standin")
SIMULATOR_DIR = os.path.join(SOURCE_DIR, "tools", "simulator")

sys.path.insert(0, SIMULATOR_DIR)
from hopwell_sim.testing import RunningSimulator  # noqa: E402,F401  (re-exported)


class ClientFolders:
    """A fresh folder holding everything the client keeps per user (temporary root, application
    data, registry file, runtime folder), so a run never touches the user's files or meets a
    test running beside it. env() is the client's environment over these folders."""

    def __init__(self):
        self._dir = tempfile.TemporaryDirectory()
        self.root = self._dir.name
        self.tmp = os.path.join(self.root, "tmp")
        self.appdata = os.path.join(self.root, "app")
        self.config = os.path.join(self.root, "config")
        self.runtime = os.path.join(self.root, "runtime")
        for folder in (self.tmp, self.runtime):
            os.makedirs(folder)
        os.chmod(self.runtime, stat.S_IRWXU)

    @property
    def temp_root(self):
        """TempRoot: the client's own folder below TMPDIR."""
        return os.path.join(self.tmp, "Kelv")

    @property
    def log_folder(self):
        return os.path.join(self.temp_root, "Hopwell")

    def log_text(self):
        """Every log file of the client's log folder, oldest first, as one text."""
        text = ""
        for name in sorted(os.listdir(self.log_folder)) if os.path.isdir(self.log_folder) else []:
            if name.endswith(".log"):
                with open(os.path.join(self.log_folder, name), errors="replace") as f:
                    text += f.read()
        return text

    def env(self, **overrides):
        values = dict(TMPDIR=self.tmp, APPDATA=self.appdata, XDG_CONFIG_HOME=self.config,
                      XDG_DATA_HOME=os.path.join(self.root, "data"), XDG_RUNTIME_DIR=self.runtime)
        values.update(overrides)
        return client_env(**values)

    def cleanup(self):
        self._dir.cleanup()


@contextlib.contextmanager
def resident_client(env, folder):
    """The resident client started with env, its standard error kept in folder. A failed
    assertion inside shows the end of what it printed (a sanitizer's report, for one); a client
    still running at the end is killed."""
    with open(os.path.join(folder, "client-stderr.txt"), "w+") as errors:
        client = subprocess.Popen([HOPWELL], env=env, stdout=subprocess.DEVNULL, stderr=errors)
        try:
            yield client
        except AssertionError:
            errors.seek(0)
            sys.stderr.write(errors.read()[-20000:])
            raise
        finally:
            if client.poll() is None:
                client.kill()
                client.wait()


def require_tools(test, *tools):
    """Skips the test when a tool is missing, or fails it under CI, where scripts/setup ran."""
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        message = "missing tools (scripts/setup installs them): " + " ".join(missing)
        if os.environ.get("CI"):
            test.fail(message)
        test.skipTest(message)


def wait_for(predicate, timeout=20.0, step=0.05):
    """Polls until predicate() gives a true value or the timeout passes; its last answer."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()
