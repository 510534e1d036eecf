#!/usr/bin/env python3
"""Loopback HTTP(S) server for the transport tests.

Every request is stored byte for byte (request line, header block and body) in
<record-dir>/<n>.req, numbered in arrival order. The answer depends on the path:

  /bytes?n=N        N bytes (i % 251) with Content-Length
  /chunked?n=N      N bytes, chunked, no Content-Length
  /status/CODE      that status with the body "error page CODE"
  /redirect?to=URL  302 to URL;  /loop  302 to itself
  /truncated        announces 1000 bytes, sends 10, closes
  /close            closes without answering

Hostile answers, for the time-out and size limits:

  /stall            reads the request, never answers
  /status-only      sends a status line, then nothing
  /body-stops       announces 100000 bytes, sends 1000, then nothing
  /trickle?n=N&every=S   N bytes, one every S seconds
  /big?n=N          N bytes in 1 MiB blocks, with Content-Length (or chunked with &chunked=1)
  /unread           (POST) never reads the body and never answers
  anything else     200 "ok" (POSTs: "received <body length>")

A request with an absolute target (a proxy request) needs
"Proxy-Authorization: Basic cHVzZXI6cHBhc3M=" (puser:ppass), otherwise 407.
The chosen port is printed as "PORT <n>" once the server listens.
"""
import argparse
import os
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

PROXY_AUTH = "Basic cHVzZXI6cHBhc3M="


class Handler(socketserver.BaseRequestHandler):
    def read_request(self, conn):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(65536)
            if not chunk:
                return None
            data += chunk
        head, _, rest = data.partition(b"\r\n\r\n")
        if b" /unread" in head.split(b"\r\n")[0]:
            self.stall()
        headers = {}
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            headers[name.strip().lower().decode()] = value.strip().decode("latin-1")
        length = int(headers.get("content-length", "0"))
        while len(rest) < length:
            chunk = conn.recv(65536)
            if not chunk:
                break
            rest += chunk
        return head, headers, rest

    def stall(self):
        # Holds the connection open until the server is stopped.
        time.sleep(3600)

    def big(self, conn, n, chunked):
        block = bytes(i % 251 for i in range(1 << 20))
        framing = "Transfer-Encoding: chunked" if chunked else "Content-Length: %d" % n
        conn.sendall(("HTTP/1.1 200 OK\r\nConnection: close\r\n%s\r\n\r\n" % framing).encode())
        try:
            while n > 0:
                piece = block[:min(n, len(block))]
                conn.sendall(b"%x\r\n%s\r\n" % (len(piece), piece) if chunked else piece)
                n -= len(piece)
            if chunked:
                conn.sendall(b"0\r\n\r\n")
        except OSError:
            pass  # the client gave up, as it should

    def record(self, raw):
        with self.server.lock:
            self.server.count += 1
            path = os.path.join(self.server.record_dir, "%03d.req" % self.server.count)
        with open(path, "wb") as f:
            f.write(raw)

    def send(self, conn, code, body, extra=(), length=True):
        lines = ["HTTP/1.1 %d Status" % code, "Connection: close"]
        if length:
            lines.append("Content-Length: %d" % len(body))
        lines.extend(extra)
        conn.sendall(("\r\n".join(lines) + "\r\n\r\n").encode() + body)

    def handle(self):
        conn = self.request
        parsed = self.read_request(conn)
        if parsed is None:
            return
        head, headers, body = parsed
        self.record(head + b"\r\n\r\n" + body)
        method, target, _ = head.split(b"\r\n")[0].decode().split(" ", 2)
        if target.startswith("http://"):
            if headers.get("proxy-authorization") != PROXY_AUTH:
                self.send(conn, 407, b"proxy auth", ["Proxy-Authenticate: Basic realm=\"t\""])
            else:
                self.send(conn, 200, b"proxied")
            return
        url = urllib.parse.urlsplit(target)
        query = urllib.parse.parse_qs(url.query)
        path = url.path
        if path == "/bytes":
            n = int(query["n"][0])
            self.send(conn, 200, bytes(i % 251 for i in range(n)))
        elif path == "/chunked":
            n = int(query["n"][0])
            data = bytes(i % 251 for i in range(n))
            out = b"HTTP/1.1 200 OK\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n"
            for i in range(0, n, 5000):
                piece = data[i:i + 5000]
                out += b"%x\r\n" % len(piece) + piece + b"\r\n"
            conn.sendall(out + b"0\r\n\r\n")
        elif path.startswith("/status/"):
            code = int(path.split("/")[2])
            self.send(conn, code, b"error page %d" % code)
        elif path == "/redirect":
            self.send(conn, 302, b"moved", ["Location: " + query["to"][0]])
        elif path == "/loop":
            self.send(conn, 302, b"again", ["Location: /loop"])
        elif path == "/truncated":
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789")
        elif path == "/close":
            pass
        elif path == "/stall":
            self.stall()
        elif path == "/status-only":
            conn.sendall(b"HTTP/1.1 200 OK\r\n")
            self.stall()
        elif path == "/body-stops":
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + b"x" * 1000)
            self.stall()
        elif path == "/trickle":
            n = int(query["n"][0])
            every = float(query["every"][0])
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % n)
            for _ in range(n):
                time.sleep(every)
                conn.sendall(b"t")
        elif path == "/big":
            self.big(conn, int(query["n"][0]), "chunked" in query)
        elif method == "POST":
            self.send(conn, 200, b"received %d" % len(body))
        else:
            self.send(conn, 200, b"ok")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, record_dir, context):
        super().__init__(("127.0.0.1", port), Handler)
        self.record_dir = record_dir
        self.context = context
        self.lock = threading.Lock()
        self.count = 0

    def get_request(self):
        conn, addr = super().get_request()
        if self.context is not None:
            conn = self.context.wrap_socket(conn, server_side=True)
        return conn, addr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--record-dir", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()
    context = None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
    server = Server(args.port, args.record_dir, context)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
