"""Steps shared by the transfer and erase end-to-end tests: a simulated unit and the service
program on COM1, starting a transfer through its file dialog, waiting for its result box, and
reading back what the unit stored or what it sent."""
import os
import tempfile
import time

import harness as h

SEND_NLEC, GET_NLEC = 1004, 1018
SEND_BITMAP, RECEIVE_SETTINGS, SEND_SETTINGS, RECEIVE_PROGRAM, SEND_PROGRAM = 1021, 1022, 1023, 1024, 1025
ERASE_FLASH = 1014
STATUS_TEXT = 1008
TITLE_TEXT = 1027
IDOK = h.IDOK

# A transfer of a few dozen kilobytes takes seconds; a stuck one is caught well before this.
RESULT_TIMEOUT_MS = 90000

KIND_BITMAP, KIND_SETTINGS, KIND_PROGRAM = 24, 25, 26

SUCCESS_TEXT = {
    KIND_BITMAP: "Bitmap Transfer sucessfully completed.",
    KIND_SETTINGS: "Transfer of settings sucessfully completed.",
    KIND_PROGRAM: "Transfer of program sucessfully completed.",
}
FAILURE_TEXT = {
    KIND_BITMAP: "Bitmap transfer failure.",
    KIND_SETTINGS: "Settings transfer failure.",
    KIND_PROGRAM: "Program transfer failure.",
}
SEND_COMMAND = {KIND_BITMAP: SEND_BITMAP, KIND_SETTINGS: SEND_SETTINGS, KIND_PROGRAM: SEND_PROGRAM}


class Bench:
    """A simulated unit in running mode and the service program talking to it over COM1."""

    def __init__(self, sim_args=(), bare_line=False):
        """bare_line: a bare pseudo-terminal (self.peer) instead of the simulated unit, for
        a test that plays the unit itself, frame by frame."""
        h.registry_command("reg_delete_key")  # COM1
        self.files = tempfile.mkdtemp(prefix="transfer-", dir=h.Session.get().run_dir)
        self.sim = None if bare_line else h.Sim(list(sim_args))
        self.peer = h.PtyPeer(1) if bare_line else None
        self.app = h.App("service")
        self.main = self.app.wait_main()["hwnd"]
        h.wait_until(lambda: any("opened successfully" in l for l in self.app.log_lines()),
                     20, what="the port to open")

    def close(self):
        try:
            self.app.kill()
        finally:
            if self.sim:
                self.sim.stop()
            if self.peer:
                self.peer.close()

    # --- files ------------------------------------------------------------------------
    def path(self, name):
        return os.path.join(self.files, name)

    def write(self, name, data):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    @staticmethod
    def read(path):
        with open(path, "rb") as f:
            return f.read()

    # --- the program ------------------------------------------------------------------
    def start_with_file(self, command_id, path, program_name=None, replace=False):
        """Runs a transfer command (answering the program-name prompt first when a name is
        given), answers its file dialog with path (confirming the replacement of an existing
        file when asked to) and waits until the dialog has gone."""
        self.app.call("command %d" % command_id)
        if program_name is not None:
            self.app.edit_dialog(program_name)
        dialog = self.app.file_dialog(path)["hwnd"]
        if replace:
            self.app.press(h.IDYES)
        h.wait_until(lambda: all(w["hwnd"] != dialog for w in self.app.windows()), 10,
                     what="the file dialog to close")

    def boxes(self):
        """The program's message boxes now showing: the window-title caption, one OK button."""
        return [w for w in self.app.windows()
                if w.get("title") == h.TITLE and [b["id"] for b in w.get("buttons", [])] == [IDOK]
                and w.get("statics")]

    def result(self, timeout_ms=RESULT_TIMEOUT_MS):
        """Waits for the result box, presses OK; returns its text."""
        h.wait_until(self.boxes, timeout_ms / 1000.0, interval=0.2, what="a result box")
        box = self.app.press(IDOK, timeout_ms)
        h.wait_until(lambda: all(w["hwnd"] != box["hwnd"] for w in self.app.windows()), 10,
                     what="the box to close")
        return " ".join(box.get("statics", []))

    def log_count(self):
        return len(self.app.log_lines())

    def log_since(self, count):
        return self.app.log_lines()[count:]

    def wait_log_since(self, count, text, timeout=20.0):
        return h.wait_until(lambda: (lambda lines: lines if text in lines else None)(self.log_since(count)),
                            timeout, what="log line %r" % text)

    def caption(self, control_id):
        return self.app.text(control_id)

    def other_windows(self):
        """Visible windows of the program besides the main dialog (boxes, file choosers)."""
        return [w for w in self.app.windows() if w["hwnd"] != self.main]

    # --- the unit ---------------------------------------------------------------------
    def fault(self, **rule):
        rule["cmd"] = "fault"
        reply = self.sim.request(rule)
        assert reply.get("ok"), reply
        return reply

    def serve(self, kind, data, name=""):
        """Gives the unit a file of this kind (and program name) for the PC to receive."""
        path = self.write("unit-%d-%s.bin" % (kind, name or "any"), data)
        reply = self.sim.request({"cmd": "content_set", "what": "file", "kind": kind, "name": name,
                                  "path": path})
        assert reply.get("ok"), reply

    def last_received(self, what):
        reply = self.sim.request({"cmd": "received", "what": what})
        assert reply.get("ok"), reply
        return reply.get("last") or {}

    def received_count(self, what):
        return len(self.sim.request({"cmd": "received", "what": what}).get("items", []))

    def mark(self):
        """The unit's last event number, to look only at what follows."""
        return self.sim.request({"cmd": "events", "limit": 1}).get("last_seq", 0)

    def frames(self, since=0, direction=None):
        """Frames as the unit saw them after event since: ("in"|"out", command, payload)."""
        reply = self.sim.request({"cmd": "events", "since": since, "limit": 20000})
        frames = []
        for e in reply.get("events", []):
            if e.get("event") not in ("frame_in", "frame_out"):
                continue
            way = "in" if e.get("event") == "frame_in" else "out"
            if direction and way != direction:
                continue
            frames.append((way, e.get("command"), bytes.fromhex(e.get("payload_hex", ""))))
        return frames

    def events(self, kind, since=0):
        reply = self.sim.request({"cmd": "events", "since": since, "limit": 20000})
        return [e for e in reply.get("events", []) if e.get("event") == kind]


def stored_bytes(bench, item):
    assert item.get("path"), "the unit stored nothing: %r" % item
    return Bench.read(item["path"])


def wait_quiet(seconds=0.5):
    time.sleep(seconds)
