"""Debian's ser2net on the loopback address in front of simulated units' pseudo-terminals,
for the network-port tests and benchmarks. ser2net runs with the modem-line library
preloaded and the units' modem files mapped, so each unit's CTS reaches it as it would
reach varnex on a local port."""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

from simunits import MODEM_LIBRARY

SER2NET = shutil.which("ser2net") or "/usr/sbin/ser2net"
LOOPBACK = "127.0.0.1"
START_TIMEOUT_S = 10
LISTEN_STATE = "0A"


def free_ports(count):
    """TCP ports free on the loopback address now (held open together, so all differ)."""
    held = []
    try:
        for _ in range(count):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.bind((LOOPBACK, 0))
            held.append(s)
        return [s.getsockname()[1] for s in held]
    finally:
        for s in held:
            s.close()


def listening(port):
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if int(fields[1].split(":")[1], 16) == port and fields[3] == LISTEN_STATE:
                return True
    return False


class Ser2net:
    """One ser2net serving each unit on its own TCP port: kind "rfc2217", "telnet" (without
    serial settings) or "raw" (whose line keeps baud). kick=False keeps a busy port's first client and turns a second away."""

    def __init__(self, units, kind="rfc2217", kick=True, baud=38400):
        self.folder = tempfile.mkdtemp(prefix="ser2net-")
        self.ports = free_ports(len(units))
        accepter = {"rfc2217": "telnet(rfc2217),tcp(nodelay)", "telnet": "telnet,tcp(nodelay)"}.get(kind, "tcp(nodelay)")
        scheme = "rfc2217" if kind == "rfc2217" else "socket"
        self.urls = ["%s://%s:%d" % (scheme, LOOPBACK, port) for port in self.ports]
        config = []
        for number, (unit, port) in enumerate(zip(units, self.ports)):
            config += ["connection: &unit%d" % number,
                       "  accepter: %s,%s,%d" % (accepter, LOOPBACK, port),
                       "  connector: serialdev,%s,%do81,local" % (unit.slave, baud),
                       "  options:",
                       "    kickolduser: %s" % ("true" if kick else "false"),
                       "    chardelay: false",
                       ""]
        self.config = os.path.join(self.folder, "ser2net.yaml")
        with open(self.config, "w") as f:
            f.write("\n".join(config))
        env = dict(os.environ)
        env["LD_PRELOAD"] = MODEM_LIBRARY
        env["VARNEX_MODEM_MAP"] = ";".join("%s=%s" % (u.slave, u.modem) for u in units)
        self.log = open(os.path.join(self.folder, "ser2net.log"), "wb")
        self.process = subprocess.Popen(
            [SER2NET, "-n", "-d", "-c", self.config, "-P", os.path.join(self.folder, "pid")],
            stdout=self.log, stderr=subprocess.STDOUT, env=env, start_new_session=True)
        deadline = time.monotonic() + START_TIMEOUT_S
        while not all(listening(port) for port in self.ports):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("ser2net did not start; see %s" % self.log.name)
            time.sleep(0.05)

    def kill(self):
        """Gone at once, as a device server that loses its power."""
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait(10)

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.kill()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)
