#!/usr/bin/env python3
"""A line of three stations forwarding to a throwaway PostgreSQL, and one `varnex line` page
over them, for the line page's browser test. Prints one JSON line once the page is served:
  {"url": "http://127.0.0.1:PORT/", "boards": {"bench-1": "http://127.0.0.1:PORT/", ...}}
then reads commands, one a line, answering each with a JSON line:
  stop NAME     ends that station as Ctrl-C does             -> {"stopped": NAME}
  kill NAME     kills it (no stop reaches the server)        -> {"killed": NAME}
  start NAME    starts it again on the same unit             -> {"started": NAME, "board": URL}
The end of input stops everything that was started. The last station's second unit is switched
off mid-image, so one port fails while the page watches."""
import json
import os
import re
import shutil
import signal
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
from pgserver import PgServer  # noqa: E402
from simunits import Unit, Varnex  # noqa: E402
from station import drain, read_url  # noqa: E402

STATIONS = ("bench-1", "bench-2", "bench-3")
FAILING_UNIT = 2
UNITS_PER_LINE = 200
GAP_MS = 1500
FAILURE_GAP_MS = 10000  # the failed unit's port stays failed this long, until the next unit
CUT_AT_BYTES = 60000
LINE_URL = re.compile(r"line page at (http://\S+)")


def station_run(name, unit, folder, pg):
    """The station's run and its board's address."""
    args = ["station", "--bootloader", "--baud", "115200", "--records", os.path.join(folder, name + ".db"),
            "--station", name, "--forward", pg.url, "--http", "127.0.0.1:0", "--port", unit.link]
    run = Varnex(args, [unit], pg.env())
    board = read_url(run)
    drain(run.process.stdout)
    drain(run.process.stderr)
    return run, board


def main():
    folder = tempfile.mkdtemp(prefix="varnex-line-")
    pg = PgServer()
    units, runs, boards, page = {}, {}, {}, None
    try:
        pg.start_fresh()
        for name in STATIONS:
            args = ["--line", str(UNITS_PER_LINE), "--line-gap-ms", str(GAP_MS)]
            if name == STATIONS[-1]:
                args = ["--line", str(UNITS_PER_LINE), "--line-gap-ms", str(FAILURE_GAP_MS),
                        "--line-fault", "%d:drop_mid_image:%d" % (FAILING_UNIT, CUT_AT_BYTES)]
            units[name] = Unit(folder, args)
            runs[name], boards[name] = station_run(name, units[name], folder, pg)
        page = Varnex(["line", pg.url, "--http", "127.0.0.1:0"], [], pg.env())
        url = read_url(page, LINE_URL)
        drain(page.process.stdout)
        drain(page.process.stderr)
        print(json.dumps({"url": url, "boards": boards}), flush=True)
        for line in sys.stdin:
            words = line.split()
            if len(words) != 2 or words[1] not in runs:
                continue
            command, name = words
            run = runs[name].process
            if command == "stop":
                run.send_signal(signal.SIGINT)
                run.wait(60)
                print(json.dumps({"stopped": name}), flush=True)
            elif command == "kill":
                run.kill()
                run.wait(30)
                print(json.dumps({"killed": name}), flush=True)
            elif command == "start":
                runs[name], boards[name] = station_run(name, units[name], folder, pg)
                print(json.dumps({"started": name, "board": boards[name]}), flush=True)
    finally:
        for run in [r.process for r in [page] + list(runs.values()) if r is not None]:
            if run.poll() is None:
                run.kill()
                run.wait(30)
        for unit in units.values():
            unit.stop()
        pg.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
