#!/usr/bin/env python3
"""Drives com_prefix_probe.exe under Wine against a pseudo-terminal.

Links $WINEPREFIX/dosdevices/com12 to the slave side of a fresh
pseudo-terminal pair, runs the probe, checks that the bytes it writes through
ComWrite arrive on the master side, answers with bytes for its ComRead, and
removes the link again. Passes only when the probe passes and every byte
crossed the line.
"""
import os
import select
import subprocess
import sys
import time

TO_WRITE = b"VEZ12-HELLO"
TO_ANSWER = b"PONG"
# Only catches hangs: a 32-bit Wine start can be slow on a loaded machine.
LIMIT_S = 900


def main():
    if len(sys.argv) != 3:
        print("usage: com_prefix_test.py WINE_SESSION_SCRIPT PROBE_EXE", file=sys.stderr)
        return 2
    session, probe = sys.argv[1], sys.argv[2]
    prefix = os.environ.get("WINEPREFIX")
    if not prefix or not os.path.isdir(os.path.join(prefix, "dosdevices")):
        print(f"no Wine prefix with dosdevices at {prefix!r}", file=sys.stderr)
        return 2

    master, slave = os.openpty()
    slave_path = os.ttyname(slave)
    link = os.path.join(prefix, "dosdevices", "com12")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(slave_path, link)
    print(f"com12 -> {slave_path}")

    received = b""
    answered = False
    started = time.monotonic()
    try:
        child = subprocess.Popen(
            ["bash", session, "run", probe, TO_WRITE.decode(), TO_ANSWER.decode()],
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
        )
        output = b""
        while True:
            if time.monotonic() - started > LIMIT_S:
                child.kill()
                print(f"FAIL: probe still running after {LIMIT_S} s")
                break
            ready, _, _ = select.select([master, child.stdout], [], [], 1.0)
            if master in ready:
                try:
                    received += os.read(master, 256)
                except OSError:
                    pass
                if not answered and TO_WRITE in received:
                    os.write(master, TO_ANSWER)
                    answered = True
            if child.stdout in ready:
                chunk = os.read(child.stdout.fileno(), 4096)
                if chunk:
                    output += chunk
                    sys.stdout.write(chunk.decode("latin-1"))
                    sys.stdout.flush()
                elif child.poll() is not None:
                    break
            elif child.poll() is not None and not ready:
                break
        rc = child.wait()
    finally:
        os.remove(link)
        os.close(master)
        os.close(slave)

    ok = True
    if TO_WRITE not in received:
        print(f"FAIL: master side got {received!r}, expected {TO_WRITE!r}")
        ok = False
    else:
        print(f"PASS: master side got {TO_WRITE!r}")
    if rc != 0:
        print(f"FAIL: probe exited {rc}")
        ok = False
    print(f"took {time.monotonic() - started:.0f} s")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
