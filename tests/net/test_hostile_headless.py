"""`hopwell --headless kelv:open:...` against a hostile server on the allow-listed port: a
stalled answer ends the job within the idle limit, and a 1 GiB answer to the parameter
download fails without the client holding it in memory or writing it to the log."""

import glob
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import HOPWELL, client_env  # noqa: E402
from hopwell_sim.app import take_ports_lock  # noqa: E402
PORT = 18080
COMMAND = "kelv:open:http:%2F%2F127.0.0.1:18080/chapters%2Fch-1:tok-1"
GIB = 1 << 30
# A sanitizer's shadow memory counts in the peak RSS; the memory bound holds for plain builds.
SANITIZED = any(name in os.environ for name in ("TSAN_OPTIONS", "ASAN_OPTIONS", "LSAN_OPTIONS"))


class HostileServer:
    """Answers every request on 127.0.0.1:18080: "stall" reads the request and never answers;
    "big" sends 1 GiB with its Content-Length; "unsized" sends 1 GiB ended by closing the
    connection, so only counting what arrives can stop it."""

    def __init__(self, mode):
        self.mode = mode
        self.stop = threading.Event()
        # The simulator's fixtures use the same port: take turns with them.
        self.lock = take_ports_lock(120)
        if self.lock is None:
            raise RuntimeError("another test run kept the simulator ports too long")
        self.listener = socket.create_server(("127.0.0.1", PORT), reuse_port=False)
        self.listener.settimeout(0.2)
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while not self.stop.is_set():
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            threading.Thread(target=self._answer, args=(conn,), daemon=True).start()

    def _answer(self, conn):
        with conn:
            conn.settimeout(1.0)
            try:
                conn.recv(65536)
                if self.mode == "stall":
                    self.stop.wait()
                    return
                length = b"Content-Length: %d\r\n" % GIB if self.mode == "big" else b""
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n"
                             b"Connection: close\r\n" + length + b"\r\n")
                block = b"<" * (1 << 20)
                for _ in range(GIB // len(block)):
                    if self.stop.is_set():
                        return
                    conn.sendall(block)
            except OSError:
                pass  # the client gave up: what the test expects

    def close(self):
        self.stop.set()
        self.thread.join()
        self.listener.close()
        self.lock.close()


class HostileHeadlessTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.env = client_env(APPDATA=os.path.join(self.dir.name, "app"),
                              HOPWELL_IDLE_TIMEOUT="2", HOPWELL_CONNECT_TIMEOUT="2")

    def tearDown(self):
        self.dir.cleanup()

    def run_client(self, mode, tmp):
        """Runs the open against the server; returns (exit code, seconds, peak RSS in KiB)."""
        os.makedirs(tmp)
        env = dict(self.env, TMPDIR=tmp)
        server = HostileServer(mode)
        try:
            start = time.monotonic()
            client = subprocess.Popen([HOPWELL, "--headless", COMMAND], env=env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            watchdog = threading.Timer(120, client.kill)
            watchdog.start()
            _, status, usage = os.wait4(client.pid, 0)
            watchdog.cancel()
            client.returncode = os.waitstatus_to_exitcode(status)
            return client.returncode, time.monotonic() - start, usage.ru_maxrss
        finally:
            server.close()

    def log_text(self, tmp):
        files = glob.glob(os.path.join(tmp, "Kelv", "Hopwell", "*.log"))
        self.assertTrue(files, "no log file")
        text = ""
        for name in files:
            with open(name, encoding="utf-8", errors="replace") as f:
                text += f.read()
        return files, text

    def test_hostile_answers_fail_the_job_within_bounds(self):
        cases = [
            # mode, line the log must hold, bound in seconds
            ("stall", "timed out", 20),
            ("big", "The answer is too large", 60),
            ("unsized", "The answer is too large", 60),
        ]
        for mode, line, bound in cases:
            with self.subTest(mode=mode):
                tmp = os.path.join(self.dir.name, mode)
                code, seconds, peak_kib = self.run_client(mode, tmp)
                print("%s: exit %d after %.1f s, peak RSS %d KiB" % (mode, code, seconds, peak_kib))
                self.assertEqual(code, 1)
                self.assertLess(seconds, bound)
                if not SANITIZED:
                    self.assertLess(peak_kib, 64 * 1024, "peak RSS %d KiB" % peak_kib)
                files, text = self.log_text(tmp)
                self.assertIn(line, text)
                self.assertLess(sum(os.path.getsize(f) for f in files), 1 << 20)


if __name__ == "__main__":
    unittest.main()
