"""Fixtures of the command-line tests: simulated units and varnex runs, each cleaned up after
its test (see simunits.py)."""
import os

import pytest

from simunits import MODEM_LIBRARY, SIM, VARNEX, Unit, Varnex


@pytest.fixture(scope="session", autouse=True)
def built():
    for path in (VARNEX, SIM, MODEM_LIBRARY):
        if not os.path.exists(path):
            pytest.exit("not built: %s (run make build)" % path, returncode=1)


@pytest.fixture
def units(tmp_path):
    """make(count, *sim_args) starts simulated units; all are stopped after the test."""
    started = []

    def make(count=1, *args):
        new = [Unit(str(tmp_path), args) for _ in range(count)]
        started.extend(new)
        return new

    yield make
    for unit in started:
        unit.stop()


@pytest.fixture
def unit(units):
    """One simulated unit."""
    return units(1)[0]


@pytest.fixture
def folder(tmp_path):
    """The test's own files, apart from the simulated units' folders."""
    path = tmp_path / "files"
    path.mkdir()
    return path


@pytest.fixture
def varnex():
    """varnex(args, units, env) starts the loader; any still running are killed after."""
    running = []

    def start(args, units, env=None):
        run = Varnex(args, units, env)
        running.append(run)
        return run

    yield start
    for run in running:
        if run.process.poll() is None:
            run.process.kill()
            run.process.communicate()


@pytest.fixture(scope="session")
def pg_server():
    """One throwaway PostgreSQL 15 for the whole run, stopped at its end whatever happened."""
    from pgserver import PgServer
    server = PgServer()
    try:
        server.start_fresh()
        yield server
    finally:
        server.close()
