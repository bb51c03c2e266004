"""The web board's own questions while a station loads, on records files of two sizes: one
of 5 000 rows and one of a year of a 64-port station (500 000 rows, from other days and
another station sharing the file). GET /api/state and GET /api/summary are asked over and
over while the station loads its units: each answer's time at the 99th percentile, and the
summary's on the large file against the small one's, which must not grow with the file."""
import os
import sqlite3
import threading
import time
import urllib.request

import varnex_station as st
from ser2net import LOOPBACK, free_ports

PORTS = 8
UNITS_PER_PORT = 2
SMALL_ROWS = 5000
LARGE_ROWS = 500000
PAST_PORTS = 64
PAST_DAYS = 365
INSERT_BATCH = 10000
ASK_PAUSE_S = 0.05
ASK_TIMEOUT_S = 10
SETTLE_S = 2  # the board's first answers (the records file opened) are not counted
MS_PER_DAY = 86400000


def made_file(folder, rows):
    """A records file that varnex made (its schema and journal), holding `rows` rows of
    past days: most of them another station's, some of this one's name."""
    path = st.fresh_records(folder, "board-%d" % rows)
    units = st.start_lines(folder, 1, 1, paced=False)
    try:
        st.timed_run(["station", "--bootloader", "--baud", str(st.BAUD), "--records", path, "--station", "bench",
                      "--count", "1", "--json", "--port", units[0].link], units)
    finally:
        units[0].stop()
    connection = sqlite3.connect(path)
    try:
        columns = [row[1] for row in connection.execute("PRAGMA table_info(loads)") if row[1] != "id"]
        template = dict(zip(columns, connection.execute("SELECT %s FROM loads LIMIT 1" % ", ".join(columns)).fetchone()))
        now_ms = int(time.time() * 1000)
        insert = "INSERT INTO loads(%s) VALUES (%s)" % (", ".join(columns), ", ".join("?" * len(columns)))
        batch = []
        for index in range(rows):
            row = dict(template)
            started = now_ms - MS_PER_DAY - (index * PAST_DAYS * MS_PER_DAY) // rows
            row["started_at"] = iso(started)
            row["ended_at"] = iso(started + 24000)
            row["port"] = "/dev/ttyUSB%d" % (index % PAST_PORTS)
            row["station"] = "bench" if index % 4 == 0 else "line-2"
            row["result"] = "confirmed" if index % 50 else "failed"
            row["reason"] = "" if index % 50 else "the unit ended the image"
            batch.append([row[c] for c in columns])
            if len(batch) == INSERT_BATCH:
                connection.executemany(insert, batch)
                batch = []
        connection.executemany(insert, batch)
        connection.commit()
    finally:
        connection.close()
    return path


def iso(unix_ms):
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(unix_ms / 1000)) + ".%03dZ" % (unix_ms % 1000)


class Asker:
    """Asks the board's address for each path in turn until stopped; each answer's time."""

    def __init__(self, port, paths):
        self.base = "http://%s:%d" % (LOOPBACK, port)
        self.paths = paths
        self.times = {path: [] for path in paths}
        self.failures = 0
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        started = time.monotonic()
        while not self.stopping.is_set():
            for path in self.paths:
                asked = time.monotonic()
                try:
                    with urllib.request.urlopen(self.base + path, timeout=ASK_TIMEOUT_S) as answer:
                        answer.read()
                except OSError:
                    if time.monotonic() - started > SETTLE_S:
                        self.failures += 1
                    continue
                if asked - started > SETTLE_S:
                    self.times[path].append((time.monotonic() - asked) * 1000.0)
            self.stopping.wait(ASK_PAUSE_S)

    def finish(self):
        self.stopping.set()
        self.thread.join()


def p99(values):
    if not values:
        return float("inf")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]


def measured(folder, records):
    (http_port,) = free_ports(1)
    units = st.start_lines(folder, PORTS, UNITS_PER_PORT)
    asker = None
    try:
        args = ["station", "--bootloader", "--baud", str(st.BAUD), "--records", records, "--station", "bench",
                "--count", str(PORTS * UNITS_PER_PORT), "--json", "--http", "%s:%d" % (LOOPBACK, http_port)]
        for unit in units:
            args += ["--port", unit.link]
        asker = Asker(http_port, ["/api/state", "/api/summary"])
        st.timed_run(args, units)
    finally:
        if asker is not None:
            asker.finish()
        for unit in units:
            unit.stop()
    return {"state_p99_ms": p99(asker.times["/api/state"]), "summary_p99_ms": p99(asker.times["/api/summary"]),
            "summary_median_ms": sorted(asker.times["/api/summary"] or [float("inf")])[
                len(asker.times["/api/summary"]) // 2],
            "answers": sum(len(t) for t in asker.times.values()),
            # Unanswered: the first and last seconds (the server starting, the station ended) included.
            "unanswered": asker.failures}


def run(work_dir, small=SMALL_ROWS, large=LARGE_ROWS):
    folder = os.path.join(work_dir, "board-queries")
    os.makedirs(folder, exist_ok=True)
    few = measured(folder, made_file(folder, small))
    many = measured(folder, made_file(folder, large))
    return {"small_rows": small, "large_rows": large, "small": few, "large": many,
            "state_p99_ms": max(few["state_p99_ms"], many["state_p99_ms"]),
            "summary_p99_ms": max(few["summary_p99_ms"], many["summary_p99_ms"]),
            "summary_large_over_small": many["summary_median_ms"] / few["summary_median_ms"]}
