"""The three exchanges of a save: the upload permission, the chunked upload and the check-in,
under any platform address (the save request names it).

GET  /api/v2/ext/token/can_upload   {"canUpload": true}, or as the switch "can_upload" says:
                                    "false" ({"canUpload": false}), "403" (status 403),
                                    "not-json" (a text that is not JSON)
POST /api/v2/ext/upload?n=NAME      one piece of an archive; NAME is the archive's stem, "_",
                                    the piece number from 1, and its extension
                                    ("cgu_7_0_2.zip" is piece 2 of "cgu_7_0.zip"). Answers
                                    {"status": "ok", "message": "UPLOAD_FILE_SUCCESS"}.
POST /api/v2/ext/checkin            the check-in JSON. Every listed archive must have arrived
                                    whole (pieces 1..n), with the listed size and CRC-32, be a
                                    valid zip and hold exactly the listed "archivepath" entries
                                    in order. Answers {"status": "CHECKIN_FILES_SUCCESS"} or
                                    {"status": "CHECKIN_FILES_FAILED", "message": ...}. With the
                                    switch "check_entries": false only size, CRC-32 and zip
                                    validity are checked, as the real platform does: an archive
                                    short of a listed file is confirmed.

Control calls:
POST /_sim/save       switches, merged into the current ones:
                      {"can_upload": "false" | "403" | "not-json" | "true",
                       "fail_chunk": N, "fail_times": K, fail the first K attempts of piece N
                       "fail_answer": "refuse" | "not-json",   how they fail (default refuse)
                       "error_status": S,        answer every piece with status S but the
                                                 success JSON
                       "check_entries": false}   the check-in does not compare the entries
                                                 with the listed files
                      {} puts every switch back.
GET  /_sim/uploads    {archive name: {"pieces": [...], "size": n, "crc32": "HEX"}}
GET  /_sim/checkins   the check-ins received: [{"document": ..., "result": ..., "archives": [
                      {"name", "size", "crc32", "entries", "confirmed",
                       "sha256": {entry: SHA-256 of its bytes}}]}]
"""
import hashlib
import io
import json
import re
import zipfile
import zlib

from hopwell_sim.message import Response, json_response
from hopwell_sim.registry import on_reset, route

UPLOAD_SUCCESS = {"status": "ok", "message": "UPLOAD_FILE_SUCCESS"}
PIECE_NAME = re.compile(r"(?P<stem>.+)_(?P<n>[0-9]+)(?P<ext>\.[^.]*)?")


def _switches(sim):
    with sim.state_lock:
        return dict(sim.state.get("save_switches", {}))


@on_reset
def _forget(sim):
    with sim.state_lock:
        for key in ("save_switches", "uploads", "checkins", "piece_attempts"):
            sim.state.pop(key, None)


@route("POST", "/_sim/save", log=False)
def set_switches(sim, request):
    try:
        wanted = json.loads(request.body or b"{}")
    except ValueError:
        return Response(400, "not JSON\n")
    with sim.state_lock:
        if wanted:
            sim.state.setdefault("save_switches", {}).update(wanted)
        else:
            sim.state.pop("save_switches", None)
    return Response(200, "ok\n")


@route("GET", "{platform*}/api/v2/ext/token/can_upload")
def can_upload(sim, request):
    mode = str(_switches(sim).get("can_upload", "true"))
    if not request.header("X-API-Token"):
        return json_response({"canUpload": False, "message": "no token"}, 401)
    if mode == "403":
        return json_response({"canUpload": False}, 403)
    if mode == "not-json":
        return Response(200, "<html>maintenance</html>\n", "text/html")
    return json_response({"canUpload": mode != "false"})


@route("POST", "{platform*}/api/v2/ext/upload")
def upload(sim, request):
    name = request.param("n") or ""
    found = PIECE_NAME.fullmatch(name)
    if not found or not request.header("X-API-Token"):
        return json_response({"status": "error", "message": "bad piece name or no token"}, 400)
    archive = found.group("stem") + (found.group("ext") or "")
    piece = int(found.group("n"))
    switches = _switches(sim)
    with sim.state_lock:
        attempts = sim.state.setdefault("piece_attempts", {})
        attempts[name] = attempts.get(name, 0) + 1
        attempt = attempts[name]
    if switches.get("fail_chunk") == piece and attempt <= int(switches.get("fail_times", 0)):
        if switches.get("fail_answer") == "not-json":
            return Response(200, "{not json\n", "text/plain")
        return json_response({"status": "error", "message": "PIECE_REFUSED"})
    with sim.state_lock:
        sim.state.setdefault("uploads", {}).setdefault(archive, {})[piece] = request.body
    return json_response(UPLOAD_SUCCESS, int(switches.get("error_status", 200)))


def _assembled(sim, name):
    """The archive's bytes when pieces 1..n all arrived, else None."""
    with sim.state_lock:
        pieces = dict(sim.state.get("uploads", {}).get(name, {}))
    if not pieces or sorted(pieces) != list(range(1, len(pieces) + 1)):
        return None
    return b"".join(pieces[i] for i in sorted(pieces))


def _check_archive(sim, listed, check_entries=True):
    """(entries found, their SHA-256 by name, problem or None) for one archive object of the
    check-in."""
    name = listed.get("name", "")
    data = _assembled(sim, name)
    if data is None:
        return [], {}, "archive %s did not arrive whole" % name
    if str(len(data)) != listed.get("size"):
        return [], {}, "archive %s has %d bytes, not %s" % (name, len(data), listed.get("size"))
    crc = "%X" % (zlib.crc32(data) & 0xFFFFFFFF)
    if crc != listed.get("crc32"):
        return [], {}, "archive %s has CRC-32 %s, not %s" % (name, crc, listed.get("crc32"))
    try:
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            bad = archive.testzip()
            entries = archive.namelist()
            sizes = [str(info.file_size) for info in archive.infolist()]
            hashes = {} if bad is not None else {
                info.filename: hashlib.sha256(archive.read(info)).hexdigest()
                for info in archive.infolist()}
    except (zipfile.BadZipFile, OSError, EOFError) as error:
        return [], {}, "archive %s is not a valid zip: %s" % (name, error)
    if bad is not None:
        return entries, {}, "archive %s: entry %s is damaged" % (name, bad)
    if not check_entries:
        return entries, hashes, None
    files = listed.get("files") or []
    wanted = [f.get("archivepath") for f in files]
    if entries != wanted:
        return entries, hashes, "archive %s holds %r, not %r" % (name, entries, wanted)
    for entry, size, f in zip(entries, sizes, files):
        if size != f.get("size"):
            return entries, hashes, "entry %s of %s has %s bytes, not %s" % (
                entry, name, size, f.get("size"))
    return entries, hashes, None


@route("POST", "{platform*}/api/v2/ext/checkin")
def checkin(sim, request):
    try:
        document = json.loads(request.body.decode("utf-8"))
        archives = document["archives"] or []
        if not isinstance(archives, list):
            raise ValueError("archives is not a list")
    except (ValueError, KeyError, TypeError, UnicodeDecodeError) as error:
        return json_response({"status": "CHECKIN_FILES_FAILED",
                              "message": "malformed check-in: %s" % error})
    problems, records = [], []
    check_entries = _switches(sim).get("check_entries", True) is not False
    for listed in archives:
        entries, hashes, problem = _check_archive(sim, listed, check_entries)
        records.append({"name": listed.get("name"), "size": listed.get("size"),
                        "crc32": listed.get("crc32"), "entries": entries,
                        "confirmed": problem is None, "sha256": hashes})
        if problem:
            problems.append(problem)
    result = ({"status": "CHECKIN_FILES_SUCCESS"} if not problems
              else {"status": "CHECKIN_FILES_FAILED", "message": "; ".join(problems)})
    with sim.state_lock:
        sim.state.setdefault("checkins", []).append(
            {"document": document, "result": result, "archives": records})
    return json_response(result)


@route("GET", "/_sim/uploads", log=False)
def uploads(sim, request):
    with sim.state_lock:
        names = list(sim.state.get("uploads", {}))
    answer = {}
    for name in names:
        with sim.state_lock:
            pieces = sorted(sim.state["uploads"][name])
        data = _assembled(sim, name) or b""
        answer[name] = {"pieces": pieces, "size": len(data),
                        "crc32": "%X" % (zlib.crc32(data) & 0xFFFFFFFF)}
    return json_response(answer)


@route("GET", "/_sim/checkins", log=False)
def checkins(sim, request):
    with sim.state_lock:
        return json_response(list(sim.state.get("checkins", [])))
