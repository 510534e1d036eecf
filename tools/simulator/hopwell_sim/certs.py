"""A local test CA and a server certificate for 127.0.0.1, made with the openssl tool when
missing. The client is given ca.pem as its CA file, so HTTPS runs with verification on."""
import fcntl
import os
import subprocess

DAYS = "3650"


def ensure_certificates(folder):
    """Returns (ca.pem, server.pem, server.key) under folder, creating what is missing."""
    os.makedirs(folder, exist_ok=True)
    ca_key = os.path.join(folder, "ca.key")
    ca_pem = os.path.join(folder, "ca.pem")
    server_key = os.path.join(folder, "server.key")
    server_pem = os.path.join(folder, "server.pem")
    with open(os.path.join(folder, ".lock"), "w") as lock:
        # Several simulators may start at once (parallel test runs): one makes the files.
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not all(os.path.exists(p) for p in (ca_pem, server_pem, server_key)):
            _make(folder, ca_key, ca_pem, server_key, server_pem)
    return ca_pem, server_pem, server_key


def _run(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def _make(folder, ca_key, ca_pem, server_key, server_pem):
    ext = os.path.join(folder, "server.ext")
    csr = os.path.join(folder, "server.csr")
    _run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca_pem,
         "-days", DAYS, "-subj", "/CN=Hopwell Test CA",
         "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    _run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", server_key, "-out", csr,
         "-subj", "/CN=127.0.0.1")
    with open(ext, "w") as out:
        out.write("basicConstraints=CA:FALSE\n"
                  "keyUsage=digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\n"
                  "subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    _run("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
         "-out", server_pem, "-days", DAYS, "-sha256", "-extfile", ext)
    for leftover in (csr, ext):
        os.remove(leftover)
