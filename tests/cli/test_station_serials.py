"""varnex station with barcode scanners (simulated, on pseudo-terminals) against lines of
simulated units: every row carries its unit's serial, with a scanner per fixture and with one
for the station (a fixture's label, then the unit's); a bad code refused; a unit brought back
caught as loaded twice; records --serial and the summary's first-pass yield; a scanner
unplugged and back. The loads wait for their scans (require_serial), so the tests scan a unit
exactly when its port asks for it."""
import json
import os
import select
import subprocess
import time

from simscanner import Scanner
from simunits import VARNEX, json_lines

LINE_GAP_MS = "1500"
FINISH_S = 120
ASK_S = 60
SEEN_S = 3


def read_records(path, *extra):
    out = subprocess.run([VARNEX, "records", path, "--format", "json"] + list(extra), capture_output=True,
                         text=True, timeout=30)
    assert out.returncode == 0, out.stderr
    return json_lines(out.stdout)


class Events:
    """varnex --json's events as they come, kept whole for the end."""

    def __init__(self, run):
        self.run = run
        self.seen = []
        self._buffer = b""

    def _more(self, timeout):
        fd = self.run.process.stdout.fileno()
        if not select.select([fd], [], [], timeout)[0]:
            return
        chunk = os.read(fd, 65536)
        if not chunk:
            raise AssertionError("varnex ended early: %s" % self.run.process.stderr.read().decode(errors="replace"))
        self._buffer += chunk
        *lines, self._buffer = self._buffer.split(b"\n")
        self.seen += [json.loads(line) for line in lines if line.strip()]

    def wait(self, condition, seconds, start=0):
        deadline = time.monotonic() + seconds
        while True:
            for index in range(start, len(self.seen)):
                if condition(self.seen[index]):
                    return index
            if time.monotonic() >= deadline:
                raise AssertionError("not seen in %d s; last events: %s" % (seconds, self.seen[-8:]))
            self._more(0.2)

    def rest(self):
        out, err = self.run.process.communicate(timeout=FINISH_S)
        lines = (self._buffer + out).decode(errors="replace")
        self.seen += json_lines(lines)
        return self.run.process.returncode, err.decode(errors="replace")


def said(port, part):
    return lambda e: e.get("port") == port and e.get("event") == "step" and part in e.get("message", "")


def scan_when_asked(events, port, scanner, code, start, before=()):
    """Waits for the port to ask for its unit's label, then scans what comes before and the code,
    again if the scanner had not been opened yet; gives where the scan was taken."""
    asked = events.wait(said(port, "scan the unit's label"), ASK_S, start)
    for _ in range(3):
        for other in before:
            scanner.scan(other)
        scanner.scan(code)
        try:
            return events.wait(said(port, "SN %s scanned" % code), SEEN_S, asked)
        except AssertionError:
            continue
    raise AssertionError("%s: SN %s never taken" % (port, code))


def station(units, records, config, *extra, name="test-bench"):
    args = ["station", "--bootloader", "--baud", "115200", "--records", records, "--station", name,
            "--config", config, "--json"]
    return args + list(extra)


def write_config(path, units, scanners, labels=None, top=""):
    text = top
    for index, unit in enumerate(units):
        text += '\n[[port]]\nname = "fixture %d"\ndevice = "%s"\n' % (index + 1, unit.link)
        if scanners:
            text += 'scanner = "%s"\n' % scanners[index].link
        if labels:
            text += 'label = "%s"\n' % labels[index]
    path.write_text(text)
    return str(path)


def test_a_scanner_per_fixture_every_row_with_its_serial_and_a_unit_back_is_caught(units, varnex, folder):
    lines = units(3, "--line", "2", "--line-gap-ms", LINE_GAP_MS)
    scanners = [Scanner(folder, "scanner-%d" % i) for i in range(3)]
    records = str(folder / "shift.db")
    config = write_config(folder / "station.toml", lines, scanners, top="require_serial = true\n")
    events = Events(varnex(station(lines, records, config, "--count", "6"), lines))
    serials = {"fixture 1": ["A-100", "A-101"], "fixture 2": ["B-200", "B-201"], "fixture 3": ["C-300", "A-100"]}
    # Unit by unit on each port: the third fixture's second unit is the first fixture's first, back again.
    at = {port: 0 for port in serials}
    for turn in range(2):
        for index, port in enumerate(serials):
            bad = ["SN 7\x1b[2J"] if turn == 0 and index == 0 else []
            at[port] = scan_when_asked(events, port, scanners[index], serials[port][turn], at[port], bad)
    code, err = events.rest()
    assert code == 0, err

    rows = read_records(records)
    assert len(rows) == 6
    for port, expected in serials.items():
        assert [r["serial"] for r in rows if r["port"] == port] == expected
    assert all(r["result"] == "confirmed" for r in rows)
    steps = [e.get("message", "") for e in events.seen if e.get("event") == "step"]
    assert any('refused the scan "SN 7?[2J": it holds control characters' in s for s in steps), steps
    assert any(s.startswith("SN A-100 was loaded at ") and " on fixture 1, test-bench: loading it again" in s
               for s in steps), steps

    back = read_records(records, "--serial", "A-100")
    assert [r["port"] for r in back] == ["fixture 1", "fixture 3"]
    summary = subprocess.run([VARNEX, "records", records, "--summary", "--format", "json"], capture_output=True,
                             text=True, timeout=30)
    days = json_lines(summary.stdout)
    assert {d["port"]: (d["units"], d["first_pass_yield"]) for d in days} == {
        "fixture 1": (2, 1.0), "fixture 2": (2, 1.0), "fixture 3": (1, 1.0)}


def test_one_station_scanner_pairs_each_fixtures_label_with_its_unit(units, varnex, folder):
    lines = units(2, "--line", "1")
    scanner = Scanner(folder)
    records = str(folder / "shift.db")
    config = write_config(folder / "station.toml", lines, None, ["F01", "F02"],
                          'require_serial = true\nscanner = "%s"\n' % scanner.link)
    events = Events(varnex(station(lines, records, config, "--count", "2"), lines))
    for port in ("fixture 1", "fixture 2"):
        events.wait(said(port, "scan the unit's label"), ASK_S)
    for _ in range(3):  # until the scanner is open: the unit alone is refused on the first fixture
        scanner.scan("U-9")
        try:
            events.wait(said("fixture 1", "refused SN U-9: scan the fixture's label first"), SEEN_S)
            break
        except AssertionError:
            continue
    scanner.scan("F02")
    scanner.scan("U-2")
    scanner.scan("F01")
    scanner.scan("U-1")
    code, err = events.rest()
    assert code == 0, err
    rows = read_records(records)
    assert {r["port"]: r["serial"] for r in rows} == {"fixture 1": "U-1", "fixture 2": "U-2"}


def test_a_scanner_unplugged_is_lost_and_read_again_once_back(units, varnex, folder):
    (unit,) = units(1, "--line", "1")
    scanner = Scanner(folder)
    records = str(folder / "shift.db")
    config = write_config(folder / "station.toml", [unit], [scanner], top="require_serial = true\n")
    events = Events(varnex(station([unit], records, config, "--count", "1"), [unit]))
    asked = events.wait(said("fixture 1", "scan the unit's label"), ASK_S)
    time.sleep(0.5)  # the scanner is open by now: its loss is the unplugging's
    scanner.unplug()
    events.wait(said("fixture 1", "scanner lost"), ASK_S, asked)
    scanner.plug()
    events.wait(said("fixture 1", "is back"), ASK_S, asked)
    scanner.scan("SN-77")
    code, err = events.rest()
    assert code == 0, err
    assert [r["serial"] for r in read_records(records)] == ["SN-77"]


def test_the_serial_reaches_the_server_where_another_station_finds_the_unit_loaded(units, varnex, folder, pg_server):
    env = pg_server.env()
    for bench in ("bench-a", "bench-b"):
        (unit,) = units(1, "--line", "1")
        scanner = Scanner(folder, "scanner-" + bench)
        records = str(folder / (bench + ".db"))
        config = write_config(folder / (bench + ".toml"), [unit], [scanner],
                              top='require_serial = true\nforward = "%s"\n' % pg_server.url)
        args = station([unit], records, config, "--count", "1", name=bench)
        events = Events(varnex(args, [unit], env))
        scan_when_asked(events, "fixture 1", scanner, "X-1", 0)
        code, err = events.rest()
        assert code == 0, err
        assert pg_server.admin_sql("SELECT serial, result FROM varnex_loads WHERE station = '%s'" % bench) == [
            ["X-1", "confirmed"]]
    steps = [e.get("message", "") for e in events.seen if e.get("event") == "step"]
    assert any(s.startswith("SN X-1 was loaded at ") and s.endswith(" on fixture 1, bench-a: loading it again")
               for s in steps), steps
