"""Parameter documents of the open, install and ESEF commands. The open and ESEF documents
live under any address (the part before the API path is the chapter's or report's own
address); the install document is served at .../api/v2/ext/plugin/install_parameters."""
from hopwell_sim.message import xml_response
from hopwell_sim.parameters import build_document
from hopwell_sim.registry import route


@route("GET", "{address*}/api/v2/ext/chapter/download_parameters")
def open_parameters(sim, request):
    return xml_response(build_document(sim, request, "open"))


@route("GET", "{address*}/api/v2/ext/plugin/install_parameters")
def install_parameters(sim, request):
    return xml_response(build_document(sim, request, "install"))


@route("GET", "{address*}/api/v2/ext/esef/download_parameters")
def esef_parameters(sim, request):
    return xml_response(build_document(sim, request, "esef"))
