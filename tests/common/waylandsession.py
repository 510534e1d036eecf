"""A Wayland desktop for tests: a headless sway (no Xwayland, no input devices) and a private
session bus whose notification service can be started but never answers, so that dbus-monitor
sees every notice. sway refuses to run as root: under root it runs as nobody, and clients reach
it by the socket's full path. Under CI a missing tool fails the test instead of skipping it."""

import json
import os
import shutil
import socket
import struct
import subprocess
import tempfile

from script_test import require_tools, wait_for

BUS_CONFIG = """<busconfig><type>session</type><listen>unix:path={0}/bus</listen>
<auth>EXTERNAL</auth><servicedir>{0}</servicedir><policy context="default"><allow user="*"/>
<allow own="*"/><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
</policy></busconfig>"""


def check_tools(test):
    require_tools(test, "sway", "swaymsg", "dbus-daemon", "dbus-monitor",
                  *(("setpriv",) if os.getuid() == 0 else ()))


class PrivateBus:
    def __enter__(self):
        self._dir = tempfile.TemporaryDirectory()
        with open(os.path.join(self._dir.name, "notifications.service"), "w") as f:
            f.write("[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/false\n")
        with open(os.path.join(self._dir.name, "bus.conf"), "w") as f:
            f.write(BUS_CONFIG.format(self._dir.name))
        self._daemon = subprocess.Popen(["dbus-daemon", "--config-file=" + f.name, "--nofork",
                                         "--print-address=1"], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        self.address = self._daemon.stdout.readline().strip()
        self._daemon.stdout.close()
        self._log = open(os.path.join(self._dir.name, "monitor.txt"), "w+")
        self._monitor = subprocess.Popen(["dbus-monitor", "--address", self.address,
                                          "interface='org.freedesktop.Notifications'"],
                                         stdout=self._log, stderr=subprocess.DEVNULL)
        wait_for(lambda: "NameAcquired" in self._read())
        return self

    def _read(self):
        self._log.seek(0)
        return self._log.read()

    def notifications(self):
        """(summary, body) of every Notify call seen so far."""
        found = []
        for call in self._read().split("member=Notify")[1:]:
            texts = [line.strip()[8:-1] for line in call.splitlines()
                     if line.strip().startswith('string "')]
            found.append(tuple(texts[2:4]))
        return found

    def __exit__(self, *exc):
        for process in (self._monitor, self._daemon):
            process.terminate()
            process.wait(timeout=10)
        self._log.close()
        self._dir.cleanup()


class SwaySession:
    def __enter__(self):
        self._dir = tempfile.TemporaryDirectory()
        self.runtime = os.path.join(self._dir.name, "runtime")
        self.display = os.path.join(self.runtime, "wayland-1")
        os.makedirs(self.runtime, mode=0o700)
        config = os.path.join(self.runtime, "config")
        with open(config, "w") as f:
            f.write("xwayland disable\noutput HEADLESS-1 resolution 1280x800\n")
        env = dict(PATH=os.environ.get("PATH", "/usr/bin:/bin"), HOME=self.runtime,
                   XDG_RUNTIME_DIR=self.runtime, WLR_BACKENDS="headless",
                   WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
        command = ["sway", "-c", config]
        if os.getuid() == 0:
            os.chmod(self._dir.name, 0o711)
            for path in (self.runtime, config):
                shutil.chown(path, "nobody", "nogroup")
            command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + command
        self._log = open(os.path.join(self._dir.name, "sway.log"), "w+")
        self._sway = subprocess.Popen(command, env=env, stdout=self._log, stderr=self._log)
        self.ipc = wait_for(lambda: os.path.exists(self.display) and next(
            (os.path.join(self.runtime, n) for n in os.listdir(self.runtime)
             if n.startswith("sway-ipc.")), None))
        if not self.ipc:
            self._log.seek(0)
            said = self._log.read()[-4000:]
            self.__exit__()
            raise RuntimeError("sway did not come up: " + said)
        return self

    def __exit__(self, *exc):
        if self._sway.poll() is None:
            self._sway.terminate()
            self._sway.wait(timeout=10)
        self._log.close()
        self._dir.cleanup()

    def env(self, base):
        """A client's environment on this compositor with Qt's Wayland plugin, no X11."""
        env = dict(base, WAYLAND_DISPLAY=self.display, QT_QPA_PLATFORM="wayland", SWAYSOCK=self.ipc)
        env.pop("DISPLAY", None)
        return env

    def msg(self, *args):
        return subprocess.run(["swaymsg", "-s", self.ipc, *args], capture_output=True,
                              text=True).stdout

    def windows(self):
        found = []

        def walk(node, workspace, floating):
            workspace = node["name"] if node.get("type") == "workspace" else workspace
            if node.get("pid"):
                found.append(dict({k: node.get(k) for k in ("name", "app_id", "focused", "urgent",
                                                             "rect")},
                                  workspace=workspace, floating=floating))
            for child in node.get("nodes", []):
                walk(child, workspace, floating)
            for child in node.get("floating_nodes", []):
                walk(child, workspace, True)

        walk(json.loads(self.msg("-t", "get_tree") or "{}"), None, False)
        return found

    def activation_token(self, app_id="hopwell"):
        """A token of the compositor's xdg_activation_v1, as a launcher asks for one for the
        program it starts: the Wayland wire protocol, spoken directly."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as sock:
            sock.connect(self.display)
            received = b""

            def send(obj, opcode, *args):
                payload = b""
                for arg in args:
                    if isinstance(arg, str):
                        data = arg.encode() + b"\0"
                        arg = struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)
                    payload += arg if isinstance(arg, bytes) else struct.pack("<I", arg)
                sock.sendall(struct.pack("<II", obj, (8 + len(payload)) << 16 | opcode) + payload)

            def event():
                nonlocal received
                while len(received) < 8 or len(received) < struct.unpack("<I", received[4:8])[0] >> 16:
                    received += sock.recv(65536) or b"\xff" * 8
                obj, word = struct.unpack("<II", received[:8])
                args, received = received[8:word >> 16], received[word >> 16:]
                if obj == 0xFFFFFFFF or (obj, word & 0xFFFF) == (1, 0):  # gone, or wl_display.error
                    raise RuntimeError("Wayland error or end of connection")
                return obj, args

            send(1, 1, 2)  # wl_display.get_registry: registry 2
            send(1, 0, 3)  # wl_display.sync: callback 3, done once every global is announced
            name = None
            while (found := event())[0] != 3:
                obj, args = found
                length = struct.unpack("<I", args[4:8])[0]
                if obj == 2 and args[8:8 + length - 1] == b"xdg_activation_v1":
                    name = struct.unpack("<I", args[:4])[0]
            if name is None:
                raise RuntimeError("the compositor has no xdg_activation_v1")
            send(2, 0, name, "xdg_activation_v1", 1, 4)  # bind: activation 4
            send(4, 1, 5)  # get_activation_token: token 5
            send(5, 1, app_id)  # set_app_id
            send(5, 3)  # commit
            while (found := event())[0] != 5:
                pass
            return found[1][4:4 + struct.unpack("<I", found[1][:4])[0] - 1].decode()
