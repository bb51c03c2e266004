"""varnex station from a configuration file: three named ports on lines of simulated units show
their names on the board, in the JSON events and in the records; a bad file stops the station
before any port is opened; SIGTERM (the service's stop) ends it with the load under way
recorded as stopped; varnex ports --station-config writes a file the station takes."""
import signal
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
    assert {r["station"] for r in rows} == {"line3-bench2"}
    assert all(r["result"] == "confirmed" and r["bytes_sent"] == BOOTLOADER_BYTES for r in rows), rows
    for unit in lines:
        assert [h["sha256"] for h in unit.request(cmd="line")["line"]["history"]] == [image_sha256("BOOTLOADER")] * 2


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
    # The load cut short counts as a failed unit, as at Ctrl-C (the service takes exit code 1
    # as a clean end, see the unit file).
    assert code == 1 and "station ended (stopped)" in out, out + err
    (row,) = read_records(str(folder / "shift.db"))
    assert row["port"] == "fixture 1" and row["result"] == "stopped" and row["ended_at"], row
