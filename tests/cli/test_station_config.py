"""varnex station from a configuration file: three named ports on lines of simulated units show
their names on the board, in the JSON events and in the records (their devices in a column of
their own, also in an older records file upgraded in place); a bad file stops the station
before any port is opened; SIGTERM (the service's stop) ends it with the load under way
recorded as stopped; varnex ports --station-config writes a file the station takes."""
import signal
import sqlite3
import time

import pytest

from simunits import image_sha256, json_lines
from test_station import BOOTLOADER_BYTES, FINISH_S, LINE_GAP_MS, read_records

NAMES = ["fixture 1", "fixture 2", "fixture 3"]


def write_config(folder, units, records, *extra):
    text = 'station = "line3-bench2"\nimage = "bootloader"\nbaud = 115200\nrecords = "%s"\n' % records
    text += "".join(line + "\n" for line in extra)
    for name, unit in zip(NAMES, units):
        text += '\n[[port]]\nname = "%s"\ndevice = "%s"\n' % (name, unit.link)
    path = folder / "bench.toml"
    path.write_text(text)
    return str(path)


def test_three_named_ports_show_their_names_on_the_board_in_json_and_in_the_records(units, varnex, folder):
    lines = units(3, "--line", "2", "--line-gap-ms", LINE_GAP_MS)
    config = write_config(folder, lines, "shift.db")  # beside the configuration
    code, out, err = varnex(["station", "--config", config, "--count", "3", "--json"], lines).wait(FINISH_S)
    assert code == 0, out + err
    events = json_lines(out)
    assert {e["port"] for e in events if "port" in e} == set(NAMES)

    # On a terminal: the board's lines carry the names, never the devices.
    code, out, err = varnex(["station", "--config", config, "--count", "3"], lines,
                            {"VARNEX_FORCE_TERMINAL": "1"}).wait(FINISH_S)
    assert code == 0, out + err
    for name in NAMES:
        assert name in out
    assert not any(unit.link in out for unit in lines)

    rows = read_records(str(folder / "shift.db"))
    assert len(rows) == 6 and {r["port"] for r in rows} == set(NAMES), rows
    assert {(r["port"], r["device"]) for r in rows} == {(n, u.link) for n, u in zip(NAMES, lines)}, rows
    assert {r["station"] for r in rows} == {"line3-bench2"}
    assert all(r["result"] == "confirmed" and r["bytes_sent"] == BOOTLOADER_BYTES for r in rows), rows
    for unit in lines:
        assert [h["sha256"] for h in unit.request(cmd="line")["line"]["history"]] == [image_sha256("BOOTLOADER")] * 2


# A records file as a varnex of schema version 2 left it: the loads without their devices,
# the journal's id and the outbox.
VERSION_2 = """
CREATE TABLE loads(id INTEGER PRIMARY KEY, started_at TEXT NOT NULL, ended_at TEXT, station TEXT NOT NULL,
    port TEXT NOT NULL, operation TEXT NOT NULL, image TEXT NOT NULL, image_size INTEGER NOT NULL,
    image_sha256 TEXT NOT NULL, baud INTEGER NOT NULL, bytes_sent INTEGER NOT NULL DEFAULT 0,
    result TEXT NOT NULL DEFAULT 'interrupted', reason TEXT NOT NULL DEFAULT '', duration_ms INTEGER,
    unit INTEGER NOT NULL, varnex_version TEXT NOT NULL);
CREATE INDEX loads_started ON loads(started_at);
CREATE TABLE journal(id TEXT NOT NULL);
INSERT INTO journal(id) VALUES ('6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f');
CREATE TABLE outbox(seq INTEGER PRIMARY KEY AUTOINCREMENT, row_id INTEGER NOT NULL UNIQUE);
INSERT INTO loads VALUES (1, '2026-12-01T08:00:00.000Z', '2026-12-01T08:01:00.000Z', 'line3-bench2',
    '/dev/ttyUSB0', 'bootloader', 'BOOTLOADER', 249008, 'aa', 115200, 249008, 'confirmed', '', 60000, 1, '1.2.0');
INSERT INTO outbox(row_id) VALUES (1);
PRAGMA application_id = 1448627794;
PRAGMA user_version = 2;
"""


def test_an_older_records_file_is_upgraded_in_place_with_its_rows_intact(units, varnex, folder):
    (unit,) = units(1, "--line", "1")
    records = str(folder / "older.db")
    with sqlite3.connect(records) as db:
        db.executescript(VERSION_2)
    before = read_records(records)[0]
    config = write_config(folder, [unit], records)
    code, out, err = varnex(["station", "--config", config, "--count", "1"], [unit]).wait(FINISH_S)
    assert code == 0, out + err
    old, new = read_records(records)
    assert old == dict(before, device=""), old
    assert (new["port"], new["device"], new["result"]) == ("fixture 1", unit.link, "confirmed"), new
    db = sqlite3.connect(records)
    try:
        assert db.execute("PRAGMA user_version").fetchone()[0] == 4
        assert db.execute("SELECT id FROM journal").fetchall() == [("6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f",)]
        assert [r[0] for r in db.execute("SELECT row_id FROM outbox ORDER BY seq")] == [1, 2]
        assert db.execute("PRAGMA integrity_check").fetchone()[0] == "ok"
    finally:
        db.close()


def test_a_bad_configuration_stops_the_station_before_any_port_is_opened(units, varnex, folder):
    (unit,) = units(1, "--line", "1")
    config = write_config(folder, [unit], "shift.db", "baud = 9600")
    code, out, err = varnex(["station", "--config", config], [unit]).wait(30)
    assert code == 2, out + err
    assert "bench.toml:" in err and "baud" in err
    assert unit.request(cmd="status")["counters"]["bytes_in"] == 0


def test_sigterm_ends_the_station_with_the_load_under_way_recorded_as_stopped(units, varnex, folder):
    (unit,) = units(1, "--line", "1", "--pace")  # a paced load takes about 24 s
    config = write_config(folder, [unit], str(folder / "shift.db"))
    run = varnex(["station", "--config", config], [unit])
    deadline = time.monotonic() + 30
    while not unit.request(cmd="image")["current"].get("present"):
        if time.monotonic() > deadline:
            pytest.fail("the load never started")
        time.sleep(0.1)
    run.process.send_signal(signal.SIGTERM)
    code, out, err = run.wait(30)
    # The load cut short is counted as stopped, not failed, in the system's words rather than
    # Ctrl-C's; exit code 1 still says a load was cut short (the service takes it as a clean end).
    assert code == 1 and "station ended (stopped): 0 units loaded, 0 failed, 1 stopped" in out, out + err
    assert "Ctrl-C" not in out + err
    (row,) = read_records(str(folder / "shift.db"))
    assert row["port"] == "fixture 1" and row["result"] == "stopped" and row["ended_at"], row
    assert row["reason"].startswith("stopped after "), row
