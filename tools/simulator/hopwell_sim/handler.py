"""The request handler shared by the HTTP and HTTPS servers: reads the whole request,
applies the scenario switches, dispatches to the registered endpoint and sends the answer."""
import itertools
import select
import socket
import struct
import sys
import time
import traceback
from http.server import BaseHTTPRequestHandler

from hopwell_sim import registry
from hopwell_sim.message import Request, Response, error_page
from hopwell_sim.scenario import proxy_credentials_valid

_NOT_XML_BODY = "This is not an XML document <<<\n"
_NOT_JSON_BODY = "{this is not JSON\n"
# One number per accepted TCP connection, so the request log shows which requests shared one.
_connection_numbers = itertools.count(1)


class _HeadRecorder:
    """Wraps the request stream while the header lines are parsed, keeping their bytes."""

    def __init__(self, inner):
        self.inner = inner
        self.lines = []

    def readline(self, *args):
        line = self.inner.readline(*args)
        self.lines.append(line)
        return line

    def __getattr__(self, name):
        return getattr(self.inner, name)


class SimHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KelvorySimulator/1.0"
    sys_version = ""
    # Headers and body go out in separate writes: with Nagle's algorithm the body would wait
    # for the delayed ACK of the headers (40 ms) on a reused connection, as no real server does.
    disable_nagle_algorithm = True

    def setup(self):
        super().setup()
        self._raw_head = b""
        self._connection = next(_connection_numbers)
        if hasattr(self.connection, "do_handshake"):
            # The handshake runs here, on the connection's own thread, not in accept().
            self.connection.settimeout(30)
            self.connection.do_handshake()
            self.connection.settimeout(None)

    def parse_request(self):
        recorder = _HeadRecorder(self.rfile)
        self.rfile = recorder
        try:
            return super().parse_request()
        finally:
            self.rfile = recorder.inner
            self._raw_head = self.raw_requestline + b"".join(recorder.lines)

    def log_message(self, format, *args):  # noqa: A002 (the base class's name)
        if self.server.sim.verbose:
            sys.stderr.write("sim %s: %s\n" % (self.server.scheme, format % args))

    def handle_expect_100(self):
        # Noted in the log by the header itself; answered as a normal server would.
        return super().handle_expect_100()

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = lambda self: self._handle()

    def do_HEAD(self):
        self._handle(head=True)

    def do_CONNECT(self):
        self._handle(connect=True)

    # ------------------------------------------------------------------------------------
    def _read_body(self):
        if "chunked" in (self.headers.get("Transfer-Encoding") or "").lower():
            pieces = []
            while True:
                size_line = self.rfile.readline(65537)
                size = int(size_line.split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline(65537) not in (b"\r\n", b"\n", b""):
                        pass
                    return b"".join(pieces), True
                pieces.append(self.rfile.read(size))
                self.rfile.readline(65537)
        length = int(self.headers.get("Content-Length") or 0)
        return (self.rfile.read(length) if length > 0 else b""), False

    def _handle(self, head=False, connect=False):
        sim = self.server.sim
        body, chunked = (b"", False) if connect else self._read_body()
        request = Request(self.server.scheme, self.command, self.path, list(self.headers.items()),
                          self._raw_head, body, chunked, self.server.server_address[1])
        request.connection = self._connection
        route, groups = (None, None) if connect else registry.find_route(request.method, request.path)
        if route is not None and not route.log:
            request.match = groups
            self._send(self._call(route, request), head)
            return

        rules = sim.scenarios.take(request.method, request.path)
        modes = [r["mode"] for r in rules]
        proxy_rules = [r for r in rules if r["mode"] == "proxy"]
        # Requests arriving through a tunnel this simulator opened passed the proxy check
        # already, on their CONNECT.
        tunnelled = sim.is_tunnel_port(self.client_address[1])
        if not tunnelled and any(not proxy_credentials_valid(r, request.header("Proxy-Authorization"))
                                 for r in proxy_rules):
            response = error_page(407, "Proxy Authentication Required")
            response.headers.append(("Proxy-Authenticate", 'Basic realm="Hopwell simulator proxy"'))
            sim.log.add(request, 407, modes)
            self._send(response, head)
            return
        if any(r["mode"] == "drop" for r in rules):
            sim.log.add(request, 0, modes)
            self.close_connection = True
            return
        if connect:
            self._tunnel(request, modes)
            return

        status_rules = [r for r in rules if r["mode"] == "status"]
        if status_rules:
            rule = status_rules[0]
            response = error_page(rule["status"])
            if "body" in rule:
                response = Response(rule["status"], rule["body"], rule.get("content_type", "text/html"))
        elif route is None:
            response = error_page(404, "Not Found")
        else:
            request.match = groups
            response = self._call(route, request)
        if request.method == "GET" and response.status == 200 and response.length is not None:
            # A file answer: another version of it for "changed", its validators as told.
            send = ("etag", "last-modified")
            for rule in rules:
                if rule["mode"] == "changed":
                    response = response.changed(int(rule.get("extra", 0)))
                elif rule["mode"] == "validators":
                    send = tuple(v.strip() for v in str(rule.get("send", "")).split(","))
            response.add_validators(send)
        if request.method == "GET" and not any(r["mode"] == "ignore-range" for r in rules):
            shift = sum(int(r.get("shift", 10000)) for r in rules if r["mode"] == "shift-range")
            extra = sum(int(r.get("extra", 1000)) for r in rules if r["mode"] == "other-total")
            response = response.ranged(request.header("Range"), request.header("If-Range"),
                                       shift, extra)

        for rule in rules:
            mode = rule["mode"]
            if mode in ("not-xml", "not-json", "body"):
                text = rule.get("body", _NOT_JSON_BODY if mode == "not-json" else _NOT_XML_BODY)
                replaced = Response(response.status, text, rule.get("content_type", "text/plain"))
                replaced.__dict__.update({k: v for k, v in response.__dict__.items()
                                          if k not in ("body", "length", "headers")})
                response = replaced
            elif mode == "no-content-length":
                response.send_content_length = False
            elif mode == "slow":
                response.slow_chunk = int(rule.get("chunk", 1024))
                response.slow_delay = float(rule.get("delay", 0.05))
            elif mode == "truncate":
                full = response.length or 0
                response.truncate_at = int(rule.get("keep", full // 2))
            elif mode == "cut":
                response.cut_at = int(rule.get("bytes", (response.length or 0) // 2))
                response.cut_how = rule.get("how", "close")
                response.cut_stall = float(rule.get("stall", 60))
            elif mode == "delay":
                time.sleep(float(rule.get("delay", 1.0)))

        entry = sim.log.add(request, response.status, modes)
        sim.log.note_sent(entry, self._send(response, head))

    def _call(self, route, request):
        try:
            response = route.function(self.server.sim, request)
            return response if response is not None else Response(204, b"", None)
        except Exception:  # an endpoint fault becomes a 500 answer with its trace
            return Response(500, traceback.format_exc(), "text/plain")

    def _send(self, response, head):
        """Sends the answer; the number of body bytes written."""
        self.send_response(response.status)
        for name, value in response.headers:
            self.send_header(name, value)
        announce = response.send_content_length and response.length is not None
        if announce:
            self.send_header("Content-Length", str(response.length))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if head:
            return 0
        sent = 0
        limit = response.truncate_at if response.truncate_at is not None else response.cut_at
        try:
            for piece in response.pieces():
                if limit is not None:
                    piece = piece[: max(0, limit - sent)]
                if response.slow_chunk:
                    for start in range(0, len(piece), response.slow_chunk):
                        self.wfile.write(piece[start:start + response.slow_chunk])
                        self.wfile.flush()
                        time.sleep(response.slow_delay)
                else:
                    self.wfile.write(piece)
                sent += len(piece)
                if limit is not None and sent >= limit:
                    break
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True
            return sent
        if response.cut_at is not None:
            self._cut(response)
        elif response.truncate_at is not None:
            self.close_connection = True
        return sent

    def _cut(self, response):
        """Ends an answer cut short: closed, reset, or left hanging."""
        self.close_connection = True
        if response.cut_how == "reset":
            # SO_LINGER with a zero time makes the close send a reset instead of a FIN.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif response.cut_how == "stall":
            deadline = time.monotonic() + response.cut_stall
            while time.monotonic() < deadline:
                readable, _, _ = select.select([self.connection], [], [], 0.2)
                try:
                    # The plain socket's peek, also under TLS: only whether the client closed.
                    if readable and not socket.socket.recv(self.connection, 1, socket.MSG_PEEK):
                        return
                except OSError:
                    return

    def _tunnel(self, request, modes):
        host, _, port = request.target.rpartition(":")
        sim = self.server.sim
        if host not in ("127.0.0.1", "localhost") or not port.isdigit() or int(port) not in sim.ports():
            sim.log.add(request, 403, modes)
            self._send(error_page(403, "Forbidden"), False)
            return
        sim.log.add(request, 200, modes)
        upstream = socket.create_connection(("127.0.0.1", int(port)))
        local_port = upstream.getsockname()[1]
        sim.add_tunnel_port(local_port)
        self.send_response(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        self.close_connection = True
        sockets = [self.connection, upstream]
        try:
            while True:
                readable, _, _ = select.select(sockets, [], [], 30)
                if not readable:
                    return
                for source in readable:
                    data = source.recv(65536)
                    if not data:
                        return
                    (upstream if source is self.connection else self.connection).sendall(data)
        except OSError:
            return
        finally:
            sim.remove_tunnel_port(local_port)
            upstream.close()
