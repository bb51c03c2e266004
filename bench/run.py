#!/usr/bin/python3
"""Benchmarks and soak of the download utility against the simulated unit: the wizard under
Wine, and varnex natively with four units at once.

Prints one table of figures measured in this run, each with its target and whether it is
met, and writes results.json and progress.png (download progress against the line limit)
into BUILD_DIR/bench/. Runs on the system interpreter (/usr/bin/python3, which sees the
Debian matplotlib that draws the plot); the program is run and worked through the
end-to-end harness (tests/e2e/harness.py).

Usage: run.py [--build-dir DIR] [--soak N] [--only NAME ...] [--repeat N]

A figure that loses data (an image not identical, a silent difference, a hang) fails the run,
whatever else it met; --repeat N runs each chosen figure N times and reports its worst run.
"""
import argparse
import json
import os
import signal
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)

FIGURES = ("download_paced", "download_unpaced", "file_send_paced", "turnaround", "idle", "soak",
           "varnex_parallel", "varnex_turnaround", "varnex_file_send_paced", "varnex_soak",
           "varnex_rfc2217_parallel", "varnex_rfc2217_file_send", "varnex_station",
           "varnex_station_web", "varnex_station_config", "varnex_station_forward", "varnex_board_queries",
           "varnex_station_scanners")
DEFAULT_SOAK_TRANSFERS = 200
DEFAULT_VARNEX_SOAK_TRANSFERS = 500
SOAK_REPORT_EVERY = int(os.environ.get("VARNEX_SOAK_REPORT_EVERY", "20"))
# One row per target: (figure, key in its result, label, target text, test, unit format).
TARGETS = [
    ("download_paced", "ratio", "Image download 115 200 paced: wall time / line limit",
     "<= 1.01", lambda v: v <= 1.01, "%.4f"),
    ("download_unpaced", "times_line_rate", "Image download unpaced: times the 115 200 line rate",
     ">= 50", lambda v: v >= 50, "%.1f x"),
    # Wine's polled comm-event wait sets the absolute paced send, the absolute turnaround and
    # most of the idle cost (shown below the table as information); the targets are what the
    # program adds to it.
    ("file_send_paced", "ratio_to_probe",
     "File send 38 400 paced: share of the stop-and-wait limit / the probe's in the program's order",
     ">= 0.99", lambda v: v >= 0.99, "%.4f"),
    ("turnaround", "median_ratio_to_probe",
     "Packet turnaround median / the probe's in the program's order (unpaced)",
     "<= 1.1", lambda v: v <= 1.1, "%.3f"),
    ("idle", "own_threads_percent",
     "Idle CPU of the program's own threads on page 1, port open (share of one core)",
     "<= 0.5 %", lambda v: v <= 0.5, "%.3f %%"),
    ("soak", "silent", "Soak: silent differences", "0", lambda v: v == 0, "%d"),
    ("soak", "hangs", "Soak: hangs", "0", lambda v: v == 0, "%d"),
    ("varnex_parallel", "worst_ratio",
     "varnex, 32 units at 115 200 paced: each unit's time / line limit (worst unit)",
     "<= 1.01", lambda v: v <= 1.01, "%.4f"),
    ("varnex_parallel", "lost_images", "varnex, 32 units: images not identical at the unit", "0",
     lambda v: v == 0, "%d"),
    ("varnex_parallel", "false_done", "varnex, 32 units: \"done\" for a unit without its whole image", "0",
     lambda v: v == 0, "%d"),
    ("varnex_parallel", "sim_cpu_percent_per_unit",
     "simulated unit CPU per unit during those downloads (share of one core)", "<= 1 %",
     lambda v: v <= 1.0, "%.3f %%"),
    ("varnex_parallel", "summary_rate_ratio",
     "varnex's summary: the highest rate it states / the line rate",
     "<= 1", lambda v: v <= 1.0, "%.4f"),
    ("varnex_parallel", "cpu_percent_per_unit", "varnex CPU per unit during those downloads (share of one core)",
     "<= 1 %", lambda v: v <= 1.0, "%.3f %%"),
    ("varnex_turnaround", "median_ms", "varnex packet turnaround median (native, unpaced)",
     "<= 0.2 ms", lambda v: v <= 0.2, "%.3f ms"),
    ("varnex_turnaround", "p99_ms", "varnex packet turnaround p99 (native, unpaced)",
     "<= 1 ms", lambda v: v <= 1.0, "%.3f ms"),
    ("varnex_file_send_paced", "ratio", "varnex file send 38 400 paced: bytes/s / stop-and-wait limit",
     ">= 0.99", lambda v: v >= 0.99, "%.4f"),
    ("varnex_soak", "transfers", "varnex soak: faulty transfers run (native)", ">= 500", lambda v: v >= 500, "%d"),
    ("varnex_soak", "silent", "varnex soak: silent differences", "0", lambda v: v == 0, "%d"),
    ("varnex_soak", "hangs", "varnex soak: hangs", "0", lambda v: v == 0, "%d"),
    ("varnex_rfc2217_parallel", "lost_images", "32 units via RFC 2217 (one ser2net): images not identical at the unit",
     "0", lambda v: v == 0, "%d"),
    ("varnex_rfc2217_parallel", "false_done", "32 units via RFC 2217: \"done\" for a unit without its whole image",
     "0", lambda v: v == 0, "%d"),
    ("varnex_rfc2217_parallel", "worst_ratio", "32 units via RFC 2217: each unit's time / line limit (worst unit)",
     "<= 1.01", lambda v: v <= 1.01, "%.4f"),
    ("varnex_rfc2217_parallel", "cpu_percent_per_unit",
     "32 units via RFC 2217: varnex CPU per unit (share of one core)", "<= 1 %", lambda v: v <= 1.0, "%.3f %%"),
    ("varnex_rfc2217_file_send", "ratio", "service file send 38 400 paced, RFC 2217 / local: bytes/s",
     ">= 0.95", lambda v: v >= 0.95, "%.4f"),
    ("varnex_station", "rows_wrong",
     "station, 32 ports x 3 units: rows missing or wrong (each unit confirmed, its image identical)",
     "0", lambda v: v == 0, "%d"),
    ("varnex_station", "worst_ratio", "station: each load's time / line limit (worst load)",
     "<= 1.01", lambda v: v <= 1.01, "%.4f"),
    ("varnex_station", "cpu_percent_per_port", "station: varnex CPU per port (share of one core)",
     "<= 1 %", lambda v: v <= 1.0, "%.3f %%"),
    ("varnex_station_web", "rows_wrong",
     "station with the web board and 16 event-stream clients, 32 ports x 3 units: rows missing or wrong",
     "0", lambda v: v == 0, "%d"),
    ("varnex_station_web", "lost_images", "station with the web board: images not identical at the unit",
     "0", lambda v: v == 0, "%d"),
    ("varnex_station_web", "worst_ratio", "station with the web board: each load's time / line limit (worst load)",
     "<= 1.01", lambda v: v <= 1.01, "%.4f"),
    ("varnex_station_web", "cpu_percent_per_port",
     "station with the web board: varnex CPU per port, clients attached (share of one core)",
     "<= 1 %", lambda v: v <= 1.0, "%.3f %%"),
    ("varnex_station_web", "clients_not_following",
     "station with the web board: event-stream clients not attached to the station's end", "0",
     lambda v: v == 0, "%d"),
    ("varnex_station_config", "rows_wrong",
     "station of 64 ports from one configuration (32 local, 32 via one ser2net) x 2 units: rows missing or wrong",
     "0", lambda v: v == 0, "%d"),
    ("varnex_station_config", "lost_images", "station of 64 ports from one configuration: images not identical",
     "0", lambda v: v == 0, "%d"),
    ("varnex_station_config", "worst_ratio",
     "station of 64 ports from one configuration: each load's time / line limit (worst load)",
     "<= 1.01", lambda v: v <= 1.01, "%.4f"),
    ("varnex_station_config", "cpu_percent_per_port",
     "station of 64 ports from one configuration: varnex CPU per port (share of one core)",
     "<= 1 %", lambda v: v <= 1.0, "%.3f %%"),
    ("varnex_station_config", "sim_cpu_percent_worst",
     "station of 64 ports from one configuration: simulated unit CPU, the busiest unit (share of one core)",
     "<= 1 %", lambda v: v <= 1.0, "%.3f %%"),
    ("varnex_station_scanners", "serials_wrong",
     "station 32 ports x 3 units with a scanner per fixture: rows with another unit's serial", "0",
     lambda v: v == 0, "%d"),
    ("varnex_station_scanners", "serials_missing", "station with scanners: rows without their unit's serial", "0",
     lambda v: v == 0, "%d"),
    ("varnex_station_scanners", "worst_ratio", "station with scanners: each load's time / line limit (worst load)",
     "<= 1.01", lambda v: v <= 1.01, "%.4f"),
    ("varnex_station_scanners", "cpu_percent_per_port",
     "station with scanners: varnex CPU per port (share of one core; the plain station's beside it)",
     "<= 1 %", lambda v: v <= 1.0, "%.3f %%"),
    ("varnex_station_forward", "rows_not_there_once",
     "8 stations x 32 ports forwarding to one PostgreSQL: rows not on the server once with the file's result",
     "0", lambda v: v == 0, "%d"),
    ("varnex_station_forward", "rows_wrong", "8 stations forwarding: rows missing or wrong in the stations' files",
     "0", lambda v: v == 0, "%d"),
    ("varnex_station_forward", "rows_per_second", "8 stations forwarding: rows per second the server took",
     ">= 50", lambda v: v >= 50, "%.1f"),
    ("varnex_station_forward", "slowest_delay_s",
     "8 stations forwarding: the slowest row's delay, its file's commit to the server's",
     "<= 2 s", lambda v: v <= 2.0, "%.3f s"),
    ("varnex_board_queries", "summary_large_over_small",
     "web board's /api/summary on 500 000 rows / on 5 000 rows (median answer, a station loading)",
     "<= 2", lambda v: v <= 2.0, "%.2f"),
    ("varnex_board_queries", "summary_p99_ms", "web board's /api/summary answered, p99 (a station loading)",
     "<= 50 ms", lambda v: v <= 50.0, "%.1f ms"),
    ("varnex_board_queries", "state_p99_ms", "web board's /api/state answered, p99 (a station loading)",
     "<= 50 ms", lambda v: v <= 50.0, "%.1f ms"),
    ("varnex_station_forward", "restart_delay_past_outage_s",
     "8 stations forwarding, the server restarted once: the slowest row's delay beyond the outage",
     "<= 10 s", lambda v: v <= 10.0, "%.3f s"),
]
# Keys whose target is about lost or wrong data, not speed: one unmet fails the whole run.
LOST_DATA_KEYS = {"lost_images", "false_done", "silent", "hangs", "rows_wrong", "rows_not_there_once",
                  "serials_wrong", "serials_missing"}


def worst(target, values):
    """The worst of several runs' values for a target: the highest for a bound from above
    ("<= x", "0"), the lowest for one from below (">= x")."""
    return min(values) if target.startswith(">=") else max(values)


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.environ.get("VARNEX_BUILD_DIR",
                                                              os.path.join(REPO, "build")))
    parser.add_argument("--soak", type=int, default=DEFAULT_SOAK_TRANSFERS,
                        help="transfers in the soak (default %d)" % DEFAULT_SOAK_TRANSFERS)
    parser.add_argument("--varnex-soak", type=int, default=DEFAULT_VARNEX_SOAK_TRANSFERS,
                        help="transfers in varnex's soak (default %d)" % DEFAULT_VARNEX_SOAK_TRANSFERS)
    parser.add_argument("--only", nargs="*", choices=FIGURES, help="run only these figures")
    parser.add_argument("--repeat", type=int, default=1, metavar="N",
                        help="run each figure N times and report its worst run (default 1)")
    return parser.parse_args()


def setup(build_dir):
    """Points the harness at the build and gives the run its own folder (the program's
    current directory)."""
    os.environ["VARNEX_BUILD_DIR"] = build_dir
    out_dir = os.path.join(build_dir, "bench")
    work_dir = os.path.join(out_dir, "work")
    os.makedirs(work_dir, exist_ok=True)
    os.environ.setdefault("VARNEX_RUN_DIR", os.path.join(out_dir, "wine"))
    os.chdir(work_dir)
    sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
    sys.path.insert(0, HERE)
    return out_dir, work_dir


def run_figures(names, build_dir, work_dir, soak_count, varnex_soak_count, repeat=1):
    import harness as h
    import measures as m
    import rig as r
    import soak as s
    import varnex_parallel as vp
    import varnex_service as vs
    import station_config as sc
    import station_forward as sf
    import station_scanners as ssc
    import station_web as sw
    import board_queries as bq
    import varnex_station as vst

    def soak_progress(done, total, counts):
        if done % SOAK_REPORT_EVERY == 0 or done == total:
            print("  soak %d/%d: %s" % (done, total, counts), flush=True)

    runners = {
        "download_paced": lambda: m.download_paced(build_dir),
        "download_unpaced": lambda: m.download_unpaced(build_dir),
        "file_send_paced": lambda: m.file_send_paced(work_dir),
        "turnaround": lambda: m.turnaround_unpaced(work_dir),
        "idle": m.idle_cost,
        "soak": lambda: s.Soak(work_dir).run(soak_count, soak_progress),
        "varnex_parallel": lambda: vp.run(work_dir),
        "varnex_turnaround": lambda: vs.turnaround(work_dir),
        "varnex_file_send_paced": lambda: vs.file_send_paced(work_dir),
        "varnex_soak": lambda: vs.Soak(work_dir).run(varnex_soak_count, soak_progress),
        "varnex_rfc2217_parallel": lambda: vp.run(work_dir, rfc2217=True),
        "varnex_rfc2217_file_send": lambda: vs.file_send_network_share(work_dir),
        "varnex_station": lambda: vst.run(work_dir),
        "varnex_station_web": lambda: sw.run(work_dir),
        "varnex_station_config": lambda: sc.run(work_dir),
        "varnex_station_forward": lambda: sf.run(work_dir),
        "varnex_board_queries": lambda: bq.run(work_dir),
        "varnex_station_scanners": lambda: ssc.run(work_dir),
    }
    results = {}
    try:
        # varnex's figures are native: Wine starts only for the program's.
        if any(not name.startswith("varnex_") for name in names):
            r.unmanaged_windows(h.Session.get())
        for name in names:
            started = time.monotonic()
            runs = []
            for attempt in range(repeat):
                print("running %s%s ..." % (name, " (%d of %d)" % (attempt + 1, repeat) if repeat > 1 else ""),
                      flush=True)
                try:
                    runs.append(runners[name]())
                except Exception as error:  # one broken figure must not cost the others
                    traceback.print_exc()
                    runs.append({"error": "%s: %s" % (type(error).__name__, error)})
                finally:
                    h.cleanup_live()
            results[name] = combine(name, runs)
            results[name]["bench_seconds"] = round(time.monotonic() - started, 1)
    finally:
        h.cleanup_live()
        h.Session.shutdown_current()
    derive(results)
    return results


def combine(name, runs):
    """One result for a figure run several times: the last run's, with each target's worst
    value over all runs and every run's values kept for the report."""
    if len(runs) == 1:
        return runs[0]
    failed = [run for run in runs if "error" in run]
    combined = dict(failed[0] if failed else runs[-1])
    combined["repeats"] = []
    for run in runs:
        combined["repeats"].append({key: run.get(key) for figure, key, _, _, _, _ in TARGETS if figure == name})
    for figure, key, _, target, _, _ in TARGETS:
        values = [run[key] for run in runs if figure == name and key in run]
        if values:
            combined[key] = worst(target, values)
    return combined


def derive(results):
    """Values the table reads that the measurements give in another form."""
    idle = results.get("idle", {})
    if "share" in idle:
        idle["share_percent"] = idle["share"] * 100.0
    turnaround = results.get("turnaround", {})
    if turnaround.get("probe_armed_median_ms"):
        turnaround["median_ratio_to_probe"] = turnaround["median_ms"] / turnaround["probe_armed_median_ms"]
    if turnaround.get("probe_armed_p99_ms"):
        turnaround["p99_ratio_to_probe"] = turnaround["p99_ms"] / turnaround["probe_armed_p99_ms"]
    soak = results.get("soak", {})
    if "counts" in soak:
        soak["silent"] = soak["counts"]["silent_difference"]
        soak["hangs"] = soak["counts"]["hang"]


def table(results):
    rows = []
    for figure, key, label, target, test, fmt in TARGETS:
        result = results.get(figure)
        if result is None:
            continue
        if key in result:
            value = result[key]
            rows.append((label, fmt % value, target, "yes" if test(value) else "NO"))
        else:
            rows.append((label, "error", target, "NO"))
    paced = results.get("file_send_paced", {})
    if "ratio" in paced:
        rows.append(("File send 38 400 paced under Wine: bytes/s / stop-and-wait limit",
                     "%.4f" % paced["ratio"], "(info)", "-"))
    if paced.get("rounds"):
        rows.append(("File send paced, each round's share of the probe's (program and probe in turn)",
                     " / ".join("%.4f" % one["ratio_to_probe"] for one in paced["rounds"]),
                     "(info)", "-"))
        rows.append(("File send paced, share of the machine its host took (steal) in each round, "
                     "program / probe",
                     ", ".join("%.0f/%.0f %%" % tuple(one["stolen_percent_program_probe"])
                               for one in paced["rounds"]), "(info)", "-"))
    if "probe_ratio" in paced:
        rows.append(("File send paced, answered by the probe at once / in the program's order",
                     "%.4f / %.4f" % (paced["probe_ratio"], paced.get("probe_armed_ratio", float("nan"))),
                     "(info)", "-"))
    turnaround = results.get("turnaround", {})
    if "median_ms" in turnaround:
        rows.append(("Packet turnaround of the program, median / p99 (unpaced)",
                     "%.3f / %.3f ms" % (turnaround["median_ms"], turnaround["p99_ms"]), "(info)", "-"))
    if "p99_ratio_to_probe" in turnaround:
        rows.append(("Packet turnaround p99 / the probe's in the program's order",
                     "%.3f" % turnaround["p99_ratio_to_probe"], "(info)", "-"))
    if "probe_median_ms" in turnaround:
        rows.append(("Turnaround of the probe (platform floor), median / p99",
                     "%.3f / %.3f ms" % (turnaround["probe_median_ms"], turnaround["probe_p99_ms"]),
                     "(info)", "-"))
    if "probe_armed_median_ms" in turnaround:
        rows.append(("Probe waiting again before it answers (the program's order), median / p99",
                     "%.3f / %.3f ms" % (turnaround["probe_armed_median_ms"],
                                         turnaround["probe_armed_p99_ms"]), "(info)", "-"))
    idle = results.get("idle", {})
    if "share_percent" in idle:
        rows.append(("Idle CPU of the whole process, Wine's comm-event poller included",
                     "%.3f %%" % idle["share_percent"], "(info)", "-"))
    for figure, result in results.items():
        for key in sorted({k for run in result.get("repeats", []) for k, v in run.items() if v is not None}):
            fmt = next(f for fig, k, _, _, _, f in TARGETS if fig == figure and k == key)
            rows.append(("%s, %s in each of %d runs" % (figure, key, len(result["repeats"])),
                         " / ".join(fmt % run[key] if run.get(key) is not None else "error"
                                    for run in result["repeats"]), "(info)", "-"))
    parallel = results.get("varnex_parallel", {})
    if "units" in parallel:
        rows.append(("varnex, 32 units: images identical / wall time for all",
                     "%d of %d / %.1f s" % (sum(u["identical"] for u in parallel["units"]),
                                            len(parallel["units"]), parallel["wall_seconds"]),
                     "(count)", "-"))
    for figure, label in (("varnex_station", "station"), ("varnex_station_web", "station with the web board"),
                          ("varnex_station_config", "station of 64 ports from one configuration")):
        station = results.get(figure, {})
        if "rows" in station:
            rows.append(("%s: rows right / rows / units, wall time for all" % label,
                         "%d / %d / %d, %.1f s" % (station["rows_right"], station["rows"], station["units"],
                                                   station["wall_seconds"]), "(count)", "-"))
    web = results.get("varnex_station_web", {})
    if "client_events_fewest" in web:
        rows.append(("station with the web board: events the least-served client read / streams refused and asked again",
                     "%d / %d" % (web["client_events_fewest"], web["client_refusals"]), "(count)", "-"))
        rows.append(("station with the web board: \"port\" events a client read per port per second (most)",
                     "%.1f" % web["port_events_per_port_second"], "(info)", "-"))
    config = results.get("varnex_station_config", {})
    if "ser2net_cpu_percent_per_port" in config:
        rows.append(("station of 64 ports: simulated unit CPU, mean / ser2net CPU per network port",
                     "%.3f %% / %.3f %%" % (config["sim_cpu_percent_mean"], config["ser2net_cpu_percent_per_port"]),
                     "(info)", "-"))
    for figure, label in (("soak", "Soak"), ("varnex_soak", "varnex soak")):
        soak = results.get(figure, {})
        if "counts" in soak:
            c = soak["counts"]
            rows.append(("%s: completed identical / failed with message" % label,
                         "%d / %d of %d" % (c["completed_identical"], c["failed_with_message"],
                                            soak["transfers"]), "(count)", "-"))
    forward = results.get("varnex_station_forward", {})
    if "restarted" in forward:
        steady, restarted = forward["steady"], forward["restarted"]
        rows.append(("8 stations forwarding: rows in the files / on the server, steady and restarted",
                     "%d / %d, %d / %d" % (steady["file_rows"], steady["server_rows"], restarted["file_rows"],
                                           restarted["server_rows"]), "(count)", "-"))
        rows.append(("8 stations forwarding, the server restarted: the slowest row's delay / the outage",
                     "%.3f s / %.1f s" % (forward["restart_slowest_delay_s"], restarted["outage_seconds"]),
                     "(info)", "-"))
    return rows


def markdown(rows):
    lines = ["| Figure | Measured | Target | Met |", "|---|---|---|---|"]
    lines += ["| %s | %s | %s | %s |" % row for row in rows]
    return "\n".join(lines)


def plot(results, out_dir):
    import plot as p
    import rig as r
    panels = []
    for name, title, label in (
            ("download_paced", "bootloader image at 115 200 baud, unit paced to the line",
             "program, bootloader image, paced"),
            ("download_unpaced", "software image at 115 200 baud, unit reading at once",
             "program, software image, unpaced")):
        points = results.get(name, {}).get("progress")
        if points:
            panels.append((title, [(label, points)]))
    if not panels:
        return None
    limits = [("%d baud" % baud, r.line_bytes_per_second(baud)) for baud in r.DOWNLOAD_SPEEDS]
    return p.progress_chart(os.path.join(out_dir, "progress.png"), panels, limits)


def main():
    # A stopped run still ends its Wine processes, simulators and Xvfb on the way out.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    args = parse_args()
    build_dir = os.path.abspath(args.build_dir)
    out_dir, work_dir = setup(build_dir)
    names = args.only or list(FIGURES)
    started = time.monotonic()
    results = run_figures(names, build_dir, work_dir, args.soak, args.varnex_soak, max(1, args.repeat))
    rows = table(results)
    png = plot(results, out_dir)
    report = {"when": time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime()),
              "seconds": round(time.monotonic() - started, 1), "results": results,
              "table": [dict(zip(("figure", "measured", "target", "met"), row)) for row in rows]}
    json_path = os.path.join(out_dir, "results.json")
    with open(json_path, "w") as f:
        json.dump(report, f, indent=1)
    print()
    print(markdown(rows))
    met = sum(1 for row in rows if row[3] == "yes")
    judged = sum(1 for row in rows if row[3] in ("yes", "NO"))
    print()
    print("%d of %d targets met in %.0f s; results: %s%s" % (
        met, judged, report["seconds"], json_path, "; plot: %s" % png if png else ""))
    errors = [name for name, result in results.items() if "error" in result]
    if errors:
        print("could not measure: %s" % ", ".join(errors))
    lost = [label for figure, key, label, _, test, _ in TARGETS
            if key in LOST_DATA_KEYS and key in results.get(figure, {}) and not test(results[figure][key])]
    if lost:
        print("data lost: %s" % "; ".join(lost))
    return 1 if errors or lost else 0


if __name__ == "__main__":
    sys.exit(main())
