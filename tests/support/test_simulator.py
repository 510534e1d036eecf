"""Checks of the platform simulator itself: what tests read from it must be what was sent,
and each scenario switch must break the answer the way it says."""

import base64
import http.client
import json
import os
import socket
import ssl
import sys
import time
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import RunningSimulator  # noqa: E402


OPEN_PATH = "/c/42/api/v2/ext/chapter/download_parameters"


def raw_exchange(data, port=18080, read_timeout=5.0):
    """Sends bytes as they are and returns everything the server answers until it closes
    (or stays silent for read_timeout)."""
    with socket.create_connection(("127.0.0.1", port), timeout=read_timeout) as s:
        s.sendall(data)
        chunks = []
        try:
            while True:
                piece = s.recv(65536)
                if not piece:
                    break
                chunks.append(piece)
        except socket.timeout:
            pass
    return b"".join(chunks)


class SimulatorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = RunningSimulator()
        cls.sim.start()

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()

    def setUp(self):
        self.sim.reset()

    def get(self, path, headers=None, secure=False):
        if secure:
            context = ssl.create_default_context(cafile=self.sim.ca_file)
            connection = http.client.HTTPSConnection("127.0.0.1", 18443, context=context, timeout=10)
        else:
            connection = http.client.HTTPConnection("127.0.0.1", 18080, timeout=10)
        connection.request("GET", path, headers=headers or {})
        response = connection.getresponse()
        body = response.read()
        connection.close()
        return response, body

    def test_request_log_keeps_the_header_block_and_body_byte_for_byte(self):
        body = bytes(range(256)) * 3
        head = (b"POST /api/v2/ext/upload?n=a%20b&hwversion=1.7.1 HTTP/1.1\r\n"
                b"Host: 127.0.0.1:18080\r\nX-API-Token:t%C3%A4\r\n"
                b"Content-Type: application/octet-stream\r\n"
                b"Content-Length: 768\r\nConnection: close\r\n\r\n")
        raw_exchange(head + body)
        [entry] = self.sim.requests()
        self.assertEqual(bytes.fromhex(entry["raw_head_hex"]), head)
        self.assertEqual(bytes.fromhex(entry["body_hex"]), body)
        self.assertEqual(entry["body_length"], 768)
        self.assertEqual(entry["query"], "n=a%20b&hwversion=1.7.1")
        self.assertEqual(entry["query_params"], [["n", "a b"], ["hwversion", "1.7.1"]])
        self.assertIn(["X-API-Token", "t%C3%A4"], entry["headers"])
        self.assertFalse(entry["chunked"])

    def test_chunked_request_bodies_are_noted_and_reassembled(self):
        raw_exchange(b"POST /x HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n"
                     b"Connection: close\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")
        [entry] = self.sim.requests()
        self.assertTrue(entry["chunked"])
        self.assertEqual(bytes.fromhex(entry["body_hex"]), b"hello world")
        self.assertEqual(entry["status"], 404)

    def test_parameter_documents_and_their_changes(self):
        response, body = self.get(OPEN_PATH)
        self.assertEqual(response.status, 200)
        params = {p.get("name"): p.get("value") for p in ET.fromstring(body).find("params")}
        self.assertEqual(params["documenttype"], "INDESIGN")
        self.sim.set_parameters("open", set={"appname": "X & <Y>"}, remove=["userright"],
                                files=[{"url": "http://127.0.0.1:18080/f/a.zip", "name": "a.zip",
                                        "decompress": "true", "size": 3}])
        root = ET.fromstring(self.get(OPEN_PATH)[1])
        params = {p.get("name"): p.get("value") for p in root.find("params")}
        self.assertEqual(params["appname"], "X & <Y>")
        self.assertNotIn("userright", params)
        [entry] = root.find("files")
        self.assertEqual(entry.findtext("url"), "http://127.0.0.1:18080/f/a.zip")
        self.assertEqual(entry.findtext("size"), "3")
        self.sim.set_parameters("esef", raw="not a document")
        self.assertEqual(self.get("/r/api/v2/ext/esef/download_parameters")[1], b"not a document")
        self.assertEqual(self.get("/api/v2/ext/plugin/install_parameters")[0].status, 200)

    def test_https_with_the_test_ca(self):
        response, body = self.get("/login/index.html", {"X-Test": "asdf"}, secure=True)
        self.assertEqual(response.status, 200)
        self.assertIn(b"<html>", body)
        [entry] = self.sim.requests()
        self.assertEqual(entry["scheme"], "https")
        with self.assertRaises(ssl.SSLError):
            context = ssl.create_default_context()  # system store: the test CA is unknown
            connection = http.client.HTTPSConnection("127.0.0.1", 18443, context=context, timeout=10)
            connection.request("GET", "/login/index.html")

    def test_status_rules_with_path_after_and_count(self):
        self.sim.add_scenario({"mode": "500", "path": "/login/index.html", "after": 1, "count": 2})
        statuses = [self.get("/login/index.html")[0].status for _ in range(4)]
        self.assertEqual(statuses, [200, 500, 500, 200])
        self.assertEqual(self.get(OPEN_PATH)[0].status, 200)
        self.sim.add_scenario("403")
        self.assertEqual(self.get(OPEN_PATH)[0].status, 403)
        self.assertEqual([e["scenario"] for e in self.sim.requests()][-1], ["status"])

    def test_body_replacements(self):
        self.sim.add_scenario({"mode": "not-xml", "count": 1})
        body = self.get(OPEN_PATH)[1]
        with self.assertRaises(ET.ParseError):
            ET.fromstring(body)
        self.sim.add_scenario({"mode": "not-json", "count": 1})
        with self.assertRaises(ValueError):
            json.loads(self.get("/login/index.html")[1])

    def test_no_content_length_ends_with_the_connection(self):
        self.sim.add_scenario("no-content-length")
        answer = raw_exchange(b"GET /login/index.html HTTP/1.1\r\nHost: h\r\n\r\n")
        head, _, body = answer.partition(b"\r\n\r\n")
        self.assertNotIn(b"content-length", head.lower())
        self.assertIn(b"Connection: close", head)
        self.assertTrue(body.rstrip().endswith(b"</html>"))

    def test_truncated_body_announces_more_than_it_sends(self):
        self.sim.add_scenario({"mode": "truncate", "keep": 7})
        answer = raw_exchange(b"GET /login/index.html HTTP/1.1\r\nHost: h\r\n\r\n")
        head, _, body = answer.partition(b"\r\n\r\n")
        length = int([l for l in head.split(b"\r\n") if l.lower().startswith(b"content-length")][0]
                     .split(b":")[1])
        self.assertGreater(length, 7)
        self.assertEqual(len(body), 7)

    def test_ranges_cuts_and_bytes_sent(self):
        path = "/api/v2/ext/chapter/tpv-1/files/notes.txt"
        _, whole = self.get(path)
        size = len(whole)
        cases = (  # Range header, scenario rules, status, body, Content-Range
            ("bytes=100-", [], 206, whole[100:], "bytes 100-%d/%d" % (size - 1, size)),
            ("bytes=5-9", [], 206, whole[5:10], "bytes 5-9/%d" % size),
            ("bytes=%d-" % size, [], 416, None, "bytes */%d" % size),
            ("bytes=100-", [{"mode": "ignore-range"}], 200, whole, None),
            ("bytes=1-2,5-6", [], 200, whole, None),  # several ranges: the whole file
        )
        for header, rules, status, body, content_range in cases:
            with self.subTest(header=header, rules=rules):
                self.sim.reset()
                for rule in rules:
                    self.sim.add_scenario(rule)
                response, answer = self.get(path, {"Range": header})
                self.assertEqual(response.status, status)
                self.assertEqual(response.getheader("Content-Range"), content_range)
                if body is not None:
                    self.assertEqual(answer, body)
        # A cut answer announces the whole part, sends `bytes` of it, and the log says so.
        self.sim.reset()
        self.sim.add_scenario({"mode": "cut", "bytes": 30, "count": 1})
        answer = raw_exchange(("GET %s HTTP/1.1\r\nHost: h\r\nRange: bytes=10-\r\n\r\n"
                               % path).encode())
        self.assertIn(b"206", answer.split(b"\r\n", 1)[0])
        time.sleep(0.2)
        self.assertEqual([r["bytes_sent"] for r in self.sim.requests()], [30])
        _, again = self.get(path, {"Range": "bytes=10-"})
        self.assertEqual(again, whole[10:], "only the first answer is cut")

    def test_slow_body_arrives_whole_in_pieces(self):
        self.sim.add_scenario({"mode": "slow", "chunk": 40, "delay": 0.02})
        started = time.monotonic()
        response, body = self.get("/login/index.html")
        self.assertEqual(response.status, 200)
        self.assertTrue(body.endswith(b"</html>\n"))
        self.assertGreaterEqual(time.monotonic() - started, 0.02 * (len(body) // 40))

    def test_drop_closes_without_an_answer(self):
        self.sim.add_scenario({"mode": "drop", "count": 1})
        self.assertEqual(raw_exchange(b"GET /login/index.html HTTP/1.1\r\nHost: h\r\n\r\n"), b"")
        self.assertEqual(self.sim.requests()[0]["status"], 0)

    def test_proxy_mode_until_valid_credentials(self):
        self.sim.add_scenario({"mode": "proxy", "user": "u", "password": "p"})
        target = "http://127.0.0.1:18080/login/index.html?a=1"
        bare = raw_exchange(("GET %s HTTP/1.1\r\nHost: 127.0.0.1:18080\r\nConnection: close\r\n\r\n"
                             % target).encode())
        self.assertTrue(bare.startswith(b"HTTP/1.1 407"))
        self.assertIn(b"Proxy-Authenticate: Basic", bare)
        wrong = base64.b64encode(b"u:q").decode()
        self.assertTrue(raw_exchange(("GET %s HTTP/1.1\r\nHost: h\r\nProxy-Authorization: Basic %s\r\n"
                                      "Connection: close\r\n\r\n" % (target, wrong)).encode())
                        .startswith(b"HTTP/1.1 407"))
        good = base64.b64encode(b"u:p").decode()
        answer = raw_exchange(("GET %s HTTP/1.1\r\nHost: h\r\nProxy-Authorization: Basic %s\r\n"
                               "Connection: close\r\n\r\n" % (target, good)).encode())
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"))
        entries = self.sim.requests()
        self.assertEqual([e["status"] for e in entries], [407, 407, 200])
        self.assertEqual(entries[-1]["path"], "/login/index.html")
        self.assertEqual(entries[-1]["query"], "a=1")

    def test_proxy_tunnel_reaches_only_the_simulator(self):
        self.sim.add_scenario("proxy")
        good = base64.b64encode(b"proxyuser:proxypass").decode()
        refused = raw_exchange(("CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n"
                                "Proxy-Authorization: Basic %s\r\n\r\n" % good).encode(), read_timeout=2)
        self.assertTrue(refused.startswith(b"HTTP/1.1 403"))
        with socket.create_connection(("127.0.0.1", 18080), timeout=10) as s:
            s.sendall(("CONNECT 127.0.0.1:18443 HTTP/1.1\r\nHost: 127.0.0.1:18443\r\n"
                       "Proxy-Authorization: Basic %s\r\n\r\n" % good).encode())
            reply = b""
            while b"\r\n\r\n" not in reply:
                reply += s.recv(1)
            self.assertTrue(reply.startswith(b"HTTP/1.1 200"))
            context = ssl.create_default_context(cafile=self.sim.ca_file)
            with context.wrap_socket(s, server_hostname="127.0.0.1") as tls:
                tls.sendall(b"GET /login/index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
                answer = b""
                while True:
                    piece = tls.recv(65536)
                    if not piece:
                        break
                    answer += piece
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"))

    def test_control_calls_stay_out_of_the_log_and_reject_bad_rules(self):
        self.sim.control("/_sim/health")
        with self.assertRaises(Exception):
            self.sim.add_scenario({"mode": "bogus"})
        self.assertEqual(self.sim.requests(), [])
        self.assertEqual(self.get("/nowhere")[0].status, 404)
        self.assertEqual(len(self.sim.requests()), 1)


if __name__ == "__main__":
    unittest.main()
