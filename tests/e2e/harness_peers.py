"""The far end of a serial port: a bare pseudo-terminal (PtyPeer) or the simulated unit
(Sim). Import harness, not this module."""
import json
import os
import select
import shutil
import signal
import subprocess
import tempfile
import termios
import time

import harness
from harness import (SIM_PROGRAM, SIM_START_TIMEOUT_S, TIOCM_CTS, TIOCM_DSR, HarnessError,
                     Session, wait_until)


class PtyPeer:
    """The far end of a serial port as a bare pseudo-terminal: line settings, bytes, and
    the unit's modem lines through the modem file."""

    def __init__(self, port=1, session=None):
        self.session = session or Session.get()
        self.port = port
        self.master, self.slave = os.openpty()
        os.set_blocking(self.master, False)
        self.slave_path = os.ttyname(self.slave)
        self.session.point_port(port, self.slave_path)
        self.closed = False
        harness._live_peers.append(self)

    def settings(self):
        """The line settings the program set: speeds and the parity and stop-bit flags."""
        iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(self.master)
        return {
            "ispeed": _baud(ispeed), "ospeed": _baud(ospeed),
            "parodd": bool(cflag & termios.PARODD), "parenb": bool(cflag & termios.PARENB),
            "cstopb": bool(cflag & termios.CSTOPB), "cs8": (cflag & termios.CSIZE) == termios.CS8,
        }

    def set_modem(self, bits):
        self.session.set_modem_bits(bits)

    def set_cts(self, on):
        self.set_modem(TIOCM_CTS | TIOCM_DSR if on else 0)

    def write(self, data):
        view = memoryview(data)
        while view:
            try:
                n = os.write(self.master, view)
                view = view[n:]
            except BlockingIOError:
                select.select([], [self.master], [], 1)

    def read(self, count, timeout=5.0):
        """Reads up to count bytes, waiting until count arrived or the timeout passed."""
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select([self.master], [], [], left)
            if ready:
                try:
                    chunk = os.read(self.master, count - len(data))
                except (BlockingIOError, OSError):
                    chunk = b""
                data += chunk
        return data

    def holders(self):
        """Pids of other processes that have the slave side open (the program, while it
        holds the port)."""
        return pty_holders(self.slave_path)

    def close(self):
        if self.closed:
            return
        self.closed = True
        if self in harness._live_peers:
            harness._live_peers.remove(self)
        self.session.release_port(self.port, self.slave_path)
        harness._retired_ptys.append((self.master, self.slave))


def pty_holders(slave_path, exclude=()):
    """Pids of processes other than this one (and those in exclude) that have a device open."""
    pids = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid() or int(pid) in exclude:
            continue
        fd_dir = "/proc/%s/fd" % pid
        try:
            for fd in os.listdir(fd_dir):
                if os.readlink(os.path.join(fd_dir, fd)) == slave_path:
                    pids.append(int(pid))
                    break
        except OSError:
            continue
    return pids


def close_retired_ptys():
    while harness._retired_ptys:
        for fd in harness._retired_ptys.pop():
            try:
                os.close(fd)
            except OSError:
                pass


def _first_lines(path, count=5):
    try:
        with open(path, errors="replace") as f:
            return " | ".join(line.strip() for line in f.readlines()[:count]) or "no output"
    except OSError:
        return "no output"


def _baud(speed_constant):
    for name in dir(termios):
        if name.startswith("B") and name[1:].isdigit() and getattr(termios, name) == speed_constant:
            return int(name[1:])
    return speed_constant


class Sim:
    """The simulated unit (sim/varnex-sim) on a port, with its JSON control socket.

    request() sends one dict and returns the reply dict, whatever commands the simulator
    knows; see `varnex-sim --help` for its options and requests."""

    def __init__(self, args=(), port=1, session=None):
        self.session = session or Session.get()
        if not os.path.exists(SIM_PROGRAM):
            raise HarnessError("simulator missing: %s" % SIM_PROGRAM)
        self.port = port
        self.dir = tempfile.mkdtemp(prefix="sim-", dir=self.session.run_dir)
        self.link = os.path.join(self.dir, "tty")
        # A socket's address holds at most 107 bytes: the socket lives in a short private
        # folder, wherever the project is checked out.
        self.runtime = tempfile.mkdtemp(prefix="vx-")
        self.control_path = os.path.join(self.runtime, "control.sock")
        self.events_path = os.path.join(self.dir, "events.jsonl")
        self.store = os.path.join(self.dir, "store")
        os.makedirs(self.store, exist_ok=True)
        argv = [SIM_PROGRAM, "--link", self.link, "--modem", self.session.modem_file,
                "--control", self.control_path, "--events", self.events_path,
                "--log", os.path.join(self.dir, "sim.log"), "--store", self.store] + list(args)
        self._socket = None
        self._buffer = b""
        self.stderr = open(os.path.join(self.dir, "sim.stderr"), "wb")
        self.process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=self.stderr,
                                        start_new_session=True)
        # The simulator announces itself with one JSON line once the port and socket exist.
        self.ready = self._read_ready_line(SIM_START_TIMEOUT_S)
        if not self.ready or self.process.poll() is not None:
            self.stop()
            raise HarnessError("simulator did not start: %s (in %s)"
                               % (_first_lines(self.stderr.name), self.stderr.name))
        self.slave_path = self.ready.get("slave")
        self.session.point_port(port, self.link)
        harness._live_sims.append(self)

    def _read_ready_line(self, timeout):
        data = b""
        deadline = time.monotonic() + timeout
        fd = self.process.stdout.fileno()
        while b"\n" not in data and time.monotonic() < deadline:
            ready, _, _ = select.select([fd], [], [], 0.5)
            if ready:
                chunk = os.read(fd, 4096)
                if not chunk:
                    break
                data += chunk
        try:
            return json.loads(data.split(b"\n", 1)[0])
        except ValueError:
            return None

    def request(self, message, timeout=30.0):
        import socket
        if self._socket is None:
            self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            self._socket.connect(self.control_path)
        self._socket.settimeout(timeout)
        self._socket.sendall((json.dumps(message) + "\n").encode())
        while b"\n" not in self._buffer:
            chunk = self._socket.recv(65536)
            if not chunk:
                raise HarnessError("simulator closed its control socket")
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return json.loads(line)

    def events(self):
        """The event log so far, one dict per line."""
        try:
            with open(self.events_path) as f:
                return [json.loads(l) for l in f if l.strip()]
        except OSError:
            return []

    def stop(self):
        if self._socket is not None:
            self._socket.close()
            self._socket = None
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait(10)
        self.stderr.close()
        if self.process.stdout:
            self.process.stdout.close()
        shutil.rmtree(self.runtime, ignore_errors=True)
        self.session.release_port(self.port, self.link)
        if self in harness._live_sims:
            harness._live_sims.remove(self)
