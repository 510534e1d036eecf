"""The simulator process: one HTTP and one HTTPS server on 127.0.0.1, sharing one state."""
import argparse
import fcntl
import json
import os
import signal
import ssl
import sys
import threading
import time
from http.server import ThreadingHTTPServer

from hopwell_sim import registry
from hopwell_sim.certs import ensure_certificates
from hopwell_sim.handler import SimHandler
from hopwell_sim.requestlog import RequestLog
from hopwell_sim.scenario import ScenarioBook

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


class Simulator:
    """What endpoints see as `sim`: ports and base URLs, the request log, the scenario
    switches and a state dictionary (guarded by state_lock) that reset empties."""

    def __init__(self, http_port, https_port, ca_dir, request_log=None, body_limit=1 << 20,
                 verbose=False):
        self.http_port = http_port
        self.https_port = https_port
        self.ca_dir = ca_dir
        self.ca_file = os.path.join(ca_dir, "ca.pem")
        self.scenarios = ScenarioBook()
        self.log = RequestLog(request_log, body_limit)
        self.state = {}
        self.state_lock = threading.RLock()
        self.verbose = verbose
        self._tunnel_ports = set()
        self._tunnel_lock = threading.Lock()

    @property
    def http_base(self):
        return "http://127.0.0.1:%d" % self.http_port

    @property
    def https_base(self):
        return "https://127.0.0.1:%d" % self.https_port

    def ports(self):
        return (self.http_port, self.https_port)

    def add_tunnel_port(self, port):
        with self._tunnel_lock:
            self._tunnel_ports.add(port)

    def remove_tunnel_port(self, port):
        with self._tunnel_lock:
            self._tunnel_ports.discard(port)

    def is_tunnel_port(self, port):
        with self._tunnel_lock:
            return port in self._tunnel_ports

    def reset(self):
        self.scenarios.clear()
        self.log.clear()
        with self.state_lock:
            self.state.clear()
        registry.run_reset_hooks(self)


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if self.sim.verbose or not isinstance(error, (ssl.SSLError, ConnectionError, TimeoutError)):
            sys.stderr.write("sim %s: %s from %s\n" % (self.scheme, error, client_address))


def default_ca_dir(environ=os.environ):
    """Where the local deployment's client looks for the test CA by default:
    $XDG_DATA_HOME/Kelv/simulator-ca, else ~/.local/share/Kelv/simulator-ca."""
    data_home = environ.get("XDG_DATA_HOME", "")
    if not os.path.isabs(data_home):
        home = environ.get("HOME") or os.path.expanduser("~")
        data_home = os.path.join(home, ".local", "share")
    return os.path.join(data_home, "Kelv", "simulator-ca")


def make_default_ca_dir(folder):
    # The client keeps its application-data folder ("Kelv") to the user alone.
    os.makedirs(os.path.dirname(folder), mode=0o700, exist_ok=True)
    os.makedirs(folder, mode=0o700, exist_ok=True)


def parse_args(argv):
    parser = argparse.ArgumentParser(description="Kelvory platform simulator")
    parser.add_argument("--http-port", type=int, default=18080)
    parser.add_argument("--https-port", type=int, default=18443, help="0 turns HTTPS off")
    parser.add_argument("--ca-dir", default=None, help="where ca.pem and the server key live")
    parser.add_argument("--request-log", default=None, help="JSON-lines file of received requests")
    parser.add_argument("--body-log-limit", type=int, default=1 << 20,
                        help="bodies up to this size are logged in full (hex)")
    parser.add_argument("--scenario", action="append", default=[],
                        help='a scenario rule: JSON object or shorthand ("404", "slow", "proxy"...)')
    parser.add_argument("--lock-held", action="store_true",
                        help="the caller already holds the ports lock (test fixtures)")
    parser.add_argument("--lock-timeout", type=float, default=120.0,
                        help="seconds to wait for the ports lock")
    parser.add_argument("--verbose", action="store_true")
    return parser.parse_args(argv)


# Simulators on this machine take turns on the fixed ports: whoever holds this lock owns
# them. Test fixtures take it before starting the simulator and pass --lock-held.
LOCK_FILE = "/tmp/hopwell-simulator-ports.lock"


def take_ports_lock(timeout):
    """The ports lock as an open file, or None when it stays taken for `timeout` seconds."""
    lock = open(LOCK_FILE, "a")
    deadline = time.monotonic() + timeout
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return lock
        except BlockingIOError:
            if time.monotonic() > deadline:
                lock.close()
                return None
            time.sleep(0.1)


def _make_server(sim, port, scheme):
    server = _Server(("127.0.0.1", port), SimHandler)
    server.sim = sim
    server.scheme = scheme
    return server


def main(argv):
    args = parse_args(argv)
    registry.load_endpoints()
    ca_dir = args.ca_dir
    if not ca_dir:
        ca_dir = default_ca_dir()
        make_default_ca_dir(ca_dir)
    sim = Simulator(args.http_port, args.https_port, ca_dir, args.request_log,
                    args.body_log_limit, args.verbose)
    for spec in args.scenario:
        sim.scenarios.add(json.loads(spec) if spec.lstrip().startswith("{") else spec)

    ports_lock = None
    if not args.lock_held:
        ports_lock = take_ports_lock(args.lock_timeout)
        if ports_lock is None:
            sys.stderr.write("simulator: another simulator kept %s too long\n" % LOCK_FILE)
            return 2

    try:
        servers = [_make_server(sim, args.http_port, "http")]
        if args.https_port:
            _, server_pem, server_key = ensure_certificates(ca_dir)
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(server_pem, server_key)
            secure = _make_server(sim, args.https_port, "https")
            secure.socket = context.wrap_socket(secure.socket, server_side=True,
                                                do_handshake_on_connect=False)
            servers.append(secure)
    except OSError as error:
        sys.stderr.write("simulator: cannot listen: %s\n" % error)
        return 2

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
               for s in servers]
    for thread in threads:
        thread.start()
    print("simulator ready: %s %s (CA %s)" % (sim.http_base, sim.https_base if args.https_port else "-",
                                             sim.ca_file), flush=True)
    # A test fixture's simulator ends with the test process, even one a sanitizer cut short:
    # left running it would hold the ports and the test runner's output pipe.
    parent = os.getppid()
    while not stop.wait(0.2):
        if args.lock_held and os.getppid() != parent:
            break
    for server in servers:
        server.shutdown()
        server.server_close()
    if ports_lock:
        ports_lock.close()
    return 0
