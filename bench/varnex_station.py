"""varnex station on 32 ports, each a line of three simulated units that hold the line to its
real rate at 115 200 baud: every unit's row present and right in the records, each load's
time against the line limit, and varnex's CPU per port. Native, no Wine: the units and the
runner are those of the command-line tests (tests/cli).

The other station figures (the web board, a configuration file, forwarding) stand on what
is here: lines of units, one measured run and one judgement of rows against images."""
import json
import os
import resource
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "cli"))

import simunits as s  # noqa: E402

PORTS = 32
UNITS_PER_PORT = 3
BAUD = 115200
BITS_PER_BYTE = 11  # start, 8 data, odd parity, stop
BOOTLOADER_BYTES = 249008
LINE_GAP_MS = 1500  # a unit taken away and the next plugged in
RUN_TIMEOUT_S = 900
RECORDS_READ_TIMEOUT_S = 60
STOP_TIMEOUT_S = 30


def fresh_records(folder, name="records"):
    """A records file path of this run, with nothing left of an earlier one."""
    path = os.path.join(folder, "%s-%d.db" % (name, os.getpid()))
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            os.remove(path + suffix)
    return path


def start_lines(folder, count, units_per_port, paced=True, line_gap_ms=LINE_GAP_MS):
    """count simulated lines, each bringing units_per_port units one after another, held to
    the line's rate unless paced is False (the unit then reads as fast as the PC writes)."""
    units = []
    try:
        for _ in range(count):
            units.append(s.Unit(folder, ["--baud", str(BAUD), "--line", str(units_per_port),
                                         "--line-gap-ms", str(line_gap_ms)] + (["--pace"] if paced else [])))
    except BaseException:
        for unit in units:
            unit.stop()
        raise
    return units


def timed_run(args, units, timeout=RUN_TIMEOUT_S):
    """varnex run to its end: (stdout, wall seconds, CPU seconds of the children that ended
    meanwhile, varnex itself, whether it had to be stopped). Nothing else may end in that
    time. A station still running at the timeout is stopped as its service would be
    (SIGTERM), so the rows it kept are judged and a hang shows as units never loaded; any other
    failure to exit 0 fails the figure."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    run = s.Varnex(args, units)
    hung = False
    try:
        code, out, err = run.wait(timeout)
    except subprocess.TimeoutExpired:
        hung = True
        run.process.terminate()
        code, out, err = run.wait(STOP_TIMEOUT_S)
    wall = time.monotonic() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if code != 0 and not hung:
        raise AssertionError("varnex %s failed (%d): %s %s" % (args[0], code, out[-2000:], err[-2000:]))
    return out, wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), hung


def read_rows(records):
    listed = subprocess.run([s.VARNEX, "records", records, "--format", "json"], capture_output=True, text=True,
                            timeout=RECORDS_READ_TIMEOUT_S)
    if listed.returncode != 0:
        raise AssertionError("varnex records %s failed: %s" % (records, listed.stderr[-2000:]))
    return [json.loads(line) for line in listed.stdout.splitlines() if line.strip()]


def line_histories(units):
    """Each line's loads as its units saw them, asked before the units stop."""
    return [unit.request(cmd="line")["line"]["history"] for unit in units]


def judge(rows, port_histories, units_per_port, image_bytes=BOOTLOADER_BYTES, image_sha256=None):
    """Rows against what each line's units received. port_histories is [(the port as the
    records name it, that line's history)]. A row is right when its unit was confirmed with
    every byte and the unit holds the whole image; an image is identical when the unit holds
    every byte of it, whatever the row says; a unit its line never loaded counts as both.
    The image is the bootloader unless its size and SHA-256 are given."""
    expected = image_sha256 or s.image_sha256("BOOTLOADER")
    limit = image_bytes / (BAUD / BITS_PER_BYTE)

    def whole(seen):
        return seen["finished"] and seen["bytes"] == image_bytes and seen["sha256"] == expected

    right = identical = 0
    ratios = []
    for port, history in port_histories:
        mine = sorted((r for r in rows if r["port"] == port), key=lambda r: r["unit"])
        for seen in history:
            ratios.append((seen["last_byte_ms"] - seen["start_ms"]) / 1000.0 / limit)
            identical += whole(seen)
        for row, seen in zip(mine, history):
            right += row["result"] == "confirmed" and row["bytes_sent"] == image_bytes and whole(seen)
    total = len(port_histories) * units_per_port
    return {"units": total, "rows": len(rows), "rows_right": right,
            "rows_wrong": total - right + max(0, len(rows) - total),
            "lost_images": total - min(identical, total),
            "worst_ratio": max(ratios) if ratios else float("inf")}


def run(work_dir, ports=PORTS, units_per_port=UNITS_PER_PORT):
    folder = os.path.join(work_dir, "station-units")
    os.makedirs(folder, exist_ok=True)
    records = fresh_records(folder)
    units = start_lines(folder, ports, units_per_port)
    try:
        args = ["station", "--bootloader", "--baud", str(BAUD), "--records", records, "--station", "bench",
                "--count", str(ports * units_per_port), "--json"]
        for unit in units:
            args += ["--port", unit.link]
        _, wall, cpu, hung = timed_run(args, units)
        histories = line_histories(units)
    finally:
        for unit in units:
            unit.stop()
    result = judge(read_rows(records), [(unit.link, history) for unit, history in zip(units, histories)],
                   units_per_port)
    result.update({"ports": ports, "wall_seconds": wall, "cpu_seconds": cpu, "stopped_at_timeout": hung,
                   "cpu_percent_per_port": cpu / wall * 100.0 / ports})
    return result
