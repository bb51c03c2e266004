"""Debian's Prometheus, started by a test on the loopback address with its own folder, scraping
the targets it is given every second; queried through its HTTP API."""
import json
import os
import shutil
import subprocess
import time
import urllib.parse
import urllib.request

from ser2net import LOOPBACK, free_ports

PROMETHEUS = shutil.which("prometheus") or "/usr/bin/prometheus"
PROMTOOL = shutil.which("promtool") or "/usr/bin/promtool"
START_TIMEOUT_S = 30
SCRAPE_INTERVAL = "1s"


def check_metrics(text):
    """promtool's verdict on a metrics page: (return code, what it said)."""
    out = subprocess.run([PROMTOOL, "check", "metrics"], input=text, capture_output=True, text=True, timeout=30)
    return out.returncode, out.stdout + out.stderr


class Prometheus:
    def __init__(self, folder, targets, bearer_file=None):
        """targets: "host:port" of the pages to scrape at /metrics."""
        self.folder = str(folder)
        self.port = free_ports(1)[0]
        self.url = "http://%s:%d" % (LOOPBACK, self.port)
        job = {"job_name": "varnex", "scrape_interval": SCRAPE_INTERVAL, "scrape_timeout": SCRAPE_INTERVAL,
               "static_configs": [{"targets": list(targets)}]}
        if bearer_file:
            job["authorization"] = {"type": "Bearer", "credentials_file": str(bearer_file)}
        config = os.path.join(self.folder, "prometheus.yml")
        with open(config, "w") as f:  # YAML takes JSON as it is
            json.dump({"global": {"scrape_interval": SCRAPE_INTERVAL}, "scrape_configs": [job]}, f)
        self.log = open(os.path.join(self.folder, "prometheus.log"), "wb")
        self.process = subprocess.Popen(
            [PROMETHEUS, "--config.file", config, "--storage.tsdb.path", os.path.join(self.folder, "data"),
             "--web.listen-address", "%s:%d" % (LOOPBACK, self.port)],
            stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.monotonic() + START_TIMEOUT_S
        while not self._ready():
            assert self.process.poll() is None and time.monotonic() < deadline, \
                "prometheus did not start: see %s" % self.log.name
            time.sleep(0.2)

    def _ready(self):
        try:
            with urllib.request.urlopen(self.url + "/-/ready", timeout=2) as answer:
                return answer.status == 200
        except OSError:
            return False

    def query(self, expression):
        """The instant vector's samples as {labels' tuple: value}."""
        address = self.url + "/api/v1/query?" + urllib.parse.urlencode({"query": expression})
        with urllib.request.urlopen(address, timeout=10) as answer:
            body = json.loads(answer.read())
        assert body["status"] == "success", body
        return {tuple(sorted(r["metric"].items())): float(r["value"][1]) for r in body["data"]["result"]}

    def targets_health(self):
        with urllib.request.urlopen(self.url + "/api/v1/targets", timeout=10) as answer:
            body = json.loads(answer.read())
        return [(t["health"], t.get("lastError", "")) for t in body["data"]["activeTargets"]]

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)
        self.log.close()
