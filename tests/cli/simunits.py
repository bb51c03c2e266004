"""Simulated units on pseudo-terminals and varnex runs against them, natively, no Wine; used
by the tests here and by the benchmarks.

Each simulated unit (build/native/sim/varnex-sim) gets its own folder, link and modem file;
varnex runs with the modem-line library preloaded, told by VARNEX_MODEM_MAP which modem file
belongs to which pty, so each unit's CTS is its own."""
import hashlib
import json
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(os.environ.get("VARNEX_BUILD_DIR", os.path.join(REPO, "build")))
# The benchmarks point this at an optimised build without sanitizers.
NATIVE = os.path.abspath(os.environ.get("VARNEX_NATIVE_DIR", os.path.join(BUILD, "native")))
VARNEX = os.path.join(NATIVE, "cli", "varnex")
SIM = os.path.join(NATIVE, "sim", "varnex-sim")
MODEM_LIBRARY = os.path.join(NATIVE, "tests", "harness", "modemlines", "x86_64", "libvarnexmodem.so")
FIRMWARE = os.path.join(NATIVE, "resources", "firmware")
SIM_START_TIMEOUT_S = 15
QUIET_GAP_MS = 300
# What a file transfer moves, as the unit numbers it.
BITMAP = 24
SETTINGS = 25
PROGRAM = 26
IMAGE_REPORT_TIMEOUT_S = 30


def runtime_folder():
    """A short private folder for a control socket: a socket's address holds at most 107
    bytes, which a unit's folder in a deep checkout passes."""
    return tempfile.mkdtemp(prefix="vx-")


def first_lines(path, count=5):
    try:
        with open(path, errors="replace") as f:
            return " | ".join(line.strip() for line in f.readlines()[:count]) or "no output"
    except OSError:
        return "no output"


class Unit:
    """One simulated unit on its own pseudo-terminal, with its control socket."""

    def __init__(self, folder, args):
        self._socket = None
        self._buffer = b""
        self.dir = tempfile.mkdtemp(prefix="unit-", dir=folder)
        self.link = os.path.join(self.dir, "tty")
        self.modem = os.path.join(self.dir, "modem")
        self.runtime = runtime_folder()
        self.control = os.path.join(self.runtime, "control.sock")
        argv = [SIM, "--link", self.link, "--modem", self.modem, "--control", self.control,
                "--events", os.path.join(self.dir, "events.jsonl"),
                "--log", os.path.join(self.dir, "sim.log"), "--store", self.dir,
                "--quiet-gap-ms", str(QUIET_GAP_MS)] + list(args)
        self.stderr = open(os.path.join(self.dir, "sim.stderr"), "wb")
        self.process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=self.stderr,
                                        start_new_session=True)
        self.ready = self._ready_line()
        if not self.ready:
            self.stop()
            raise RuntimeError("the simulated unit did not start: %s (in %s)"
                               % (first_lines(self.stderr.name), self.stderr.name))
        self.slave = self.ready["slave"]

    def _ready_line(self):
        data = b""
        deadline = time.monotonic() + SIM_START_TIMEOUT_S
        fd = self.process.stdout.fileno()
        while b"\n" not in data and time.monotonic() < deadline:
            if select.select([fd], [], [], 0.5)[0]:
                chunk = os.read(fd, 4096)
                if not chunk:
                    break
                data += chunk
        try:
            return json.loads(data.split(b"\n", 1)[0])
        except ValueError:
            return None

    def request(self, **message):
        import socket
        if self._socket is None:
            self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            self._socket.connect(self.control)
            self._socket.settimeout(10)
        self._socket.sendall((json.dumps(message) + "\n").encode())
        while b"\n" not in self._buffer:
            chunk = self._socket.recv(65536)
            if not chunk:
                raise RuntimeError("the simulated unit closed its control socket")
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return json.loads(line)

    def finished_image(self):
        """The image the unit received, once its quiet gap has passed."""
        deadline = time.monotonic() + IMAGE_REPORT_TIMEOUT_S
        while time.monotonic() < deadline:
            last = self.request(cmd="image").get("last", {})
            if last.get("present") and last.get("finished"):
                return last
            time.sleep(0.1)
        raise AssertionError("%s: no finished image" % self.link)

    def events(self):
        with open(os.path.join(self.dir, "events.jsonl")) as f:
            return [json.loads(line) for line in f if line.strip()]

    def line_speeds(self):
        """Each speed the PC set, in order, repeats folded."""
        speeds = []
        for event in self.events():
            if event["event"] == "line_settings" and (not speeds or speeds[-1] != event["baud"]):
                speeds.append(event["baud"])
        return speeds

    def signal(self, number):
        os.killpg(self.process.pid, number)

    def stop(self):
        if self._socket is not None:
            self._socket.close()
            self._socket = None
        if self.process.poll() is None:
            self.signal(signal.SIGCONT)
            self.signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.signal(signal.SIGKILL)
                self.process.wait(10)
        self.stderr.close()
        self.process.stdout.close()
        shutil.rmtree(self.runtime, ignore_errors=True)


def varnex_env(units, extra=None):
    env = dict(os.environ)
    env["LD_PRELOAD"] = MODEM_LIBRARY
    env["VARNEX_MODEM_MAP"] = ";".join("%s=%s" % (u.slave, u.modem) for u in units)
    # The sanitizer runtime would otherwise insist on coming first in the library list.
    env["ASAN_OPTIONS"] = "verify_asan_link_order=0"
    env.pop("VARNEX_FORCE_TERMINAL", None)
    env.update(extra or {})
    return env


class Varnex:
    """varnex started against some units; wait() gives (exit code, stdout, stderr)."""

    def __init__(self, args, units, env=None):
        self.process = subprocess.Popen([VARNEX] + list(args), stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=varnex_env(units, env))
        self.started = time.monotonic()

    def wait(self, timeout):
        out, err = self.process.communicate(timeout=timeout)
        self.seconds = time.monotonic() - self.started
        return self.process.returncode, out.decode(errors="replace"), err.decode(errors="replace")


def json_lines(text):
    return [json.loads(line) for line in text.splitlines() if line.strip()]


def sha(data):
    return hashlib.sha256(data).hexdigest()


def image_sha256(name):
    with open(os.path.join(FIRMWARE, name + ".bin"), "rb") as f:
        return sha(f.read())
