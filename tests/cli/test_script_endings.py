"""What a script may rely on when a run ends some other way than by finishing: a signal or a
closed output ends it as Ctrl-C does (no temporary file, the chosen file as it was, exit 1);
the fixed request fails when its bytes do not leave; a healthy transfer longer than the
quiet-unit limit completes; and everything works in a deeply nested checkout."""
import os
import signal
import time

import pytest

from simunits import SETTINGS, Unit, Varnex

FINISH_S = 60
OLD_CONTENT = b"the settings saved last week\n"
# Deeper than a socket's address can hold, as on a build server's checkout.
DEEP_CHARS = 150


def wait_for_temporary_file(folder, count, timeout=20):
    deadline = time.monotonic() + timeout
    while len(os.listdir(folder)) < count and time.monotonic() < deadline:
        time.sleep(0.05)
    assert len(os.listdir(folder)) >= count, os.listdir(folder)


def close_output(run):
    run.process.stdout.close()


@pytest.mark.parametrize("end", [
    lambda run: run.process.send_signal(signal.SIGHUP),
    lambda run: run.process.send_signal(signal.SIGTERM),
    close_output,
], ids=["sighup", "sigterm", "closed-output"])
def test_a_receive_ended_from_outside_leaves_no_file_and_the_old_one_as_it_was(unit, varnex, folder, end):
    source = folder / "unit.bin"
    source.write_bytes(os.urandom(64 * 1024))  # about 20 s at the line's rate
    unit.request(cmd="content_set", what="file", kind=SETTINGS, path=str(source))
    unit.request(cmd="pace", on=True)
    target = folder / "saved.bin"
    target.write_bytes(OLD_CONTENT)
    receive = varnex(["settings", "get", str(target), "--port", unit.link], [unit])
    wait_for_temporary_file(folder, 3)
    time.sleep(0.5)
    end(receive)
    code = receive.process.wait(10)
    assert code == 1, receive.process.stderr.read().decode(errors="replace")
    assert sorted(os.listdir(folder)) == ["saved.bin", "unit.bin"]
    assert target.read_bytes() == OLD_CONTENT


def test_the_fixed_request_fails_when_its_bytes_do_not_leave(unit, varnex):
    unit.signal(signal.SIGSTOP)  # the unit takes nothing off the line
    try:
        code, out, err = varnex(["request", "--port", unit.link], [unit]).wait(FINISH_S)
    finally:
        unit.signal(signal.SIGCONT)
    assert code == 1, out + err
    assert "the fixed request did not leave" in out, out


def test_a_healthy_transfer_longer_than_the_quiet_unit_limit_completes(unit, varnex, folder):
    data = os.urandom(36 * 1024)  # about 13 s at 38 400 baud, stop and wait
    path = folder / "s.bin"
    path.write_bytes(data)
    unit.request(cmd="pace", on=True)
    run = varnex(["settings", "send", str(path), "--port", unit.link], [unit])
    code, out, err = run.wait(FINISH_S)
    assert code == 0, out + err
    assert run.seconds > 10, "the transfer must outlast the quiet-unit limit to mean anything"


def test_a_unit_and_a_run_in_a_deep_folder(tmp_path):
    deep = str(tmp_path)
    while len(deep) < DEEP_CHARS:
        deep = os.path.join(deep, "nested-checkout-folder")
    os.makedirs(deep)
    unit = Unit(deep, [])
    try:
        assert len(unit.dir) >= DEEP_CHARS
        data = os.urandom(3000)
        source = os.path.join(deep, "unit.bin")
        with open(source, "wb") as f:
            f.write(data)
        unit.request(cmd="content_set", what="file", kind=SETTINGS, path=source)
        target = os.path.join(deep, "saved.bin")
        code, out, err = Varnex(["settings", "get", target, "--port", unit.link], [unit]).wait(FINISH_S)
        assert code == 0, out + err
        with open(target, "rb") as f:
            assert f.read() == data
    finally:
        unit.stop()
