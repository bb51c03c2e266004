"""Fixtures of the release tests: the arm64 varnex run by qemu-user against simulated units
(tests/cli/simunits.py), the packaging and release checks of scripts/, and the station service
installed from its package on a throwaway systemd machine. The release layer of make test
builds the arm64 varnex, its modem-line library and the x86-64 release varnex first."""
import importlib.util
import os
import subprocess
import sys

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "tests", "cli"))
sys.path.insert(0, os.path.join(REPO, "scripts"))

from simunits import BUILD, SIM, varnex_env  # noqa: E402


def _load_cli_fixtures():
    path = os.path.join(REPO, "tests", "cli", "conftest.py")
    spec = importlib.util.spec_from_file_location("cli_fixtures", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


ARM64 = os.path.join(BUILD, "dist-linux-arm64")
VARNEX_ARM64 = os.path.join(ARM64, "cli", "varnex")
# Built for arm64 like the program it is preloaded into: qemu-user runs both.
MODEM_LIBRARY_ARM64 = os.path.join(ARM64, "modemlines", "libvarnexmodem.so")
QEMU = "qemu-aarch64-static"
# The x86-64 varnex as make dist builds it, for the package the service tests install.
VARNEX_X86_64 = os.path.join(BUILD, "dist-linux-x86_64", "cli", "varnex")
ARM64_SYSROOT = "/usr/aarch64-linux-gnu"


def version():
    with open(os.path.join(REPO, "VERSION")) as f:
        return f.readline().strip()


@pytest.fixture(scope="session", autouse=True)
def built():
    for path in (VARNEX_ARM64, MODEM_LIBRARY_ARM64, VARNEX_X86_64, SIM):
        if not os.path.exists(path):
            pytest.exit("not built: %s (the release layer of make test builds it)" % path, returncode=1)


# The command-line tests' fixtures: simulated units, stopped after each test, and the
# throwaway PostgreSQL of the whole run.
_cli_fixtures = _load_cli_fixtures()
units = _cli_fixtures.units
pg_server = _cli_fixtures.pg_server


@pytest.fixture(scope="session")
def station_deb(tmp_path_factory):
    """The Debian package of the x86-64 release varnex, made as make dist makes it."""
    from stationbox import make_deb
    return make_deb(VARNEX_X86_64, str(tmp_path_factory.mktemp("deb")))


@pytest.fixture
def machine(station_deb):
    """A fresh systemd machine with the package installed; skipped, with the reason, where the
    kernel refuses the namespaces it needs."""
    from stationbox import StationMachine
    from systembox import SystemBox, Unavailable, check_machine
    try:
        check_machine()
    except Unavailable as refused:
        pytest.skip("no systemd machine here: %s" % refused)
    box = SystemBox()
    station = None
    try:
        station = StationMachine(box, station_deb)
        yield station
    finally:
        if station:
            station.close()
        box.close()


def run_arm64(args, units=(), timeout=120):
    """(exit code, stdout, stderr) of the arm64 varnex under qemu-user."""
    env = varnex_env(units, {"LD_PRELOAD": MODEM_LIBRARY_ARM64, "QEMU_LD_PREFIX": ARM64_SYSROOT})
    done = subprocess.run([QEMU, VARNEX_ARM64] + list(args), env=env, capture_output=True, timeout=timeout)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")
