#!/usr/bin/env python3
"""Runs a command with a COM port whose far end echoes every byte.

usage: echo_com_port.py PORT -- COMMAND...

A pseudo-terminal stands in for the port; wine maps PORT (COM41, say) to it
through $WINEPREFIX/dosdevices. The command sees the name in
$QMX_WIN_TEST_PORT. Returns the command's exit status.
"""
import os
import pty
import select
import subprocess
import sys
import threading
import tty


def echo(master, stop):
    while not stop.is_set():
        ready, _, _ = select.select([master], [], [], 0.1)
        if not ready:
            continue
        try:
            data = os.read(master, 4096)
        except OSError:  # no slave open for a moment
            continue
        while data:
            data = data[os.write(master, data):]


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        sys.exit(__doc__)
    port, command = sys.argv[1], sys.argv[3:]
    prefix = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
    master, slave = pty.openpty()
    # Raw from the start, so nothing is echoed or translated by the line
    # discipline before the program under test sets the port up.
    tty.setraw(slave)
    link = os.path.join(prefix, "dosdevices", port.lower())
    os.makedirs(os.path.dirname(link), exist_ok=True)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)
    stop = threading.Event()
    thread = threading.Thread(target=echo, args=(master, stop), daemon=True)
    thread.start()
    try:
        env = dict(os.environ, QMX_WIN_TEST_PORT=port)
        return subprocess.call(command, env=env)
    finally:
        # A wine process that opened the port may have made it the wine
        # server's controlling terminal: closing it under the server would
        # hang it up. Let the server finish first.
        subprocess.call(["wineserver", "-w"])
        stop.set()
        thread.join()
        os.unlink(link)
        os.close(slave)
        os.close(master)


if __name__ == "__main__":
    sys.exit(main())
