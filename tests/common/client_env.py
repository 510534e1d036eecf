"""The environment for running the built client in a script test: the caller's environment
with the test's own overrides (its folders, stand-in switches), and without the proxy
variables that would route loopback servers through a proxy."""

import os

PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY")


def client_env(**overrides):
    env = dict(os.environ, **overrides)
    for name in PROXY_VARIABLES:
        env.pop(name, None)
    return env
