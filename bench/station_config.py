"""varnex station of 64 ports from one configuration file: 32 lines of units on local ports
and 32 behind one Debian ser2net on the loopback address (each its own rfc2217:// port), two
units each, every port named in the file. Every row right (found by the name the file gives
its port), every image identical, each load against the line limit, varnex's CPU per port,
and each simulated unit's CPU (the busiest counted)."""
import os

import varnex_station as st
from ser2net import Ser2net

LOCAL_PORTS = 32
NETWORK_PORTS = 32
UNITS_PER_PORT = 2
RUN_TIMEOUT_S = 300  # the two loads take under a minute; a station that stops loading is ended here
# A server tells CTS up to a second late, so a unit on a network port is off for longer than
# the station's second before the next comes (the README asks two seconds of the operator).
NETWORK_LINE_GAP_MS = 3000


def process_cpu_seconds(pid):
    """User plus system time a process has used so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def toml_text(value):
    return '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')


def write_config(folder, records, named_devices, count):
    """The station's whole setup in one file: nothing of it on the command line."""
    lines = ["station = %s" % toml_text("bench"), 'image = "bootloader"', "baud = %d" % st.BAUD,
             "records = %s" % toml_text(records), "count = %d" % count, "json = true"]
    for name, device in named_devices:
        lines += ["", "[[port]]", "name = %s" % toml_text(name), "device = %s" % toml_text(device)]
    path = os.path.join(folder, "station-%d.toml" % os.getpid())
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def run(work_dir, local_ports=LOCAL_PORTS, network_ports=NETWORK_PORTS, units_per_port=UNITS_PER_PORT):
    folder = os.path.join(work_dir, "station-config-units")
    os.makedirs(folder, exist_ok=True)
    records = st.fresh_records(folder)
    ports = local_ports + network_ports
    units = st.start_lines(folder, local_ports, units_per_port)
    try:
        units += st.start_lines(folder, network_ports, units_per_port, line_gap_ms=NETWORK_LINE_GAP_MS)
    except BaseException:
        for unit in units:
            unit.stop()
        raise
    server = None
    try:
        server = Ser2net(units[local_ports:])
        devices = [unit.link for unit in units[:local_ports]] + server.urls
        names = ["fixture %d" % (number + 1) for number in range(ports)]
        config = write_config(folder, records, list(zip(names, devices)), ports * units_per_port)
        sims_before = [process_cpu_seconds(unit.process.pid) for unit in units]
        ser2net_before = process_cpu_seconds(server.process.pid)
        _, wall, cpu, hung = st.timed_run(["station", "--config", config], units, RUN_TIMEOUT_S)
        sims = [process_cpu_seconds(unit.process.pid) - before for unit, before in zip(units, sims_before)]
        ser2net_cpu = process_cpu_seconds(server.process.pid) - ser2net_before
        histories = st.line_histories(units)
    finally:
        if server:
            server.stop()
        for unit in units:
            unit.stop()
    result = st.judge(st.read_rows(records), list(zip(names, histories)), units_per_port)
    result.update({"ports": ports, "stopped_at_timeout": hung, "local_ports": local_ports,
                   "network_ports": network_ports,
                   "wall_seconds": wall, "cpu_seconds": cpu, "cpu_percent_per_port": cpu / wall * 100.0 / ports,
                   "sim_cpu_percent_worst": max(sims) / wall * 100.0,
                   "sim_cpu_percent_mean": sum(sims) / len(sims) / wall * 100.0,
                   "ser2net_cpu_percent_per_port": ser2net_cpu / wall * 100.0 / network_ports})
    return result
