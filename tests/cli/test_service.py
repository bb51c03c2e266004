"""varnex's service commands against a simulated running unit: files identical in both
directions, the unit's faults ending either identical or in a failure with its message (never
a silent difference, never a hang), receives that never leave a partial file, and Ctrl-C."""
import os
import select
import signal
import time

import pytest

from simunits import PROGRAM, SETTINGS, json_lines, sha

FINISH_S = 60
# A table line or file chunk the unit sends; the faults are aimed a few frames in.
FAULT_AT = 3


def run(varnex, unit, *args, timeout=FINISH_S):
    return varnex(list(args) + ["--port", unit.link], [unit]).wait(timeout)


def received(unit, what):
    return unit.request(cmd="received", what=what).get("last") or {}


def leftovers(folder, keep):
    return sorted(name for name in os.listdir(folder) if name not in keep)


@pytest.fixture
def data():
    # Every byte value, and more than one chunk of each size the link moves.
    return bytes(range(256)) * 5 + os.urandom(301)


@pytest.mark.parametrize("command, kind, done", [
    ("settings", SETTINGS, "Transfer of settings sucessfully completed."),
    ("program", PROGRAM, "Transfer of program sucessfully completed."),
])
def test_a_file_sent_arrives_identical(unit, varnex, folder, data, command, kind, done):
    path = folder / "out.bin"
    path.write_bytes(data)
    code, out, err = run(varnex, unit, command, "send", str(path))
    assert code == 0, out + err
    assert "done: " + done in out
    got = received(unit, "file")
    assert got["kind"] == kind and got["sha256"] == sha(data) and got["sum_matches"], got


@pytest.mark.parametrize("command, name", [("settings", None), ("program", "ABC")])
def test_a_file_received_is_identical_and_replaces_the_old_one(unit, varnex, folder, data, command, name):
    source = folder / "unit.bin"
    source.write_bytes(data)
    request = {"cmd": "content_set", "what": "file", "kind": SETTINGS if name is None else PROGRAM,
               "path": str(source)}
    if name:
        request["name"] = name
    assert unit.request(**request)["ok"]
    target = folder / "saved.bin"
    target.write_bytes(b"the old copy")
    args = [command, "get"] + ([name] if name else []) + [str(target)]
    code, out, err = run(varnex, unit, *args)
    assert code == 0, out + err
    assert target.read_bytes() == data
    assert leftovers(folder, {"unit.bin", "saved.bin"}) == []


def test_nlec_tables_travel_identical_both_ways(unit, varnex, folder):
    lines = ["X%03d=%d" % (i, i * 7) for i in range(40)]
    table = folder / "table.txt"
    table.write_text("\n".join(lines) + "\n")
    code, out, err = run(varnex, unit, "nlec", "send", str(table))
    assert code == 0, out + err
    got = received(unit, "nlec")
    assert got["sum_matches"] and open(got["path"], "rb").read() == table.read_bytes(), got

    assert unit.request(cmd="content_set", what="nlec_table", path=str(table))["ok"]
    fetched = folder / "fetched.txt"
    code, out, err = run(varnex, unit, "nlec", "get", str(fetched))
    assert code == 0, out + err
    assert fetched.read_text().split() == lines


def test_a_bitmap_text_is_converted_and_sent(unit, varnex, folder):
    text = folder / "logo.txt"
    text.write_text("0x12, 0xab,\n0xFF 0x00\nno pair here 0x7\nE\n")
    code, out, err = run(varnex, unit, "bitmap", "send", str(text), "--json")
    assert code == 0, out + err
    assert json_lines(out)[-1]["event"] == "done"
    got = received(unit, "file")
    assert got["kind"] == 24 and got["sha256"] == sha(bytes([0x12, 0xAB, 0xFF, 0x00])), got


def test_the_fixed_request_reaches_the_unit(unit, varnex):
    code, out, err = run(varnex, unit, "request")
    assert code == 0, out + err
    # The unit records the request as it decodes it; a garbled one never shows.
    deadline = time.monotonic() + 2
    while unit.request(cmd="status").get("last_fixed_request") is None and time.monotonic() < deadline:
        time.sleep(0.05)
    assert unit.request(cmd="status").get("last_fixed_request") == "731942"


def read_until(process, text, timeout):
    seen = b""
    deadline = time.monotonic() + timeout
    while text.encode() not in seen and time.monotonic() < deadline:
        if select.select([process.stdout], [], [], 0.2)[0]:
            chunk = os.read(process.stdout.fileno(), 4096)
            if not chunk:
                break
            seen += chunk
    return seen.decode(errors="replace")


def test_monitor_prints_log_and_unknown_frames_until_ctrl_c(unit, varnex):
    monitor = varnex(["monitor", "--port", unit.link], [unit])
    read_until(monitor.process, "listening", 10)
    unit.request(cmd="log", text="motor 2 warm")
    line = read_until(monitor.process, "motor 2 warm", 10)
    assert "LOG: " in line and "buf(12)=motor 2 warm" in line
    unit.request(cmd="send", command=4, text="odd")
    assert "ERROR Unknown Command: " in read_until(monitor.process, "LAST COMMAND", 10)
    monitor.process.send_signal(signal.SIGINT)
    code, out, err = monitor.wait(10)
    assert code == 0, out + err


# Each fault the unit can put on its answers, aimed at a data frame: the transfer must end
# identical, or fail with its message; a test timeout is a hang.
FAULTS = [
    {"kind": "corrupt_byte"},
    {"kind": "drop_byte"},
    {"kind": "drop_reply"},
    {"kind": "delay_reply"},
    {"kind": "noise", "marks": True},
    {"kind": "long_length"},
    {"kind": "reply_1"},
    {"kind": "reply_2"},
    {"kind": "error_13", "text": "Flash full"},
    {"kind": "wrong_sum", "at": 1},  # only the end of a send carries a sum
]


def fault_id(fault):
    return fault["kind"]


@pytest.mark.parametrize("fault", FAULTS, ids=fault_id)
def test_a_faulty_send_is_identical_or_fails_with_its_message(unit, varnex, folder, data, fault):
    path = folder / "settings.bin"
    path.write_bytes(data)
    assert unit.request(cmd="fault", **dict({"at": FAULT_AT}, **fault))["ok"]
    code, out, err = run(varnex, unit, "settings", "send", str(path))
    got = received(unit, "file")
    if code == 0:
        assert got.get("sha256") == sha(data) and got.get("sum_matches"), out
    else:
        assert code == 1 and "FAILED: " in out, out + err
    if fault["kind"] == "error_13":
        assert code == 1 and "Settings transfer failure." in out and "Flash full" in out, out
    if fault["kind"] == "wrong_sum":
        assert code == 1 and "Settings transfer failure." in out, out


@pytest.mark.parametrize("fault", FAULTS, ids=fault_id)
def test_a_faulty_receive_is_identical_or_leaves_no_file(unit, varnex, folder, data, fault):
    source = folder / "unit.bin"
    source.write_bytes(data)
    unit.request(cmd="content_set", what="file", kind=SETTINGS, path=str(source))
    unit.request(cmd="config", file_chunk=128)
    assert unit.request(cmd="fault", **dict({"at": FAULT_AT}, **fault))["ok"]
    target = folder / "saved.bin"
    code, out, err = run(varnex, unit, "settings", "get", str(target))
    if code == 0:
        assert target.read_bytes() == data, out
    else:
        assert code == 1 and "FAILED: " in out, out + err
        assert not target.exists()
    assert leftovers(folder, {"unit.bin", "saved.bin"}) == []


def test_a_unit_that_never_answers_ends_in_the_retry_message(unit, varnex, folder, data):
    path = folder / "p.bin"
    path.write_bytes(data)
    unit.request(cmd="fault", kind="drop_reply", at=1, count=7)
    code, out, err = run(varnex, unit, "program", "send", str(path), "--json")
    assert code == 1, out + err
    end = json_lines(out)[-1]
    assert end["event"] == "failed" and end["reason"] == "Binary Test transfer failure. Retry count exceeded."


def test_a_missing_program_fails_with_the_units_text_and_no_file(unit, varnex, folder):
    unit.request(cmd="content_clear")
    target = folder / "p.bin"
    code, out, err = run(varnex, unit, "program", "get", "NOPE", str(target))
    assert code == 1, out + err
    assert "Program transfer failure." in out and "File not found" in out
    assert os.listdir(folder) == []


def test_ctrl_c_mid_receive_removes_the_temporary_file(unit, varnex, folder):
    source = folder / "unit.bin"
    source.write_bytes(os.urandom(64 * 1024))  # about 20 s at the line's rate
    unit.request(cmd="content_set", what="file", kind=SETTINGS, path=str(source))
    unit.request(cmd="pace", on=True)
    target = folder / "saved.bin"
    receive = varnex(["settings", "get", str(target), "--port", unit.link], [unit])
    deadline = time.monotonic() + 20
    while len(os.listdir(folder)) < 2 and time.monotonic() < deadline:
        time.sleep(0.05)
    time.sleep(0.5)
    receive.process.send_signal(signal.SIGINT)
    code, out, err = receive.wait(10)
    assert code == 1 and "stopped by Ctrl-C" in out, out + err
    assert os.listdir(folder) == ["unit.bin"]


@pytest.mark.parametrize("args", [
    ["program", "get", "ONLYNAME"],
    ["settings", "send", "/no/such/file"],
    ["nlec"],
])
def test_usage_errors_exit_2(unit, varnex, args):
    code, out, err = run(varnex, unit, *args)
    assert code == 2, out + err


def test_one_port_only(units, varnex, folder):
    a, b = units(2)
    code, out, err = varnex(["request", "--port", a.link, "--port", b.link], [a, b]).wait(FINISH_S)
    assert code == 2 and "one unit" in err
