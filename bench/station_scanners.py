"""varnex station on 32 ports x 3 units, as the station figure, with a simulated serial-mode
barcode scanner per fixture: each unit waits for its label (require_serial) and is scanned
as its port asks, as an operator would. Every row must carry its unit's serial (none wrong,
none missing), each load is held against the line limit, and varnex's CPU per port is taken
with the scanners attached, beside the plain station's figure."""
import json
import os
import resource
import select
import sys
import time

import varnex_station as st

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "cli"))

from simscanner import Scanner  # noqa: E402

PORTS = 32
UNITS_PER_PORT = 3
READ_SLICE_S = 0.5
RESCAN_AFTER_S = 2.0


def serial_of(port, unit):
    return "SN-%02d-%d" % (port, unit)


def scan_as_asked(varnex, scanners, timeout):
    """Reads varnex's events until it ends, scanning each port's next unit when its port asks,
    and again while the scan is not taken (its scanner was not open yet)."""
    names = {"fixture %d" % (i + 1): i for i in range(len(scanners))}
    scanned = [0] * len(scanners)
    pending = {}  # port index: (serial, when sent)
    buffer = b""
    fd = varnex.process.stdout.fileno()
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for index, (serial, sent) in list(pending.items()):
            if time.monotonic() - sent >= RESCAN_AFTER_S:
                scanners[index].scan(serial)
                pending[index] = (serial, time.monotonic())
        if not select.select([fd], [], [], READ_SLICE_S)[0]:
            continue
        chunk = os.read(fd, 65536)
        if not chunk:
            return
        buffer += chunk
        *lines, buffer = buffer.split(b"\n")
        for line in lines:
            event = json.loads(line) if line.strip() else {}
            index = names.get(event.get("port"))
            if index is None or event.get("event") != "step":
                continue
            message = event.get("message", "")
            if "scan the unit's label" in message and scanned[index] < UNITS_PER_PORT:
                scanned[index] += 1
                pending[index] = (serial_of(index, scanned[index]), time.monotonic())
                scanners[index].scan(pending[index][0])
            elif index in pending and message.startswith("SN %s scanned" % pending[index][0]):
                del pending[index]


def run(work_dir, ports=PORTS, units_per_port=UNITS_PER_PORT):
    folder = os.path.join(work_dir, "station-scanner-units")
    os.makedirs(folder, exist_ok=True)
    records = st.fresh_records(folder)
    units = st.start_lines(folder, ports, units_per_port)
    scanners = [Scanner(folder, "scanner-%d" % i) for i in range(ports)]
    config = os.path.join(folder, "station.toml")
    with open(config, "w") as f:
        f.write("require_serial = true\n")
        for i, unit in enumerate(units):
            f.write('[[port]]\nname = "fixture %d"\ndevice = "%s"\nscanner = "%s"\n' % (i + 1, unit.link,
                                                                                      scanners[i].link))
    try:
        args = ["station", "--bootloader", "--baud", str(st.BAUD), "--records", records, "--station", "bench",
                "--count", str(ports * units_per_port), "--json", "--config", config]
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        started = time.monotonic()
        varnex = st.s.Varnex(args, units)
        scan_as_asked(varnex, scanners, st.RUN_TIMEOUT_S)
        hung = varnex.process.poll() is None
        if hung:
            varnex.process.terminate()
        varnex.process.wait(st.STOP_TIMEOUT_S)
        wall = time.monotonic() - started
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        histories = st.line_histories(units)
    finally:
        for unit in units:
            unit.stop()
        for scanner in scanners:
            scanner.close()
    rows = st.read_rows(records)
    result = st.judge(rows, [("fixture %d" % (i + 1), h) for i, h in enumerate(histories)], units_per_port)
    wrong = missing = 0
    for i in range(ports):
        mine = sorted((r for r in rows if r["port"] == "fixture %d" % (i + 1)), key=lambda r: r["unit"])
        for n in range(units_per_port):
            if n >= len(mine) or not mine[n]["serial"]:
                missing += 1
            elif mine[n]["serial"] != serial_of(i, n + 1):
                wrong += 1
    result.update({"ports": ports, "wall_seconds": wall, "cpu_seconds": cpu, "stopped_at_timeout": hung,
                   "cpu_percent_per_port": cpu / wall * 100.0 / ports,
                   "serials_wrong": wrong, "serials_missing": missing})
    return result
