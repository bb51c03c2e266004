"""varnex when the line under a running transfer goes wrong: a unit whose frames are lost in
noise is given up in the usual few seconds, and an end that belongs to another transfer fails
the running one, leaving the chosen file as it was."""
import os
import time

from simunits import json_lines

FINISH_S = 60
GIVE_UP_S = 10
REQUEST_SEEN_S = 10


def test_a_line_of_noise_ends_in_the_retry_message(units, varnex, tmp_path):
    unit = units(1)[0]
    path = tmp_path / "settings.bin"
    path.write_bytes(bytes(range(256)))
    assert unit.request(cmd="babble", on=True)["ok"]
    run = varnex(["settings", "send", str(path), "--port", unit.link, "--json"], [unit])
    code, out, err = run.wait(FINISH_S)
    assert code == 1, out + err
    end = json_lines(out)[-1]
    assert end["event"] == "failed" and "Retry count exceeded" in end["reason"], end
    assert run.seconds < GIVE_UP_S


def test_the_end_of_a_send_fails_a_receive(units, varnex, tmp_path):
    unit = units(1)[0]
    folder = tmp_path / "files"
    folder.mkdir()
    target = folder / "saved.bin"
    target.write_bytes(b"the old copy")
    # The unit keeps quiet on the request, then ends a send with a sum of 0.
    assert unit.request(cmd="fault", kind="drop_reply", at=1, count=7)["ok"]
    run = varnex(["settings", "get", str(target), "--port", unit.link], [unit])
    deadline = time.monotonic() + REQUEST_SEEN_S
    while unit.request(cmd="status")["counters"]["frames_in"] == 0 and time.monotonic() < deadline:
        time.sleep(0.02)
    assert unit.request(cmd="send", command=12, text="0")["ok"]
    code, out, err = run.wait(FINISH_S)
    assert code == 1 and "Settings transfer failure." in out, out + err
    assert target.read_bytes() == b"the old copy"
    assert os.listdir(folder) == ["saved.bin"]
