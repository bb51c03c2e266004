"""End-to-end harness: runs the real Windows program under Wine (on Xvfb when there is no
display) with its serial ports mapped to pseudo-terminals, and works it through the driver.

One Session per Python process (Wine boots once); an App per program start; a PtyPeer or a
Sim on the other end of a port. Python 3 standard library only. Tests import this module
only: App and registry_command come from harness_app.py, PtyPeer and Sim from
harness_peers.py, and all are reachable here.
"""
import atexit
import json
import os
import select
import signal
import subprocess
import tempfile
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD_DIR = os.path.abspath(os.environ.get("VARNEX_BUILD_DIR", os.path.join(REPO, "build")))
WIN_BIN = os.path.join(BUILD_DIR, "win", "bin")
# The benchmarks point this at an optimised build without sanitizers.
NATIVE = os.path.abspath(os.environ.get("VARNEX_NATIVE_DIR", os.path.join(BUILD_DIR, "native")))
MODEM_LIBS = [os.path.join(NATIVE, "tests", "harness", "modemlines", arch, "libvarnexmodem.so")
              for arch in ("i386", "x86_64")]
SIM_PROGRAM = os.path.join(NATIVE, "sim", "varnex-sim")
ARTIFACTS = os.path.join(BUILD_DIR, "e2e-artifacts")

with open(os.path.join(REPO, "VERSION")) as _version:
    # The window title carries the release in VERSION.
    TITLE = "Varnex 410 (v%s) 2 Axis Software Download Utility" % _version.readline().strip()
PROGRAMS = {"service": "Varnex410Service.exe", "operator": "Varnex410Download.exe"}
PORT_COUNT = 8

# Modem-line bits as the Linux headers number them (TIOCM_*).
TIOCM_DTR = 0x002
TIOCM_RTS = 0x004
TIOCM_CTS = 0x020
TIOCM_CAR = 0x040
TIOCM_RI = 0x080
TIOCM_DSR = 0x100

# Button ids of message boxes.
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
LOG_LIST = 1002

BOOT_TIMEOUT_S = 120
COMMAND_TIMEOUT_S = 60
WINDOW_TIMEOUT_MS = 30000
SERVER_QUIET_S = 10
XVFB_TIMEOUT_S = 15
SIM_START_TIMEOUT_S = 15


class HarnessError(Exception):
    pass


# What a test started and has not stopped yet; the runner ends these after every test.
_live_apps = []
_live_peers = []
_live_sims = []
# Closed peers' pseudo-terminals stay open until the run ends: a Wine process that opened
# /dev/pts/N once keeps using its first descriptor when it opens a new pty that got the same
# number, so numbers are never handed out twice in a run.
_retired_ptys = []


def live_apps():
    return list(_live_apps)


def live_snapshot():
    """What is running now, so that a later cleanup_live(keep=...) spares it."""
    return {id(x) for x in _live_apps + _live_peers + _live_sims}


def cleanup_live(keep=frozenset()):
    """Ends every program start, peer and simulator left behind, except those in keep
    (for example a test class's own, made in setUpClass)."""
    for app in [a for a in _live_apps if id(a) not in keep]:
        try:
            app.kill()
        except Exception:  # the driver may be gone already; the next App restarts it
            pass
    for peer in [p for p in _live_peers if id(p) not in keep]:
        peer.close()
    for sim in [s for s in _live_sims if id(s) not in keep]:
        try:
            sim.stop()
        except Exception:
            pass


def windows_path(linux_path):
    """The path under Wine's Z: drive."""
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


def wait_until(predicate, timeout=10.0, interval=0.1, what="condition"):
    """Polls predicate until it returns something true; returns that, or raises on timeout."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        last = predicate()
        if last:
            return last
        if time.monotonic() >= deadline:
            raise AssertionError("timed out after %.1f s waiting for %s (last: %r)"
                                 % (timeout, what, last))
        time.sleep(interval)


def write_atomic(path, text):
    temp = "%s.%d.tmp" % (path, os.getpid())
    with open(temp, "w") as f:
        f.write(text)
    os.replace(temp, path)


class Session:
    """Xvfb, one Wine prefix with COM1..COM8 mapped to symlinks in the run folder, the
    modem-line library preloaded, and one persistent wineserver."""

    _current = None

    @classmethod
    def get(cls):
        if cls._current is None:
            session = Session()
            atexit.register(session.stop)
            try:
                session.start()
            except BaseException:
                session.stop()
                raise
            cls._current = session
        return cls._current

    @classmethod
    def shutdown_current(cls):
        if cls._current is not None:
            cls._current.stop()
            cls._current = None

    def __init__(self, run_dir=None):
        base = os.environ.get("VARNEX_RUN_DIR")
        if run_dir is None:
            os.makedirs(BUILD_DIR, exist_ok=True)
            run_dir = base or tempfile.mkdtemp(prefix="e2e-run-", dir=BUILD_DIR)
        self.run_dir = os.path.abspath(run_dir)
        os.makedirs(self.run_dir, exist_ok=True)
        self.prefix = os.path.join(self.run_dir, "prefix")
        self.modem_file = os.path.join(self.run_dir, "modem")
        self.xvfb = None
        self.display = os.environ.get("DISPLAY")
        self.driver = None
        self.env = None

    def port_link(self, number):
        return os.path.join(self.run_dir, "com%d" % number)

    def point_port(self, number, target):
        """Points COMn at a device path, or at nothing (the port then fails to open)."""
        link = self.port_link(number)
        if os.path.lexists(link):
            os.unlink(link)
        if target is not None:
            os.symlink(target, link)

    def release_port(self, number, target):
        """Unmaps COMn, but only while it still points at target (a later peer keeps it)."""
        link = self.port_link(number)
        try:
            if os.readlink(link) == target:
                os.unlink(link)
        except OSError:
            pass

    def set_modem_bits(self, bits):
        write_atomic(self.modem_file, "%d\n" % bits)

    def pc_modem_bits(self):
        try:
            with open(self.modem_file + ".pc") as f:
                return int(f.read().strip() or 0)
        except (OSError, ValueError):
            return 0

    def _environment(self):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "LD_PRELOAD": " ".join(MODEM_LIBS),
            "VARNEX_MODEM_FILE": self.modem_file,
            "DISPLAY": self.display,
        })
        env.pop("WINEARCH", None)
        return env

    def start(self):
        for lib in MODEM_LIBS:
            if not os.path.exists(lib):
                raise HarnessError("modem-line library missing: %s (build first)" % lib)
        if not self.display:
            log = open(os.path.join(self.run_dir, "xvfb.log"), "w")
            read_end, write_end = os.pipe()
            # Xvfb picks a free display itself and reports it on the pipe: no race with
            # other runs on the same machine.
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                 "-nolisten", "tcp"],
                stdout=log, stderr=subprocess.STDOUT, pass_fds=(write_end,),
                start_new_session=True)
            os.close(write_end)
            number = b""
            deadline = time.monotonic() + XVFB_TIMEOUT_S
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                ready, _, _ = select.select([read_end], [], [], 1)
                if ready:
                    chunk = os.read(read_end, 16)
                    if not chunk:
                        break
                    number += chunk
            os.close(read_end)
            if not number.strip().isdigit():
                self.stop()
                raise HarnessError("Xvfb did not start (see xvfb.log)")
            self.display = ":" + number.strip().decode()
        self.env = self._environment()
        self.set_modem_bits(0)
        for n in range(1, PORT_COUNT + 1):
            self.point_port(n, None)
        fresh = not os.path.exists(os.path.join(self.prefix, "system.reg"))
        if fresh:
            self._wine(["wineboot", "-i"], BOOT_TIMEOUT_S, "wineboot")
        self._configure_prefix()
        # Ports are read when the server starts: restart it, then keep one server for the run.
        self._wine(["wineserver", "-k"], 30, "wineserver -k", check=False)
        self._wine(["wineserver", "-w"], 30, "wineserver -w", check=False)
        subprocess.Popen(["wineserver", "-p"], env=self.env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL).wait(30)
        self.driver = Driver(self)

    def _configure_prefix(self):
        lines = ["REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]"]
        for n in range(1, PORT_COUNT + 1):
            lines.append('"COM%d"="%s"' % (n, self.port_link(n).replace("\\", "\\\\")))
        lines += ["", "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]",
                  '"Arial"="Liberation Sans"',
                  "", "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]",
                  '"ShowCrashDialog"=dword:00000000', ""]
        reg = os.path.join(self.run_dir, "harness.reg")
        with open(reg, "w") as f:
            f.write("\r\n".join(lines))
        self._wine(["wine", "regedit", "/S", reg], 60, "regedit")

    def _wine(self, argv, timeout, what, check=True):
        log = os.path.join(self.run_dir, "wine-setup.log")
        with open(log, "a") as f:
            p = subprocess.Popen(argv, env=self.env, stdout=f, stderr=subprocess.STDOUT,
                                 start_new_session=True)
            try:
                rc = p.wait(timeout)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                raise HarnessError("%s did not finish within %d s" % (what, timeout))
        if check and rc != 0:
            raise HarnessError("%s failed with %d (see %s)" % (what, rc, log))

    def restart_driver(self):
        if self.driver:
            self.driver.stop()
        self.driver = Driver(self)
        return self.driver

    def screenshot(self, name):
        os.makedirs(ARTIFACTS, exist_ok=True)
        path = os.path.join(ARTIFACTS, name if name.endswith(".png") else name + ".png")
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return path if os.path.exists(path) else None

    def kill_wine(self):
        """Ends every Wine process of this prefix (the driver too)."""
        if self.driver:
            self.driver.stop(graceful=False)
            self.driver = None
        if self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        self.kill_wine()
        close_retired_ptys()
        if self.env:
            try:
                subprocess.run(["wineserver", "-w"], env=self.env, timeout=SERVER_QUIET_S,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                pass
        if self.xvfb:
            os.killpg(self.xvfb.pid, signal.SIGTERM)
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.xvfb.pid, signal.SIGKILL)
            self.xvfb = None


class Driver:
    """The Windows driver program under Wine: one command line in, one JSON line out."""

    def __init__(self, session):
        exe = os.path.join(WIN_BIN, "varnex_driver.exe")
        if not os.path.exists(exe):
            raise HarnessError("driver missing: %s (build first)" % exe)
        self.session = session
        self.stderr = open(os.path.join(session.run_dir, "driver.stderr"), "ab")
        self.process = subprocess.Popen(["wine", exe], env=session.env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=self.stderr, bufsize=0)
        self.buffer = b""
        self.lock = threading.Lock()
        reply = self.send("ping", timeout=BOOT_TIMEOUT_S)
        if not reply.get("ok"):
            raise HarnessError("driver did not answer: %r" % reply)

    def alive(self):
        return self.process.poll() is None

    def send(self, command, timeout=COMMAND_TIMEOUT_S):
        """Sends one command line; returns the reply as a dict. Raises when none comes."""
        with self.lock:
            if not self.alive():
                raise HarnessError("driver has ended")
            self.process.stdin.write((command + "\n").encode("latin-1"))
            self.process.stdin.flush()
            deadline = time.monotonic() + timeout
            while b"\n" not in self.buffer:
                left = deadline - time.monotonic()
                if left <= 0:
                    # A driver that stops answering is in an unknown state: end it, so the
                    # next command starts a fresh one instead of waiting on this one.
                    self.process.kill()
                    raise HarnessError("driver gave no reply to %r within %d s" % (command, timeout))
                ready, _, _ = select.select([self.process.stdout], [], [], left)
                if ready:
                    chunk = os.read(self.process.stdout.fileno(), 65536)
                    if not chunk:
                        raise HarnessError("driver ended while answering %r" % command)
                    self.buffer += chunk
            line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line.decode("latin-1"))

    def stop(self, graceful=True):
        if self.alive() and graceful:
            try:
                self.send("quit", timeout=10)
                self.process.wait(10)
            except (HarnessError, subprocess.TimeoutExpired, OSError):
                pass
        if self.alive():
            self.process.kill()
            self.process.wait(10)
        self.stderr.close()


# The program and the far ends of the line, in their own files (they use the above).
from harness_app import App, registry_command  # noqa: E402,F401
from harness_peers import PtyPeer, Sim, close_retired_ptys, pty_holders  # noqa: E402,F401
