"""varnex.exe, the command-line loader's Windows build, under Wine against the simulated
unit: one download arrives whole and unchanged, a settings backup comes back identical and
a restore arrives identical (on a COM port and over rfc2217:// through Debian's ser2net), a
receive into a missing folder fails with its reason, `ports` names the mapped COM ports, a
station loads a line of units whose rows `records` reads back, its CSV and JSON lines with
the same bytes as on Linux, and its board is drawn in place on Wine's console (in tmux)."""
import os
import hashlib
import json
import re
import shutil
import subprocess
import sys
import tempfile
import time
import types
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402
from test_wizard_download import BOOTLOADER_BYTES, image_sha256  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "cli"))
from ser2net import Ser2net  # noqa: E402

VARNEX_EXE = os.path.join(h.WIN_BIN, "varnex.exe")
UNIT_PORT = 3
IDLE_PORT = 6
RUN_TIMEOUT_S = 180
CONSOLE_COLUMNS = 80
CONSOLE_ROWS = 24
LOOK_INTERVAL_S = 0.5
QUIET_GAP_MS = 1500
SETTINGS_KIND = 25
LINE_UNITS = 2
LINE_GAP_MS = "3000"  # well over the station's second of CTS down, even on a loaded machine
CSV_COLUMNS = ["id", "started_at", "ended_at", "station", "port", "operation", "image", "image_size",
               "image_sha256", "baud", "bytes_sent", "result", "reason", "duration_ms", "unit", "varnex_version",
               "device", "serial"]


def csv_field(value):
    """A records value as RFC 4180 writes it: quoted, quotes doubled, where it must be."""
    text = "" if value is None else str(value)
    if any(c in text for c in ',"\r\n'):
        return '"' + text.replace('"', '""') + '"'
    return text


def json_lines(data):
    """Standard output's JSON lines, each ended by LF alone as on every system."""
    assert data.endswith(b"\n") and b"\r" not in data, data[:200]
    return [json.loads(line) for line in data.decode().split("\n")[:-1]]


class VarnexExe(unittest.TestCase):
    def setUp(self):
        self.endings = []

    def tearDown(self):
        for end in self.endings:
            end()

    def varnex(self, *args):
        session = h.Session.get()
        return subprocess.run(["wine", VARNEX_EXE] + list(args), env=session.env, capture_output=True,
                              text=True, timeout=RUN_TIMEOUT_S)

    def varnex_bytes(self, *args):
        """A run whose standard output is kept as the bytes it wrote."""
        session = h.Session.get()
        run = subprocess.run(["wine", VARNEX_EXE] + list(args), env=session.env, capture_output=True,
                             timeout=RUN_TIMEOUT_S)
        self.assertEqual(run.returncode, 0, run.stdout[-2000:] + run.stderr[-2000:])
        return run.stdout

    def unit(self, args, network):
        """The simulated unit on COMn, or behind ser2net: the unit and the port name to use."""
        sim = h.Sim(args, port=UNIT_PORT)
        self.endings.append(sim.stop)
        if not network:
            return sim, "COM%d" % UNIT_PORT
        server = Ser2net([types.SimpleNamespace(slave=sim.slave_path, modem=h.Session.get().modem_file)])
        self.endings.append(server.stop)
        return sim, server.urls[0]

    def test_download_reaches_the_unit_whole(self):
        self.download_reaches_the_unit_whole(network=False)

    def test_download_over_rfc2217_reaches_the_unit_whole(self):
        self.download_reaches_the_unit_whole(network=True)

    def download_reaches_the_unit_whole(self, network):
        sim, port = self.unit(["--mode", "bootloader", "--baud", "115200", "--quiet-gap-ms", str(QUIET_GAP_MS)],
                              network)
        run = self.varnex("download", "--port", port, "--bootloader", "--baud", "115200", "--wait", "30")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn(str(BOOTLOADER_BYTES), run.stdout)

        def finished_image():
            last = sim.request({"cmd": "image"}).get("last") or {}
            return last if last.get("present") and last.get("finished") else None

        image = h.wait_until(finished_image, 30, what="the unit to finish receiving the image")
        self.assertEqual(image["bytes"], BOOTLOADER_BYTES)
        self.assertEqual(image["sha256"], image_sha256("BOOTLOADER"))
        self.assertEqual(image["garbled"], 0)
        # The port went back to the link's speed at the end (a server restores its own line
        # settings when the connection closes).
        if not network:
            self.assertEqual(sim.request({"cmd": "status"})["line"]["baud"], 38400)

    def test_settings_backup_and_restore_move_the_bytes_unchanged(self):
        self.settings_backup_and_restore(network=False)

    def test_settings_backup_and_restore_over_rfc2217(self):
        self.settings_backup_and_restore(network=True)

    def settings_backup_and_restore(self, network):
        sim, port = self.unit(["--mode", "running"], network)
        folder = tempfile.mkdtemp(dir=h.Session.get().run_dir)
        data = bytes(range(256)) * 3 + os.urandom(213)
        source = os.path.join(folder, "unit.bin")
        with open(source, "wb") as f:
            f.write(data)
        sim.request({"cmd": "content_set", "what": "file", "kind": SETTINGS_KIND, "path": source})
        saved = os.path.join(folder, "backup.settings")
        run = self.varnex("settings", "get", h.windows_path(saved), "--port", port)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("Transfer of settings sucessfully completed.", run.stdout)
        with open(saved, "rb") as f:
            self.assertEqual(f.read(), data)
        self.assertEqual(sorted(os.listdir(folder)), ["backup.settings", "unit.bin"])

        run = self.varnex("settings", "send", h.windows_path(saved), "--port", port)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        got = sim.request({"cmd": "received", "what": "file"}).get("last") or {}
        self.assertEqual(got.get("sha256"), hashlib.sha256(data).hexdigest(), got)

    def test_a_receive_into_a_missing_folder_fails_naming_it(self):
        self.endings.append(h.Sim(["--mode", "running"], port=UNIT_PORT).stop)
        missing = os.path.join(h.Session.get().run_dir, "no-such-folder", "backup.settings")
        run = self.varnex("settings", "get", h.windows_path(missing), "--port", "COM%d" % UNIT_PORT)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn("FAILED: Could not create a file beside", run.stdout)
        self.assertIn("backup.settings", run.stdout)

    def test_ports_lists_the_mapped_com_ports(self):
        self.endings.append(h.Sim(["--mode", "off"], port=UNIT_PORT).stop)
        self.endings.append(h.PtyPeer(IDLE_PORT).close)
        run = self.varnex("ports")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        listed = re.findall(r"^(COM\d+)\s", run.stdout, re.MULTILINE)
        self.assertIn("COM%d" % UNIT_PORT, listed, run.stdout)
        self.assertIn("COM%d" % IDLE_PORT, listed, run.stdout)

    def test_a_station_loads_a_line_of_units_and_records_reads_them_back(self):
        sim = h.Sim(["--line", str(LINE_UNITS), "--line-gap-ms", LINE_GAP_MS], port=UNIT_PORT)
        self.endings.append(sim.stop)
        port = "COM%d" % UNIT_PORT
        records = h.windows_path(os.path.join(tempfile.mkdtemp(dir=h.Session.get().run_dir), "line.db"))
        events = json_lines(self.varnex_bytes("station", "--port", port, "--bootloader", "--baud", "115200",
                                              "--records", records, "--station", "test-bench",
                                              "--count", str(LINE_UNITS), "--json"))
        self.assertEqual(events[-1], {"event": "summary", "loaded": LINE_UNITS, "failed": 0, "stopped": 0,
                                      "reason": "--count %d reached" % LINE_UNITS})

        rows = json_lines(self.varnex_bytes("records", records, "--format", "json"))
        history = sim.request({"cmd": "line"})["line"]["history"]
        self.assertEqual([r["unit"] for r in rows], list(range(1, LINE_UNITS + 1)), rows)
        self.assertEqual(len(history), LINE_UNITS, history)
        sha = image_sha256("BOOTLOADER")
        for row, seen in zip(rows, history):
            self.assertEqual((row["port"], row["station"], row["result"]), (port, "test-bench", "confirmed"), row)
            self.assertEqual((row["bytes_sent"], row["image_sha256"]), (BOOTLOADER_BYTES, sha), row)
            self.assertEqual((seen["bytes"], seen["sha256"], seen["finished"]), (BOOTLOADER_BYTES, sha, True))

        # RFC 4180: every line, the last included, ends with CR LF, once.
        expected = "".join(",".join(csv_field(v) for v in line) + "\r\n"
                           for line in [CSV_COLUMNS] + [[r[c] for c in CSV_COLUMNS] for r in rows])
        self.assertEqual(self.varnex_bytes("records", records, "--format", "csv"), expected.encode())

    @unittest.skipIf(shutil.which("tmux") is None, "tmux is not installed (scripts/setup.sh)")
    def test_a_stations_board_is_drawn_in_place_on_the_console(self):
        """Wine's console on a terminal: every look shows the header once and the port once,
        no line as wide as the console, until the unit is loaded and the station ends."""
        self.endings.append(h.Sim(["--line", "1"], port=UNIT_PORT).stop)
        folder = tempfile.mkdtemp(dir=h.Session.get().run_dir)
        status = os.path.join(folder, "exit-code")
        script = os.path.join(folder, "run.sh")
        with open(script, "w") as f:
            # The loader's notes on the preloaded modem-line library of the other word size go
            # aside, and what the shell's start printed is cleared: the console is varnex's.
            f.write("#!/bin/sh\nexec 2>%s\nprintf '\\033[2J\\033[H'\n" % os.path.join(folder, "stderr"))
            f.write("wine %s station --port COM%d --bootloader --baud 115200 --count 1 --records '%s'\necho $? > %s\n"
                    % (VARNEX_EXE, UNIT_PORT, h.windows_path(os.path.join(folder, "line.db")), status))
        os.chmod(script, 0o755)
        socket = "vxw-%d-%d" % (os.getpid(), time.monotonic_ns())

        def tmux(*args):
            # The server, started by the first call, passes the session's environment on.
            return subprocess.run(["tmux", "-L", socket, "-f", "/dev/null"] + list(args), check=True,
                                  capture_output=True, timeout=10, env=h.Session.get().env).stdout.decode()

        tmux("new-session", "-d", "-x", str(CONSOLE_COLUMNS), "-y", str(CONSOLE_ROWS), "-s", "board", script)
        tmux("set-option", "-t", "board", "remain-on-exit", "on")
        self.endings.append(lambda: subprocess.run(["tmux", "-L", socket, "kill-server"], capture_output=True))
        def look():
            lines = tmux("capture-pane", "-p", "-J", "-t", "board").rstrip("\n").split("\n")
            for line in lines:
                self.assertLess(len(line), CONSOLE_COLUMNS, lines)
            text = "\n".join(lines)
            if "records:" in text:
                self.assertEqual(text.count("records:"), 1, text)
                self.assertEqual(len(re.findall(r"^COM%d\s" % UNIT_PORT, text, re.MULTILINE)), 1, text)
            return text

        waited = False
        deadline = time.monotonic() + RUN_TIMEOUT_S
        while not os.path.exists(status) and time.monotonic() < deadline:
            waited = waited or "waiting" in look()
            time.sleep(LOOK_INTERVAL_S)
        self.assertTrue(os.path.exists(status), "the station did not end")
        with open(status) as f:
            self.assertEqual(f.read().strip(), "0")
        self.assertTrue(waited, "the board was never seen waiting for the unit")
        self.assertIn("station ended (--count 1 reached): 1 unit loaded, 0 failed", look())


if __name__ == "__main__":
    unittest.main()
