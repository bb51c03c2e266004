"""varnex station on 32 ports, each a line of three simulated units that hold the line to its
real rate at 115 200 baud: every unit's row present and right in the records, each load's
time against the line limit, and varnex's CPU per port. Native, no Wine: the units and the
runner are those of the command-line tests (tests/cli)."""
import json
import os
import subprocess
import sys

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


def run(work_dir, ports=PORTS, units_per_port=UNITS_PER_PORT):
    folder = os.path.join(work_dir, "station-units")
    os.makedirs(folder, exist_ok=True)
    records = os.path.join(folder, "records-%d.db" % os.getpid())
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(records + suffix):
            os.remove(records + suffix)
    units = []
    try:
        for _ in range(ports):
            units.append(s.Unit(folder, ["--baud", str(BAUD), "--pace", "--line", str(units_per_port),
                                         "--line-gap-ms", str(LINE_GAP_MS)]))
        args = ["station", "--bootloader", "--baud", str(BAUD), "--records", records, "--station", "bench",
                "--count", str(ports * units_per_port), "--json"]
        _, wall, cpu = s.measured_run(args, units, RUN_TIMEOUT_S)
        histories = {unit.link: unit.request(cmd="line")["line"]["history"] for unit in units}
    finally:
        for unit in units:
            unit.stop()
    listed = subprocess.run([s.VARNEX, "records", records, "--format", "json"], capture_output=True, text=True,
                            timeout=60)
    rows = [json.loads(line) for line in listed.stdout.splitlines() if line.strip()]
    expected = s.image_sha256("BOOTLOADER")
    limit = BOOTLOADER_BYTES / (BAUD / BITS_PER_BYTE)
    right = 0
    ratios = []
    for link, history in histories.items():
        mine = sorted((r for r in rows if r["port"] == link), key=lambda r: r["unit"])
        for row, seen in zip(mine, history):
            ratios.append((seen["last_byte_ms"] - seen["start_ms"]) / 1000.0 / limit)
            right += (row["result"] == "confirmed" and row["bytes_sent"] == BOOTLOADER_BYTES and
                      seen["finished"] and seen["bytes"] == BOOTLOADER_BYTES and seen["sha256"] == expected)
    total = ports * units_per_port
    return {"ports": ports, "units": total, "rows": len(rows), "rows_right": right,
            "rows_wrong": total - right + max(0, len(rows) - total),
            "worst_ratio": max(ratios) if ratios else float("inf"), "wall_seconds": wall,
            "cpu_seconds": cpu, "cpu_percent_per_port": cpu / wall * 100.0 / ports}
