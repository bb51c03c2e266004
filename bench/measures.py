"""The timed figures: image downloads paced and unpaced, a paced file send against the
stop-and-wait limit, the program's turnaround on the line, and its idle cost.

Times come from the simulated unit's own clock where the line is involved (the last byte of
an image, the frames of a transfer), from this process's clock for the start command, and
from /proc for CPU time."""
import hashlib
import os
import random
import time

import harness as h
import rig as r

BOOTLOADER_BYTES = 249008
SOFTWARE_BYTES = 4402584
DOWNLOAD_BAUD = 115200
SERVICE_BAUD = 38400
PACED_FILE_BYTES = 64 * 1024
TURNAROUND_CHUNKS = 2100  # 128-byte chunks: over 2 000 exchanges
CHUNK_BYTES = 128
IDLE_SECONDS = 30
IDLE_SETTLE_S = 3
IDLE_SAMPLE_S = 0.5
# The unit drops CTS this long after an image's last byte; short keeps the run short.
QUIET_GAP_MS = 400
PROGRESS_POLL_S = 0.25
DOWNLOAD_TIMEOUT_S = 120
TRANSFER_TIMEOUT_S = 240
SETTINGS_SENT = "Transfer of settings sucessfully completed."
FILE_SEND_OPEN, FILE_SEND_END = 10, 12
WIZARD_STEP_TIMEOUT_S = 15
PROBE_PROGRAM = "varnex_turnaround_probe.exe"
PROBE_TIMEOUT_S = 180
PACED_CHUNKS = PACED_FILE_BYTES // CHUNK_BYTES
PACED_ROUNDS = 5  # odd, so that the median is one measured round


def image_file(build_dir, name):
    """The image the build embedded, to check what reached the unit byte for byte."""
    for root, _, files in os.walk(os.path.join(build_dir, "win")):
        if name + ".bin" in files:
            return os.path.join(root, name + ".bin")
    return None


def sha256_of(path):
    if not path:
        return None
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def follow_image(rig, started, timeout=DOWNLOAD_TIMEOUT_S):
    """Samples the unit's byte count until the image is finished; returns (report, samples)
    with samples as (seconds since the start command, bytes at the unit)."""
    samples = [(0.0, 0)]
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        reply = rig.request(cmd="image")
        current, last = reply.get("current", {}), reply.get("last", {})
        if current.get("present"):
            samples.append((r.now() - started, current["bytes"]))
        elif last.get("present") and last.get("finished"):
            end = rig.sim_wall_seconds(last["last_byte_ms"]) - started
            samples.append((end, last["bytes"]))
            return last, samples
        time.sleep(PROGRESS_POLL_S)
    raise AssertionError("the image did not finish within %d s" % timeout)


def image_result(report, started, rig, expected_bytes, expected_sha):
    seconds = rig.sim_wall_seconds(report["last_byte_ms"]) - started
    identical = report["bytes"] == expected_bytes and not report.get("garbled") and \
        (expected_sha is None or report["sha256"] == expected_sha)
    return seconds, identical


def download_paced(build_dir):
    """Bootloader image at 115 200 through the wizard (Back on page 3 chooses it), with the
    unit holding the line to its real rate."""
    rig = r.Rig(["--mode", "bootloader", "--baud", str(DOWNLOAD_BAUD), "--pace",
                 "--quiet-gap-ms", str(QUIET_GAP_MS)], variant=r.OPERATOR)
    try:
        walk_wizard_to_download(rig.app, bootloader=True)
        started = r.now()
        rig.app.call("click %d" % r.NEXT)
        report, samples = follow_image(rig, started)
        seconds, identical = image_result(report, started, rig, BOOTLOADER_BYTES,
                                          sha256_of(image_file(build_dir, "BOOTLOADER")))
        first_byte = rig.sim_wall_seconds(report["start_ms"]) - started
    finally:
        rig.close()
    limit = BOOTLOADER_BYTES / r.line_bytes_per_second(DOWNLOAD_BAUD)
    return {"seconds": seconds, "line_limit_seconds": limit, "ratio": seconds / limit,
            "first_byte_seconds": first_byte,
            "bytes": report["bytes"], "identical": identical, "baud_seen": report.get("baud_seen"),
            "progress": samples}


def walk_wizard_to_download(app, bootloader):
    """Pages 1 to 4 as the technician goes through them; on page 3 Next chooses the
    software and Back the bootloader."""
    for page_title in ("STEP 2", "STEP 3", "STEP 4"):
        button = r.BACK if bootloader and page_title == "STEP 4" else r.NEXT
        r.wait_for(lambda: app.control(button).get("enabled"), WIZARD_STEP_TIMEOUT_S, "button enabled")
        app.click(button)
        r.wait_for(lambda: (app.text(r.TITLE_TEXT) or "").startswith(page_title),
                   WIZARD_STEP_TIMEOUT_S, "wizard page %s" % page_title)
    # Page 4 lets the download start once the monitor has seen the unit ready.
    r.wait_for(lambda: app.control(r.NEXT).get("enabled"), WIZARD_STEP_TIMEOUT_S,
               "the unit seen ready on page 4")


def download_unpaced(build_dir):
    """The whole software image through the wizard at 115 200, the unit reading as fast as
    the program writes."""
    rig = r.Rig(["--mode", "bootloader", "--baud", str(DOWNLOAD_BAUD),
                 "--quiet-gap-ms", str(QUIET_GAP_MS)], variant=r.OPERATOR)
    try:
        walk_wizard_to_download(rig.app, bootloader=False)
        started = r.now()
        rig.app.call("click %d" % r.NEXT)
        report, samples = follow_image(rig, started)
        seconds, identical = image_result(report, started, rig, SOFTWARE_BYTES,
                                          sha256_of(image_file(build_dir, "V410_2_AXIS_SOFTWARE")))
    finally:
        rig.close()
    line_seconds = SOFTWARE_BYTES / r.line_bytes_per_second(DOWNLOAD_BAUD)
    return {"seconds": seconds, "line_limit_seconds": line_seconds,
            "times_line_rate": line_seconds / seconds, "bytes": report["bytes"],
            "bytes_per_second": report["bytes"] / seconds, "identical": identical,
            "progress": samples}


def settings_file(folder, size, seed):
    data = random.Random(seed).randbytes(size)
    path = os.path.join(folder, "settings-%d.bin" % size)
    with open(path, "wb") as f:
        f.write(data)
    return path, data


def last_file_received(rig):
    last = rig.request(cmd="received", what="file").get("last") or {}
    return last.get("path"), last.get("sha256")


def send_settings(rig, path):
    """Runs a settings send through its file dialog; returns the result box's text. Until
    the unit has stored a new file, the result box is looked for only now and then
    (rig.result_box)."""
    before = last_file_received(rig)
    rig.app.call("command %d" % r.SEND_SETTINGS)
    rig.app.file_dialog(path)
    return r.result_box(rig.app, TRANSFER_TIMEOUT_S, due=lambda: last_file_received(rig) != before)


def stored_matches(rig, data):
    last = rig.request(cmd="received", what="file").get("last") or {}
    if not last.get("path"):
        return False
    with open(last["path"], "rb") as f:
        return f.read() == data


def stop_and_wait(frames):
    """The exchange between the opening packet's arrival and the arrival of the program's
    end-of-file packet: (seconds, frame bytes carried both ways in that time)."""
    opening = next(i for i, f in enumerate(frames) if f[:2] == ("in", FILE_SEND_OPEN))
    ending = max(i for i, f in enumerate(frames) if f[:2] == ("in", FILE_SEND_END))
    carried = sum(r.frame_bytes(f[2]) for f in frames[opening + 1:ending + 1])
    seconds = (frames[ending][3] - frames[opening][3]) / 1000.0
    return seconds, carried, ending - opening


def wizard_send_paced(path, data):
    """One paced send of the settings file through the service build: (its result, the
    frames it exchanged, the unit's turnaround timing)."""
    rig = r.Rig(["--pace"])
    try:
        since = rig.mark()
        rig.request(cmd="turnaround", clear=True)
        text = send_settings(rig, path)
        turnaround = rig.request(cmd="turnaround")
        frames = rig.frames(since)
        identical = text == SETTINGS_SENT and stored_matches(rig, data)
    finally:
        rig.close()
        h.cleanup_live()
    seconds, carried, count = stop_and_wait(frames)
    return {"seconds": seconds, "frame_bytes": carried, "frames": count,
            "ratio": carried / r.line_bytes_per_second(SERVICE_BAUD) / seconds,
            "result": text, "identical": identical,
            "turnaround_median_us": turnaround["median_us"],
            "turnaround_p99_us": turnaround["p99_us"]}


class StolenTime:
    """CPU time the virtual machine's host gave to others while this machine's processes
    were ready to run (steal in /proc/stat), as a share of all cores since it was made."""

    def __init__(self):
        self.started, self.ticks = time.monotonic(), self.read()

    @staticmethod
    def read():
        with open("/proc/stat") as f:
            fields = f.readline().split()
        return int(fields[8]) if len(fields) > 8 else 0

    def percent(self):
        seconds = (time.monotonic() - self.started) * (os.cpu_count() or 1)
        return (self.read() - self.ticks) / os.sysconf("SC_CLK_TCK") / seconds * 100.0


def paced_round(path, data):
    """The program's paced send, then the probe's in the program's order, each with the
    share of the machine its host took meanwhile."""
    stolen = StolenTime()
    wizard = wizard_send_paced(path, data)
    wizard_stolen = stolen.percent()
    stolen = StolenTime()
    probe = probe_send(PACED_CHUNKS, paced=True, armed_early=True)
    return {"wizard": wizard, "probe_armed_ratio": probe["ratio"],
            "ratio_to_probe": wizard["ratio"] / probe["ratio"],
            "stolen_percent": [wizard_stolen, stolen.percent()]}


def file_send_paced(work_dir):
    """A 64 KiB settings file at 38 400 with the line held to its rate, sent by the program
    and by the probe answering in the program's order, in turn, PACED_ROUNDS times. Other
    load on a shared machine, and on a virtual machine its host, slow both sends of a round
    alike but can move one send by several per cent, so the program is judged by the median
    of its round-by-round share of the probe's. Each round records the share of the machine
    its host took during either send (steal), to tell such rounds."""
    path, data = settings_file(work_dir, PACED_FILE_BYTES, 1)
    rounds = [paced_round(path, data) for _ in range(PACED_ROUNDS)]
    at_once = probe_send(PACED_CHUNKS, paced=True)
    middle = sorted(rounds, key=lambda one: one["ratio_to_probe"])[len(rounds) // 2]
    wizard = middle["wizard"]
    limit = wizard["frame_bytes"] / r.line_bytes_per_second(SERVICE_BAUD)
    failed = [one["wizard"]["result"] for one in rounds if not one["wizard"]["identical"]]
    return {"seconds": wizard["seconds"], "frame_bytes": wizard["frame_bytes"],
            "frames": wizard["frames"], "limit_seconds": limit, "ratio": wizard["ratio"],
            "bytes_per_second": PACED_FILE_BYTES / wizard["seconds"],
            "limit_bytes_per_second": PACED_FILE_BYTES / limit,
            "result": failed[0] if failed else wizard["result"], "identical": not failed,
            "turnaround_median_us": wizard["turnaround_median_us"],
            "turnaround_p99_us": wizard["turnaround_p99_us"],
            "probe_ratio": at_once["ratio"], "probe_armed_ratio": middle["probe_armed_ratio"],
            "probe_turnaround_median_ms": at_once["median_ms"],
            "ratio_to_probe": middle["ratio_to_probe"],
            "rounds": [{"ratio": one["wizard"]["ratio"], "probe_armed_ratio": one["probe_armed_ratio"],
                        "ratio_to_probe": one["ratio_to_probe"],
                        "stolen_percent_program_probe": one["stolen_percent"]} for one in rounds]}


def turnaround_unpaced(work_dir):
    """Over 2 000 chunk requests answered, the unit timing each answer's first byte."""
    path, data = settings_file(work_dir, TURNAROUND_CHUNKS * CHUNK_BYTES, 2)
    rig = r.Rig()
    try:
        rig.request(cmd="turnaround", clear=True)
        text = send_settings(rig, path)
        timing = rig.request(cmd="turnaround", samples=True)
        identical = text == SETTINGS_SENT and stored_matches(rig, data)
    finally:
        rig.close()
    samples = sorted(timing.get("samples_us", []))
    probe = probe_send(TURNAROUND_CHUNKS, paced=False)
    armed = probe_send(TURNAROUND_CHUNKS, paced=False, armed_early=True)
    return {"probe_median_ms": probe["median_ms"], "probe_p99_ms": probe["p99_ms"],
            "probe_armed_median_ms": armed["median_ms"], "probe_armed_p99_ms": armed["p99_ms"],
            "probe_exchanges": probe["exchanges"],"exchanges": timing["count"], "median_ms": timing["median_us"] / 1000.0,
            "p99_ms": timing["p99_us"] / 1000.0, "max_ms": timing["max_us"] / 1000.0,
            "p90_ms": samples[int(len(samples) * 0.9)] / 1000.0 if samples else 0.0,
            "result": text, "identical": identical}


def probe_send(chunks, paced, armed_early=False):
    """The turnaround probe (bench/win/TurnaroundProbe.cpp) sends chunks x 128 bytes to the unit,
    answering each request at once: the floor that Wine's serial path leaves. armed_early
    has it wait for the next bytes before it answers, in the order of the program's two
    threads."""
    sim = h.Sim(["--pace"] if paced else [])
    try:
        session = h.Session.get()
        driver = session.driver if session.driver and session.driver.alive() else session.restart_driver()
        since = sim.request({"cmd": "events", "limit": 1}).get("last_seq", 0)
        sim.request({"cmd": "turnaround", "clear": True})
        exe = os.path.join(h.WIN_BIN, PROBE_PROGRAM)
        launched = driver.send('launch "%s" %d COM1%s' % (h.windows_path(exe), chunks,
                                                          " armed" if armed_early else ""))
        if not launched.get("ok"):
            raise AssertionError("the probe did not start: %r" % launched)
        ended = driver.send("wait_exit %d" % (PROBE_TIMEOUT_S * 1000), timeout=PROBE_TIMEOUT_S + 30)
        if not ended.get("exited") or ended.get("code") != 0:
            raise AssertionError("the probe did not finish its send: %r" % ended)
        timing = sim.request({"cmd": "turnaround"})
        trace = sim.request({"cmd": "trace", "since": since, "limit": 20000}).get("frames", [])
    finally:
        sim.stop()
    frames = [("in" if e.get("event") == "frame_in" else "out", e.get("command"),
               bytes.fromhex(e.get("payload_hex", "")), e.get("t_ms")) for e in trace]
    result = {"exchanges": timing["count"], "median_ms": timing["median_us"] / 1000.0,
              "p99_ms": timing["p99_us"] / 1000.0}
    if paced:
        seconds, carried, _ = stop_and_wait(frames)
        result["ratio"] = carried / r.line_bytes_per_second(SERVICE_BAUD) / seconds
    return result


def thread_runtimes_ns(pid):
    """Nanoseconds each thread of a process has run, from the scheduler's own accounting
    (exact, where the clock-tick counts of /proc/.../stat are samples of 10 ms)."""
    runtimes = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                runtimes[int(tid)] = int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            continue  # the thread ended meanwhile
    return runtimes


def waiting_in_poll(pid, tid):
    """Whether a thread sleeps in a timed poll rather than on the wineserver's pipe: that is
    how Wine's comm-event wait spends its time between looks at the port."""
    try:
        with open("/proc/%d/task/%d/wchan" % (pid, tid)) as f:
            where = f.read()
    except OSError:
        return False
    return "poll" in where or "nanosleep" in where or where in ("", "0")


def idle_cost():
    """CPU of the operator build's process over 30 s on page 1 with the port open, in all,
    per thread, and for the wineserver. The program's own threads are every thread but
    Wine's comm-event poller, timed to the nanosecond."""
    rig = r.Rig(variant=r.OPERATOR)
    try:
        time.sleep(IDLE_SETTLE_S)
        pids = rig.program_pids()
        if not pids:
            raise AssertionError("no Linux process found for %s" % h.PROGRAMS[r.OPERATOR])
        pid = pids[0]
        servers = r.named_pids("wineserver")
        hz = os.sysconf("SC_CLK_TCK")
        before, server_before = thread_runtimes_ns(pid), sum(r.cpu_ticks(p) for p in servers)
        total_before = r.cpu_ticks(pid)
        polling, seen = {}, {}
        started = time.monotonic()
        while time.monotonic() - started < IDLE_SECONDS:
            for tid in thread_runtimes_ns(pid):
                seen[tid] = seen.get(tid, 0) + 1
                polling[tid] = polling.get(tid, 0) + (1 if waiting_in_poll(pid, tid) else 0)
            time.sleep(IDLE_SAMPLE_S)
        after, server_after = thread_runtimes_ns(pid), sum(r.cpu_ticks(p) for p in servers)
        total_after = r.cpu_ticks(pid)
        elapsed = time.monotonic() - started
        page = rig.app.text(r.TITLE_TEXT)
    finally:
        rig.close()
    threads = []
    for tid, runtime in after.items():
        used = (runtime - before.get(tid, 0)) / 1e9 / elapsed
        label = "ui" if tid == pid else (
            "wine_comm_wait_poller" if polling.get(tid, 0) * 2 > seen.get(tid, 0) else "other")
        threads.append({"tid": tid, "share_percent": used * 100.0, "label": label})
    program = (total_after - total_before) / hz
    own = sum(t["share_percent"] for t in threads if t["label"] != "wine_comm_wait_poller")
    return {"seconds": elapsed, "cpu_seconds": program, "share": program / elapsed,
            "own_threads_percent": own,
            "threads": sorted(threads, key=lambda t: -t["share_percent"]),
            "wineserver_share_percent": (server_after - server_before) / hz / elapsed * 100.0,
            "pid": pid, "page_title": page}
