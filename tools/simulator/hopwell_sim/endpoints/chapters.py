"""Chapters of the open command: their keys and file list in the "open" parameter document,
the chapter archive the simulator makes, plain files, and the lock and unlock exchanges.

The chapter is named by the parameter address: ".../chapters/<id>/api/v2/ext/chapter/
download_parameters" opens chapter <id> ("TPVID"), any other address chapter "tpv-1". Its
files are served under /api/v2/ext/chapter/<id>/files/:

    chapter.zip   an archive made here: "<indd_name>" (default "chapter.indd"), "Links/..."
                  (already-compressed pictures stored, text deflated); about
                  `archive_bytes` bytes (default 300 KB)
    notes.txt     a plain text file

Lock answers are "0\\n" (granted, the token recorded as holder) or "1\\n<reason>\\n"; a
second token is refused while another holds the lock. Unlock answers {"status": "ok"}
and releases the lock. Every lock and unlock request is counted per chapter.

POST /_sim/chapter {...} changes the behaviour until the next reset:
    archive_bytes   size of chapter.zip
    indd_name       name of the document inside the archive
    lock_body       the lock's answer (granted when it starts with "0")
    unlock_body     the unlock's answer (e.g. not JSON); unlock_status: answer this status
GET /_sim/chapter/locks   {"holders": {chapter: token}, "locks": {chapter: n},
                           "unlocks": {chapter: n}}
Files answering 404 or 500, truncated, cut or slow are scenario rules with a path_prefix. Every
file honours a single byte range ("Range: bytes=N-" or "bytes=N-M", answered 206), unless the
scenario "ignore-range" applies.
"""
import json
import os
import random
import re
import tempfile
import threading
import zipfile

from hopwell_sim.endpoints import plugin_package
from hopwell_sim.message import Response, error_page, file_response, json_response
from hopwell_sim.parameters import parameter_source
from hopwell_sim.registry import on_reset, route

DEFAULT_CHAPTER = "tpv-1"
DEFAULT_ARCHIVE_BYTES = 300 * 1024
NOTES = b"Notes of the chapter.\n" * 40

# Archives are costly to make: kept for the process's lifetime, by size and document name.
_archives = {}
_archives_lock = threading.Lock()


def _settings(sim):
    with sim.state_lock:
        return dict(sim.state.get("chapter_settings", {}))


@on_reset
def reset(sim):
    with sim.state_lock:
        for key in ("chapter_settings", "chapter_holders", "chapter_locks", "chapter_unlocks"):
            sim.state.pop(key, None)


def _chapter_of(request):
    found = re.match(r"^/chapters/([^/]+)/", request.path)
    return found.group(1) if found else DEFAULT_CHAPTER


def _archive(size, indd_name):
    """Path of a chapter archive of about `size` bytes."""
    key = (size, indd_name)
    with _archives_lock:
        if key in _archives and os.path.exists(_archives[key]):
            return _archives[key]
        handle, path = tempfile.mkstemp(prefix="hopwell-sim-chapter-", suffix=".zip")
        os.close(handle)
        rng = random.Random(size)
        words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz ") for _ in range(8)) for _ in range(512)]
        with zipfile.ZipFile(path, "w") as archive:
            # The document: layout text that compresses well, a tenth of the whole.
            text = b"".join(rng.choice(words) for _ in range(max(1, size // 80)))
            archive.writestr(zipfile.ZipInfo(indd_name, (2026, 1, 2, 3, 4, 6)), text,
                             zipfile.ZIP_DEFLATED)
            archive.writestr(zipfile.ZipInfo("Links/caption.txt", (2026, 1, 2, 3, 4, 6)),
                             text[: len(text) // 2], zipfile.ZIP_DEFLATED)
            # Pictures: random bytes, stored as archivers store compressed data.
            remaining = max(0, size - len(text) // 4)
            index = 0
            while remaining > 0:
                chunk = min(remaining, 16 * 1024 * 1024)
                info = zipfile.ZipInfo("Links/photo%d.jpg" % index, (2026, 1, 2, 3, 4, 6))
                archive.writestr(info, rng.randbytes(chunk), zipfile.ZIP_STORED)
                remaining -= chunk
                index += 1
        _archives[key] = path
        return path


def _archive_for(sim):
    settings = _settings(sim)
    return _archive(int(settings.get("archive_bytes", DEFAULT_ARCHIVE_BYTES)),
                    settings.get("indd_name", "chapter.indd"))


# The open command updates the same plug-ins as the install command, for the stand-in
# editing application that the document names.
parameter_source("open")(plugin_package.plugin_keys)


@parameter_source("open")
def chapter_keys(sim, request, document):
    chapter = _chapter_of(request)
    base = request.base_url()
    api = "%s/api/v2/ext/chapter/%s" % (base, chapter)
    archive_size = os.path.getsize(_archive_for(sim))
    for name, value in (
            ("IDS", "space-1"), ("TPVID", chapter), ("OLDTPVID", chapter + "-old"),
            ("personid", "person-7"), ("jumplocation", base + "/chapters/" + chapter),
            ("kelvversion", "5.2"), ("MEDID", "medium-3"), ("documentversion", "3"),
            ("chaptername", "Chapter " + chapter), ("readOnly", "false"),
            ("downloadsize", archive_size + len(NOTES)),
            ("lockurl", "%s/api/v2/ext/chapter/lock/%s" % (base, chapter)),
            ("unlockurl", "%s/api/v2/ext/chapter/unlock/%s" % (base, chapter))):
        document.set(name, value)
    document.add_file(api + "/files/chapter.zip", "chapter.zip", decompress="true",
                      size=archive_size)
    document.add_file(api + "/files/notes.txt", "notes.txt", size=len(NOTES))


@route("GET", "/api/v2/ext/chapter/{chapter}/files/chapter.zip")
def chapter_archive(sim, request):
    return file_response(_archive_for(sim), "application/zip")


@route("GET", "/api/v2/ext/chapter/{chapter}/files/notes.txt")
def chapter_notes(sim, request):
    return Response(200, NOTES, "text/plain")


def _count(sim, key, chapter):
    counts = sim.state.setdefault(key, {})
    counts[chapter] = counts.get(chapter, 0) + 1


@route("GET", "/api/v2/ext/chapter/lock/{chapter}")
def lock(sim, request):
    chapter = request.match["chapter"]
    token = request.header("X-API-Token", "")
    settings = _settings(sim)
    with sim.state_lock:
        _count(sim, "chapter_locks", chapter)
        holders = sim.state.setdefault("chapter_holders", {})
        if "lock_body" in settings:
            body = settings["lock_body"]
            if body.startswith("0"):
                holders[chapter] = token
            return Response(200, body)
        if holders.get(chapter, token) != token:
            return Response(200, "1\nThe chapter is locked by another user\n")
        holders[chapter] = token
    return Response(200, "0\n")


@route("GET", "/api/v2/ext/chapter/unlock/{chapter}")
def unlock(sim, request):
    chapter = request.match["chapter"]
    settings = _settings(sim)
    with sim.state_lock:
        _count(sim, "chapter_unlocks", chapter)
        if "unlock_status" in settings:
            return error_page(int(settings["unlock_status"]))
        if "unlock_body" in settings:
            return Response(200, settings["unlock_body"])
        sim.state.setdefault("chapter_holders", {}).pop(chapter, None)
    return json_response({"status": "ok"})


@route("POST", "/_sim/chapter", log=False)
def configure(sim, request):
    try:
        value = json.loads(request.body.decode("utf-8") or "{}")
        if not isinstance(value, dict):
            raise ValueError("an object is expected")
    except ValueError as error:
        return Response(400, str(error))
    with sim.state_lock:
        sim.state.setdefault("chapter_settings", {}).update(value)
    return Response(200, "ok")


@route("GET", "/_sim/chapter/locks", log=False)
def locks(sim, request):
    with sim.state_lock:
        return json_response({"holders": dict(sim.state.get("chapter_holders", {})),
                              "locks": dict(sim.state.get("chapter_locks", {})),
                              "unlocks": dict(sim.state.get("chapter_unlocks", {}))})
