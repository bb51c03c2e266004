"""A station's /metrics read by the plant's monitoring: Debian's Prometheus, started here on the
loopback with a scrape every second, scrapes a running station with its token; promtool finds
the page sound, and a query through Prometheus' HTTP API returns the station's loaded count."""
import time
import urllib.request

import pytest

from promserver import Prometheus, check_metrics
from test_station import station_args
from test_web_board import get_json, web_url

UNITS_PER_LINE = 2
SCRAPED_WITHIN_S = 60
TOKEN = "metrics-token-0123456789"


def get_text(url, token):
    request = urllib.request.Request(url, headers={"Authorization": "Bearer " + token})
    with urllib.request.urlopen(request, timeout=10) as answer:
        return answer.headers.get("Content-Type"), answer.read().decode()


@pytest.fixture
def prometheus():
    started = []

    def start(*args, **kwargs):
        started.append(Prometheus(*args, **kwargs))
        return started[-1]

    yield start
    for server in started:
        server.close()


def test_prometheus_scrapes_a_station_and_counts_its_loads(units, varnex, folder, prometheus):
    lines = units(2, "--line", str(UNITS_PER_LINE), "--line-gap-ms", "1500")
    token_file = folder / "token"
    token_file.write_text(TOKEN + "\n")
    # More units asked for than come: the station waits, its counts still, until it is stopped.
    run = varnex(station_args(lines, str(folder / "shift.db"), "--count", "99", "--http", "127.0.0.1:0",
                              "--http-token-file", str(token_file)), lines)
    url = web_url(run)
    expected = UNITS_PER_LINE * len(lines)
    deadline = time.monotonic() + SCRAPED_WITHIN_S * 3
    bearer = {"Authorization": "Bearer " + TOKEN}
    while True:
        state = get_json(urllib.request.Request(url + "api/state", headers=bearer))
        if state["loaded"] + state["failed"] >= expected:
            break
        assert time.monotonic() < deadline and run.process.poll() is None, state
        time.sleep(0.5)
    assert state["loaded"] == expected, state

    kind, page = get_text(url + "metrics", TOKEN)
    assert kind.startswith("text/plain; version=0.0.4"), kind
    code, said = check_metrics(page)
    assert code == 0, said + page

    target = url.split("//")[1].rstrip("/")
    server = prometheus(folder, [target], bearer_file=token_file)
    query = 'sum(varnex_loads_total{station="test-bench",result="confirmed"})'
    deadline = time.monotonic() + SCRAPED_WITHIN_S
    found = {}
    while found.get((), None) != expected:
        assert time.monotonic() < deadline, (found, server.targets_health())
        time.sleep(0.5)
        found = server.query(query)
    ports = server.query('varnex_loads_total{result="confirmed"}')
    assert sorted(ports.values()) == [UNITS_PER_LINE] * len(lines), ports
    assert server.query('varnex_units{step="waiting_for_unit"}') != {}

    run.process.terminate()
    run.wait(60)
