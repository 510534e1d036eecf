"""Request and response values handed to endpoint functions."""
import urllib.parse
from http import HTTPStatus


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
        self.drop = False

    def pieces(self):
        if isinstance(self.body, (bytes, bytearray)):
            if self.body:
                yield bytes(self.body)
        else:
            for piece in self.body:
                if piece:
                    yield piece


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
