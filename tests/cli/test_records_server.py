"""Records forwarded to a real PostgreSQL 15 (one throwaway server per run, pg_server): a station
of three ports forwarding through a killed backend and a server stopped and started again; a
hanging server, a wrong password and a missing table, while units load as without a server; a
station killed between the server's commit and its own mark; `varnex records URL` giving the
same table, CSV and JSON as the file; `varnex records forward` over several batches, with a
row's end arriving after its start, against a hung server and a missing database. In every
case the server ends with exactly the file's rows."""
import os
import shutil
import signal
import sqlite3
import subprocess
import time

from simunits import VARNEX, json_lines

LINE_GAP_MS = "1500"
FINISH_S = 120
SERVER_WAIT_S = 30


def station_args(units, records, station, url, *extra):
    args = ["station", "--bootloader", "--baud", "115200", "--records", records, "--station", station,
            "--forward", url]
    for unit in units:
        args += ["--port", unit.link]
    return args + list(extra)


def run_varnex(args, env):
    return subprocess.run([VARNEX] + args, capture_output=True, text=True, timeout=60, env=env)


def file_rows(path):
    done = subprocess.run([VARNEX, "records", path, "--format", "json"], capture_output=True, text=True, timeout=30)
    assert done.returncode == 0, done.stderr
    return json_lines(done.stdout)


def server_rows(pg, station):
    return pg.admin_sql("SELECT row_id, CASE WHEN ended_at IS NULL THEN 'interrupted' ELSE result END "
                        "FROM varnex_loads WHERE station = '%s' ORDER BY row_id" % station)


def assert_server_holds_the_file(pg, path, station):
    """After `varnex records forward`, which must be idempotent: the same rows, once each."""
    done = run_varnex(["records", "forward", path, pg.url], pg.env())
    assert done.returncode == 0, done.stdout + done.stderr
    # The file lists by start time, the server by id: compared as sets of rows, once each.
    expected = sorted([str(r["id"]), r["result"]] for r in file_rows(path) if r["station"] == station)
    held = server_rows(pg, station)
    assert sorted(held) == expected and len({row[0] for row in held}) == len(held)


def wait_for(condition, seconds=SERVER_WAIT_S):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.2)
    return False


def test_a_station_forwards_through_a_killed_backend_and_a_server_restarted(units, varnex, folder, pg_server):
    lines = units(3, "--line", "3", "--line-gap-ms", LINE_GAP_MS)
    records = str(folder / "shift.db")
    run = varnex(station_args(lines, records, "restarts", pg_server.url, "--count", "9"), lines, pg_server.env())
    assert wait_for(lambda: len(server_rows(pg_server, "restarts")) > 0)
    pg_server.admin_sql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = 'varnex'")
    pg_server.stop("immediate")
    time.sleep(2)
    pg_server.start()
    code, out, err = run.wait(FINISH_S)
    assert code == 0, out + err  # the units loaded as without a server
    assert len(file_rows(records)) == 9
    assert_server_holds_the_file(pg_server, records, "restarts")


def test_hang_wrong_password_and_missing_table_load_units_and_rows_wait(units, varnex, folder, pg_server):
    (unit,) = units(1, "--line", "4", "--line-gap-ms", LINE_GAP_MS)  # one unit per case
    # A server that hangs: given up on, never waited for.
    records = str(folder / "hang.db")
    pg_server.hang()
    try:
        code, out, err = varnex(station_args([unit], records, "hang", pg_server.url, "--count", "1"), [unit],
                                pg_server.env()).wait(FINISH_S)
    finally:
        pg_server.resume()
    assert code == 0, out + err
    assert "rows wait for 127.0.0.1" in out.splitlines()[-1]
    assert_server_holds_the_file(pg_server, records, "hang")

    # A wrong password: said once, plainly, with what to do; never the password itself.
    wrong = folder / "wrong-passfile"
    wrong.write_text("*:*:*:varnex:not-the-password\n")
    os.chmod(wrong, 0o600)
    records = str(folder / "password.db")
    code, out, err = varnex(station_args([unit], records, "password", pg_server.url, "--count", "1"), [unit],
                            pg_server.env(PGPASSFILE=str(wrong))).wait(FINISH_S)
    assert code == 0, out + err
    assert err.count("refuses the rows") == 1 and "passfile" in err, err
    assert "not-the-password" not in out + err
    assert_server_holds_the_file(pg_server, records, "password")

    # The table missing: the administrator's SQL file is named.
    records = str(folder / "table.db")
    pg_server.admin_sql("ALTER TABLE varnex_loads RENAME TO varnex_loads_away")
    try:
        code, out, err = varnex(station_args([unit], records, "table", pg_server.url, "--count", "1"), [unit],
                                pg_server.env()).wait(FINISH_S)
    finally:
        pg_server.admin_sql("ALTER TABLE varnex_loads_away RENAME TO varnex_loads")
    assert code == 0, out + err
    assert err.count("varnex-records.sql") == 1, err
    assert_server_holds_the_file(pg_server, records, "table")

    # A table made for an earlier varnex (without the device column): said once, with what to
    # do; the SQL file run again brings it up to date and the rows go.
    records = str(folder / "older-table.db")
    pg_server.admin_sql("ALTER TABLE varnex_loads DROP COLUMN device")
    try:
        code, out, err = varnex(station_args([unit], records, "older", pg_server.url, "--count", "1"), [unit],
                                pg_server.env()).wait(FINISH_S)
    finally:
        pg_server.run_sql_file()
    assert code == 0, out + err
    assert err.count("varnex-records.sql again") == 1, err
    assert_server_holds_the_file(pg_server, records, "older")
    assert pg_server.admin_sql("SELECT count(*) FROM varnex_loads WHERE station = 'older' AND device = ''") == [["0"]]


def test_killed_after_the_commit_before_the_mark_duplicates_nothing(units, varnex, folder, pg_server):
    (unit,) = units(1, "--line", "1")
    records = str(folder / "killed.db")
    run = varnex(station_args([unit], records, "killed", pg_server.url), [unit],
                 pg_server.env(VARNEX_TEST_PAUSE_AFTER_COMMIT_S="60"))
    assert wait_for(lambda: len(server_rows(pg_server, "killed")) == 1)
    run.process.send_signal(signal.SIGKILL)
    run.process.communicate()
    done = run_varnex(["records", "forward", records, pg_server.url], pg_server.env())
    assert done.returncode == 0, done.stdout + done.stderr
    assert_server_holds_the_file(pg_server, records, "killed")


def test_records_url_shows_two_stations_as_the_file_does(units, varnex, folder, pg_server):
    (unit,) = units(1, "--line", "2", "--line-gap-ms", LINE_GAP_MS)
    records = str(folder / "line.db")
    for station in ("line-a", "line-b"):
        code, out, err = varnex(station_args([unit], records, station, pg_server.url, "--count", "1"), [unit],
                                pg_server.env()).wait(FINISH_S)
        assert code == 0, out + err
        assert "rows wait" not in out, out  # the server took every row: nothing to say
    run_varnex(["records", "forward", records, pg_server.url], pg_server.env())
    for extra in (["--format", "table"], ["--format", "csv"], ["--format", "json"], ["--summary"]):
        for station in ("line-a", "line-b"):
            from_file = run_varnex(["records", records, "--station", station] + extra, pg_server.env())
            from_server = run_varnex(["records", pg_server.url, "--station", station] + extra, pg_server.env())
            assert from_file.returncode == 0 and from_server.returncode == 0, from_server.stderr
            assert from_server.stdout == from_file.stdout


def test_an_older_copy_of_a_file_never_moves_a_finished_row_back(units, varnex, folder, pg_server):
    """A file restored from an earlier copy (the same journal, its row not yet completed) sent
    again: the server keeps the row's end."""
    (unit,) = units(1, "--line", "1")
    records = str(folder / "restored.db")
    code, out, err = varnex(station_args([unit], records, "restored", pg_server.url, "--count", "1"), [unit],
                            pg_server.env()).wait(FINISH_S)
    assert code == 0, out + err
    assert_server_holds_the_file(pg_server, records, "restored")
    older = str(folder / "older-copy.db")
    shutil.copy(records, older)
    with sqlite3.connect(older) as db:
        db.execute("UPDATE loads SET ended_at = NULL, result = 'interrupted'")
    done = run_varnex(["records", "forward", older, pg_server.url], pg_server.env())
    assert done.returncode == 0, done.stdout + done.stderr
    assert server_rows(pg_server, "restored") == [["1", "confirmed"]]


def seeded_file(pg, records, station, count):
    """A records file made by varnex (an empty one forwards nothing) holding count ended loads
    of one station, all noted for the server, the last one not yet ended: a load whose row
    reaches the server while it runs."""
    done = run_varnex(["records", "forward", records, pg.url], pg.env())
    assert done.returncode == 0, done.stdout + done.stderr
    with sqlite3.connect(records) as db:
        for row_id in range(1, count + 1):
            db.execute("INSERT INTO loads (id, started_at, ended_at, station, port, operation, image, image_size, "
                       "image_sha256, baud, bytes_sent, result, duration_ms, unit, varnex_version) VALUES "
                       "(?, '2026-12-08T06:18:09.123Z', '2026-12-08T06:18:33.456Z', ?, '/dev/ttyUSB0', "
                       "'bootloader', 'BOOTLOADER', 249008, ?, 115200, 249008, 'confirmed', 24333, ?, '1.2.3')",
                       (row_id, station, "a" * 64, row_id))
            db.execute("INSERT INTO outbox (row_id) VALUES (?)", (row_id,))
        db.execute("UPDATE loads SET ended_at = NULL, result = 'interrupted', duration_ms = NULL WHERE id = ?",
                   (count,))


def outbox_rows(records):
    with sqlite3.connect(records) as db:
        return db.execute("SELECT count(*) FROM outbox").fetchone()[0]


def test_forward_sends_every_batch_whole_counts_rightly_and_a_late_end_reaches_the_server(folder, pg_server):
    """More rows than one batch, the last one ended only after its start was sent."""
    records = str(folder / "batches.db")
    rows = 450  # two whole batches and part of a third
    seeded_file(pg_server, records, "batches", rows)

    done = run_varnex(["records", "forward", records, pg_server.url], pg_server.env())
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.splitlines()[-1] == "%d rows sent to 127.0.0.1, 0 already there" % rows
    assert outbox_rows(records) == 0  # nothing waits any more, nor is sent again
    expected = [[str(r["id"]), r["result"]] for r in file_rows(records)]
    assert server_rows(pg_server, "batches") == expected
    assert expected[-1] == [str(rows), "interrupted"]

    with sqlite3.connect(records) as db:
        db.execute("UPDATE loads SET ended_at = '2026-12-08T06:20:00.000Z', result = 'confirmed', "
                   "duration_ms = 24000 WHERE id = ?", (rows,))
    done = run_varnex(["records", "forward", records, pg_server.url], pg_server.env())
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.splitlines()[-1] == "1 rows sent to 127.0.0.1, %d already there" % (rows - 1)
    assert server_rows(pg_server, "batches")[-1] == [str(rows), "confirmed"]


def test_forward_gives_up_on_a_hung_server_and_names_a_missing_database(folder, pg_server):
    """Neither waits for ever nor is tried again in vain: a server that never answers is left
    within the connection's bound; a database that is not there is a mistake to mend."""
    records = str(folder / "one.db")
    seeded_file(pg_server, records, "gives-up", 1)
    pg_server.hang()
    try:
        done = run_varnex(["records", "forward", records, pg_server.url], pg_server.env())
    finally:
        pg_server.resume()
    assert done.returncode == 1, done.stdout + done.stderr
    assert "refuses the rows" in done.stderr, done.stderr

    missing = pg_server.url.rsplit("/", 1)[0] + "/no_such_records"
    done = run_varnex(["records", "forward", records, missing], pg_server.env(PGPASSWORD=pg_server.password))
    assert done.returncode == 1, done.stdout + done.stderr
    assert "does not exist" in done.stderr and "check the connection string" in done.stderr, done.stderr
