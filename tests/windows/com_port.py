#!/usr/bin/env python3
"""Runs a command with a COM port for wine, backed by a pseudo-terminal.

usage: com_port.py PORT [--sim QMX71SIM] [--preload SHIM] -- COMMAND...

Without --sim the far end echoes every byte. With --sim it is the simulated
programmer (a 24C64 in the socket, real timing, its push switch pressed and
released every half second), which keeps the link current through
$WINEPREFIX/dosdevices and logs every command it takes to a file named to the
command in $QMX_WIN_SIM_LOG (as a Windows path). --preload puts SHIM in the
command's LD_PRELOAD only. The command sees the port's name in
$QMX_WIN_TEST_PORT. Returns the command's exit status.
"""
import argparse
import os
import pty
import select
import subprocess
import sys
import tempfile
import threading
import time
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


def start_echo(link, stop):
    master, slave = pty.openpty()
    # Raw from the start, so nothing is echoed or translated by the line
    # discipline before the program under test sets the port up.
    tty.setraw(slave)
    os.symlink(os.ttyname(slave), link)
    thread = threading.Thread(target=echo, args=(master, stop), daemon=True)
    thread.start()

    def end():
        thread.join()
        os.close(slave)
        os.close(master)
    return end


def press_switch(sim, stop):
    while not stop.wait(0.25):
        for line in (b"press\n", b"release\n"):
            try:
                sim.stdin.write(line)
                sim.stdin.flush()
            except OSError:
                return
            if stop.wait(0.25):
                return


def start_sim(path, link, log, stop):
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    sim = subprocess.Popen([path, "--part", "24C64", "--timing", "real", "--log", "--link", link],
                           stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=log, env=env)
    deadline = time.monotonic() + 10
    while not os.path.lexists(link):
        if sim.poll() is not None or time.monotonic() > deadline:
            sys.exit("com_port.py: the simulator did not start")
        time.sleep(0.02)
    thread = threading.Thread(target=press_switch, args=(sim, stop), daemon=True)
    thread.start()

    def end():
        thread.join()
        sim.terminate()
        sim.wait(timeout=10)
    return end


def main():
    if "--" not in sys.argv:
        sys.exit(__doc__)
    split = sys.argv.index("--")
    command = sys.argv[split + 1:]
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("port")
    parser.add_argument("--sim")
    parser.add_argument("--preload")
    args = parser.parse_args(sys.argv[1:split])
    if not command:
        sys.exit(__doc__)
    prefix = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
    link = os.path.join(prefix, "dosdevices", args.port.lower())
    os.makedirs(os.path.dirname(link), exist_ok=True)
    if os.path.lexists(link):
        os.unlink(link)
    env = dict(os.environ, QMX_WIN_TEST_PORT=args.port)
    if args.preload:
        env["LD_PRELOAD"] = os.path.abspath(args.preload)
    # One server for the whole run, with wine's background services, started
    # before any client: a client that starts while an idle server shuts
    # down is refused ("recvmsg: Connection reset by peer"). Streams
    # detached, or a caller reading the command's output (ctest) would wait
    # for services that a client started with its pipes.
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.call(["wineserver", "-p"], **quiet)
    subprocess.call(["wine", "cmd", "/c", "exit"], **quiet)
    stop = threading.Event()
    with tempfile.NamedTemporaryFile(prefix="qmx-sim-", suffix=".log") as log:
        if args.sim:
            end = start_sim(args.sim, link, log, stop)
            env["QMX_WIN_SIM_LOG"] = "Z:" + log.name.replace("/", "\\")
        else:
            end = start_echo(link, stop)
        try:
            return subprocess.call(command, env=env)
        finally:
            # A wine process that opened the port may have made it the wine
            # server's controlling terminal: closing it under the server would
            # hang it up. End the server (and what it still runs) first.
            subprocess.call(["wineserver", "-k"], **quiet)
            try:
                subprocess.call(["wineserver", "-w"], timeout=30, **quiet)
            except subprocess.TimeoutExpired:
                pass
            stop.set()
            end()
            if os.path.lexists(link):
                os.unlink(link)


if __name__ == "__main__":
    sys.exit(main())
