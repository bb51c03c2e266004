"""varnex over network serial servers: the real ser2net on the loopback address in front of
simulated units, over rfc2217:// (settings and CTS through the server) and socket:// (raw)."""
import json
import select
import socket
import time

import pytest

from ser2net import Ser2net
from simunits import SETTINGS, image_sha256

BOOTLOADER_BYTES = 249008
FINISH_S = 90
# "done" may come before the unit's count only by what the network still carries.
DONE_SLACK_S = 0.1


@pytest.fixture
def servers():
    started = []

    def start(units, **options):
        server = Ser2net(units, **options)
        started.append(server)
        return server

    yield start
    for server in started:
        server.stop()


def json_events_until(process, event, timeout):
    """Reads varnex's JSON lines until one of the kind asked; gives it and the lines read."""
    seen = []
    deadline = time.monotonic() + timeout
    buffer = b""
    while time.monotonic() < deadline:
        if select.select([process.stdout], [], [], 0.5)[0]:
            chunk = process.stdout.read1(65536)
            if not chunk:
                break
            buffer += chunk
            while b"\n" in buffer:
                line, buffer = buffer.split(b"\n", 1)
                record = json.loads(line)
                seen.append(record)
                if record.get("event") == event:
                    return record, seen
    raise AssertionError("no %s event; read %r" % (event, seen))


def test_rfc2217_download_is_identical_and_done_comes_after_the_unit_has_it(units, servers, varnex):
    (unit,) = units(1, "--mode", "bootloader", "--pace")
    server = servers([unit])
    run = varnex(["download", "--port", server.urls[0], "--bootloader", "--baud", "115200", "--json"], [unit])
    done, _ = json_events_until(run.process, "done", FINISH_S)
    assert done["bytes"] == BOOTLOADER_BYTES
    counted = unit.request(cmd="status")["counters"]["bytes_in"]
    if counted < BOOTLOADER_BYTES:
        time.sleep(DONE_SLACK_S)
        counted = unit.request(cmd="status")["counters"]["bytes_in"]
    assert counted == BOOTLOADER_BYTES
    code, out, err = run.wait(FINISH_S)
    assert code == 0, out + err
    image = unit.finished_image()
    assert image["sha256"] == image_sha256("BOOTLOADER") and image["baud_seen"] == 115200


def test_rfc2217_settings_backup_and_restore(unit, servers, varnex, tmp_path):
    server = servers([unit])
    data = bytes(range(256)) * 3
    source = tmp_path / "unit.set"
    source.write_bytes(data)
    assert unit.request(cmd="content_set", what="file", kind=SETTINGS, path=str(source))["ok"]
    backup = tmp_path / "backup.set"
    code, out, err = varnex(["settings", "get", str(backup), "--port", server.urls[0]], [unit]).wait(FINISH_S)
    assert code == 0, out + err
    assert backup.read_bytes() == data
    code, out, err = varnex(["settings", "send", str(backup), "--port", server.urls[0]], [unit]).wait(FINISH_S)
    assert code == 0, out + err
    got = unit.request(cmd="received", what="file")["last"]
    assert got["kind"] == SETTINGS and got["sum_matches"]


def test_a_killed_server_mid_download_fails_at_once_with_the_byte_count(units, servers, varnex):
    (unit,) = units(1, "--mode", "bootloader", "--pace")
    server = servers([unit])
    run = varnex(["download", "--port", server.urls[0], "--bootloader", "--baud", "115200"], [unit])
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and unit.request(cmd="status")["counters"]["bytes_in"] < 20000:
        time.sleep(0.1)
    server.kill()
    killed = time.monotonic()
    code, out, err = run.wait(FINISH_S)
    assert code == 1, out + err
    assert time.monotonic() - killed < 10
    failed = [line for line in out.splitlines() if line.startswith(server.urls[0] + ": FAILED: ")]
    assert len(failed) == 1, out
    assert "the port is gone" in failed[0] and " of 249008 bytes" in failed[0] and "load it again" in failed[0]
    # A killed server closes, or resets when it had bytes of ours unread: either names the server's side.
    assert "closed the connection" in failed[0] or "connection to the server is lost" in failed[0], failed[0]


def test_a_busy_server_port_is_named_with_the_servers_words(unit, servers, varnex):
    server = servers([unit], kick=False)
    holder = socket.create_connection(("127.0.0.1", server.ports[0]), timeout=5)
    try:
        holder.recv(64)  # the server's first words: it has given the port to this client
        code, out, err = varnex(["request", "--port", server.urls[0]], [unit]).wait(FINISH_S)
    finally:
        holder.close()
    assert code == 1, out + err
    assert "port is busy" in out and "Port already in use" in out, out


def test_socket_download_needs_no_cts_wait_and_then_loads(units, servers, varnex):
    (unit,) = units(1, "--mode", "bootloader")
    server = servers([unit], kind="raw", baud=115200)
    args = ["download", "--port", server.urls[0], "--bootloader", "--baud", "115200"]
    code, out, err = varnex(args, [unit]).wait(FINISH_S)
    assert code == 2 and "--no-cts-wait" in err and "no CTS" in err, err
    code, out, err = varnex(args + ["--no-cts-wait"], [unit]).wait(FINISH_S)
    assert code == 0, out + err
    assert err.count("cannot check") == 1
    image = unit.finished_image()
    assert image["bytes"] == BOOTLOADER_BYTES and image["sha256"] == image_sha256("BOOTLOADER")
