"""What every benchmark stands on: the simulated unit and one start of the program on COM1,
the line's physical limits, and reading the program's Linux processes from /proc.

A rig is started fresh for each figure, so no figure inherits another's state."""
import os
import subprocess
import time

import harness as h

BITS_PER_BYTE = 11  # start, 8 data, odd parity, stop
DOWNLOAD_SPEEDS = (115200, 57600)  # the two the wizard offers on page 4
HEADER_BYTES = 10   # two marks, checksum, length, command, id
SERVICE, OPERATOR = "service", "operator"

# Control and command identifiers of the main dialog.
NEXT, BACK, FOOTER_TEXT, TITLE_TEXT = 1016, 1017, 1026, 1027
DOWNLOAD_BOOTLOADER = 1019
SEND_NLEC, GET_NLEC = 1004, 1018
SEND_BITMAP, RECEIVE_SETTINGS, SEND_SETTINGS, RECEIVE_PROGRAM, SEND_PROGRAM = 1021, 1022, 1023, 1024, 1025

PORT_OPEN_TIMEOUT_S = 30
REGISTRY_TIMEOUT_S = 60
RESULT_POLL_S = 0.05
SLOW_LOOK_S = 1.0
DUE_POLL_S = 0.2
FILE_DIALOG_TITLES = ("Open", "Save As", "Save as")
# The footer of page 1 once the port is open (the operator build has no log to read).
PAGE1_PORT_OPEN = "When the cable is connected, press NEXT"


def unmanaged_windows(session):
    """Lets Wine place its windows itself. Xvfb runs no window manager, and a managed window
    makes Wine wait 2 s for one whenever a window closes (a file dialog, a message box),
    which would be counted against the program."""
    subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                    "/d", "N", "/f"], env=session.env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=REGISTRY_TIMEOUT_S, check=False)


def line_bytes_per_second(baud):
    return baud / BITS_PER_BYTE


def frame_bytes(payload):
    return HEADER_BYTES + len(payload)


class Rig:
    """A simulated unit with the given options and the program talking to it over COM1."""

    def __init__(self, sim_args=(), variant=SERVICE):
        h.registry_command("reg_delete_key")  # the remembered port falls back to COM1
        self.sim = h.Sim(list(sim_args))
        self.wall_base = None
        try:
            self.app = h.App(variant)
            self.app.wait_main()
            if variant == SERVICE:
                h.wait_until(lambda: any("opened successfully" in l for l in self.app.log_lines()),
                             PORT_OPEN_TIMEOUT_S, what="the port to open")
            else:
                h.wait_until(lambda: self.app.text(FOOTER_TEXT) == PAGE1_PORT_OPEN,
                             PORT_OPEN_TIMEOUT_S, what="page 1 with the port open")
        except BaseException:
            self.sim.stop()
            raise
        self.variant = variant

    def close(self):
        try:
            self.app.kill()
        finally:
            self.sim.stop()

    def request(self, **message):
        reply = self.sim.request(message)
        if not reply.get("ok"):
            raise AssertionError("the simulated unit refused %r: %r" % (message, reply))
        return reply

    def sim_wall_seconds(self, t_ms):
        """The wall-clock time of a simulator timestamp (its monotonic milliseconds)."""
        if self.wall_base is None:
            events = self.request(cmd="events", since=0, limit=1)["events"]
            first = events[0]
            self.wall_base = first["ts"] - first["t_ms"] / 1000.0
        return self.wall_base + t_ms / 1000.0

    def mark(self):
        return self.request(cmd="events", limit=1).get("last_seq", 0)

    def frames(self, since):
        """Frames as the unit saw them after event since: (way, command, payload, t_ms)."""
        reply = self.request(cmd="trace", since=since, limit=20000)
        out = []
        for e in reply.get("frames", []):
            way = "in" if e.get("event") == "frame_in" else "out"
            out.append((way, e.get("command"), bytes.fromhex(e.get("payload_hex", "")), e.get("t_ms")))
        return out

    def program_pids(self):
        return program_pids(h.PROGRAMS[self.variant])


def is_file_dialog(window):
    return window.get("title") in FILE_DIALOG_TITLES or \
        any("&name:" in text for text in window.get("statics", []))


def result_box(app, timeout_s, due=None):
    """Waits for a message box (OK its only button), presses OK and returns its text. A file
    dialog also has an OK button and may linger a moment after it was answered, so a window
    that is gone by the time OK is pressed is not taken for the result.

    Each look at the windows costs the test driver and the wineserver several milliseconds
    of CPU, which a timed transfer would share its two cores with. With due, a cheap check
    that the result is about to show (the unit holds the whole file), the windows are looked
    at only once a second until it holds; a transfer that fails is still seen within 1 s."""
    deadline = time.monotonic() + timeout_s
    next_look = time.monotonic()
    while time.monotonic() < deadline:
        if due is not None and time.monotonic() < next_look and not due():
            time.sleep(DUE_POLL_S)
            continue
        next_look = time.monotonic() + SLOW_LOOK_S
        box = next((w for w in app.windows()
                    if [b["id"] for b in w.get("buttons", [])] == [h.IDOK] and not is_file_dialog(w)),
                   None)
        if box is not None:
            pressed = app.call("press %d 0" % h.IDOK, check=False)
            if pressed.get("ok") and not is_file_dialog(pressed):
                return " ".join(pressed.get("statics", []))
        time.sleep(RESULT_POLL_S)
    raise AssertionError("no result box within %d s" % timeout_s)


def in_prefix(pid, prefix):
    """Whether a process runs in the given Wine prefix (other runs may share the machine)."""
    try:
        with open("/proc/%d/environ" % pid, "rb") as f:
            return b"WINEPREFIX=" + prefix.encode() in f.read().split(b"\0")
    except OSError:
        return False


def program_pids(exe_name, prefix=None):
    """Linux pids of the Wine processes running the given program in this session's prefix."""
    prefix = prefix or h.Session.get().prefix
    pids = []
    needle = exe_name.lower().encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                argv = f.read().lower().split(b"\0")
        except OSError:
            continue
        if argv and argv[0].replace(b"\\", b"/").endswith(b"/" + needle) and in_prefix(int(entry), prefix):
            pids.append(int(entry))
    return pids


def named_pids(name, prefix=None):
    """Pids of this session's prefix whose command name (comm) starts with name, e.g. the
    wineserver (wineserver64 on 64-bit hosts)."""
    prefix = prefix or h.Session.get().prefix
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                if f.read().strip().startswith(name) and in_prefix(int(entry), prefix):
                    pids.append(int(entry))
        except OSError:
            continue
    return pids


def cpu_ticks(pid, tid=None):
    """User plus system clock ticks a process (all its threads) or one thread has used."""
    path = "/proc/%d/stat" % pid if tid is None else "/proc/%d/task/%d/stat" % (pid, tid)
    with open(path) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def wait_for(predicate, timeout, what, interval=0.1):
    return h.wait_until(predicate, timeout, interval, what)


def now():
    return time.time()
