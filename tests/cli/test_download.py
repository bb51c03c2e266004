"""varnex download against simulated units: byte-identical images at both speeds, units in
parallel, and units that fail (no CTS, stop reading, vanish, Ctrl-C) without stopping the
others or hanging."""
import os
import signal
import time

import pytest

from simunits import image_sha256, json_lines

BOOTLOADER_BYTES = 249008
BOOTLOADER = ["--mode", "bootloader"]
FINISH_S = 60
CTS_WAIT_S = 2


def assert_identical(unit, baud):
    image = unit.finished_image()
    assert image["bytes"] == BOOTLOADER_BYTES
    assert image["sha256"] == image_sha256("BOOTLOADER")
    assert not image["garbled"]
    assert image["baud_seen"] == baud


@pytest.mark.parametrize("baud", [115200, 57600])
def test_one_unit_gets_the_image_byte_for_byte(units, varnex, baud):
    (unit,) = units(1, *BOOTLOADER, "--baud", str(baud))
    code, out, err = varnex(["download", "--port", unit.link, "--bootloader", "--baud", str(baud),
                             "--wait", "10"], [unit]).wait(FINISH_S)
    assert code == 0, out + err
    assert "check that the unit's display shows %d" % BOOTLOADER_BYTES in out
    assert "1 unit: 1 done, 0 failed" in out
    assert_identical(unit, baud)
    # The image at its speed, and the line left as the loader found it.
    assert unit.line_speeds()[-2:] == [baud, 9600]


def test_four_units_in_parallel_all_identical_with_json_records(units, varnex):
    four = units(4, *BOOTLOADER)
    args = ["download", "--bootloader", "--baud", "115200", "--json"]
    for unit in four:
        args += ["--port", unit.link]
    code, out, err = varnex(args, four).wait(FINISH_S)
    assert code == 0, out + err
    records = json_lines(out)
    for unit in four:
        assert_identical(unit, 115200)
        mine = [r for r in records if r.get("port") == unit.link]
        kinds = [r["event"] for r in mine]
        assert kinds[0] == "waiting" and "start" in kinds and kinds[-1] == "done", kinds
        assert mine[-1]["bytes"] == BOOTLOADER_BYTES
    summary = records[-1]
    assert summary["event"] == "summary" and summary["done"] == 4 and summary["failed"] == 0


def test_a_unit_without_cts_fails_on_its_wait_and_the_others_load(units, varnex):
    ready = units(3, *BOOTLOADER)
    (off,) = units(1, "--mode", "off")
    args = ["download", "--bootloader", "--baud", "115200", "--wait", str(CTS_WAIT_S)]
    for unit in ready + [off]:
        args += ["--port", unit.link]
    run = varnex(args, ready + [off])
    code, out, err = run.wait(FINISH_S)
    assert code == 1, out + err
    assert "%s: FAILED: no CTS within %d s" % (off.link, CTS_WAIT_S) in out
    assert "4 units: 3 done, 1 failed" in out
    for unit in ready:
        assert_identical(unit, 115200)
    assert off.request(cmd="status")["counters"]["bytes_in"] == 0


def test_a_busy_or_missing_port_is_one_clear_line(units, varnex, tmp_path):
    (unit,) = units(1, "--mode", "off")
    missing = str(tmp_path / "no-such-port")
    holder = varnex(["download", "--port", unit.link, "--bootloader", "--baud", "115200",
                     "--wait", "30"], [unit])  # holds the port while it waits for CTS
    deadline = time.monotonic() + 10
    while not os.path.exists(unit.modem + ".pc") and time.monotonic() < deadline:
        time.sleep(0.05)  # the holder has the port once it has raised DTR
    code, out, err = varnex(["download", "--port", unit.link, "--port", missing, "--bootloader",
                             "--baud", "115200"], [unit]).wait(FINISH_S)
    assert code == 1
    busy = [line for line in out.splitlines() if line.startswith("%s: FAILED: cannot open the port: " % unit.link)]
    assert len(busy) == 1 and "busy" in busy[0], out
    assert "%s: FAILED: cannot open the port: " % missing in out
    holder.process.send_signal(signal.SIGINT)
    code, out, _ = holder.wait(10)
    assert code == 1 and "stopped by Ctrl-C while waiting for CTS" in out


def test_a_unit_that_stops_reading_fails_within_its_bound(units, varnex):
    stuck, fine = units(2, *BOOTLOADER)
    stuck.signal(signal.SIGSTOP)  # the unit stops taking bytes; its CTS stays up
    code, out, err = varnex(["download", "--port", stuck.link, "--port", fine.link, "--bootloader",
                             "--baud", "115200"], [stuck, fine]).wait(FINISH_S)
    assert code == 1, out + err
    assert "%s: FAILED: the unit stopped reading" % stuck.link in out
    assert_identical(fine, 115200)


def test_a_unit_that_disappears_mid_image_fails_at_once(units, varnex):
    (unit,) = units(1, *BOOTLOADER, "--pace")  # about 24 s for the image at the line's rate
    run = varnex(["download", "--port", unit.link, "--bootloader", "--baud", "115200"], [unit])
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and not unit.request(cmd="image").get("current", {}).get("bytes"):
        time.sleep(0.1)
    unit.signal(signal.SIGKILL)  # the adapter is pulled out
    unplugged = time.monotonic()
    code, out, err = run.wait(FINISH_S)
    assert code == 1, out + err
    assert "%s: FAILED: the port is gone" % unit.link in out
    assert time.monotonic() - unplugged < 10


def test_a_unit_that_drops_cts_mid_image_is_a_failure_with_its_byte_count(units, varnex):
    (unit,) = units(1, *BOOTLOADER, "--pace")
    run = varnex(["download", "--port", unit.link, "--bootloader", "--baud", "115200"], [unit])
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and unit.request(cmd="image").get("current", {}).get("bytes", 0) < 20000:
        time.sleep(0.1)
    unit.request(cmd="cts", on=False)  # the unit took the image as ended
    code, out, err = run.wait(FINISH_S)
    assert code == 1, out + err
    failed = [line for line in out.splitlines() if line.startswith("%s: FAILED: the unit ended the image after " % unit.link)]
    assert len(failed) == 1 and failed[0].endswith(" bytes: load it again"), out
    sent = int(failed[0].split(" after ")[1].split()[0])
    assert 20000 <= sent < BOOTLOADER_BYTES
    assert "1 unit: 0 done, 1 failed" in out


def test_terminal_form_draws_live_lines(units, varnex):
    (unit,) = units(1, *BOOTLOADER)
    code, out, err = varnex(["download", "--port", unit.link, "--bootloader", "--baud", "115200"],
                            [unit], {"VARNEX_FORCE_TERMINAL": "1"}).wait(FINISH_S)
    assert code == 0, out + err
    assert "\x1b[K" in out
    assert "done: %d bytes sent" % BOOTLOADER_BYTES in out


def test_an_image_file_of_a_wrong_size_is_refused_unless_any_size(units, varnex, tmp_path):
    (unit,) = units(1, *BOOTLOADER)
    image = tmp_path / "odd.bin"
    data = os.urandom(1000)
    image.write_bytes(data)
    args = ["download", "--port", unit.link, "--image", str(image), "--baud", "115200"]
    code, out, err = varnex(args, [unit]).wait(FINISH_S)
    assert code == 2 and "--any-size" in err
    assert unit.request(cmd="status")["counters"]["bytes_in"] == 0
    code, out, err = varnex(args + ["--any-size"], [unit]).wait(FINISH_S)
    assert code == 0, out + err
    assert unit.finished_image()["bytes"] == len(data)
