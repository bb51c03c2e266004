"""Soak: transfers of every kind, one after another, while the simulated unit spoils a share
of the frames it sends. Each transfer ends completed-identical (success box, and the bytes at
the far end are the bytes sent), failed-with-message (any other box), a silent difference
(success box but other bytes: the fault that must never happen) or a hang (no box in time).

The faults are armed by rate with a fixed seed, so a run can be repeated exactly."""
import os
import random
import re
import shutil
import time

import harness as h
import rig as r

FAULT_RATE = 0.01  # per frame the unit sends, for each kind below
FAULT_KINDS = (
    {"kind": "corrupt_byte"},
    {"kind": "drop_byte"},
    {"kind": "drop_reply"},
    {"kind": "delay_reply"},
    {"kind": "noise", "marks": True},
)
FAULT_SEED = 410
RESULT_TIMEOUT_S = 90
KIND_SETTINGS, KIND_PROGRAM = 25, 26
PROGRAM_NAME = "SOAK"
SENT_LINE_EXTRA = 600     # characters added to some sent lines: more than one packet
FETCHED_LINE_EXTRA = 300  # and to some of the unit's lines, which must fit one packet
SUCCESS = re.compile(r"^(NLEC Transfer completed in \d+ seconds\.|.* sucessfully completed\.)$")
COMPLETED, FAILED, SILENT, HUNG = "completed_identical", "failed_with_message", "silent_difference", "hang"
RIG_ERROR = "rig_error"  # not the program's: the simulated unit or the driver failed


class Soak:
    def __init__(self, work_dir, seed=FAULT_SEED):
        # A fresh folder each run: a save over an existing file would stop at a question.
        self.dir = os.path.join(work_dir, "soak")
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.random = random.Random(seed)
        self.rig = None
        self.serial = 0
        self.kinds = [self.nlec_send, self.nlec_get, self.settings_send, self.program_send,
                      self.settings_receive, self.program_receive, self.bitmap_send]

    # --- the rig, re-made after a hang -------------------------------------------------
    def start(self):
        self.rig = r.Rig()
        for rule in FAULT_KINDS:
            self.rig.request(cmd="fault", rate=FAULT_RATE, seed=FAULT_SEED, **rule)

    def restart(self):
        try:
            self.stop()
        except Exception:  # whatever broke may break again on the way down
            h.cleanup_live()
            self.rig = None
        self.start()

    def stop(self):
        if self.rig:
            self.rig.close()
            self.rig = None

    def path(self, stem):
        self.serial += 1
        return os.path.join(self.dir, "%04d-%s" % (self.serial, stem))

    def write(self, stem, data):
        path = self.path(stem)
        with open(path, "wb") as f:
            f.write(data)
        return path

    @staticmethod
    def read(path):
        try:
            with open(path, "rb") as f:
                return f.read()
        except OSError:
            return None

    def result(self):
        return r.result_box(self.rig.app, RESULT_TIMEOUT_S)

    def received_items(self, what):
        return self.rig.request(cmd="received", what=what).get("items", [])

    def stored_since(self, what, count):
        items = self.received_items(what)
        return self.read(items[-1]["path"]) if len(items) > count and items[-1].get("path") else None

    # --- contents -----------------------------------------------------------------------
    def table_lines(self, longest):
        count = self.random.randint(1, 40)
        return ["%d=%0.4f" % (i, self.random.uniform(-9999, 9999)) +
                "X" * self.random.choice((0, 0, 0, 80, longest)) for i in range(count)]

    def file_bytes(self):
        size = self.random.choice((0, 1, 127, 128, 129, 256, self.random.randint(2, 4000)))
        return self.random.randbytes(size)

    # --- the kinds ----------------------------------------------------------------------
    def nlec_send(self):
        # A sent line may be longer than a packet: the program sends it in pieces.
        table = "".join(l + "\r\n" for l in self.table_lines(SENT_LINE_EXTRA)).encode()
        path = self.write("table.txt", table)
        before = len(self.received_items("nlec"))
        self.rig.app.call("command %d" % r.SEND_NLEC)
        self.rig.app.file_dialog(path)
        text = self.result()
        return text, lambda: self.stored_since("nlec", before) == table.replace(b"\r\n", b"\n")

    def nlec_get(self):
        # The unit sends one line per packet, so its lines fit in one.
        lines = self.table_lines(FETCHED_LINE_EXTRA)
        source = self.write("unit-table.txt", "\n".join(lines).encode() + b"\n")
        self.rig.request(cmd="content_set", what="nlec_table", path=source)
        saved = self.path("saved-table.txt")
        self.rig.app.call("command %d" % r.GET_NLEC)
        self.rig.app.file_dialog(saved)
        text = self.result()
        return text, lambda: self.read(saved) == b"".join(l.encode() + b"\r\n" for l in lines)

    def file_send(self, command, stem):
        data = self.file_bytes()
        path = self.write(stem, data)
        before = len(self.received_items("file"))
        self.rig.app.call("command %d" % command)
        self.rig.app.file_dialog(path)
        text = self.result()
        return text, lambda: self.stored_since("file", before) == data

    def settings_send(self):
        return self.file_send(r.SEND_SETTINGS, "settings.bin")

    def program_send(self):
        return self.file_send(r.SEND_PROGRAM, "program.bin")

    def file_receive(self, command, kind, name=""):
        data = self.file_bytes()
        source = self.write("unit-file.bin", data)
        self.rig.request(cmd="content_set", what="file", kind=kind, name=name, path=source)
        saved = self.path("received.bin")
        self.rig.app.call("command %d" % command)
        if name:
            self.rig.app.edit_dialog(name)
        self.rig.app.file_dialog(saved)
        text = self.result()
        return text, lambda: self.read(saved) == data

    def settings_receive(self):
        return self.file_receive(r.RECEIVE_SETTINGS, KIND_SETTINGS)

    def program_receive(self):
        return self.file_receive(r.RECEIVE_PROGRAM, KIND_PROGRAM, PROGRAM_NAME)

    def bitmap_send(self):
        data = self.random.randbytes(self.random.randint(1, 600))
        rows = [data[i:i + 12] for i in range(0, len(data), 12)]
        text = "".join(", ".join("0x%02X" % b for b in row) + ",\n" for row in rows).encode()
        path = self.write("bitmap.txt", text)
        before = len(self.received_items("file"))
        self.rig.app.call("command %d" % r.SEND_BITMAP)
        self.rig.app.file_dialog(path)
        result = self.result()
        return result, lambda: self.stored_since("file", before) == data

    # --- the run ------------------------------------------------------------------------
    def run(self, transfers, progress=None):
        counts = {COMPLETED: 0, FAILED: 0, SILENT: 0, HUNG: 0, RIG_ERROR: 0}
        by_kind = {}
        messages = {}
        incidents = []
        started = time.monotonic()
        self.start()
        try:
            for index in range(transfers):
                kind = self.kinds[index % len(self.kinds)]
                name = kind.__name__
                try:
                    text, check = kind()
                    if not SUCCESS.match(text):
                        outcome = FAILED
                        messages[text] = messages.get(text, 0) + 1
                        incidents.append({"transfer": index, "kind": name, "result": text,
                                          "log": self.rig.app.log_lines()[-4:]})
                    elif check():
                        outcome = COMPLETED
                    else:
                        outcome = SILENT
                        incidents.append({"transfer": index, "kind": name, "result": text})
                except AssertionError as error:  # no result box in time
                    outcome = HUNG
                    incidents.append({"transfer": index, "kind": name, "error": str(error)[:300]})
                    self.restart()
                except (h.HarnessError, OSError) as error:  # the simulator or the driver broke
                    outcome = RIG_ERROR
                    incidents.append({"transfer": index, "kind": name, "rig_error": str(error)[:300]})
                    self.restart()
                counts[outcome] += 1
                by_kind.setdefault(name, {}).setdefault(outcome, 0)
                by_kind[name][outcome] += 1
                if progress:
                    progress(index + 1, transfers, counts)
            faults = self.rig.request(cmd="status")["counters"].get("faults_applied", 0)
        finally:
            self.stop()
        return {"transfers": transfers, "counts": counts, "by_kind": by_kind,
                "failure_messages": messages, "incidents": incidents,
                "fault_rate_per_kind": FAULT_RATE,
                "fault_kinds": [f["kind"] for f in FAULT_KINDS],
                "faults_applied_last_rig": faults,
                "seconds": time.monotonic() - started}
