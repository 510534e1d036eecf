"""A Wayland desktop for tests: a headless sway (no Xwayland, no input devices) and a private
session bus whose notification service is only watched, both started and stopped by the test.
sway refuses to run as root: under root it runs as nobody, and the clients reach it through
the socket's full path. Under CI a missing tool fails the test instead of skipping it."""

import json
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import time

from script_test import require_tools

TOOLS = ("sway", "swaymsg", "dbus-daemon", "dbus-monitor")

BUS_CONFIG = """<busconfig>
  <type>session</type>
  <listen>unix:path={dir}/bus</listen>
  <auth>EXTERNAL</auth>
  <servicedir>{dir}/services</servicedir>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
"""


def check_tools(test):
    require_tools(test, *TOOLS, *(("setpriv",) if os.getuid() == 0 else ()))


def _wait(predicate, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


class PrivateBus:
    """A session bus of the test's own on which org.freedesktop.Notifications can be started
    (so a client sends its notices) but never answers; dbus-monitor records every call."""

    def __init__(self):
        self._dir = tempfile.TemporaryDirectory()
        self.address = None
        self._processes = []

    def __enter__(self):
        services = os.path.join(self._dir.name, "services")
        os.makedirs(services)
        with open(os.path.join(services, "org.freedesktop.Notifications.service"), "w") as f:
            f.write("[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/false\n")
        config = os.path.join(self._dir.name, "bus.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(dir=self._dir.name))
        daemon = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork",
                                   "--print-address=1"], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True)
        self._processes.append(daemon)
        self.address = daemon.stdout.readline().strip()
        daemon.stdout.close()
        self._log = open(os.path.join(self._dir.name, "monitor.txt"), "w+")
        monitor = subprocess.Popen(["dbus-monitor", "--address", self.address,
                                    "interface='org.freedesktop.Notifications'"],
                                   stdout=self._log, stderr=subprocess.DEVNULL)
        self._processes.append(monitor)
        _wait(lambda: "NameAcquired" in self._read())
        return self

    def _read(self):
        self._log.seek(0)
        return self._log.read()

    def notifications(self):
        """(summary, body) of every Notify call seen so far."""
        found = []
        for call in self._read().split("member=Notify")[1:]:
            strings = [line.strip()[len('string "'):-1] for line in call.splitlines()
                       if line.strip().startswith('string "')]
            if len(strings) >= 4:
                found.append((strings[2], strings[3]))
        return found

    def __exit__(self, *exc):
        for process in reversed(self._processes):
            process.terminate()
            process.wait(timeout=10)
        self._log.close()
        self._dir.cleanup()


class SwaySession:
    def __init__(self):
        self._dir = tempfile.TemporaryDirectory()
        self.runtime = os.path.join(self._dir.name, "runtime")
        self.display = os.path.join(self.runtime, "wayland-1")
        self.ipc = None
        self._sway = None

    def __enter__(self):
        os.makedirs(self.runtime, mode=0o700)
        config = os.path.join(self.runtime, "config")
        with open(config, "w") as f:
            f.write("xwayland disable\noutput HEADLESS-1 resolution 1280x800\n")
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.runtime,
               "XDG_RUNTIME_DIR": self.runtime, "WLR_BACKENDS": "headless",
               "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman"}
        command = ["sway", "-c", config]
        if os.getuid() == 0:
            os.chmod(self._dir.name, 0o711)
            shutil.chown(self.runtime, "nobody", "nogroup")
            shutil.chown(config, "nobody", "nogroup")
            command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + command
        self._log = open(os.path.join(self._dir.name, "sway.log"), "w+")
        self._sway = subprocess.Popen(command, env=env, stdout=self._log, stderr=self._log)
        if not _wait(lambda: self._find_ipc() and os.path.exists(self.display)):
            self._log.seek(0)
            said = self._log.read()[-4000:]
            self.__exit__()
            raise RuntimeError("sway did not come up: " + said)
        return self

    def _find_ipc(self):
        for name in os.listdir(self.runtime):
            if name.startswith("sway-ipc."):
                self.ipc = os.path.join(self.runtime, name)
        return self.ipc

    def __exit__(self, *exc):
        if self._sway is not None and self._sway.poll() is None:
            self._sway.terminate()
            try:
                self._sway.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._sway.kill()
                self._sway.wait()
        self._log.close()
        self._dir.cleanup()

    def env(self, base):
        """A client's environment on this compositor with Qt's Wayland plugin, no X11."""
        env = dict(base)
        env.pop("DISPLAY", None)
        env.update(WAYLAND_DISPLAY=self.display, QT_QPA_PLATFORM="wayland", SWAYSOCK=self.ipc)
        return env

    def msg(self, *args):
        result = subprocess.run(["swaymsg", "-s", self.ipc, *args], capture_output=True, text=True)
        return result.stdout

    def windows(self):
        """Every client window: name, app_id, workspace, floating, focused, urgent, rect."""
        found = []

        def walk(node, workspace, floating):
            if node.get("type") == "workspace":
                workspace = node.get("name")
            if node.get("pid"):
                found.append(dict(name=node.get("name"), app_id=node.get("app_id"),
                                  workspace=workspace, floating=floating,
                                  focused=node.get("focused"), urgent=node.get("urgent"),
                                  rect=node.get("rect")))
            for child in node.get("nodes", []):
                walk(child, workspace, floating)
            for child in node.get("floating_nodes", []):
                walk(child, workspace, True)

        walk(json.loads(self.msg("-t", "get_tree") or "{}"), None, False)
        return found

    def activation_token(self, app_id="hopwell"):
        """A token from the compositor's xdg_activation_v1, as a launcher asks for one for the
        program it starts (the Wayland wire protocol, spoken directly)."""
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.connect(self.display)
        pending = b""

        def send(obj, opcode, payload=b""):
            sock.sendall(struct.pack("<II", obj, (8 + len(payload)) << 16 | opcode) + payload)

        def text(value):
            data = value.encode() + b"\0"
            return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)

        def events():
            nonlocal pending
            while True:
                while len(pending) >= 8:
                    obj, word = struct.unpack("<II", pending[:8])
                    if len(pending) < word >> 16:
                        break
                    if obj == 1 and word & 0xFFFF == 0:
                        raise RuntimeError("Wayland protocol error")
                    yield obj, word & 0xFFFF, pending[8:word >> 16]
                    pending = pending[word >> 16:]
                chunk = sock.recv(65536)
                if not chunk:
                    raise RuntimeError("the compositor closed the connection")
                pending += chunk

        try:
            send(1, 1, struct.pack("<I", 2))  # wl_display.get_registry: registry 2
            send(1, 0, struct.pack("<I", 3))  # wl_display.sync: callback 3
            name = None
            for obj, opcode, args in events():
                if obj == 2 and opcode == 0:  # wl_registry.global
                    length = struct.unpack("<I", args[4:8])[0]
                    if args[8:8 + length - 1] == b"xdg_activation_v1":
                        name = struct.unpack("<I", args[:4])[0]
                elif obj == 3:  # wl_callback.done: every global announced
                    break
            if name is None:
                raise RuntimeError("the compositor has no xdg_activation_v1")
            send(2, 0, struct.pack("<I", name) + text("xdg_activation_v1") + struct.pack("<II", 1, 4))
            send(4, 1, struct.pack("<I", 5))  # get_activation_token: token 5
            send(5, 1, text(app_id))  # set_app_id
            send(5, 3)  # commit
            for obj, opcode, args in events():
                if obj == 5 and opcode == 0:  # done
                    length = struct.unpack("<I", args[:4])[0]
                    return args[4:4 + length - 1].decode()
        finally:
            sock.close()
