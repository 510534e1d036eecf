"""Request and response values handed to endpoint functions."""
import email.utils
import hashlib
import os
import re
import urllib.parse
from http import HTTPStatus

_PIECE = 64 * 1024
_RANGE = re.compile(r"^\s*bytes\s*=\s*(\d+)\s*-\s*(\d*)\s*$")
# Every byte of a changed file differs from the same byte of the original.
_FLIP = bytes(i ^ 0xFF for i in range(256))
_BODY_DATE = 1767323046  # 2026-01-02 03:04:06 UTC: when answers made in memory last changed


class Request:
    """One received request, body read completely."""

    def __init__(self, scheme, method, target, headers, raw_head, body, chunked, server_port):
        self.scheme = scheme
        self.method = method
        self.target = target  # as sent: origin form, or absolute form through a proxy
        split = urllib.parse.urlsplit(target)
        if split.scheme and split.netloc:
            self.proxied = True
            self.path = split.path or "/"
        else:
            self.proxied = False
            self.path = target.split("?", 1)[0]
        self.query = split.query if self.proxied else (target.split("?", 1)[1] if "?" in target else "")
        self.query_params = urllib.parse.parse_qsl(self.query, keep_blank_values=True)
        self.headers = headers  # list of (name, value) in the order received
        self.raw_head = raw_head  # request line and header lines exactly as received
        self.body = body
        self.chunked = chunked
        self.server_port = server_port
        self.match = {}  # named groups of the route pattern

    def header(self, name, default=None):
        lower = name.lower()
        for key, value in self.headers:
            if key.lower() == lower:
                return value
        return default

    def param(self, name, default=None):
        for key, value in self.query_params:
            if key == name:
                return value
        return default

    def base_url(self):
        """The scheme and authority this request reached, e.g. http://127.0.0.1:18080."""
        return "%s://127.0.0.1:%d" % (self.scheme, self.server_port)


class Response:
    """What an endpoint answers. `body` is bytes, or an iterable of bytes pieces together
    with `length` (so large bodies are never held whole)."""

    def __init__(self, status=200, body=b"", content_type="text/plain", headers=None, length=None):
        self.status = status
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.body = body
        self.length = len(body) if isinstance(body, (bytes, bytearray)) else length
        self.headers = list(headers or [])
        if content_type:
            self.headers.insert(0, ("Content-Type", content_type))
        # Delivery switches, set by scenarios.
        self.send_content_length = True
        self.slow_chunk = 0
        self.slow_delay = 0.0
        self.truncate_at = None
        self.cut_at = None  # "cut": end the body after this many bytes, as `cut_how` says
        self.cut_how = "close"
        self.cut_stall = 0.0
        self.drop = False
        self.path = None  # a body read from this file, so a range can start anywhere in it
        self.etag = None  # validators of a file answer (add_validators)
        self.last_modified = None

    def pieces(self):
        if isinstance(self.body, (bytes, bytearray)):
            if self.body:
                yield bytes(self.body)
        else:
            for piece in self.body:
                if piece:
                    yield piece

    def _pieces_between(self, first, last):
        """The body's bytes first..last (inclusive), read from the file or skipped to."""
        wanted = last - first + 1
        if isinstance(self.body, (bytes, bytearray)):
            yield bytes(self.body[first:last + 1])
            return
        if self.path is not None:
            with open(self.path, "rb") as source:
                source.seek(first)
                while wanted > 0:
                    piece = source.read(min(_PIECE, wanted))
                    if not piece:
                        return
                    wanted -= len(piece)
                    yield piece
            return
        position = 0
        for piece in self.pieces():
            end = position + len(piece)
            if end > first and wanted > 0:
                piece = piece[max(0, first - position):][:wanted]
                wanted -= len(piece)
                yield piece
            position = end
            if wanted <= 0:
                return

    def _made_up_validators(self):
        if self.etag is None:
            digest = hashlib.sha1(self.body).hexdigest()[:16] if isinstance(
                self.body, (bytes, bytearray)) else "%x" % (self.length or 0)
            self.etag = '"%s"' % digest
        if self.last_modified is None:
            self.last_modified = email.utils.formatdate(_BODY_DATE, usegmt=True)

    def add_validators(self, send=("etag", "last-modified")):
        """Sends the answer's ETag and Last-Modified (made up for a body in memory), only those
        named in `send`; If-Range is compared with these alone."""
        self._made_up_validators()
        self.etag = self.etag if "etag" in send else None
        self.last_modified = self.last_modified if "last-modified" in send else None
        for name, value in (("ETag", self.etag), ("Last-Modified", self.last_modified)):
            if value is not None:
                self.headers.append((name, value))

    def changed(self, extra=0):
        """Another version of this file: every byte differs, `extra` bytes longer, with its
        own ETag and a Last-Modified an hour later."""
        def pieces():
            for piece in self.pieces():
                yield piece.translate(_FLIP)
            if extra > 0:
                yield b"\x01" * extra
        self._made_up_validators()
        version = Response(self.status, pieces(), None, headers=self.headers,
                           length=(self.length or 0) + extra)
        version.etag = self.etag[:-1] + '-changed"'
        version.last_modified = email.utils.formatdate(
            email.utils.parsedate_to_datetime(self.last_modified).timestamp() + 3600, usegmt=True)
        return version

    def ranged(self, range_header, if_range=None, shift=0, extra_total=0):
        """The answer to a request with this Range header: this one when there is none (or
        it is not a single byte range, or If-Range names another version), else 206 with
        the part, or 416 when it starts past the end. `shift` makes the part start that many
        bytes earlier than asked, `extra_total` names a longer file in Content-Range: the
        faults of a server that splices versions."""
        found = _RANGE.match(range_header or "")
        if self.status != 200 or self.length is None or not found:
            return self
        if if_range is not None and if_range not in (self.etag, self.last_modified):
            return self
        first = int(found.group(1))
        last = int(found.group(2)) if found.group(2) else self.length - 1
        if first >= self.length or last < first:
            refused = error_page(416)
            refused.headers.append(("Content-Range", "bytes */%d" % self.length))
            return refused
        first = max(0, first - shift)
        last = min(last, self.length - 1)
        part = Response(206, self._pieces_between(first, last), None,
                        headers=self.headers, length=last - first + 1)
        part.headers.append(("Content-Range", "bytes %d-%d/%d"
                             % (first, last + extra_total, self.length + extra_total)))
        return part


def file_response(path, content_type):
    """The file's bytes, read piece by piece (also from an offset for a range)."""

    def pieces():
        with open(path, "rb") as source:
            while True:
                piece = source.read(_PIECE)
                if not piece:
                    return
                yield piece

    status = os.stat(path)
    response = Response(200, pieces(), content_type, length=status.st_size)
    response.path = path
    response.etag = '"%x-%x"' % (status.st_mtime_ns, status.st_size)
    response.last_modified = email.utils.formatdate(status.st_mtime, usegmt=True)
    return response


def xml_response(text, status=200):
    return Response(status, text, "text/xml; charset=utf-8")


def json_response(value, status=200):
    import json

    return Response(status, json.dumps(value), "application/json")


def error_page(status, reason=None):
    if reason is None:
        try:
            reason = HTTPStatus(status).phrase
        except ValueError:
            reason = ""
    text = "<html><head><title>%d %s</title></head><body><h1>%d %s</h1></body></html>\n" % (
        status, reason, status, reason)
    return Response(status, text, "text/html")
