"""The connectivity test page of the secure server."""
from hopwell_sim.message import Response
from hopwell_sim.registry import route

PAGE = """<!DOCTYPE html>
<html><head><title>Kelvory login</title></head>
<body><h1>Kelvory</h1><p>Please log in.</p></body></html>
"""


@route("GET", "/login/index.html")
def login_page(sim, request):
    return Response(200, PAGE, "text/html; charset=utf-8")
