#!/usr/bin/env python3
"""Starts the Kelvory platform simulator (HTTP and HTTPS on loopback).

    python3 tools/simulator/simulator.py [--http-port 18080] [--https-port 18443]
        [--ca-dir DIR] [--request-log FILE] [--scenario SPEC]...

Stops on SIGTERM or SIGINT. See README.md next to this file.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from hopwell_sim.app import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
