"""Route table and endpoint loading.

Endpoint modules register functions with the decorator:

    from hopwell_sim.registry import route

    @route("GET", "/login/index.html")
    def test_page(sim, request):
        return Response(200, "...", "text/html")

A path may hold `{name}` (one path segment) or `{name*}` (any text, "/" included); the
matched texts are in request.match. Functions get the Simulator and the Request and return
a Response. `@on_reset` functions run when tests reset the simulator.
"""
import importlib
import pkgutil
import re

_routes = []
_reset_hooks = []


class Route:
    def __init__(self, method, pattern, function, log=True):
        self.method = method
        self.pattern = pattern
        self.function = function
        self.log = log
        self.regex = re.compile(_to_regex(pattern))

    def match(self, method, path):
        if self.method not in ("*", method):
            return None
        found = self.regex.fullmatch(path)
        return found.groupdict() if found else None


def _to_regex(pattern):
    out = []
    for part in re.split(r"(\{[A-Za-z_][A-Za-z0-9_]*\*?\})", pattern):
        if part.startswith("{") and part.endswith("}"):
            name = part[1:-1]
            if name.endswith("*"):
                out.append("(?P<%s>.*)" % name[:-1])
            else:
                out.append("(?P<%s>[^/]+)" % name)
        else:
            out.append(re.escape(part))
    return "".join(out)


def route(method, pattern, log=True):
    """Registers the decorated function for method ("GET", "POST", "*") and pattern.
    Routes with log=False (the control endpoints) stay out of the request log and are
    never touched by scenarios."""

    def decorate(function):
        _routes.append(Route(method, pattern, function, log))
        return function

    return decorate


def on_reset(function):
    _reset_hooks.append(function)
    return function


def find_route(method, path):
    """The first registered route matching, with its matched groups, else (None, None).
    Exact patterns are registered before wildcard ones by load order within a module."""
    for candidate in _routes:
        groups = candidate.match(method, path)
        if groups is not None:
            return candidate, groups
    return None, None


def path_exists(path):
    return any(candidate.regex.fullmatch(path) for candidate in _routes)


def run_reset_hooks(sim):
    for hook in _reset_hooks:
        hook(sim)


def load_endpoints():
    from hopwell_sim import endpoints

    for info in sorted(pkgutil.iter_modules(endpoints.__path__), key=lambda i: i.name):
        importlib.import_module("hopwell_sim.endpoints." + info.name)
    # Specific patterns win over wildcards, whatever the module order.
    _routes.sort(key=lambda r: ("{" in r.pattern and "*}" in r.pattern, "{" in r.pattern))
