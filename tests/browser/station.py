#!/usr/bin/env python3
"""A varnex station with its web board on lines of simulated units, for the browser tests
and the README's screenshot. Prints one JSON line once the board is served:
  {"url": "http://127.0.0.1:PORT/", "ports": [...], "records": "..."}
then reads commands, one a line: "stop" ends the station (as Ctrl-C does) and prints
{"stopped": EXIT_CODE}; "start [TOKEN]" starts it again on the same address (with another
token, if given) and prints {"url": ...} again; the end of input stops everything that was
started.

  station.py [--steady N] [--failing N] [--hostile-name] [--pace] [--gap-ms MS] [--stagger-ms MS]
             [--token TOKEN]

--failing ports switch their first unit off mid-image; --hostile-name adds a port whose name
is HTML that would run a script if the page ever parsed it."""
import argparse
import json
import os
import re
import shutil
import signal
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
from simunits import VARNEX, Unit, Varnex  # noqa: E402

HOSTILE_NAME = "<img src=x onerror=document.title='pwned'>"
CUT_AT_BYTES = 60000
UNITS_PER_LINE = 40
URL_TIMEOUT_S = 30
URL = re.compile(r"web board at (http://\S+)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--steady", type=int, default=1)
    parser.add_argument("--failing", type=int, default=1)
    parser.add_argument("--hostile-name", action="store_true")
    parser.add_argument("--pace", action="store_true")
    parser.add_argument("--gap-ms", type=int, default=1500)
    parser.add_argument("--failure-gap-ms", type=int, default=8000)
    parser.add_argument("--usb-names", action="store_true",
                        help="name the ports ttyUSB0, ttyUSB1, ... (links in the station's folder, its working folder)")
    parser.add_argument("--stagger-ms", type=int, default=0, help="each steady line's gap this much longer")
    parser.add_argument("--token", default="", help="the board's token (written to a file in the station's folder)")
    options = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="varnex-web-")
    units = []
    run = None
    try:
        common = ["--line", str(UNITS_PER_LINE)] + (["--pace"] if options.pace else [])
        for index in range(options.steady):
            gap = options.gap_ms + index * options.stagger_ms
            units.append(Unit(folder, common + ["--line-gap-ms", str(gap)]))
        for _ in range(options.failing):
            units.append(Unit(folder, common + ["--line-gap-ms", str(options.failure_gap_ms),
                                                "--line-fault", "1:drop_mid_image:%d" % CUT_AT_BYTES]))
        ports = [unit.link for unit in units]
        if options.hostile_name:
            unit = Unit(folder, common + ["--line-gap-ms", str(options.gap_ms)])
            units.append(unit)
            named = os.path.join(folder, HOSTILE_NAME)
            os.symlink(unit.link, named)
            ports.append(named)
        records = os.path.join(folder, "shift.db")
        if options.usb_names:
            os.chdir(folder)
            for index, port in enumerate(list(ports)):
                ports[index] = "ttyUSB%d" % index
                os.symlink(port, ports[index])
            records = "shift.db"
        args = ["station", "--bootloader", "--baud", "115200", "--records", records, "--station", "line-3"]
        for port in ports:
            args += ["--port", port]
        run, url = start(args, units, folder, options.token, "127.0.0.1:0")
        print(json.dumps({"url": url, "ports": ports, "records": records}), flush=True)
        for line in sys.stdin:
            command = line.split()
            if command[:1] == ["stop"] and run.process.poll() is None:
                run.process.send_signal(signal.SIGINT)
                run.process.wait(60)
                print(json.dumps({"stopped": run.process.returncode}), flush=True)
            elif command[:1] == ["start"] and run.process.poll() is not None:
                token = command[1] if len(command) > 1 else options.token
                run, url = start(args, units, folder, token, url.split("//")[1].split("/")[0])
                print(json.dumps({"url": url, "ports": ports, "records": records}), flush=True)
    finally:
        if run is not None and run.process.poll() is None:
            run.process.kill()
            run.process.wait(30)
        for unit in units:
            unit.stop()
        shutil.rmtree(folder, ignore_errors=True)


def start(args, units, folder, token, address):
    """varnex station serving its board at the address; (the run, the board's address)."""
    args = args + ["--http", address]
    if token:
        path = os.path.join(folder, "token")
        with open(path, "w") as f:
            f.write(token + "\n")
        args += ["--http-token-file", path]
    run = Varnex(args, units)
    url = read_url(run)
    drain(run.process.stdout)
    drain(run.process.stderr)
    return run, url


def drain(stream):
    """Reads what varnex writes there, so that a full pipe never holds it up."""
    def read():
        fd = stream.fileno()
        os.set_blocking(fd, True)
        while os.read(fd, 65536):
            pass
    threading.Thread(target=read, daemon=True).start()


def read_url(run, said=URL):
    """The address varnex says it serves the board (or, by said, another page) at, from its first
    lines on stderr."""
    deadline = time.monotonic() + URL_TIMEOUT_S
    seen = b""
    fd = run.process.stderr.fileno()
    os.set_blocking(fd, False)
    while time.monotonic() < deadline:
        try:
            chunk = os.read(fd, 4096)
        except BlockingIOError:
            chunk = None
        if chunk:
            seen += chunk
            found = said.search(seen.decode(errors="replace"))
            if found:
                return found.group(1)
        elif chunk == b"" or run.process.poll() is not None:
            break
        time.sleep(0.05)
    raise SystemExit("%s did not serve its page: %s" % (VARNEX, seen.decode(errors="replace")[-2000:]))


if __name__ == "__main__":
    main()
