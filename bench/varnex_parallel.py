"""varnex loading 32 simulated units at once at 115 200 baud, each unit holding the line to
its real rate: each unit's time against the line limit, varnex's CPU per unit, and the rate
varnex's own summary states against the line's rate. Native, no Wine: the units and the
runner are those of the command-line tests (tests/cli)."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "cli"))

import simunits as s  # noqa: E402

UNITS = 32
BAUD = 115200
BITS_PER_BYTE = 11  # start, 8 data, odd parity, stop
BOOTLOADER_BYTES = 249008
RUN_TIMEOUT_S = 300


def run(work_dir):
    folder = os.path.join(work_dir, "varnex-units")
    os.makedirs(folder, exist_ok=True)
    units = []
    try:
        for _ in range(UNITS):
            units.append(s.Unit(folder, ["--mode", "bootloader", "--baud", str(BAUD), "--pace"]))
        out, wall, cpu = s.measured_run(["download", "--bootloader", "--baud", str(BAUD), "--json"], units,
                                        RUN_TIMEOUT_S)
        reports = [unit.finished_image() for unit in units]
    finally:
        for unit in units:
            unit.stop()
    limit = BOOTLOADER_BYTES / (BAUD / BITS_PER_BYTE)
    expected = s.image_sha256("BOOTLOADER")
    per_unit = []
    for unit, report in zip(units, reports):
        seconds = (report["last_byte_ms"] - report["start_ms"]) / 1000.0
        per_unit.append({"port": unit.link, "seconds": seconds, "ratio": seconds / limit,
                         "bytes": report["bytes"],
                         "identical": report["bytes"] == BOOTLOADER_BYTES and
                         report["sha256"] == expected and not report.get("garbled")})
    line_rate = BAUD / BITS_PER_BYTE
    summary = [line for line in s.json_lines(out) if line.get("event") == "summary"][-1]
    stated = [u["bytes"] * 1000.0 / u["ms"] for u in summary["units"] if u["ms"] > 0]
    return {"units": per_unit, "line_limit_seconds": limit, "wall_seconds": wall,
            "worst_ratio": max(u["ratio"] for u in per_unit),
            "all_identical": all(u["identical"] for u in per_unit),
            "summary_rate_ratio": max(stated) / line_rate if stated else float("inf"),
            "cpu_seconds": cpu, "cpu_percent_per_unit": cpu / wall * 100.0 / UNITS}
