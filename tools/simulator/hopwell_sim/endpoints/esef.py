"""ESEF reports and the XBRL tagger package.

The "esef" parameter document gets:
    lockurl             <base>/api/v2/ext/esef/lock/AnnualReport2025
    filesdownloadedurl  <base>/api/v2/ext/esef/files_downloaded/AnnualReport2025
    taggerurl           <base>/esef/tagger/<version>/KelvoryXbrlTagger.zip
    taggerversion       "2026.1.0"
    taggersize          the package's size in bytes
and one file, "AnnualReport2025.zip" (decompress true), whose entries lie in sub-folders:
"AnnualReport2025/report.pdf" and "AnnualReport2025/mapping/tagging.pdf.mapping" (or
".epub" and ".etm", see below).

The tagger package holds the stand-in tagger "AMANA.XBRL.Tagger.Kelvory.exe" (a Python
program, owner-executable) and "XBRLCache/XBRLCache.zip". The stand-in appends one JSON line
{"argv": [...], "cwd": ...} per start to $HOPWELL_TAGGER_LOG, else to "launches.jsonl"
beside itself, and exits.

Switches, POST /_sim/esef with any of (empty object: all back to "ok"):
    "tagger": "ok" | "404" | "no-cache"       the package answers 404 / lacks the cache
    "lock":   "ok" | "refused" | "not-json"   the lock answers {"status": "refused"} / text
    "report": "ok" | "404" | "epub"           the report file answers 404 / holds an
                                              .epub document and an .etm mapping
GET /_sim/esef shows them together with the lock and files-downloaded calls received.
"""
import io
import json
import zipfile

from hopwell_sim.message import Response, error_page, json_response
from hopwell_sim.parameters import parameter_source
from hopwell_sim.registry import on_reset, route

REPORT = "AnnualReport2025"
TAGGER_VERSION = "2026.1.0"
TAGGER_PROGRAM = "AMANA.XBRL.Tagger.Kelvory.exe"
ZIP_DATE = (2026, 1, 2, 3, 4, 6)

STAND_IN_TAGGER = r'''#!/usr/bin/env python3
# Stand-in for the XBRL tagger: records how it was started, then exits.
import json, os, sys
log = os.environ.get("HOPWELL_TAGGER_LOG") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "launches.jsonl")
with open(log, "a", encoding="utf-8") as out:
    out.write(json.dumps({"argv": sys.argv[1:], "cwd": os.getcwd()}) + "\n")
'''


def _zip(entries):
    """Archive bytes from (name, data, unix mode or None) triples."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data, mode in entries:
            info = zipfile.ZipInfo(name, date_time=ZIP_DATE)
            info.compress_type = zipfile.ZIP_DEFLATED
            if mode is not None:
                info.create_system = 3
                info.external_attr = mode << 16
            archive.writestr(info, data)
    return buffer.getvalue()


def tagger_package(with_cache=True):
    entries = [
        (TAGGER_PROGRAM, STAND_IN_TAGGER, 0o100755),
        ("Resources/tagger.config", "<config version=\"%s\"/>\n" % TAGGER_VERSION, 0o100644),
    ]
    if with_cache:
        cache = _zip([
            ("esma/2024/esef_taxonomy.xsd", "<schema/>\n", None),
            ("ifrs/2024/full_ifrs-cor.xsd", "<schema/>\n", None),
        ])
        entries.append(("XBRLCache/XBRLCache.zip", cache, 0o100644))
    return _zip(entries)


def report_archive(kind="ok"):
    if kind == "epub":
        document, mapping = "report.epub", "report.etm"
    else:
        document, mapping = "report.pdf", "report.pdf.mapping"
    return _zip([
        ("%s/%s" % (REPORT, document), "%%PDF-1.7 stand-in report %s\n" % REPORT, None),
        ("%s/mapping/tagging%s" % (REPORT, mapping[mapping.index("."):]), "<mapping report=\"%s\"/>\n" % REPORT, None),
        ("%s/notes/readme.txt" % REPORT, "ESEF report package\n", None),
    ])


_PACKAGES = {True: tagger_package(True), False: tagger_package(False)}


def _switches(sim):
    with sim.state_lock:
        return dict(sim.state.get("esef", {}))


def _record(sim, key, value):
    with sim.state_lock:
        sim.state.setdefault("esef_calls", {}).setdefault(key, []).append(value)


@on_reset
def reset(sim):
    with sim.state_lock:
        sim.state.pop("esef", None)
        sim.state.pop("esef_calls", None)


@parameter_source("esef")
def esef_parameters(sim, request, document):
    base = request.base_url()
    with_cache = _switches(sim).get("tagger") != "no-cache"
    document.set("lockurl", "%s/api/v2/ext/esef/lock/%s" % (base, REPORT))
    document.set("filesdownloadedurl", "%s/api/v2/ext/esef/files_downloaded/%s" % (base, REPORT))
    document.set("taggerurl", "%s/esef/tagger/%s/KelvoryXbrlTagger.zip" % (base, TAGGER_VERSION))
    document.set("taggerversion", TAGGER_VERSION)
    document.set("taggersize", len(_PACKAGES[with_cache]))
    document.add_file("%s/esef/files/%s.zip" % (base, REPORT), REPORT + ".zip", decompress=True)


@route("GET", "/esef/tagger/{version}/{name}")
def tagger(sim, request):
    switch = _switches(sim).get("tagger", "ok")
    if switch == "404":
        return error_page(404)
    return Response(200, _PACKAGES[switch != "no-cache"], "application/zip")


@route("GET", "/esef/files/{name}")
def report_file(sim, request):
    switch = _switches(sim).get("report", "ok")
    if switch == "404":
        return error_page(404)
    return Response(200, report_archive(switch), "application/zip")


@route("GET", "/api/v2/ext/esef/lock/{report}")
def lock(sim, request):
    _record(sim, "lock", request.match["report"])
    switch = _switches(sim).get("lock", "ok")
    if switch == "not-json":
        return Response(200, "locked, thank you\n", "text/plain")
    return json_response({"status": "refused" if switch == "refused" else "ok"})


@route("GET", "/api/v2/ext/esef/files_downloaded/{report}")
def files_downloaded(sim, request):
    _record(sim, "files_downloaded", request.match["report"])
    return json_response({"status": "ok"})


@route("POST", "/_sim/esef", log=False)
def set_switches(sim, request):
    try:
        value = json.loads(request.body.decode("utf-8") or "{}")
        if not isinstance(value, dict):
            raise ValueError("expected an object")
    except ValueError as error:
        return Response(400, str(error))
    with sim.state_lock:
        if value:
            sim.state.setdefault("esef", {}).update(value)
        else:
            sim.state.pop("esef", None)
    return Response(200, "ok")


@route("GET", "/_sim/esef", log=False)
def show_switches(sim, request):
    with sim.state_lock:
        calls = {k: list(v) for k, v in sim.state.get("esef_calls", {}).items()}
    return json_response({"switches": _switches(sim), "calls": calls})
