"""varnex station on 32 ports x 3 units, as the station figure, with its web board served
(--http on the loopback address) and 16 event-stream clients reading it from start to end,
as browsers on the line would: every row right and every image identical, each load against
the line limit, varnex's CPU per port with the clients attached, and whether each client
followed the station to its end (its last event counting every unit)."""
import json
import os
import selectors
import socket
import threading
import time

import varnex_station as st
from ser2net import LOOPBACK, free_ports

PORTS = 32
UNITS_PER_PORT = 3
CLIENTS = 16
ATTACH_TIMEOUT_S = 30
ATTACH_RETRY_S = 0.02
READ_BYTES = 65536
SELECT_SLICE_S = 0.5
END_TIMEOUT_S = 30  # after varnex has ended, for the clients' last bytes
HTTP_OK = b" 200 "


class Client:
    """One event-stream reader: the events it was sent, by name, and the last "end" event."""

    def __init__(self):
        self.sock = None
        self.header = b""
        self.body = b""
        self.status_ok = None
        self.events = {}
        self.first = None
        self.end = None
        self.refusals = 0
        self.closed = False

    def take(self, data):
        if self.status_ok is None:
            self.header += data
            if b"\r\n\r\n" not in self.header:
                return
            self.header, data = self.header.split(b"\r\n\r\n", 1)
            self.status_ok = HTTP_OK in self.header.split(b"\r\n", 1)[0]
            if not self.status_ok:
                return
        self.body += data
        while b"\n\n" in self.body:
            block, self.body = self.body.split(b"\n\n", 1)
            self.event(block.decode(errors="replace"))

    def event(self, block):
        name, data = None, None
        for line in block.split("\n"):
            if line.startswith("event: "):
                name = line[len("event: "):]
            elif line.startswith("data: "):
                data = line[len("data: "):]
        if name is None:
            return  # a heartbeat or the reconnect delay
        self.events[name] = self.events.get(name, 0) + 1
        self.first = self.first or name
        if name == "end":
            self.end = json.loads(data)


class EventClients:
    """count clients of GET /api/events, attached as soon as the board listens and read in one
    thread until the station closes their streams. A stream refused (the board still
    starting) is asked for again."""

    def __init__(self, port, count):
        self.address = (LOOPBACK, port)
        self.host = "%s:%d" % self.address
        self.clients = [Client() for _ in range(count)]
        self.selector = selectors.DefaultSelector()
        self.stopping = threading.Event()
        self.error = None
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _attach(self, client):
        deadline = time.monotonic() + ATTACH_TIMEOUT_S
        while not self.stopping.is_set():
            try:
                sock = socket.create_connection(self.address, timeout=ATTACH_TIMEOUT_S)
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise AssertionError("the web board did not listen on %s" % self.host)
                time.sleep(ATTACH_RETRY_S)
        else:
            return
        sock.sendall(("GET /api/events HTTP/1.1\r\nHost: %s\r\nAccept: text/event-stream\r\n\r\n"
                      % self.host).encode())
        sock.setblocking(False)
        client.sock, client.header, client.status_ok = sock, b"", None
        self.selector.register(sock, selectors.EVENT_READ, client)

    def _run(self):
        try:
            for client in self.clients:
                self._attach(client)
            while not self.stopping.is_set() and not all(c.closed for c in self.clients):
                for key, _ in self.selector.select(SELECT_SLICE_S):
                    self._read(key.data)
        except Exception as error:  # reported with the figure, not lost in a thread
            self.error = "%s: %s" % (type(error).__name__, error)
        finally:
            for client in self.clients:
                if client.sock is not None:
                    client.sock.close()

    def _read(self, client):
        try:
            data = client.sock.recv(READ_BYTES)
        except BlockingIOError:
            return
        except OSError:
            data = b""
        if data:
            client.take(data)
            if client.status_ok is not False:
                return
        self.selector.unregister(client.sock)
        client.sock.close()
        client.sock = None
        if client.status_ok is False and client.end is None:
            client.refusals += 1
            self._attach(client)
        else:
            client.closed = True

    def finish(self):
        self.thread.join(END_TIMEOUT_S)
        self.stopping.set()
        self.thread.join()


def run(work_dir, ports=PORTS, units_per_port=UNITS_PER_PORT, clients=CLIENTS):
    folder = os.path.join(work_dir, "station-web-units")
    os.makedirs(folder, exist_ok=True)
    records = st.fresh_records(folder)
    total = ports * units_per_port
    (http_port,) = free_ports(1)
    units = st.start_lines(folder, ports, units_per_port)
    readers = None
    try:
        args = ["station", "--bootloader", "--baud", str(st.BAUD), "--records", records, "--station", "bench",
                "--count", str(total), "--json", "--http", "%s:%d" % (LOOPBACK, http_port)]
        for unit in units:
            args += ["--port", unit.link]
        readers = EventClients(http_port, clients)
        _, wall, cpu, hung = st.timed_run(args, units)
        readers.finish()
        histories = st.line_histories(units)
    finally:
        if readers is not None:
            readers.stopping.set()
        for unit in units:
            unit.stop()
    result = st.judge(st.read_rows(records), [(u.link, h) for u, h in zip(units, histories)], units_per_port)
    # A client counts as attached to the end when its stream began with the whole board and
    # ended with the station's last counters: every unit loaded, none failed.
    followed = [c for c in readers.clients
                if c.first == "state" and c.end == {"loaded": total, "failed": 0}]
    result.update({"ports": ports, "stopped_at_timeout": hung, "wall_seconds": wall, "cpu_seconds": cpu,
                   "cpu_percent_per_port": cpu / wall * 100.0 / ports, "clients": clients,
                   "clients_not_following": clients - len(followed),
                   "client_refusals": sum(c.refusals for c in readers.clients),
                   "client_events_fewest": min(sum(c.events.values()) for c in readers.clients),
                   # The board means to send a port's progress at most four times a second.
                   "port_events_per_port_second": max(c.events.get("port", 0) for c in readers.clients)
                   / ports / wall,
                   "client_events": [c.events for c in readers.clients]})
    if readers.error:
        result["client_error"] = readers.error
    return result
