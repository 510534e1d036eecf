"""Kelvory platform simulator: a loopback stand-in for the platform's servers."""
