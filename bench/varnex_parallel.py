"""varnex loading 32 simulated units at once at 115 200 baud, each unit holding the line to
its real rate: each unit's time against the line limit, varnex's CPU per unit, and the rate
varnex's own summary states against the line's rate. Native, no Wine: the units and the
runner are those of the command-line tests (tests/cli). The same through one ser2net on the
loopback address, each unit on its own rfc2217:// port."""
import os
import resource
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "cli"))

import simunits as s  # noqa: E402
from ser2net import Ser2net  # noqa: E402

UNITS = 32
BAUD = 115200
BITS_PER_BYTE = 11  # start, 8 data, odd parity, stop
BOOTLOADER_BYTES = 249008
RUN_TIMEOUT_S = 300


def sim_cpu_seconds(unit):
    """User plus system time a simulated unit's process has used so far."""
    with open("/proc/%d/stat" % unit.process.pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def run(work_dir, rfc2217=False, count=UNITS):
    folder = os.path.join(work_dir, "varnex-units-rfc2217" if rfc2217 else "varnex-units")
    os.makedirs(folder, exist_ok=True)
    units = []
    server = None
    try:
        for _ in range(count):
            units.append(s.Unit(folder, ["--mode", "bootloader", "--baud", str(BAUD), "--pace"]))
        if rfc2217:
            server = Ser2net(units)
        ports = server.urls if server else [unit.link for unit in units]
        args = ["download", "--bootloader", "--baud", str(BAUD), "--json"]
        for port in ports:
            args += ["--port", port]
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        sims_before = sum(sim_cpu_seconds(unit) for unit in units)
        started = time.monotonic()
        code, out, err = s.Varnex(args, units).wait(RUN_TIMEOUT_S)
        wall = time.monotonic() - started
        sims = sum(sim_cpu_seconds(unit) for unit in units) - sims_before
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if code not in (0, 1):
            raise AssertionError("varnex failed (%d): %s %s" % (code, out[-2000:], err[-2000:]))
        reports = [unit.finished_image() for unit in units]
    finally:
        if server:
            server.stop()
        for unit in units:
            unit.stop()
    limit = BOOTLOADER_BYTES / (BAUD / BITS_PER_BYTE)
    expected = s.image_sha256("BOOTLOADER")
    records = s.json_lines(out)
    summary = [line for line in records if line.get("event") == "summary"][-1]
    said_done = {u["port"] for u in summary["units"] if u["result"] == "done"}
    per_unit = []
    for port, report in zip(ports, reports):
        seconds = (report["last_byte_ms"] - report["start_ms"]) / 1000.0
        per_unit.append({"port": port, "seconds": seconds, "ratio": seconds / limit,
                         "bytes": report["bytes"], "varnex_done": port in said_done,
                         "identical": report["bytes"] == BOOTLOADER_BYTES and
                         report["sha256"] == expected and not report.get("garbled")})
    line_rate = BAUD / BITS_PER_BYTE
    stated = [u["bytes"] * 1000.0 / u["ms"] for u in summary["units"] if u["ms"] > 0]
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return {"units": per_unit, "line_limit_seconds": limit, "wall_seconds": wall, "exit_code": code,
            "worst_ratio": max(u["ratio"] for u in per_unit),
            "lost_images": sum(1 for u in per_unit if not u["identical"]),
            # A unit with half an image that varnex called done: the fault that must never be.
            "false_done": sum(1 for u in per_unit if u["varnex_done"] and not u["identical"]),
            "summary_rate_ratio": max(stated) / line_rate if stated else float("inf"),
            "identical_units": sum(1 for u in per_unit if u["identical"]), "unit_count": count,
            "cpu_seconds": cpu, "cpu_percent_per_unit": cpu / wall * 100.0 / count,
            "sim_cpu_percent_per_unit": sims / wall * 100.0 / count}
