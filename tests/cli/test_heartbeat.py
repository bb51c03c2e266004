"""Stations say they are alive on the line's server (the throwaway PostgreSQL 15): a station
that forwards keeps its own row of varnex_stations up to date while it runs, with its board's
address and its ports, and marks it ended at its stop; a server hung with SIGSTOP during a run
holds up no unit; the administrator's SQL file run again brings an older server up to date."""
import json
import os
import signal
import subprocess

from simunits import image_sha256
from test_records_server import LINE_GAP_MS, FINISH_S, station_args, wait_for
from test_station import read_records
from test_web_board import web_url

HEARTBEAT_S = 5
STATEMENT_BOUND_MS = 10000  # the longest a statement to the server is waited for


def server_processes(pg):
    """The postmaster and every backend: stopping them all hangs the connections already open too."""
    postmaster = pg.postmaster_pid()
    children = subprocess.run(["pgrep", "-P", str(postmaster)], capture_output=True, text=True).stdout.split()
    return [postmaster] + [int(pid) for pid in children]


def signal_all(pids, number):
    for pid in pids:
        try:
            os.kill(pid, number)
        except ProcessLookupError:
            pass


def station_row(pg, station):
    rows = pg.admin_sql("SELECT host, varnex_version, board_url, state, heartbeat_at, "
                        "ended_at IS NOT NULL FROM varnex_stations WHERE station = '%s'" % station)
    if not rows:
        return None
    host, version, board, state, beat, ended = rows[0]
    return {"host": host, "version": version, "board": board, "state": json.loads(state), "beat": beat,
            "ended": ended == "t"}


def test_an_older_server_gains_the_stations_table_with_the_role_s_rights(pg_server):
    pg_server.admin_sql("DROP TABLE varnex_stations")
    pg_server.run_sql_file()
    pg_server.run_sql_file()  # and again changes nothing
    rights = pg_server.admin_sql("SELECT has_table_privilege('varnex', 'varnex_stations', p) FROM "
                                 "unnest(ARRAY['SELECT', 'INSERT', 'UPDATE', 'DELETE', 'TRUNCATE']) AS p")
    assert rights == [["t"], ["t"], ["t"], ["f"], ["f"]]


def test_a_station_beats_while_it_runs_and_is_marked_ended_at_its_stop(units, varnex, folder, pg_server):
    lines = units(2, "--line", "2", "--line-gap-ms", LINE_GAP_MS)
    run = varnex(station_args(lines, str(folder / "beats.db"), "beats", pg_server.url, "--count", "4",
                              "--http", "127.0.0.1:0"), lines, pg_server.env())
    url = web_url(run)
    assert wait_for(lambda: station_row(pg_server, "beats") is not None)
    first = station_row(pg_server, "beats")
    assert first["board"] == url and not first["ended"]
    assert [p["name"] for p in first["state"]["ports"]] == [u.link for u in lines]
    assert wait_for(lambda: station_row(pg_server, "beats")["beat"] != first["beat"], HEARTBEAT_S * 3)
    code, out, err = run.wait(FINISH_S)
    assert code == 0, out + err
    last = station_row(pg_server, "beats")
    assert last["ended"], last
    assert last["state"]["loaded"] == 4 and last["state"]["failed"] == 0, last


def test_a_hung_server_holds_up_no_unit(units, varnex, folder, pg_server):
    lines = units(2, "--line", "2", "--line-gap-ms", LINE_GAP_MS)
    records = str(folder / "hung.db")
    run = varnex(station_args(lines, records, "hung", pg_server.url, "--count", "4"), lines, pg_server.env())
    assert wait_for(lambda: station_row(pg_server, "hung") is not None)
    hung = server_processes(pg_server)
    signal_all(hung, signal.SIGSTOP)
    try:
        code, out, err = run.wait(FINISH_S)
    finally:
        signal_all(hung, signal.SIGCONT)
    assert code == 0, out + err
    assert "rows wait for 127.0.0.1" in out.splitlines()[-1], out  # the server was hung indeed
    for unit in lines:
        history = unit.request(cmd="line")["line"]["history"]
        assert [h["sha256"] for h in history] == [image_sha256("BOOTLOADER")] * 2, history
    # A load that waited on the hung server would have waited out a whole statement's bound.
    rows = read_records(records)
    assert [r["result"] for r in rows] == ["confirmed"] * 4, rows
    assert max(r["duration_ms"] for r in rows) < STATEMENT_BOUND_MS, rows
