"""8 stations of 32 ports each forwarding their records to one PostgreSQL server (a throwaway
one, started as the tests start theirs), on one machine: simulated lines of units taking a
short image as fast as the PC writes, so the rows come far quicker than real lines make
them. Two runs: one with the server up throughout, one with the server restarted once while
the stations load. Measured: the rows per second the server took, the slowest row's delay
from its completion in the station's file to its completion on the server, that delay with
the restart, and whether the server ends holding every row of every file exactly once, with
the file's result (the stations end by themselves; nothing is sent for them afterwards).

The server's side of each delay is stamped by a trigger the bench adds to its own server:
the statement's clock when a row's completion first arrives, which its commit follows at once."""
import os
import random
import subprocess
import time

import varnex_station as st
import simunits as s

STATIONS = 8
PORTS_PER_STATION = 32
# Enough units that the restarted server is back, and the forwarder's growing pause has
# brought it the waiting rows, well before the stations end (they wait 3 s at most for it).
UNITS_PER_LINE = 12
IMAGE_BYTES = 4096
LINE_GAP_MS = 1500  # longer than the second a station waits to see a unit gone
RUN_TIMEOUT_S = 600
RESTART_AFTER_SHARE = 0.25  # of the run's rows on the server before it is restarted
OUTAGE_S = 2.0             # between the server's stop and its start
SERVER_LOOK_S = 0.5

ARRIVALS_SQL = """
CREATE TABLE IF NOT EXISTS bench_arrivals (station text NOT NULL, journal uuid NOT NULL, row_id bigint NOT NULL,
    result text NOT NULL, at timestamptz NOT NULL DEFAULT clock_timestamp());
CREATE OR REPLACE FUNCTION bench_arrival() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER AS $$
BEGIN
    IF NEW.ended_at IS NOT NULL AND (TG_OP = 'INSERT' OR OLD.ended_at IS NULL) THEN
        INSERT INTO bench_arrivals (station, journal, row_id, result)
            VALUES (NEW.station, NEW.journal, NEW.row_id, NEW.result);
    END IF;
    RETURN NEW;
END $$;
DROP TRIGGER IF EXISTS bench_arrival ON varnex_loads;
CREATE TRIGGER bench_arrival AFTER INSERT OR UPDATE ON varnex_loads FOR EACH ROW EXECUTE FUNCTION bench_arrival();
"""


def short_image(folder):
    path = os.path.join(folder, "short-image.bin")
    data = random.Random(IMAGE_BYTES).randbytes(IMAGE_BYTES)
    with open(path, "wb") as f:
        f.write(data)
    return path, s.sha(data)


def server_completed(pg, prefix):
    return int(pg.admin_sql("SELECT count(*) FROM bench_arrivals WHERE station LIKE '%s-%%'" % prefix)[0][0])


def one_run(pg, folder, prefix, image, restart):
    """The 8 stations loading at once; with restart, the server stopped and started again once
    a share of the rows has reached it. Returns what the files and the server hold."""
    image_path, image_sha = image
    stations = []
    try:
        for number in range(STATIONS):
            units = st.start_lines(folder, PORTS_PER_STATION, UNITS_PER_LINE, paced=False,
                                   line_gap_ms=LINE_GAP_MS)
            stations.append({"name": "%s-%d" % (prefix, number + 1), "units": units,
                             "records": st.fresh_records(folder, "%s-%d" % (prefix, number + 1))})
        expected = STATIONS * PORTS_PER_STATION * UNITS_PER_LINE
        started = time.monotonic()
        for station in stations:
            args = ["station", "--image", image_path, "--any-size", "--baud", str(st.BAUD),
                    "--records", station["records"], "--station", station["name"], "--forward", pg.url,
                    "--count", str(PORTS_PER_STATION * UNITS_PER_LINE), "--json"]
            for unit in station["units"]:
                args += ["--port", unit.link]
            # Eight stations' lines go to files: a pipe not read while the others run would
            # fill and hold its station up.
            station["log"] = open(os.path.join(folder, "%s.log" % station["name"]), "w+")
            station["run"] = subprocess.Popen([s.VARNEX] + args, stdout=station["log"], stderr=subprocess.STDOUT,
                                              env=s.varnex_env(station["units"], pg.env()))
        outage = None
        if restart:
            deadline = time.monotonic() + RUN_TIMEOUT_S
            while server_completed(pg, prefix) < expected * RESTART_AFTER_SHARE:
                if time.monotonic() > deadline or all(x["run"].poll() is not None for x in stations):
                    raise AssertionError("the stations ended before the server had a share of the rows")
                time.sleep(SERVER_LOOK_S)
            down = time.monotonic()
            pg.stop("fast")
            time.sleep(OUTAGE_S)
            pg.start()
            outage = time.monotonic() - down
        for station in stations:
            code = station["run"].wait(RUN_TIMEOUT_S)
            if code != 0:
                station["log"].seek(0)
                raise AssertionError("station %s failed (%d): %s" % (station["name"], code,
                                                                    station["log"].read()[-2000:]))
        wall = time.monotonic() - started
        histories = [st.line_histories(x["units"]) for x in stations]
    finally:
        for station in stations:
            if "run" in station and station["run"].poll() is None:
                station["run"].kill()
                station["run"].wait()
            if "log" in station:
                station["log"].close()
            for unit in station["units"]:
                unit.stop()
    local = {"rows": 0, "rows_right": 0, "rows_wrong": 0, "lost_images": 0}
    file_rows = {}
    for station, history in zip(stations, histories):
        rows = st.read_rows(station["records"])
        file_rows[station["name"]] = {str(r["id"]): r["result"] for r in rows}
        judged = st.judge(rows, [(u.link, h) for u, h in zip(station["units"], history)], UNITS_PER_LINE,
                          IMAGE_BYTES, image_sha)
        for key in local:
            local[key] += judged[key]
    return compare(pg, prefix, file_rows, local, wall, outage)


def compare(pg, prefix, file_rows, local, wall, outage):
    """The server's rows of this run against the files', and the arrivals' timing."""
    held = {}
    for station, row_id, result in pg.admin_sql(
            "SELECT station, row_id, CASE WHEN ended_at IS NULL THEN 'interrupted' ELSE result END "
            "FROM varnex_loads WHERE station LIKE '%s-%%'" % prefix):
        held.setdefault(station, {})[row_id] = result
    missing = sum(1 for name, rows in file_rows.items() for row_id, result in rows.items()
                  if held.get(name, {}).get(row_id) != result)
    strange = sum(1 for name, rows in held.items() for row_id in rows if row_id not in file_rows.get(name, {}))
    delays = pg.admin_sql(
        "SELECT EXTRACT(EPOCH FROM min(a.at) - l.ended_at), count(*) FROM bench_arrivals a JOIN varnex_loads l "
        "USING (station, journal, row_id) WHERE a.station LIKE '%s-%%' GROUP BY a.station, a.journal, a.row_id, "
        "l.ended_at" % prefix)
    span = pg.admin_sql("SELECT EXTRACT(EPOCH FROM max(at) - min(at)), count(DISTINCT (station, journal, row_id)) "
                        "FROM bench_arrivals WHERE station LIKE '%s-%%'" % prefix)[0]
    seconds, completed = float(span[0] or 0), int(span[1])
    result = dict(local)
    result.update({"file_rows": sum(len(rows) for rows in file_rows.values()),
                   "server_rows": sum(len(rows) for rows in held.values()),
                   # A row not on the server with the file's result, or one there the files lack.
                   "rows_not_there_once": missing + strange,
                   "completions_arrived_twice": sum(1 for _, count in delays if int(count) > 1),
                   "slowest_delay_s": max((float(delay) for delay, _ in delays), default=float("inf")),
                   "rows_per_second": completed / seconds if seconds > 0 else 0.0,
                   "wall_seconds": wall})
    if outage is not None:
        result["outage_seconds"] = outage
    return result


def run(work_dir):
    folder = os.path.join(work_dir, "station-forward-units")
    os.makedirs(folder, exist_ok=True)
    image = short_image(folder)
    from pgserver import PgServer  # the records-server tests' throwaway server
    pg = PgServer()
    try:
        pg.start_fresh()
        pg.admin_sql(ARRIVALS_SQL)
        steady = one_run(pg, folder, "steady", image, restart=False)
        restarted = one_run(pg, folder, "restart", image, restart=True)
    finally:
        pg.close()
    return {"stations": STATIONS, "ports_per_station": PORTS_PER_STATION, "units_per_line": UNITS_PER_LINE,
            "image_bytes": IMAGE_BYTES, "steady": steady, "restarted": restarted,
            "rows_per_second": steady["rows_per_second"], "slowest_delay_s": steady["slowest_delay_s"],
            "restart_slowest_delay_s": restarted["slowest_delay_s"],
            "restart_delay_past_outage_s": restarted["slowest_delay_s"] - restarted["outage_seconds"],
            "rows_not_there_once": steady["rows_not_there_once"] + restarted["rows_not_there_once"],
            "rows_wrong": steady["rows_wrong"] + restarted["rows_wrong"],
            "lost_images": steady["lost_images"] + restarted["lost_images"]}
