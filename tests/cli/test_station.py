"""varnex station against lines of simulated units: three ports, three units each, one unit
going off mid-image: nine rows, the right results, each loaded unit's bytes identical to the
image; a station killed mid-load leaves an interrupted row in a sound file; a records file
that cannot be written stops the station before any port is touched."""
import os
import signal
import sqlite3
import subprocess
import time

import pytest

from simunits import VARNEX, image_sha256, json_lines

BOOTLOADER_BYTES = 249008
LINE_GAP_MS = "1500"
NETWORK_LINE_GAP_MS = "3000"
FINISH_S = 120
CUT_AT_BYTES = 100000


def station_args(units, records, *extra):
    args = ["station", "--bootloader", "--baud", "115200", "--records", records, "--station", "test-bench"]
    for unit in units:
        args += ["--port", unit.link]
    return args + list(extra)


def read_records(path, *extra):
    out = subprocess.run([VARNEX, "records", path, "--format", "json"] + list(extra), capture_output=True,
                         text=True, timeout=30)
    assert out.returncode == 0, out.stderr
    return json_lines(out.stdout)


def test_three_ports_three_units_each_one_going_off_mid_image(units, varnex, folder):
    steady = units(2, "--line", "3", "--line-gap-ms", LINE_GAP_MS)
    (cut,) = units(1, "--line", "3", "--line-gap-ms", LINE_GAP_MS, "--line-fault", "2:drop_mid_image:%d" % CUT_AT_BYTES)
    lines = steady + [cut]
    records = str(folder / "shift.db")
    # Eight units load; the ninth fails, so the station ends with every unit seen.
    code, out, err = varnex(station_args(lines, records, "--count", "8", "--json"), lines).wait(FINISH_S)
    assert code == 1, out + err  # one unit failed

    rows = read_records(records)
    assert len(rows) == 9, rows
    sha = image_sha256("BOOTLOADER")
    for unit in lines:
        mine = [r for r in rows if r["port"] == unit.link]
        history = unit.request(cmd="line")["line"]["history"]
        assert [r["unit"] for r in mine] == [1, 2, 3]
        assert len(history) == 3, history
        for row, seen in zip(mine, history):
            assert row["station"] == "test-bench" and row["image"] == "BOOTLOADER"
            assert row["image_sha256"] == sha and row["image_size"] == BOOTLOADER_BYTES
            if unit is cut and row["unit"] == 2:
                assert row["result"] == "failed", row
                assert "the unit ended the image after" in row["reason"]
                assert CUT_AT_BYTES <= row["bytes_sent"] < BOOTLOADER_BYTES
                assert not seen["finished"] and seen["bytes"] >= CUT_AT_BYTES
                continue
            assert row["result"] == "confirmed", row
            assert row["bytes_sent"] == BOOTLOADER_BYTES
            assert seen["finished"] and seen["bytes"] == BOOTLOADER_BYTES and seen["sha256"] == sha
    events = json_lines(out)
    assert events[-1] == {"event": "summary", "loaded": 8, "failed": 1, "stopped": 0,
                          "reason": "--count 8 reached"}
    failed = [e for e in events if e["event"] == "failed"]
    assert len(failed) == 1 and failed[0]["unit"] == 2 and failed[0]["result"] == "failed"
    assert any(e["event"] == "step" and e["step"] == "waiting_for_unit_to_go" for e in events)


def test_a_station_killed_mid_load_leaves_an_interrupted_row_in_a_sound_file(units, varnex, folder):
    (unit,) = units(1, "--line", "1", "--pace")  # a paced load takes about 24 s
    records = str(folder / "shift.db")
    run = varnex(station_args([unit], records), [unit])
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if unit.request(cmd="image")["current"].get("present"):
            break
        time.sleep(0.1)
    else:
        pytest.fail("the load never started")
    time.sleep(1)
    run.process.send_signal(signal.SIGKILL)
    run.process.communicate(timeout=10)

    rows = read_records(records)
    assert len(rows) == 1 and rows[0]["result"] == "interrupted" and rows[0]["ended_at"] is None, rows
    db = sqlite3.connect(records)
    try:
        assert db.execute("PRAGMA integrity_check").fetchone()[0] == "ok"
    finally:
        db.close()
    assert read_records(records, "--result", "interrupted") == rows


@pytest.fixture
def read_only_folder(tmp_path):
    """A folder nobody may write in, root included (a read-only mount when run as root)."""
    path = tmp_path / "locked"
    path.mkdir()
    if os.geteuid() != 0:
        path.chmod(0o555)
        yield path
        path.chmod(0o755)
        return
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", str(path)]).returncode != 0:
        pytest.skip("cannot mount a read-only folder here")
    yield path
    subprocess.run(["umount", str(path)])


def test_records_in_a_read_only_folder_end_the_station_before_any_port_is_touched(units, varnex,
                                                                                  read_only_folder):
    (unit,) = units(1, "--line", "1")
    records = str(read_only_folder / "shift.db")
    code, out, err = varnex(station_args([unit], records), [unit]).wait(30)
    assert code == 3, out + err  # the station cannot work: not a usage error
    assert records in err and "cannot be used" in err
    assert not os.path.exists(unit.modem + ".pc")  # the port was never opened
    assert unit.request(cmd="status")["counters"]["bytes_in"] == 0


def test_download_and_erase_add_their_rows_to_the_records(units, varnex, folder):
    (unit,) = units(1, "--mode", "bootloader")
    records = str(folder / "runs.db")
    code, out, err = varnex(["download", "--port", unit.link, "--bootloader", "--baud", "115200", "--wait", "10",
                             "--records", records], [unit]).wait(60)
    assert code == 0, out + err
    (row,) = read_records(records)
    assert row["operation"] == "bootloader" and row["result"] == "done", row
    assert row["bytes_sent"] == BOOTLOADER_BYTES and row["image_sha256"] == image_sha256("BOOTLOADER")
    unit.request(cmd="enter")  # the unit restarts, running, and takes an erase
    unit.request(cmd="erase", ms=200)
    code, out, err = varnex(["erase", "--port", unit.link, "--records", records], [unit]).wait(60)
    assert code == 0, out + err
    rows = read_records(records)
    assert [(r["operation"], r["result"]) for r in rows] == [("bootloader", "done"), ("erase", "done")]


def test_a_station_over_rfc2217_loads_its_line_of_units(units, varnex, folder):
    from ser2net import Ser2net
    # The server reads the unit's lines about once a second, so the unit's second of CTS down
    # may reach the station shortened by up to that much: the next unit comes a little later.
    (unit,) = units(1, "--line", "2", "--line-gap-ms", NETWORK_LINE_GAP_MS)
    server = Ser2net([unit])
    try:
        records = str(folder / "net.db")
        args = ["station", "--port", server.urls[0], "--bootloader", "--baud", "115200", "--records", records,
                "--count", "2"]
        code, out, err = varnex(args, [unit]).wait(FINISH_S)
        assert code == 0, out + err
    finally:
        server.stop()
    rows = read_records(records)
    assert [(r["unit"], r["result"], r["bytes_sent"]) for r in rows] == [(1, "confirmed", BOOTLOADER_BYTES),
                                                                         (2, "confirmed", BOOTLOADER_BYTES)]
    history = unit.request(cmd="line")["line"]["history"]
    assert [h["sha256"] for h in history] == [image_sha256("BOOTLOADER")] * 2
