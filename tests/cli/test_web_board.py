"""varnex station --http against simulated units: the web board is served while the units
load, and clients that never read, trickle half a request or send garbage hold up no unit
(every image whole, every row confirmed); an address that cannot be served, or a token file
that cannot be read, is a usage error before any port is touched; the rows that wait for a
records server that refuses them show on the board while the station runs."""
import json
import os
import re
import socket
import time
import urllib.request

from simunits import image_sha256, json_lines
from test_station import read_records, station_args

URL = re.compile(r"web board at (http://\S+)")
FINISH_S = 180
STALLED_STREAMS = 24
TRICKLERS = 8
TINY_BUFFER_BYTES = 1024


def web_url(run, timeout=30):
    """The address varnex says it serves at, read from its first lines on stderr."""
    deadline = time.monotonic() + timeout
    seen = b""
    fd = run.process.stderr.fileno()
    os.set_blocking(fd, False)
    while time.monotonic() < deadline and run.process.poll() is None:
        try:
            seen += os.read(fd, 4096)
        except BlockingIOError:
            time.sleep(0.05)
        found = URL.search(seen.decode(errors="replace"))
        if found:
            os.set_blocking(fd, True)
            return found.group(1)
    raise AssertionError("no web board address: %r" % seen)


def connect(url, receive_buffer=None):
    host, port = url.split("//")[1].rstrip("/").split(":")
    client = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if receive_buffer:
        client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    client.connect((host, int(port)))
    return client, "%s:%s" % (host, port)


def get_json(url):
    with urllib.request.urlopen(url, timeout=10) as answer:
        return json.loads(answer.read())


def test_clients_that_never_read_trickle_or_send_garbage_hold_up_no_unit(units, varnex, folder):
    lines = units(2, "--line", "2", "--line-gap-ms", "1500")
    records = str(folder / "shift.db")
    run = varnex(station_args(lines, records, "--count", "4", "--json", "--http", "127.0.0.1:0"), lines)
    url = web_url(run)
    hostile = []
    for _ in range(STALLED_STREAMS):  # event streams whose reader never reads
        client, host = connect(url, TINY_BUFFER_BYTES)
        client.sendall(("GET /api/events HTTP/1.1\r\nHost: %s\r\n\r\n" % host).encode())
        hostile.append(client)
    for _ in range(TRICKLERS):  # requests that never end
        client, host = connect(url)
        client.sendall(("GET /api/state HTTP/1.1\r\nHost: %s\r\nX-Slow: " % host).encode())
        hostile.append(client)
    garbage, _ = connect(url)
    garbage.sendall(b"\x00\xff" * 5000 + b"\r\n\r\n")
    hostile.append(garbage)

    deadline = time.monotonic() + FINISH_S
    while get_json(url + "api/state")["loaded"] < 1:
        assert time.monotonic() < deadline and run.process.poll() is None, "no unit was loaded"
        time.sleep(0.5)
    page = get_json(url + "api/records?limit=1&result=confirmed")
    assert len(page["records"]) == 1 and page["records"][0]["result"] == "confirmed", page

    code, out, err = run.wait(FINISH_S)
    for client in hostile:
        client.close()
    assert code == 0, out + err
    rows = read_records(records)
    assert len(rows) == 4 and all(r["result"] == "confirmed" for r in rows), rows
    sha = image_sha256("BOOTLOADER")
    for unit in lines:
        history = unit.request(cmd="line")["line"]["history"]
        assert [seen["sha256"] for seen in history] == [sha, sha], history
    assert json_lines(out)[-1]["loaded"] == 4


def test_an_address_in_use_or_an_unreadable_token_is_a_usage_error_before_any_port_is_touched(unit, varnex, folder):
    taken = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    taken.bind(("127.0.0.1", 0))
    taken.listen(1)
    try:
        address = "127.0.0.1:%d" % taken.getsockname()[1]
        code, out, err = varnex(station_args([unit], str(folder / "a.db"), "--http", address), [unit]).wait(30)
        assert code == 2, out + err
        assert "--http %s: cannot listen there" % address in err
    finally:
        taken.close()
    missing = str(folder / "no-such-token")
    code, out, err = varnex(station_args([unit], str(folder / "b.db"), "--http", "127.0.0.1:0",
                                         "--http-token-file", missing), [unit]).wait(30)
    assert code == 2 and "--http-token-file %s: cannot be read" % missing in err, out + err
    assert not os.path.exists(unit.modem + ".pc")  # the port was never opened


def test_the_board_shows_the_rows_that_wait_for_a_server_that_refuses_them(units, varnex, folder):
    """The station asks its forwarding how many rows wait, and why, while it runs."""
    (unit,) = units(1, "--line", "2", "--line-gap-ms", "4000")
    closed = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    closed.bind(("127.0.0.1", 0))
    server = "postgresql://varnex@127.0.0.1:%d/records" % closed.getsockname()[1]
    closed.close()  # nothing listens there: every connection is refused
    records = str(folder / "waiting.db")
    run = varnex(station_args([unit], records, "--count", "2", "--json", "--http", "127.0.0.1:0", "--forward", server),
                 [unit])
    url = web_url(run)
    deadline = time.monotonic() + FINISH_S
    shown = None
    while not (shown and shown["waiting"] >= 1 and shown["reason"]):
        assert time.monotonic() < deadline and run.process.poll() is None, "never shown: %r" % shown
        time.sleep(0.2)
        try:
            shown = get_json(url + "api/state")["records_server"]
        except OSError:  # the station ended meanwhile: said by the check above
            pass
    assert shown["host"] == "127.0.0.1"
    assert "refused" in shown["reason"], shown
    code, out, err = run.wait(FINISH_S)
    assert code == 0, out + err
