"""varnex's service commands natively, no Wine in the path: its packet turnaround over a long
settings send, a paced 64 KiB send at 38 400 against the stop-and-wait limit, and a soak of
faulty transfers of every kind, each ending identical or failed with its message, never a
silent difference or a hang. The units and the runner are those of the command-line tests."""
import hashlib
import os
import random
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "cli"))

import measures as m  # noqa: E402
import simunits as s  # noqa: E402
from ser2net import Ser2net  # noqa: E402
import soak  # noqa: E402
from soak import COMPLETED, FAILED, HUNG, SILENT, FAULT_KINDS, FAULT_SEED  # noqa: E402

TRANSFER_TIMEOUT_S = 240
# A faulty transfer ends in seconds (six resends of 500 ms at most per packet); a minute
# without an end is a hang.
SOAK_TIMEOUT_S = 60
# Three times the program's soak rate, and the unit's own refusals besides, so that most
# transfers meet a fault and some must end in the unit's message.
SOAK_FAULT_RATE = 0.03
SOAK_REFUSALS = ({"kind": "reply_1"}, {"kind": "reply_2"}, {"kind": "error_13", "text": "Soak refusal"},
                 {"kind": "error_8", "text": "Soak refusal"})
SOAK_REFUSAL_RATE = 0.003
SOAK_FILE_BYTES = (100, 3000)
SOAK_NLEC_LINES = (1, 40)
PROGRAM_NAME = "SOAK"
KIND_SETTINGS, KIND_PROGRAM, KIND_BITMAP = 25, 26, 24


def unit(folder, args=()):
    os.makedirs(folder, exist_ok=True)
    return s.Unit(folder, list(args))


def varnex(target, args, timeout, port=None):
    """(exit code, stdout, stderr); code None when it had to be killed. port: another name for
    the unit's port (a network server in front of it)."""
    run = s.Varnex(list(args) + ["--port", port or target.link], [target])
    try:
        return run.wait(timeout)
    except subprocess.TimeoutExpired:
        run.process.kill()
        out, err = run.process.communicate()
        return None, out.decode(errors="replace"), err.decode(errors="replace")


def settings_send(target, path, port=None):
    code, out, err = varnex(target, ["settings", "send", path], TRANSFER_TIMEOUT_S, port)
    if code != 0:
        raise AssertionError("varnex settings send failed (%s): %s %s" % (code, out[-1000:], err[-1000:]))


def stored_sha(target, what):
    return (target.request(cmd="received", what=what).get("last") or {}).get("sha256")


def turnaround(work_dir):
    """Over 2 000 chunk requests, the unit timing varnex's answer to each."""
    target = unit(os.path.join(work_dir, "varnex-turnaround"))
    try:
        path, data = m.settings_file(work_dir, m.TURNAROUND_CHUNKS * m.CHUNK_BYTES, 3)
        target.request(cmd="turnaround", clear=True)
        settings_send(target, path)
        timing = target.request(cmd="turnaround")
        identical = stored_sha(target, "file") == hashlib.sha256(data).hexdigest()
    finally:
        target.stop()
    return {"exchanges": timing["count"], "median_ms": timing["median_us"] / 1000.0,
            "p99_ms": timing["p99_us"] / 1000.0, "max_ms": timing["max_us"] / 1000.0,
            "identical": identical}


def file_send_paced(work_dir, rfc2217=False, size=m.PACED_FILE_BYTES):
    """A 64 KiB settings file at 38 400 with the line held to its rate (through ser2net's
    rfc2217:// port in front of the unit, when asked)."""
    target = unit(os.path.join(work_dir, "varnex-paced-rfc2217" if rfc2217 else "varnex-paced"), ["--pace"])
    server = None
    try:
        server = Ser2net([target]) if rfc2217 else None
        path, data = m.settings_file(work_dir, size, 4)
        since = target.request(cmd="events", limit=1).get("last_seq", 0)
        settings_send(target, path, server.urls[0] if server else None)
        reply = target.request(cmd="trace", since=since, limit=20000)
        identical = stored_sha(target, "file") == hashlib.sha256(data).hexdigest()
    finally:
        if server:
            server.stop()
        target.stop()
    frames = [("in" if e.get("event") == "frame_in" else "out", e.get("command"),
               bytes.fromhex(e.get("payload_hex", "")), e.get("t_ms")) for e in reply.get("frames", [])]
    seconds, carried, count = m.stop_and_wait(frames)
    limit = carried / m.r.line_bytes_per_second(m.SERVICE_BAUD)
    return {"seconds": seconds, "frame_bytes": carried, "frames": count, "limit_seconds": limit,
            "ratio": limit / seconds, "bytes_per_second": size / seconds,
            "identical": identical}


def file_send_network_share(work_dir, size=m.PACED_FILE_BYTES):
    """The paced file send through ser2net's rfc2217:// port against the same on the local port."""
    local = file_send_paced(work_dir, False, size)
    network = file_send_paced(work_dir, True, size)
    return {"local_bytes_per_second": local["bytes_per_second"],
            "rfc2217_bytes_per_second": network["bytes_per_second"],
            "ratio": network["bytes_per_second"] / local["bytes_per_second"],
            "identical": local["identical"] and network["identical"]}


class Soak:
    """Transfers of every kind through varnex while the unit spoils a share of its frames."""

    def __init__(self, work_dir, seed=FAULT_SEED):
        self.dir = os.path.join(work_dir, "varnex-soak")
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.random = random.Random(seed)
        self.serial = 0
        self.unit = None
        self.kinds = [self.nlec_send, self.nlec_get, self.file_send, self.file_receive, self.bitmap_send]

    def start(self):
        self.unit = unit(os.path.join(self.dir, "units"))
        for rule in FAULT_KINDS:
            self.unit.request(cmd="fault", rate=SOAK_FAULT_RATE, seed=FAULT_SEED, **rule)
        for rule in SOAK_REFUSALS:
            self.unit.request(cmd="fault", rate=SOAK_REFUSAL_RATE, seed=FAULT_SEED, **rule)

    # Numbered files in the soak's folder, as the program's soak names them.
    path = soak.Soak.path
    write = soak.Soak.write

    def judge(self, code, identical, out):
        if code is None:
            return HUNG
        if code == 0:
            return COMPLETED if identical() else SILENT
        return FAILED if "FAILED: " in out else SILENT

    def sent(self, what, data):
        return lambda: stored_sha(self.unit, what) == hashlib.sha256(data).hexdigest()

    def nlec_lines(self):
        count = self.random.randint(*SOAK_NLEC_LINES)
        return ["P%d=%d" % (i, self.random.randint(0, 99999)) for i in range(count)]

    def nlec_send(self):
        data = ("\n".join(self.nlec_lines()) + "\n").encode()
        path = self.write("table.txt", data)
        code, out, _ = varnex(self.unit, ["nlec", "send", path], SOAK_TIMEOUT_S)
        return self.judge(code, self.sent("nlec", data), out)

    def nlec_get(self):
        lines = self.nlec_lines()
        table = self.write("unit-table.txt", ("\n".join(lines) + "\n").encode())
        self.unit.request(cmd="content_set", what="nlec_table", path=table)
        target = self.path("fetched.txt")
        code, out, _ = varnex(self.unit, ["nlec", "get", target], SOAK_TIMEOUT_S)
        return self.judge(code, lambda: open(target).read().split() == lines, out)

    def file_send(self):
        data = os.urandom(self.random.randint(*SOAK_FILE_BYTES))
        command = self.random.choice(["settings", "program"])
        path = self.write(command + ".bin", data)
        code, out, _ = varnex(self.unit, [command, "send", path], SOAK_TIMEOUT_S)
        return self.judge(code, self.sent("file", data), out)

    def file_receive(self):
        data = os.urandom(self.random.randint(*SOAK_FILE_BYTES))
        source = self.write("unit.bin", data)
        target = self.path("saved.bin")
        if self.random.random() < 0.5:
            self.unit.request(cmd="content_set", what="file", kind=KIND_SETTINGS, path=source)
            args = ["settings", "get", target]
        else:
            self.unit.request(cmd="content_set", what="file", kind=KIND_PROGRAM, name=PROGRAM_NAME, path=source)
            args = ["program", "get", PROGRAM_NAME, target]
        code, out, _ = varnex(self.unit, args, SOAK_TIMEOUT_S)
        verdict = self.judge(code, lambda: open(target, "rb").read() == data, out)
        # A failed receive must leave nothing under the chosen name.
        return SILENT if verdict == FAILED and os.path.exists(target) else verdict

    def bitmap_send(self):
        data = os.urandom(self.random.randint(*SOAK_FILE_BYTES))
        text = ",\n".join(", ".join("0x%02x" % b for b in data[i:i + 16]) for i in range(0, len(data), 16))
        path = self.write("bitmap.txt", text.encode())
        code, out, _ = varnex(self.unit, ["bitmap", "send", path], SOAK_TIMEOUT_S)
        return self.judge(code, self.sent("file", data), out)

    def run(self, count, progress=None):
        counts = {COMPLETED: 0, FAILED: 0, SILENT: 0, HUNG: 0}
        self.start()
        try:
            for done in range(1, count + 1):
                verdict = self.kinds[done % len(self.kinds)]()
                counts[verdict] += 1
                if verdict == HUNG:  # a fresh unit: the hung one may hold the line
                    self.unit.stop()
                    self.start()
                if progress:
                    progress(done, count, counts)
            fired = self.unit.request(cmd="faults")  # how often each rule fired (last unit)
        finally:
            self.unit.stop()
        return {"transfers": count, "counts": counts, "silent": counts[SILENT], "hangs": counts[HUNG],
                "faults": fired}
