"""Control endpoints for tests, under /_sim/. They stay out of the request log and are
never changed by scenarios.

GET  /_sim/health            "ok"
GET  /_sim/pgid              the process group id
GET  /_sim/pid               the process id
GET  /_sim/requests          the request log as a JSON array
POST /_sim/requests/clear    empties the request log
GET  /_sim/scenario          the active rules
POST /_sim/scenario          adds rules: a rule object, an array of them, or
                             {"rules": [...]} to replace all
POST /_sim/scenario/clear    removes every rule
POST /_sim/parameters        {"kind": "open", "set": {...}, "remove": [...], "files": [...],
                             "raw": "<text>"}: changes the documents of one kind
POST /_sim/reset             clears rules, log, state and parameter changes
"""
import json
import os

from hopwell_sim.message import Response, json_response
from hopwell_sim.registry import route


def _json_body(request):
    return json.loads(request.body.decode("utf-8") or "null")


@route("GET", "/_sim/health", log=False)
def health(sim, request):
    return Response(200, "ok")


@route("GET", "/_sim/pgid", log=False)
def process_group(sim, request):
    """Lets a test tell its own simulator from one left running by someone else."""
    return Response(200, str(os.getpgrp()))


@route("GET", "/_sim/pid", log=False)
def process_id(sim, request):
    return Response(200, str(os.getpid()))


@route("GET", "/_sim/requests", log=False)
def requests(sim, request):
    return json_response(sim.log.entries())


@route("POST", "/_sim/requests/clear", log=False)
def clear_requests(sim, request):
    sim.log.clear()
    return Response(200, "ok")


@route("GET", "/_sim/scenario", log=False)
def get_scenario(sim, request):
    return json_response(sim.scenarios.rules())


@route("POST", "/_sim/scenario", log=False)
def set_scenario(sim, request):
    try:
        value = _json_body(request)
        if isinstance(value, dict) and "rules" in value:
            sim.scenarios.set(value["rules"])
        elif isinstance(value, list):
            for rule in value:
                sim.scenarios.add(rule)
        else:
            sim.scenarios.add(value)
    except (ValueError, TypeError, KeyError) as error:
        return Response(400, str(error))
    return json_response(sim.scenarios.rules())


@route("POST", "/_sim/scenario/clear", log=False)
def clear_scenario(sim, request):
    sim.scenarios.clear()
    return Response(200, "ok")


@route("POST", "/_sim/parameters", log=False)
def set_parameters(sim, request):
    try:
        value = _json_body(request)
        kind = value.pop("kind")
    except (ValueError, TypeError, KeyError, AttributeError) as error:
        return Response(400, str(error))
    with sim.state_lock:
        sim.state.setdefault("parameters", {})[kind] = value
    return Response(200, "ok")


@route("POST", "/_sim/reset", log=False)
def reset(sim, request):
    sim.reset()
    return Response(200, "ok")
