"""The log of received requests: one JSON object per request, kept in memory and, when a
file is named, appended to it as JSON lines (flushed before the answer is sent).

Fields: seq, time, scheme, method, target, path, query (raw), query_params ([name, value]
pairs, decoded), headers ([name, value] pairs in order), raw_head_hex (request line and
header lines exactly as received, hex), chunked, body_length, body_crc32, body_hex (only
for bodies up to the body limit), status (the answer's), scenario (modes applied),
connection (the number of the TCP connection the request came on, counted from 1),
bytes_sent (body bytes of the answer written to the client; in memory only, known once the
answer has been sent, so the file lines do not carry it).
"""
import json
import threading
import time
import zlib


class RequestLog:
    def __init__(self, path=None, body_limit=1 << 20):
        self._lock = threading.Lock()
        self._entries = []
        self._path = path
        self._body_limit = body_limit
        self._seq = 0
        if path:
            open(path, "w").close()

    def add(self, request, status, modes):
        with self._lock:
            self._seq += 1
            entry = {
                "seq": self._seq,
                "time": time.time(),
                "scheme": request.scheme,
                "method": request.method,
                "target": request.target,
                "path": request.path,
                "query": request.query,
                "query_params": [list(p) for p in request.query_params],
                "headers": [list(h) for h in request.headers],
                "raw_head_hex": request.raw_head.hex(),
                "chunked": request.chunked,
                "body_length": len(request.body),
                "body_crc32": zlib.crc32(request.body) & 0xFFFFFFFF,
                "status": status,
                "scenario": modes,
                "connection": getattr(request, "connection", 0),
            }
            if len(request.body) <= self._body_limit:
                entry["body_hex"] = request.body.hex()
            self._entries.append(entry)
            if self._path:
                with open(self._path, "a") as out:
                    out.write(json.dumps(entry) + "\n")
            return entry

    def note_sent(self, entry, sent):
        with self._lock:
            entry["bytes_sent"] = sent

    def entries(self):
        with self._lock:
            return [dict(entry) for entry in self._entries]

    def clear(self):
        with self._lock:
            self._entries = []
            if self._path:
                open(self._path, "w").close()
