"""A real X display for tests: Xvfb with the openbox window manager, started and stopped by
the test itself. Under CI a missing tool fails the test instead of skipping it."""

import os
import subprocess
import tempfile
import time

from script_test import require_tools

TOOLS = ("Xvfb", "openbox", "xprop", "xwininfo", "xdotool")


def check_tools(test):
    require_tools(test, *TOOLS)


class X11Session:
    def __init__(self):
        self.display = None
        self._xvfb = None
        self._wm = None
        self._dir = tempfile.TemporaryDirectory()

    def __enter__(self):
        read_end, write_end = os.pipe()
        self._xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        env = self.env()
        wm_log = os.path.join(self._dir.name, "openbox.log")
        starts = 0
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            # Under load the window manager has been seen to end during its start-up: it is
            # started again, a few times, within the same deadline.
            if (self._wm is None or self._wm.poll() is not None) and starts < 3:
                starts += 1
                with open(wm_log, "a") as log:
                    self._wm = subprocess.Popen(["openbox", "--sm-disable"], env=env,
                                                stdout=log, stderr=log)
            probe = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                                   capture_output=True, text=True)
            if "window id" in probe.stdout:
                return self
            time.sleep(0.05)
        with open(wm_log) as log:
            said = log.read().strip()
        status = self._wm.poll()
        self.__exit__()
        raise RuntimeError("the window manager did not come up (started %d times, %s): %s"
                           % (starts, "running" if status is None else "status %s" % status,
                              said or "no output"))

    def __exit__(self, *exc):
        for process in (self._wm, self._xvfb):
            if process is not None and process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self._dir.cleanup()

    def env(self, base=None):
        env = dict(os.environ if base is None else base)
        env.pop("WAYLAND_DISPLAY", None)
        env.update(DISPLAY=self.display, QT_QPA_PLATFORM="xcb",
                   XDG_RUNTIME_DIR=env.get("XDG_RUNTIME_DIR") or self._dir.name)
        return env
