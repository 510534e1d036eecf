"""Single-fault runs of `hopwell --headless` against the platform simulator.

Every run starts from fresh folders holding what a user has made (a chapter being saved,
the records of earlier opens, other plug-ins' registrations), makes exactly one system call
of the client fail (tools/faultinject: the Nth call of a group over all of the client's
threads, optionally only calls on one file or folder), and then checks what the user still
has:

  LOST         a listed file is gone or changed without a confirmed check-in holding exactly
               its bytes; an earlier CurrentDocuments row, the earlier download's document,
               or a user's line in a PluginConfig file is gone
  CRASH        the client ended by a signal or left a crash record
  HANG         the run did not end within the time limit (90 s)
  SUCCESS-LIE  exit 0 while a job line says FAILED, or exit 0 without the work done (no
               confirmed check-in of every file, no record of the open, a PluginConfig file
               without the plug-ins' folder)
  OK / FAILED  the run succeeded, or failed and said so, with everything kept

Used by scripts/fault-injection (the whole matrix) and by the CI sample
(tests/faultinject/test_fault_injection.py).

The crash runs (run_crash_matrix) kill the client instead, at the entry of one call (all of
its threads at once, as a crash or a power cut would stop it), then run the same command
again without a fault, as the user would after a crash, and check what the user has then:

  LOST      as above
  DAMAGED   after the crash or after the run after it, the recorded plug-in version's
            folder, or a folder a PluginConfig file registers in the package folder, lacks
            files or holds one of the wrong size, or a PluginConfig file registers two
            versions
  STUCK     the run after the crash failed although it could go through, or the clean-up
            of a confirmed check-in is still not finished after it
  LEAK      after that run an archive of the save, a ".tmp" or ".part" file, a folder being
            unpacked or removed, or the record of a finished check-in is still there
  CRASH, HANG, SUCCESS-LIE, OK  of the run after the crash, as above

Used by scripts/crash-consistency (the whole matrix) and its CI sample
(tests/faultinject/test_crash_consistency.py).
"""
import collections
import hashlib
import io
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools", "simulator"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "common"))

from client_env import client_env  # noqa: E402
from hopwell_sim.endpoints import plugin_package  # noqa: E402
from hopwell_sim.testing import RunningSimulator  # noqa: E402

TIME_LIMIT = 90.0
BAD = ("LOST", "CRASH", "HANG", "SUCCESS-LIE")
OUTCOMES = ("OK", "FAILED") + BAD
CRASH_BAD = ("LOST", "DAMAGED", "STUCK", "LEAK", "CRASH", "HANG", "SUCCESS-LIE")
CRASH_OUTCOMES = ("OK",) + CRASH_BAD
# Every call of these groups is a kill point; of writes and sends, a spread.
KILL_EVERY = ("rename", "unlink", "fsync", "mkdir", "wopen")
KILL_SPREAD = ("write", "send")
# Names of what a killed run may leave and the next one must take away.
LEFTOVER_SUFFIXES = (".tmp", ".part", ".unpacking", ".removing")
LEFTOVER_NAMES = ("tagger.new", "tagger.old")

# The errors each group of calls is made to fail with; the first is tried at the most call
# numbers (the code paths rarely depend on which error it is).
FILE_ERRNOS = ("EIO", "ENOSPC", "EACCES", "EMFILE")
ERRNOS = {
    "open": ("EACCES", "EMFILE", "ENOSPC", "EIO"),
    "read": FILE_ERRNOS,
    "write": ("ENOSPC", "EIO", "EACCES", "EMFILE"),
    "rename": ("EACCES", "EIO", "ENOSPC", "EMFILE"),
    "unlink": ("EACCES", "EIO", "ENOSPC", "EMFILE"),
    "mkdir": ("EACCES", "ENOSPC", "EIO", "EMFILE"),
    "fsync": FILE_ERRNOS,
    "stat": ("EACCES", "EIO", "ENOSPC", "EMFILE"),
    "getdents": FILE_ERRNOS,
    "connect": ("ECONNRESET", "EACCES", "EIO", "EMFILE"),
    "send": ("ECONNRESET", "EIO", "EACCES", "EMFILE"),
    "recv": ("ECONNRESET", "EIO", "EACCES", "EMFILE"),
}

COLUMNS = ["opened", "personid", "jumplocation", "ssl", "ids", "medid", "userright", "tpvid",
           "oldtpvid", "kelvversion", "savefilename", "documentversion", "acceptallchanges",
           "metainfo", "extension", "token"]

USER_LINES = ['"/opt/Other Vendor/Plug-Ins"', '"/home/user/My Plug-Ins/x64"']


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))


def kelvdb_bytes(rows):
    """A CurrentDocuments table as the client writes it to a file (CR LF line ends)."""
    lines = ["KELVDBF-1", "; Created by KelvDB 0.5.2 for Hopwell", "m=normal", "n=CurrentDocuments",
             "s=%d,%d" % (len(COLUMNS), len(rows)), "f=" + ",".join(COLUMNS), "--"]
    text = "\n".join(lines) + "\n"
    for row in rows:
        for cell in row:
            text += "c=%d:%s\n" % (len(cell.encode("utf-8")), cell)
    return text.replace("\n", "\r\n").encode("utf-8")


def kelvdb_rows(data):
    """The rows of a KelvDB file as tuples of cells by column name, or None when it does not
    parse."""
    text = data.replace(b"\r\n", b"\n")
    head, found, cells = text.partition(b"\n--\n")
    if not found:
        return None
    header = dict(line.split(b"=", 1) for line in head.split(b"\n")[1:] if b"=" in line[1:2])
    try:
        columns = header[b"f"].decode().lower().split(",")
        count = int(header[b"s"].split(b",")[1])
    except (KeyError, IndexError, ValueError):
        return None
    at, rows = 0, []
    for _ in range(count):
        row = {}
        for column in columns:
            while at < len(cells) and cells[at:at + 1] in (b"\r", b"\n"):
                at += 1
            colon = cells.find(b":", at)
            if not cells.startswith(b"c=", at) or colon < 0:
                return None
            length = int(cells[at + 2:colon])
            row[column] = cells[colon + 1:colon + 1 + length].decode("utf-8", "replace")
            at = colon + 1 + length
        rows.append(row)
    return rows


def plugin_config_paths(appdata, version):
    """One language folder per edition root of both applications, both files each."""
    paths = []
    for application in ("InDesign", "InCopy"):
        for edition, language in (("", "en_US"), ("-J", "ja_JP"), ("-ME", "en_GB")):
            folder = os.path.join(appdata, "Adobe", application, "Version " + version + edition,
                                  language)
            paths += [os.path.join(folder, "PluginConfig.txt"),
                      os.path.join(folder, "PluginConfig32.txt")]
    return paths


def seed_plugin_configs(appdata, version, registered=None):
    """registered: the folder an earlier installation registered in "=Path" (its "x64" or
    "Win32" folder, as the file's name asks)."""
    configs = plugin_config_paths(appdata, version)
    for path in configs:
        lines = [USER_LINES[0]]
        if registered:
            sub = "Win32" if path.endswith("PluginConfig32.txt") else "x64"
            lines.append('"%s"' % os.path.join(registered, sub))
        text = "=Other\r\n%s\r\n=Path\r\n%s\r\n" % (USER_LINES[1], "\r\n".join(lines))
        write(path, text)
    return configs


def config_lines(path):
    with open(path, "rb") as f:
        return set(f.read().decode("utf-8", "replace").replace("\r\n", "\n").split("\n"))


class Run:
    """One client run: its folders, what they held before, and the checks after."""

    def __init__(self, harness, mode):
        self.harness = harness
        self.mode = mode
        self.root = tempfile.mkdtemp(prefix="hopwell-fault-")
        self.tmp = os.path.join(self.root, "tmp")
        self.appdata = os.path.join(self.root, "app")
        self.kelv = os.path.join(self.tmp, "Kelv")
        self.env = client_env(TMPDIR=self.tmp, APPDATA=self.appdata,
                              HOME=os.path.join(self.root, "home"),
                              XDG_CONFIG_HOME=os.path.join(self.root, "config"),
                              HOPWELL_STANDIN_RECORD=os.path.join(self.root, "standin.log"),
                              HOPWELL_CONNECT_TIMEOUT="10", HOPWELL_IDLE_TIMEOUT="10")
        self.files = {}       # listed or earlier file -> its SHA-256
        self.listed = []      # (entry name, path) of the files a save lists
        self.configs = []     # PluginConfig files holding the user's lines
        self.rows = []        # earlier CurrentDocuments rows
        getattr(self, "prepare_" + mode)()

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)

    # -- what the user has before the run --------------------------------------------------

    def prepare_save(self):
        sim = self.harness.sim
        sim.control("/_sim/save", {"check_entries": False})
        working = os.path.join(self.kelv, "space", "12")
        rng = random.Random(7)
        listed = [[("INDD", "chapter.indd", rng.randbytes(200000)),
                   ("LINK", "Links/a.png", rng.randbytes(30000)),
                   ("LINK", "Links/b.txt", b"caption\n" * 200)],
                  [("PDF", "chapter.pdf", rng.randbytes(50000))]]
        archives = ""
        for files in listed:
            archives += "<Archive>"
            for kind, name, data in files:
                path = os.path.join(working, name)
                write(path, data)
                self.files[path] = hashlib.sha256(data).hexdigest()
                self.listed.append((name, path))
                archives += '<File Type="%s" Name="%s" Path="%s" Size="%d"/>' % (
                    kind, name, path, len(data))
            archives += "</Archive>"
        self.request = (
            '<?xml version="1.0"?><Save version="1"><IDS>space</IDS><TPVID>12</TPVID>'
            "<Token>tok</Token><URL>%s</URL><WorkingFolderName>12</WorkingFolderName>"
            "<UploadFilesList>%s</UploadFilesList></Save>" % (sim.http_base, archives))
        write(os.path.join(self.kelv, "upload", "7", "cgu_7.xml"), self.request)
        self.command = "kelv:save:7:key"
        self.watched = {"listed": os.path.join(working, "chapter.indd"),
                        "upload": os.path.join(self.kelv, "upload"),
                        "logs": os.path.join(self.kelv, "Hopwell")}

    def prepare_open(self):
        sim = self.harness.sim
        # An older application keeps its record in CurrentDocuments.cdb and reuses the
        # chapter's folder, moving the earlier download aside.
        sim.set_parameters("open", set={"appversion": "20.0", "appversionstring": "2025"})
        self.rows = [
            ["1700000000", "person-7", "http://h/j", "0", "space-1", "medium-3", "S", "tpv-1",
             "tpv-0", "5.2", "Chapter tpv-1", "3", "0", "", "", "tok-0"],
            ["1700000100", "person-7", "https://h/k", "1", "space-2", "medium-4", "L", "tpv-9",
             "tpv-8", "5.2", "Other", "1", "0", "", "", "tok-9"],
        ]
        table = os.path.join(self.appdata, "Kelv", "CurrentDocuments.cdb")
        write(table, kelvdb_bytes(self.rows))
        earlier = os.path.join(self.kelv, "space-1", "tpv-1")
        rng = random.Random(11)
        for name in ("Chapter tpv-1_v3.indd", "caption.txt"):
            path = os.path.join(earlier, name)
            write(path, rng.randbytes(40000))
            self.files[path] = sha256(path)
        self.configs = seed_plugin_configs(self.appdata, "20.0")
        self.command = "kelv:open:%s:tok-1" % sim.http_base
        self.watched = {"table": table, "chapter": os.path.join(self.kelv, "space-1"),
                        "configs": os.path.join(self.appdata, "Adobe"),
                        "logs": os.path.join(self.kelv, "Hopwell")}

    def prepare_install(self):
        sim = self.harness.sim
        # An earlier version is installed and registered: the update removes it first.
        packages = os.path.join(self.appdata, "Kelv", "plug-ins")
        old = os.path.join(packages, "2026.0.0")
        for sub in ("x64", "Win32"):
            write(os.path.join(old, sub, "KelvPublishing.pln"), "old\n")
        write(os.path.join(packages, "21.0-Version.txt"), "2026.0.0")
        self.configs = seed_plugin_configs(self.appdata, "21.0", old)
        self.command = ("kelv:install:" + sim.http_base.replace("/", "%2F") +
                        "%2Fapi%2Fv2%2Fext%2Fplugin%2Finstall_parameters")
        self.watched = {"configs": os.path.join(self.appdata, "Adobe"), "packages": packages,
                        "logs": os.path.join(self.kelv, "Hopwell")}

    # -- the run -----------------------------------------------------------------------------

    def execute(self, call=None, errno=None, nth=None, path=None, kill=False, trace=None):
        report = os.path.join(self.root, "report.json")
        command = [self.harness.injector]
        if call is None:
            command.append("--count")
        elif kill:
            command += ["--call", call, "--kill", "--nth", str(nth)]
        else:
            command += ["--call", call, "--errno", errno, "--nth", str(nth)]
        if path:
            command += ["--path", path]
        if trace:
            command += ["--trace", trace]
        command += ["--report", report, "--", self.harness.hopwell, "--headless", self.command]
        process = subprocess.Popen(command, env=self.env, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True, start_new_session=True)
        try:
            stdout, stderr = process.communicate(timeout=TIME_LIMIT)
            hung = False
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            stdout, stderr = process.communicate()
            hung = True
        try:
            with open(report) as f:
                self.report = json.load(f)
        except (OSError, ValueError):
            self.report = {"injected": False, "counts": {}, "exit_code": -1, "signal": 0}
        self.stdout, self.stderr, self.hung = stdout, stderr, hung
        return self.report

    # -- what the user has after it ----------------------------------------------------------

    def ended_badly(self):
        """(outcome, reason) for a run that hung, crashed or lost the user's files, else None."""
        if self.hung:
            return "HANG", "no end within %d s" % TIME_LIMIT
        if self.report.get("signal"):
            return "CRASH", "signal %d" % self.report["signal"]
        logs = os.path.join(self.kelv, "Hopwell")
        if os.path.isdir(logs) and any(n.endswith(".dmp") for n in os.listdir(logs)):
            return "CRASH", "crash record"
        lost = getattr(self, "lost_" + self.mode)()
        if lost:
            return "LOST", lost
        return None

    def outcome(self):
        """(outcome, reason)."""
        bad = self.ended_badly()
        if bad:
            return bad
        succeeded = self.report.get("exit_code") == 0
        if succeeded:
            return self.success_outcome()
        return "FAILED", self.end_line()

    def success_outcome(self):
        """(outcome, reason) of a run that exited 0: OK unless something says otherwise."""
        if "FAILED" in self.stdout:
            return "SUCCESS-LIE", "exit 0 after a FAILED job line"
        lie = getattr(self, "lie_" + self.mode)()
        if lie:
            return "SUCCESS-LIE", lie
        return "OK", ""

    def end_line(self):
        lines = [line for line in self.stdout.splitlines() if line.strip()]
        return lines[-1] if lines else self.stderr.strip()[-200:]

    def confirmed_entries(self):
        """entry name -> set of SHA-256 held by confirmed check-ins."""
        held = collections.defaultdict(set)
        for checkin in json.loads(self.harness.sim.control("/_sim/checkins")):
            if checkin["result"].get("status") != "CHECKIN_FILES_SUCCESS":
                continue
            for archive in checkin["archives"]:
                for name, digest in archive.get("sha256", {}).items():
                    held[name].add(digest)
        return held

    def lost_save(self):
        held = self.confirmed_entries()
        for name, path in self.listed:
            digest = self.files[path]
            if os.path.isfile(path) and sha256(path) == digest:
                continue
            if digest not in held.get(name, set()):
                return "%s is %s and no confirmed check-in holds its bytes" % (
                    name, "changed" if os.path.exists(path) else "gone")
        return None

    def lie_save(self):
        held = self.confirmed_entries()
        for name, path in self.listed:
            if self.files[path] not in held.get(name, set()):
                return "exit 0 but %s was not checked in whole" % name
        return None

    def lost_rows(self):
        table = os.path.join(self.appdata, "Kelv", "CurrentDocuments.cdb")
        try:
            with open(table, "rb") as f:
                rows = kelvdb_rows(f.read())
        except OSError:
            rows = None
        if rows is None:
            return None, "CurrentDocuments.cdb is gone or unreadable"
        present = {tuple(row.get(c, "") for c in COLUMNS) for row in rows}
        for row in self.rows:
            if tuple(row) not in present:
                return rows, "earlier row %s/%s is gone" % (row[4], row[7])
        return rows, None

    def lost_configs(self):
        for path in self.configs:
            try:
                lines = config_lines(path)
            except OSError:
                return "%s is gone" % path
            for line in USER_LINES:
                if line not in lines:
                    return "%s lost the line %s" % (path, line)
        return None

    def lost_open(self):
        _, lost = self.lost_rows()
        if lost:
            return lost
        found = set()
        for folder, _, names in os.walk(os.path.join(self.kelv, "space-1")):
            for name in names:
                path = os.path.join(folder, name)
                if os.path.isfile(path) and not os.path.islink(path):
                    found.add(sha256(path))
        for path, digest in self.files.items():
            if digest not in found:
                return "the earlier download's %s is gone" % os.path.basename(path)
        return self.lost_configs()

    def lie_open(self):
        rows, _ = self.lost_rows()
        if sum(1 for row in rows if row.get("tpvid") == "tpv-1") < 2:
            return "exit 0 without a record of the open"
        folder = os.path.join(self.kelv, "space-1", "tpv-1")
        if not any(name.endswith(".indd") for name in os.listdir(folder)):
            return "exit 0 without the document"
        return self.missing_registration("20.0")

    def lost_install(self):
        return self.lost_configs()

    def lie_install(self):
        return self.missing_registration("21.0")

    def missing_registration(self, version):
        folder = os.path.join(self.appdata, "Kelv", "plug-ins", "2026.1.0")
        for path in self.configs:
            sub = "Win32" if path.endswith("PluginConfig32.txt") else "x64"
            if '"%s"' % os.path.join(folder, sub) not in config_lines(path):
                return "exit 0 but %s lacks the plug-ins' folder" % path
        return None


    # -- crash runs ----------------------------------------------------------------------

    def rewrite_request(self):
        """Plays "Save to Server" again, as the user would after a crash: the plug-in writes
        the request anew when the document's files are all there."""
        if self.mode != "save" or not all(os.path.isfile(path) for _, path in self.listed):
            return False
        write(os.path.join(self.kelv, "upload", "7", "cgu_7.xml"), self.request)
        return True

    def crash_outcome(self, retried):
        """(outcome, reason) after a killed run and the run after it."""
        bad = self.ended_badly()
        if bad:
            return bad
        damaged = self.damaged_plugins()
        if damaged:
            return "DAMAGED", damaged
        succeeded = self.report.get("exit_code") == 0
        should_succeed = self.mode != "save" or retried
        if should_succeed and not succeeded:
            return "STUCK", "the run after the crash failed: " + self.end_line()
        if self.mode == "save" and not retried and self.remaining_listed():
            return "STUCK", "the confirmed check-in's clean-up was not finished"
        leak = self.leftovers()
        if leak:
            return "LEAK", leak
        if succeeded:
            return self.success_outcome()
        return "OK", ""

    def remaining_listed(self):
        return [path for _, path in self.listed if os.path.exists(path)]

    def leftovers(self):
        found = []
        for folder, folders, names in os.walk(self.root):
            for name in names + folders:
                path = os.path.join(folder, name)
                if (name.endswith(LEFTOVER_SUFFIXES) or name in LEFTOVER_NAMES or
                        (name.startswith("cgu_") and name.endswith((".zip", ".checkin")))):
                    found.append(os.path.relpath(path, self.root))
        return ", ".join(sorted(found)[:4])

    def package_entries(self, version):
        """{relative path: size} of a version's package: the kept one, else the simulator's."""
        if version == "2026.0.0":  # the earlier version prepare_install leaves installed
            return {"x64/KelvPublishing.pln": 4, "Win32/KelvPublishing.pln": 4}
        kept = os.path.join(self.appdata, "Kelv", "plug-ins", version + ".zip")
        try:
            archive = zipfile.ZipFile(kept)
        except (OSError, zipfile.BadZipFile):
            archive = zipfile.ZipFile(io.BytesIO(plugin_package.package_bytes(version)))
        with archive:
            return {i.filename: i.file_size for i in archive.infolist() if not i.is_dir()}

    def damaged_plugins(self):
        packages = os.path.join(self.appdata, "Kelv", "plug-ins")
        folders = {}
        for name in os.listdir(packages) if os.path.isdir(packages) else []:
            if name.endswith("-Version.txt"):
                with open(os.path.join(packages, name), "rb") as f:
                    version = f.read().decode("utf-8", "replace")
                if version:
                    folders[version] = "recorded in " + name
        for path in self.configs:
            ours = set()
            for line in config_lines(path) if os.path.exists(path) else ():
                inner = line.strip('"')
                if os.path.dirname(os.path.dirname(inner)) == packages:
                    ours.add(os.path.basename(os.path.dirname(inner)))
                    folders.setdefault(os.path.basename(os.path.dirname(inner)),
                                       "registered in " + os.path.relpath(path, self.root))
            if len(ours) > 1:
                return "%s registers %s at once" % (os.path.relpath(path, self.root),
                                                    " and ".join(sorted(ours)))
        for version, why in sorted(folders.items()):
            folder = os.path.join(packages, version)
            for name, size in self.package_entries(version).items():
                path = os.path.join(folder, name)
                if not os.path.isfile(path) or os.path.getsize(path) != size:
                    return "%s (%s) lacks %s or has it damaged" % (version, why, name)
        return None


def kept_file_replacements(trace_lines, kept_roots):
    """From a trace: every replacement of a file kept across runs (a file under one of
    kept_roots that was there before): a rename over it, with whether the new file's data
    were synced before the rename and its folder after it, or a truncating open of it in
    place, which a crash or power cut can leave empty. [(source, target, data_synced,
    folder_synced)]; source is "(in place)" for the second kind."""
    events = [json.loads(line) for line in trace_lines if line.strip()]
    kept = lambda path: any(path.startswith(root + os.sep) for root in kept_roots)
    rows = []
    for index, event in enumerate(events):
        if event["group"] == "wopen" and event.get("existed") and event.get("truncates") and \
                event["paths"] and kept(event["paths"][0]):
            rows.append(("(in place)", event["paths"][0], False, False))
            continue
        if event["group"] != "rename" or not event.get("target_existed"):
            continue
        if event.get("target_kind") != "file":
            continue
        source, target = event["paths"]
        if not kept(target):
            continue
        last_write = max((i for i, e in enumerate(events[:index])
                          if e["group"] in ("write", "wopen") and e["paths"][:1] == [source]),
                         default=-1)
        data_synced = any(e["group"] == "fsync" and e["paths"][:1] == [source]
                          for e in events[last_write + 1:index])
        folder = os.path.dirname(target)
        folder_synced = any(e["group"] == "fsync" and e["paths"][:1] == [folder]
                            for e in events[index + 1:])
        rows.append((source, target, data_synced, folder_synced))
    return rows


class Harness:
    def __init__(self, hopwell, injector, sim):
        self.hopwell = hopwell
        self.injector = injector
        self.sim = sim
        self.results = collections.defaultdict(collections.Counter)  # (call, errno) -> outcomes
        self.bad = []
        self.runs = 0
        self.crash_rows = []  # (mode, call, nth, kill point, outcome, reason)
        self.renames = {}     # mode -> renames over kept files in its clean run

    def fresh(self, mode):
        self.sim.reset()
        return Run(self, mode)

    def count(self, mode, target):
        """Calls per group, for one mode and target (None: everywhere)."""
        run = self.fresh(mode)
        try:
            run.execute(path=run.watched[target] if target else None)
            outcome, reason = run.outcome()
            if outcome not in ("OK",):
                raise RuntimeError("the %s run without a fault ended %s: %s\n%s%s" % (
                    mode, outcome, reason, run.stdout, run.stderr))
            return run.report["counts"]
        finally:
            run.cleanup()

    def inject(self, mode, target, call, errno, nth):
        run = self.fresh(mode)
        try:
            report = run.execute(call, errno, nth, run.watched[target] if target else None)
            outcome, reason = run.outcome()
            self.runs += 1
            key = (call, errno)
            self.results[key]["runs"] += 1
            if report.get("injected"):
                self.results[key]["hit"] += 1
            self.results[key][outcome] += 1
            if outcome in BAD:
                self.bad.append({"mode": mode, "target": target or "anywhere", "call": call,
                                 "errno": errno, "nth": nth, "outcome": outcome,
                                 "reason": reason, "syscall": report.get("syscall"),
                                 "path": report.get("path"), "end": run.end_line()})
            return outcome, report
        finally:
            run.cleanup()

    def crash(self, mode, call, nth):
        """Kills a run at the nth call of a group, runs the command again, judges."""
        run = self.fresh(mode)
        try:
            report = run.execute(call, nth=nth, kill=True)
            killed = bool(report.get("killed"))
            point = "%s %s" % (report.get("syscall"), report.get("path")) if killed else \
                "(not reached)"
            damaged = run.damaged_plugins()
            if report.get("signal") not in (9, 0, None) or run.hung:
                outcome, reason = run.crash_outcome(False)
            elif damaged:
                # What the crash left is in use until a next run: an editing application
                # started now would load it.
                outcome, reason = "DAMAGED", "after the crash: " + damaged
            else:
                retried = run.rewrite_request()
                run.execute()
                outcome, reason = run.crash_outcome(retried)
            self.runs += 1
            self.crash_rows.append((mode, call, nth, point, outcome, reason))
            self.results[(mode, call)]["runs"] += 1
            self.results[(mode, call)]["hit"] += killed
            self.results[(mode, call)][outcome] += 1
            if outcome in CRASH_BAD:
                self.bad.append({"mode": mode, "target": "anywhere", "call": call, "errno": "KILL",
                                 "nth": nth, "outcome": outcome, "reason": reason,
                                 "syscall": report.get("syscall"), "path": report.get("path"),
                                 "end": run.end_line()})
            return outcome, report
        finally:
            run.cleanup()

    def crash_table(self):
        return self.outcome_table(("mode", 8), ("call", 7), CRASH_OUTCOMES)

    def trace_clean(self, mode):
        """A run without a fault, traced: its counts and the renames over kept files."""
        run = self.fresh(mode)
        trace = os.path.join(run.root, "trace.jsonl")
        try:
            run.execute(trace=trace)
            outcome, reason = run.outcome()
            if outcome != "OK":
                raise RuntimeError("the %s run without a fault ended %s: %s\n%s%s" % (
                    mode, outcome, reason, run.stdout, run.stderr))
            with open(trace) as f:
                lines = f.readlines()
            kept_roots = [run.appdata, os.path.join(run.kelv, "tagger")]
            renames = [(a if a.startswith("(") else os.path.relpath(a, run.root),
                        os.path.relpath(b, run.root), d, f)
                       for a, b, d, f in kept_file_replacements(lines, kept_roots)]
            return run.report["counts"], renames
        finally:
            run.cleanup()

    def table(self):
        return self.outcome_table(("call", 9), ("errno", 11), OUTCOMES)

    def outcome_table(self, first, second, outcomes):
        """Runs, hits and each outcome per (first, second) key of the results, and a total;
        first and second are (column title, width)."""
        row = "%%-%ds %%-%ds %%5d %%5d" % (first[1], second[1])
        header = "%%-%ds %%-%ds %%5s %%5s" % (first[1], second[1]) % (
            first[0], second[0], "runs", "hit") + "".join(" %11s" % o for o in outcomes)
        lines = [header, "-" * len(header)]
        totals = collections.Counter()
        for key in sorted(self.results):
            counts = self.results[key]
            totals.update(counts)
            lines.append(row % (key[0], key[1], counts["runs"], counts["hit"]) +
                         "".join(" %11d" % counts[o] for o in outcomes))
        lines.append("-" * len(header))
        lines.append("%%-%ds %%5d %%5d" % (first[1] + 1 + second[1]) % (
            "all", totals["runs"], totals["hit"]) + "".join(" %11d" % totals[o] for o in outcomes))
        return "\n".join(lines)

def spread(count, most):
    """Up to `most` call numbers from 1 to count: the first few, then spaced out, and the last."""
    if count <= most:
        return list(range(1, count + 1))
    head = max(1, most // 3)
    picks = set(range(1, head + 1)) | {count}
    rest = most - len(picks)
    for i in range(1, rest + 1):
        picks.add(head + round(i * (count - head) / (rest + 1)))
    return sorted(picks)


TARGETS = {
    "save": (None, "listed", "upload", "logs"),
    "open": (None, "table", "chapter", "configs", "logs"),
    "install": (None, "configs", "packages", "logs"),
}


def plan(harness, modes, per_combo, calls=None, errnos=None, targets=None):
    """[(mode, target, call, errno, nth)] from a counting run per mode and target."""
    runs = []
    for mode in modes:
        for target in TARGETS[mode]:
            if targets is not None and (target or "anywhere") not in targets:
                continue
            counts = harness.count(mode, target)
            for call, codes in ERRNOS.items():
                if calls and call not in calls:
                    continue
                if target and call in ("connect", "send", "recv"):
                    continue  # not calls on a file
                # A few more for the later errors of a group would only repeat the first.
                for index, errno in enumerate(codes):
                    if errnos and errno not in errnos:
                        continue
                    most = per_combo if index == 0 else max(2, per_combo // 3)
                    for nth in spread(counts.get(call, 0), most):
                        runs.append((mode, target, call, errno, nth))
    return runs


def find_binaries(binary_dir):
    hopwell = os.environ.get("HOPWELL_BIN") or os.path.join(binary_dir, "src", "hopwell")
    injector = os.path.join(binary_dir, "tools", "faultinject", "faultinject")
    return hopwell, injector


def run_planned(binary_dir, make_plan, run_one, budget=None, shuffle_seed=None, sample=None,
                progress=None):
    """Runs the planned runs one by one with one simulator, in a shuffled order when asked,
    until the budget (seconds) is spent; returns the harness with their outcomes."""
    hopwell, injector = find_binaries(binary_dir)
    os.environ.setdefault("HOPWELL_BINARY_DIR", binary_dir)
    started = time.monotonic()
    with RunningSimulator() as sim:
        harness = Harness(hopwell, injector, sim)
        runs = make_plan(harness)
        if shuffle_seed is not None:
            random.Random(shuffle_seed).shuffle(runs)
        if sample is not None:
            runs = runs[:sample]
        for index, run in enumerate(runs):
            if budget is not None and time.monotonic() - started > budget:
                break
            outcome, report = run_one(harness, run)
            if progress:
                progress(index + 1, len(runs), run, outcome, report)
    harness.elapsed = time.monotonic() - started
    harness.planned = len(runs)
    return harness


def run_matrix(binary_dir, modes, per_combo, budget=None, calls=None, errnos=None, targets=None,
               shuffle_seed=None, progress=None):
    return run_planned(binary_dir,
                       lambda harness: plan(harness, modes, per_combo, calls, errnos, targets),
                       lambda harness, run: harness.inject(*run),
                       budget=budget, shuffle_seed=shuffle_seed, progress=progress)


def plan_crash(harness, modes, spread_most, calls=None):
    """[(mode, call, nth)]: every call of the KILL_EVERY groups of a traced clean run, and a
    spread of its writes and sends."""
    runs = []
    for mode in modes:
        counts, harness.renames[mode] = harness.trace_clean(mode)
        for call in KILL_EVERY + KILL_SPREAD:
            if calls and call not in calls:
                continue
            count = counts.get(call, 0)
            picks = range(1, count + 1) if call in KILL_EVERY else spread(count, spread_most)
            runs += [(mode, call, nth) for nth in picks]
    return runs


def run_crash_matrix(binary_dir, modes, spread_most=12, budget=None, calls=None,
                     shuffle_seed=None, sample=None, progress=None):
    """Kills at each planned call and judges the run after it; with sample, only that many
    kill points (drawn with shuffle_seed)."""
    return run_planned(binary_dir,
                       lambda harness: plan_crash(harness, modes, spread_most, calls),
                       lambda harness, run: harness.crash(*run),
                       budget=budget, shuffle_seed=shuffle_seed, sample=sample,
                       progress=progress)
