"""The simulator as a child process of a Python test.

    import os, sys
    sys.path.insert(0, os.path.join(os.environ["HOPWELL_SOURCE_DIR"], "tools", "simulator"))
    from hopwell_sim.testing import RunningSimulator

    with RunningSimulator() as sim:
        sim.add_scenario({"mode": "404"})
        ...
        sim.requests()
"""
import json
import os
import subprocess
import sys
import time
import urllib.request

SIMULATOR_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HTTP_PORT = 18080
HTTPS_PORT = 18443
from hopwell_sim.app import take_ports_lock  # noqa: E402  held while a test's simulator runs
from hopwell_sim.app import default_ca_dir  # noqa: E402
LOCK_TIMEOUT = 120.0
USER_CA_DIR = object()  # RunningSimulator(ca_dir=USER_CA_DIR): the simulator's default folder

# Control calls must never go through a proxy of the environment.
_opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class RunningSimulator:
    def __init__(self, *extra_args, ca_dir=None, env=None, startup_timeout=20.0):
        """ca_dir: the test CA's folder (default: simulator-ca in the build folder, which
        ctest's HOPWELL_CA_FILE names); USER_CA_DIR: none given, the simulator's own default
        in the user's data folder of `env` (the process environment by default)."""
        self.http_base = "http://127.0.0.1:%d" % HTTP_PORT
        self.https_base = "https://127.0.0.1:%d" % HTTPS_PORT
        binary_dir = os.environ.get("HOPWELL_BINARY_DIR") or os.path.join(
            SIMULATOR_DIR, "..", "..", "build", "default")
        self._env = env
        if ca_dir is USER_CA_DIR:
            self.ca_dir = default_ca_dir(env if env is not None else os.environ)
            self._ca_args = []
        else:
            self.ca_dir = ca_dir or os.path.join(binary_dir, "simulator-ca")
            self._ca_args = ["--ca-dir", self.ca_dir]
        self.ca_file = os.path.join(self.ca_dir, "ca.pem")
        self._args = list(extra_args)
        self._timeout = startup_timeout
        self.process = None
        self._lock = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def _take_lock(self):
        self._lock = take_ports_lock(LOCK_TIMEOUT)
        if self._lock is None:
            raise RuntimeError("another test run kept the simulator ports too long")

    def _release_lock(self):
        if self._lock:
            self._lock.close()
            self._lock = None

    def start(self):
        self._take_lock()
        command = [sys.executable, os.path.join(SIMULATOR_DIR, "simulator.py"),
                   "--http-port", str(HTTP_PORT), "--https-port", str(HTTPS_PORT),
                   *self._ca_args, "--lock-held", *self._args]
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, start_new_session=True,
                                        env=self._env)
        deadline = time.monotonic() + self._timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                self.stop()
                raise RuntimeError("the simulator exited at start-up (ports 18080/18443 in use?)")
            try:
                pgid = self.control("/_sim/pgid")
            except OSError:
                time.sleep(0.05)
                continue
            if pgid.strip() != str(self.process.pid):
                self.stop()
                raise RuntimeError("another simulator already listens on ports 18080/18443")
            return
        self.stop()
        raise RuntimeError("the simulator did not answer in time")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None
        self._release_lock()

    def control(self, path, body=None):
        data = None if body is None else json.dumps(body).encode("utf-8")
        request = urllib.request.Request(self.http_base + path, data=data,
                                         method="GET" if data is None else "POST")
        with _opener.open(request, timeout=10) as answer:
            return answer.read().decode("utf-8")

    def requests(self):
        return json.loads(self.control("/_sim/requests"))

    def add_scenario(self, rule):
        self.control("/_sim/scenario", rule)

    def set_parameters(self, kind, **change):
        self.control("/_sim/parameters", dict(change, kind=kind))

    def reset(self):
        self.control("/_sim/reset", {})
