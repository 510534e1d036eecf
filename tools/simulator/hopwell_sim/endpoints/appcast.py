"""The update feed of the desktop client: a Sparkle-style appcast.

The newest version offered can be changed with the control call
POST /_sim/appcast {"version": "1.8.0.0", "short": "1.8.0"} (empty object: back to the
default). By default the feed offers the version the client already has, so checks report
"up to date".
"""
import json
from xml.sax.saxutils import escape, quoteattr

from hopwell_sim.message import Response
from hopwell_sim.registry import on_reset, route

DEFAULT_VERSION = "1.7.1.0"
DEFAULT_SHORT = "1.7.1"


def _offer(sim):
    with sim.state_lock:
        return dict(sim.state.get("appcast", {"version": DEFAULT_VERSION, "short": DEFAULT_SHORT}))


@on_reset
def reset(sim):
    with sim.state_lock:
        sim.state.pop("appcast", None)


@route("GET", "/apps/hopwell/appcast.xml")
def appcast(sim, request):
    offer = _offer(sim)
    base = request.base_url()
    version = offer.get("version", DEFAULT_VERSION)
    short = offer.get("short", version)
    download = "%s/apps/hopwell/hopwell-%s.deb" % (base, short)
    notes = "%s/apps/hopwell/notes-%s.html" % (base, short)
    body = (
        '<?xml version="1.0" encoding="utf-8"?>\n'
        '<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">\n'
        "<channel>\n<title>Kelvory Hopwell</title>\n"
        "<item>\n<title>Version %s</title>\n"
        "<sparkle:releaseNotesLink>%s</sparkle:releaseNotesLink>\n"
        "<pubDate>Mon, 07 Dec 2026 10:00:00 +0000</pubDate>\n"
        "<enclosure url=%s sparkle:version=%s sparkle:shortVersionString=%s "
        'sparkle:os="linux" length="1024" type="application/octet-stream"/>\n'
        "</item>\n</channel>\n</rss>\n"
        % (escape(short), escape(notes), quoteattr(download), quoteattr(version), quoteattr(short))
    )
    return Response(200, body, "application/rss+xml; charset=utf-8")


@route("POST", "/_sim/appcast", log=False)
def set_offer(sim, request):
    try:
        wanted = json.loads(request.body or b"{}")
    except ValueError:
        return Response(400, "not JSON\n")
    with sim.state_lock:
        if wanted:
            sim.state["appcast"] = {"version": str(wanted.get("version", DEFAULT_VERSION)),
                                    "short": str(wanted.get("short", wanted.get("version", DEFAULT_SHORT)))}
        else:
            sim.state.pop("appcast", None)
    return Response(200, "ok\n")
