"""Scenario switches: rules that change how matching requests are answered.

A rule is a JSON object:
    mode        "status" (answer `status`, default 500, with an error page or `body`),
                "404", "500", "403" (shorthands of "status"),
                "no-content-length" (body without Content-Length; the connection closes),
                "slow" (body in `chunk` bytes, default 1024, every `delay` s, default 0.05),
                "truncate" (announces the full length, sends `keep` bytes (default half),
                closes), "cut" (announces the full length, ends the body after `bytes`
                bytes (default half) by `how`: "close" (default), "reset" (a TCP reset) or
                "stall" (sends nothing more, keeps the connection open for `stall` s,
                default 60); with `count` k it cuts the first k answers, so a client that
                resumes with a Range is cut again `bytes` further on), "ignore-range"
                (answers a Range request with the whole file and 200),
                "shift-range" (a 206 starts `shift` bytes, default 10000, before the byte
                asked for, as its Content-Range says), "other-total" (a 206's Content-Range
                names a file `extra` bytes, default 1000, longer), "changed" (the file
                answered is another version: every byte differs, `extra` bytes longer,
                default 0, with another ETag and a later Last-Modified, so If-Range with
                the first version's gets the whole new one), "validators" (file answers
                carry only the validators named in `send`: "etag", "last-modified", both
                comma-separated, or "" for none; by default both),
                "not-xml" / "not-json" / "body" (replaces the body with `body`),
                "proxy" (407 until Proxy-Authorization carries `user`:`password`,
                defaults "proxyuser":"proxypass"), "delay" (waits `delay` s before
                answering), "drop" (closes the connection without an answer)
    method      only requests with this method
    path        only this exact path; `path_prefix`, `path_regex` likewise
    after       leave the first N matching requests alone
    count       apply to N requests, then the rule is gone
Rules apply in the order they were added; several may apply to one request.
"""
import base64
import re
import threading

SHORTHANDS = {"404": ("status", 404), "500": ("status", 500), "403": ("status", 403)}
MODES = {"status", "no-content-length", "slow", "truncate", "cut", "ignore-range", "not-xml",
         "not-json", "body", "proxy", "delay", "drop", "shift-range", "other-total", "changed",
         "validators"}


def parse_rule(spec):
    """A rule from a JSON object or a shorthand text ("404", "slow", "proxy"...)."""
    if isinstance(spec, str):
        spec = {"mode": spec}
    rule = dict(spec)
    mode = str(rule.get("mode", ""))
    if mode in SHORTHANDS:
        rule["status"] = int(rule.get("status", SHORTHANDS[mode][1]))
        rule["mode"] = "status"
    elif mode not in MODES:
        raise ValueError("unknown scenario mode %r" % mode)
    elif mode == "status":
        rule["status"] = int(rule.get("status", 500))
    elif mode == "cut" and rule.get("how", "close") not in ("close", "reset", "stall"):
        raise ValueError("unknown way to cut %r" % rule.get("how"))
    for counter in ("after", "count"):
        if counter in rule:
            rule[counter] = int(rule[counter])
    return rule


class ScenarioBook:
    def __init__(self):
        self._lock = threading.Lock()
        self._rules = []

    def set(self, rules):
        parsed = [parse_rule(r) for r in rules]
        with self._lock:
            self._rules = parsed

    def add(self, rule):
        parsed = parse_rule(rule)
        with self._lock:
            self._rules.append(parsed)

    def clear(self):
        with self._lock:
            self._rules = []

    def rules(self):
        with self._lock:
            return [dict(r) for r in self._rules]

    def take(self, method, path):
        """The rules that apply to this request, counting it against after/count."""
        chosen = []
        with self._lock:
            keep = []
            for rule in self._rules:
                if _matches(rule, method, path):
                    if rule.get("after", 0) > 0:
                        rule["after"] -= 1
                    else:
                        chosen.append(dict(rule))
                        if "count" in rule:
                            rule["count"] -= 1
                            if rule["count"] <= 0:
                                continue
                keep.append(rule)
            self._rules = keep
        return chosen


def _matches(rule, method, path):
    if "method" in rule and rule["method"].upper() != method:
        return False
    if "path" in rule and rule["path"] != path:
        return False
    if "path_prefix" in rule and not path.startswith(rule["path_prefix"]):
        return False
    if "path_regex" in rule and not re.search(rule["path_regex"], path):
        return False
    return True


def proxy_credentials_valid(rule, header_value):
    expected = "%s:%s" % (rule.get("user", "proxyuser"), rule.get("password", "proxypass"))
    if not header_value or not header_value.lower().startswith("basic "):
        return False
    try:
        return base64.b64decode(header_value[6:].strip()).decode("utf-8") == expected
    except (ValueError, UnicodeDecodeError):
        return False
