"""varnex erase and varnex ports against simulated units."""
import os

from simunits import VARNEX

FINISH_S = 60
ERASE_MS = 1000


def test_erase_runs_the_handshake(units, varnex):
    (running,) = units(1)
    running.request(cmd="erase", ms=ERASE_MS)
    code, out, err = varnex(["erase", "--port", running.link, "--json"], [running]).wait(FINISH_S)
    assert code == 0, out + err
    assert '"event":"done"' in out.replace(" ", "")
    assert "erase_done" in [e["event"] for e in running.events()]
    assert 115200 in running.line_speeds()


def test_ports_lists_and_probes_the_simulated_ports(units, varnex):
    ready = units(1, "--mode", "bootloader")[0]
    off = units(1, "--mode", "off")[0]
    env = {"VARNEX_EXTRA_PORTS": ":".join([ready.link, off.link, "/tmp/varnex-no-such-port"])}
    code, out, err = varnex(["ports"], [ready, off], env).wait(FINISH_S)
    assert code == 0, out + err
    lines = {line.split()[0]: line for line in out.splitlines() if line.strip()}
    assert ready.slave in lines[ready.link] and ready.link in lines
    assert "/tmp/varnex-no-such-port" not in lines
    code, out, err = varnex(["ports", "--probe"], [ready, off], env).wait(FINISH_S)
    assert code == 0, out + err
    lines = {line.split()[0]: line for line in out.splitlines() if line.strip()}
    assert "CTS up" in lines[ready.link]
    assert "CTS down" in lines[off.link]


def test_help_version_and_remember(varnex):
    for args in (["--help"], ["download", "--help"], ["erase", "--help"], ["ports", "--help"], ["--version"]):
        code, out, err = varnex(args, []).wait(FINISH_S)
        assert code == 0 and out, args
    code, out, err = varnex(["ports", "--remember", "/dev/ttyS0"], []).wait(FINISH_S)
    assert code == 1 and "Windows" in err
    assert os.path.exists(VARNEX)
