#!/usr/bin/env python3
"""Prints Veltrane's current weight once, or with --follow every new weight as it changes.

Standard library only. Run it as the user who runs Veltrane.
"""
import os
import socket
import sys


def socket_path():
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    if runtime and os.path.isdir(runtime):
        return os.path.join(runtime, "veltrane.dde")
    return f"/tmp/veltrane-{os.getuid()}/veltrane.dde"


def lines(sock):
    """The feed's answers, one line at a time, without the line end."""
    pending = b""
    while True:
        chunk = sock.recv(4096)
        if not chunk:
            return
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            yield line.decode("utf-8")


def main():
    follow = "--follow" in sys.argv[1:]
    verb = "ADVISE" if follow else "REQUEST"
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as sock:
        sock.connect(socket_path())
        sock.sendall(f"{verb} veltrane weightdata\n".encode("utf-8"))
        for line in lines(sock):
            kind, _, text = line.partition(" ")
            if kind != "DATA":
                sys.exit(f"veltrane: {line}")
            # An empty text means the weight box was emptied (no reading).
            print(text, flush=True)
            if not follow:
                return
    sys.exit("veltrane: the feed closed the connection")


if __name__ == "__main__":
    main()
