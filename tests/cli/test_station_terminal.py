"""varnex station on a real terminal (tmux at 80 x 24), read back as the operator sees it:
four ports with the long names Linux gives USB adapters and a unit that fails, and thirty
ports. On every look at the screen the header shows once and every port once, and no line
is wrapped; Ctrl-C ends the station."""
import os
import shlex
import shutil
import subprocess
import time

import pytest

from simunits import VARNEX, varnex_env

COLUMNS = 80
ROWS = 24
LOOK_EVERY_S = 0.25
HEADER = "records: "
SERIALS = ["A50185BI", "A50185BJ", "A50185BK", "A50185BL"]
LINE_GAP_MS = "8000"  # the failure stays up until the next unit comes
CUT_AT_BYTES = 30000
FAILURE_SHOWN_S = 60
END_S = 30

pytestmark = pytest.mark.skipif(shutil.which("tmux") is None, reason="tmux is not installed (scripts/setup.sh)")


class Screen:
    """A tmux server of its own with one 80 x 24 window running a command."""

    def __init__(self, folder, command, env):
        self.socket = "vx-%d-%d" % (os.getpid(), time.monotonic_ns())
        self.status = os.path.join(folder, "exit-code")
        script = os.path.join(folder, "run.sh")
        with open(script, "w") as f:
            f.write("#!/bin/sh\n")
            for name in ("LD_PRELOAD", "VARNEX_MODEM_MAP", "ASAN_OPTIONS"):
                f.write("export %s=%s\n" % (name, shlex.quote(env[name])))
            f.write("unset VARNEX_FORCE_TERMINAL NO_COLOR\n")
            f.write("trap '' INT\n")  # Ctrl-C is varnex's to handle; the script stays to keep its code
            f.write("%s\necho $? > %s\n" % (" ".join(shlex.quote(a) for a in command), shlex.quote(self.status)))
        os.chmod(script, 0o755)
        self.tmux("new-session", "-d", "-x", str(COLUMNS), "-y", str(ROWS), "-s", "board", script)
        self.tmux("set-option", "-t", "board", "remain-on-exit", "on")

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket, "-f", "/dev/null"] + list(args), check=True,
                              capture_output=True, timeout=10).stdout.decode("utf-8", errors="replace")

    def look(self):
        """The screen's rows, a wrapped line joined back into one (-J)."""
        return self.tmux("capture-pane", "-p", "-J", "-t", "board").rstrip("\n").split("\n")

    def exit_code(self):
        try:
            with open(self.status) as f:
                return int(f.read().strip())
        except (OSError, ValueError):
            return None

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True, timeout=10)


@pytest.fixture
def screens():
    opened = []
    yield lambda *args: opened.append(Screen(*args)) or opened[-1]
    for screen in opened:
        screen.close()


def check_look(lines, names):
    """Every line narrower than the terminal, the header once, each port once."""
    for line in lines:
        assert len(line) < COLUMNS, "a line as wide as the terminal or wrapped: %r" % line
    text = "\n".join(lines)
    assert text.count(HEADER) == 1, text
    for name in names:
        found = sum(1 for line in lines for word in line.split() if word.endswith(name))
        assert found == 1, "%s shows %d times:\n%s" % (name, found, text)


def check_ended(lines, names):
    """The last frame and the end's line, tmux's own "Pane is dead" line below them (which may
    have pushed the header off the top): no line wrapped, each port once."""
    lines = [line for line in lines if not line.startswith("Pane is dead")]
    assert any(line.startswith("station ended") for line in lines), "\n".join(lines)
    for line in lines:
        assert len(line) < COLUMNS, "a line as wide as the terminal or wrapped: %r" % line
    for name in names:
        assert sum(1 for line in lines for word in line.split() if word.endswith(name)) == 1, "\n".join(lines)


def watch(screen, names, until, timeout):
    """Looks at the screen until until(text) holds, checking every look; the last look."""
    deadline = time.monotonic() + timeout
    while True:
        lines = screen.look()
        if any(line.startswith(HEADER) for line in lines):
            check_look(lines, names)
            if until("\n".join(lines)):
                return lines
        assert time.monotonic() < deadline, "never seen:\n" + "\n".join(lines)
        time.sleep(LOOK_EVERY_S)


def stop_with_ctrl_c(screen):
    screen.tmux("send-keys", "-t", "board", "C-c")
    deadline = time.monotonic() + END_S
    while screen.exit_code() is None:
        assert time.monotonic() < deadline, "Ctrl-C did not end the station:\n" + "\n".join(screen.look())
        time.sleep(LOOK_EVERY_S)
    return screen.exit_code()


def station_command(ports):
    command = [VARNEX, "station", "--bootloader", "--baud", "115200", "--no-records"]
    for port in ports:
        command += ["--port", port]
    return command


def test_four_long_named_ports_with_a_failure_fit_eighty_by_twenty_four(units, screens, tmp_path):
    steady = units(3, "--line", "2", "--line-gap-ms", LINE_GAP_MS)
    (cut,) = units(1, "--line", "2", "--line-gap-ms", LINE_GAP_MS, "--line-fault",
                   "1:drop_mid_image:%d" % CUT_AT_BYTES)
    lines = steady + [cut]
    by_id = tmp_path / "by-id"
    by_id.mkdir()
    ports = []
    for serial, unit in zip(SERIALS, lines):
        port = by_id / ("usb-FTDI_FT232R_USB_UART_%s-if00-port0" % serial)
        os.symlink(unit.link, port)
        ports.append(str(port))
    screen = screens(str(tmp_path), station_command(ports), varnex_env(lines))
    # Each port by the end of its name, which the middle-shortening keeps.
    names = ["%s-if00-port0" % serial[-2:] for serial in SERIALS]
    last = watch(screen, names, lambda text: "failed: unit 1:" in text, FAILURE_SHOWN_S)
    failed = [line for line in last if "failed: unit 1:" in line]
    assert len(failed) == 1 and failed[0].split()[0].endswith(names[3]), last
    assert stop_with_ctrl_c(screen) == 1  # a unit failed
    check_ended(screen.look(), names)


def test_thirty_ports_show_the_header_and_every_port_once(units, screens, tmp_path):
    idle = units(27, "--mode", "off")
    busy = units(3, "--line", "1")
    lines = idle + busy
    ports = []
    for number, unit in enumerate(lines):
        port = tmp_path / ("ttyVX%02d" % number)
        os.symlink(unit.link, port)
        ports.append(str(port))
    screen = screens(str(tmp_path), station_command(ports), varnex_env(lines))
    names = [os.path.basename(port) for port in ports]
    watch(screen, names, lambda text: "%" in text, FAILURE_SHOWN_S)  # a unit is loading
    assert stop_with_ctrl_c(screen) in (0, 1)
    check_ended(screen.look(), names)
