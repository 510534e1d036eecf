"""Parameter documents: a "data" root with "params" (one element per parameter, attributes
"name" and "value") and, when files are listed, "files" (one element per file with child
elements such as "url", "name", "decompress", "size").

Each kind ("open", "install", "esef") starts from the base values below; modules add their
own keys with

    @parameter_source("open")
    def lock_urls(sim, request, document):
        document.set("lockurl", request.base_url() + "/api/v2/ext/chapter/lock")

and tests change a kind's document through POST /_sim/parameters (see endpoints/control.py).
"""
from xml.sax.saxutils import escape, quoteattr

_sources = {}

# What an InDesign 2026 chapter looks like to the client.
BASE_PARAMETERS = {
    "open": [
        ("appname", "Adobe InDesign 2026"),
        ("appquery", "InDesign.Application.2026"),
        ("appversion", "21.0"),
        ("appversionstring", "2026"),
        ("appdefaultpath", "/opt/Adobe/Adobe InDesign 2026/InDesign"),
        ("additionalappname", "Adobe InCopy 2026"),
        ("additionalappquery", "InCopy.Application.2026"),
        ("additionalappdefaultpath", "/opt/Adobe/Adobe InCopy 2026/InCopy"),
        ("documenttype", "INDESIGN"),
        ("userright", "S"),
    ],
    "install": [
        ("appname", "Adobe InDesign 2026"),
        ("appquery", "InDesign.Application.2026"),
        ("appversion", "21.0"),
        ("appversionstring", "2026"),
        ("appdefaultpath", "/opt/Adobe/Adobe InDesign 2026/InDesign"),
    ],
    "esef": [
        ("documenttype", "ESEF"),
    ],
}


def parameter_source(kind):
    def decorate(function):
        _sources.setdefault(kind, []).append(function)
        return function

    return decorate


class ParameterDocument:
    def __init__(self, params=None):
        self.params = list(params or [])
        self.files = []

    def set(self, name, value):
        for index, (key, _) in enumerate(self.params):
            if key == name:
                self.params[index] = (name, str(value))
                return
        self.params.append((name, str(value)))

    def remove(self, name):
        self.params = [(k, v) for k, v in self.params if k != name]

    def add_file(self, url, name, decompress=None, size=None, **extra):
        entry = {"url": url, "name": name}
        if decompress is not None:
            entry["decompress"] = "true" if decompress is True else str(decompress)
        if size is not None:
            entry["size"] = str(size)
        entry.update({k: str(v) for k, v in extra.items()})
        self.files.append(entry)

    def to_xml(self):
        lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<data>", "  <params>"]
        for name, value in self.params:
            lines.append("    <param name=%s value=%s/>" % (quoteattr(name), quoteattr(value)))
        lines.append("  </params>")
        if self.files:
            lines.append("  <files>")
            for entry in self.files:
                lines.append("    <file>")
                for key, value in entry.items():
                    lines.append("      <%s>%s</%s>" % (key, escape(value), key))
                lines.append("    </file>")
            lines.append("  </files>")
        lines.append("</data>")
        return "\n".join(lines) + "\n"


def build_document(sim, request, kind):
    """The document text of a kind for this request: the base values, every source's
    additions, then the test's overrides (kept in sim.state["parameters"][kind])."""
    with sim.state_lock:
        override = dict(sim.state.get("parameters", {}).get(kind, {}))
    if "raw" in override:
        return override["raw"]
    document = ParameterDocument(BASE_PARAMETERS.get(kind, []))
    for source in _sources.get(kind, []):
        source(sim, request, document)
    for name, value in override.get("set", {}).items():
        document.set(name, value)
    for name in override.get("remove", []):
        document.remove(name)
    if "files" in override:
        document.files = []
        for entry in override["files"]:
            document.add_file(**entry)
    return document.to_xml()
