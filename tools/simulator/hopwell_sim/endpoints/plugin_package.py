"""The plug-in package and the plug-in keys of the install document.

GET  .../api/v2/ext/plugin/package/{name}   the package: a zip made here with Scripts/,
                                            Extensions/, x64/ and Win32/ folders
POST /_sim/plugin_package                   {"version": "2026.2.0", "mode": "zip" | "not-zip",
                                            "crc": "...", "extra_entry": "name"}: changes
                                            what the next install document announces and
                                            what the package holds ("extra_entry": one more
                                            entry of that name, e.g. a hostile one)

The install document names the stand-in editing application (tools/standin, built by the
project) as "appdefaultpath" (InDesign.exe) and "additionalappdefaultpath" (InCopy.exe),
from $HOPWELL_STANDIN_DIR, else $HOPWELL_BINARY_DIR/tools/standin, else the default build
folder. "pluginversion" is the package version, "pluginurl" the package address (the version +
".zip"), "plugincrc" the package's CRC-32 in hexadecimal (or the "crc" set
above). A 404 for the package is the scenario {"mode": "404", "path_prefix":
"/api/v2/ext/plugin/package/"}; a slow one {"mode": "delay", "delay": 5, "path":
"/api/v2/ext/plugin/package/2026.1.0.zip"}.

The query parameters "appversion" and "pluginversion" of the install document's address
replace the application version and the package version of that one document, so that
commands for several application versions with their own packages can run at once.
"""
import io
import json
import os
import zipfile
import zlib

from hopwell_sim.message import Response
from hopwell_sim.parameters import parameter_source
from hopwell_sim.registry import route

DEFAULT_VERSION = "2026.1.0"
PACKAGE_PATH = "/api/v2/ext/plugin/package/"
_REPO_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.dirname(os.path.abspath(__file__))))))


def standin_dir():
    explicit = os.environ.get("HOPWELL_STANDIN_DIR")
    if explicit:
        return explicit
    binary_dir = os.environ.get("HOPWELL_BINARY_DIR") or os.path.join(_REPO_ROOT, "build", "default")
    return os.path.join(binary_dir, "tools", "standin")


def _settings(sim):
    with sim.state_lock:
        return dict(sim.state.get("plugin_package", {}))


def package_bytes(version, mode="zip", extra_entry=None):
    """The package of a version; the same bytes on every call (fixed entry times)."""
    if mode == "not-zip":
        return ("This is not a zip archive (plug-ins %s)\n" % version).encode("utf-8")
    files = [
        ("Scripts/Kelvory Startup/startup.jsx", "// Kelvory start-up script %s\n" % version),
        ("Scripts/Kelvory Startup/lib/helpers.jsxinc", "// helpers\n"),
        ("Scripts/readme.txt", "Kelvory scripts %s\n" % version),
        ("Extensions/com.kelvory.panel/CSXS/manifest.xml",
         '<?xml version="1.0"?>\n<ExtensionManifest Version="%s"/>\n' % version),
        ("Extensions/com.kelvory.panel/index.html", "<html><body>Kelvory</body></html>\n"),
        ("x64/KelvPublishing.pln", "x64 plug-in %s\n" % version),
        ("x64/Resources/KelvUI.pln", "x64 UI plug-in %s\n" % version),
        ("Win32/KelvPublishing.pln", "Win32 plug-in %s\n" % version),
        ("Win32/Resources/KelvUI.pln", "Win32 UI plug-in %s\n" % version),
    ]
    if extra_entry:
        files.append((extra_entry, "extra entry\n"))
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, text in files:
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, text)
    return out.getvalue()


def package_name(version):
    # Named after the version, so that the extraction folder of an installed version is
    # found again by its version when the next one replaces it.
    return "%s.zip" % version


@parameter_source("install")
def plugin_keys(sim, request, document):
    settings = _settings(sim)
    version = request.param("pluginversion") or settings.get("version", DEFAULT_VERSION)
    if request.param("appversion"):
        document.set("appversion", request.param("appversion"))
    folder = standin_dir()
    document.set("appdefaultpath", os.path.join(folder, "InDesign.exe"))
    document.set("additionalappname", "Adobe InCopy 2026")
    document.set("additionalappquery", "InCopy.Application.2026")
    document.set("additionalappdefaultpath", os.path.join(folder, "InCopy.exe"))
    document.set("pluginversion", version)
    document.set("pluginurl", request.base_url() + PACKAGE_PATH + package_name(version))
    crc = zlib.crc32(package_bytes(version, settings.get("mode", "zip"),
                                   settings.get("extra_entry")))
    document.set("plugincrc", settings.get("crc", "%08x" % crc))


@route("GET", "{address*}" + PACKAGE_PATH + "{name}")
def plugin_package(sim, request):
    name = request.match["name"]
    if not name.endswith(".zip"):
        return Response(404, "no such package\n")
    version = name[:-len(".zip")]
    settings = _settings(sim)
    return Response(200, package_bytes(version, settings.get("mode", "zip"),
                                       settings.get("extra_entry")), "application/zip")


@route("POST", "/_sim/plugin_package", log=False)
def set_plugin_package(sim, request):
    try:
        value = json.loads(request.body.decode("utf-8") or "{}")
        if not isinstance(value, dict):
            raise ValueError("expected an object")
    except ValueError as error:
        return Response(400, str(error))
    with sim.state_lock:
        sim.state.setdefault("plugin_package", {}).update(value)
    return Response(200, "ok")
