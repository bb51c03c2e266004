"""The station as a system service under a real systemd (systembox.py), installed from its
Debian package and driven with the administrator's own commands, against simulated units and
the throwaway PostgreSQL: it loads units and keeps their rows in /var/lib/varnex with its
history in the journal; the password in the credential store brings the rows to the server;
a stop is a stop; a station that can no longer work, or cannot start, ends failed after the
documented retries; a killed station is started again and its cut load reads interrupted."""
import time

from stationbox import STATE_DIR, unit_name
from systembox import wait_until

LINE_GAP_MS = "1500"
FINISH_S = 120
# The unit file's start limit: a station that cannot work is failed within about a minute.
FAILED_WITHIN_S = 90
RESTART_SEC = 2
# The journal's lines in which an administrator finds why a station ended failed: the
# station's last words and systemd's few lines on the retries after them.
LAST_LINES = 10
# The unit file's exit codes: a configuration that cannot be used, a station that cannot work.
EXIT_USAGE = 2
EXIT_CANNOT_WORK = 3


def loading(unit):
    """True once the unit is taking an image."""
    return unit.request(cmd="image")["current"].get("present")


def server_rows(pg, station):
    return pg.admin_sql("SELECT port, CASE WHEN ended_at IS NULL THEN 'interrupted' ELSE result END "
                        "FROM varnex_loads WHERE station = '%s' ORDER BY row_id" % station)


def give_password(machine, station, pg):
    """The README's commands: the passfile line in the credential store, root's, mode 0600."""
    line = "127.0.0.1:%d:records:varnex:%s" % (pg.port, pg.password)
    machine.sh("install -d -m 0700 /etc/credstore\n"
               "install -m 0600 /dev/null /etc/credstore/varnex-%s.pgpass\n"
               "echo '%s' | tee /etc/credstore/varnex-%s.pgpass >/dev/null" % (station, line, station))


def test_enable_now_loads_units_into_the_state_folder_with_the_board_in_the_journal(machine):
    units = machine.make_units(2, "--line", "2", "--line-gap-ms", LINE_GAP_MS)
    # No password file and a server that is never asked: the station starts all the same.
    machine.configure("bench1", units, count=4)
    machine.box.systemctl("enable", "--now", unit_name("bench1"))
    assert machine.box.systemctl("is-enabled", unit_name("bench1")).stdout.strip() == "enabled"
    assert wait_until(lambda: machine.state("bench1")[0] == "inactive", FINISH_S), machine.said("bench1")
    assert machine.state("bench1") == ("inactive", "success", 0, 0)
    rows = machine.records("bench1")
    assert sorted((r["port"], r["unit"], r["result"]) for r in rows) == [
        (port, number, "confirmed") for port in ("fixture 1", "fixture 2") for number in (1, 2)]
    # The service's user's, and not for every user of the machine to read.
    assert machine.box.run("stat", "-c", "%U %a", STATE_DIR + "/bench1.db").stdout.split() == ["varnex", "640"]
    journal = machine.journal("bench1")
    for port in ("fixture 1", "fixture 2"):
        assert sum(1 for line in journal if line.startswith(port + ": done: ")) == 2, journal


def test_the_password_in_the_credential_store_brings_the_rows_to_the_server(machine, pg_server):
    units = machine.make_units(1, "--line", "2", "--line-gap-ms", LINE_GAP_MS)
    give_password(machine, "bench2", pg_server)
    machine.configure("bench2", units, forward=pg_server.url)
    machine.box.systemctl("enable", "--now", unit_name("bench2"))
    expected = [["fixture 1", "confirmed"]] * 2
    assert wait_until(lambda: server_rows(pg_server, "bench2") == expected, FINISH_S), machine.said("bench2")
    assert machine.results("bench2") == [("fixture 1", "confirmed")] * 2


def test_a_stop_during_a_load_is_stopped_in_the_file_and_on_the_server_and_leaves_the_unit_inactive(
        machine, pg_server):
    (unit,) = machine.make_units(1, "--line", "1", "--pace")  # a paced load takes about 24 s
    give_password(machine, "bench3", pg_server)
    machine.configure("bench3", [unit], forward=pg_server.url)
    machine.box.systemctl("start", unit_name("bench3"))
    assert wait_until(lambda: loading(unit), FINISH_S), machine.said("bench3")
    # The stop returns once the station has ended: its last rows are on the server by then.
    machine.box.systemctl("stop", unit_name("bench3"))
    assert machine.results("bench3") == [("fixture 1", "stopped")]
    assert server_rows(pg_server, "bench3") == [["fixture 1", "stopped"]]
    active, result, _, restarts = machine.state("bench3")
    assert (active, result, restarts) == ("inactive", "success", 0)
    assert machine.box.systemctl("is-failed", unit_name("bench3"), check=False).stdout.strip() == "inactive"
    journal = machine.journal("bench3")
    assert any("stopped" in line for line in journal) and not any("Ctrl-C" in line for line in journal), \
        machine.said("bench3")


def fill(machine, folder):
    """Writes a filler into folder until its file system has no room left."""
    machine.box.run("dd", "if=/dev/zero", "of=%s/filler" % folder, "bs=64k", check=False)


def assert_failed_and_stays_failed(machine, station, reason):
    """Failed within about a minute, as an administrator sees it (systemctl --failed, is-failed,
    and the reason among the journal's last lines), and not started again after; its
    (Result, ExecMainStatus, NRestarts)."""
    unit = unit_name(station)
    assert wait_until(lambda: machine.state(station)[0] == "failed", FAILED_WITHIN_S), machine.said(station)
    assert machine.box.systemctl("is-failed", unit, check=False).stdout.strip() == "failed"
    assert unit in machine.box.systemctl("--failed", "--no-legend").stdout
    # After the start limit, systemctl status shows only the refused start's own lines.
    last = machine.box.run("journalctl", "--no-pager", "-u", unit, "-n", str(LAST_LINES)).stdout
    assert reason in last, last
    ended = machine.state(station)
    time.sleep(RESTART_SEC * 2)
    assert machine.state(station) == ended
    return ended[1:]


def test_a_full_disk_ends_the_station_failed_after_the_start_limit(machine):
    # The records' file system: small, and filled up once the first unit is in.
    machine.sh("mount -t tmpfs -o size=4m,mode=0750 records %s && chown varnex:varnex %s" % (STATE_DIR, STATE_DIR))
    units = machine.make_units(1, "--line", "20", "--line-gap-ms", LINE_GAP_MS)
    machine.configure("bench4", units)
    machine.box.systemctl("start", unit_name("bench4"))
    assert wait_until(lambda: ("fixture 1", "confirmed") in machine.results("bench4", check=False),
                      FINISH_S), machine.said("bench4")
    fill(machine, STATE_DIR)
    result, status, restarts = assert_failed_and_stays_failed(machine, "bench4", "disk is full")
    # Tried again, as the unit's start limit allows, and no more.
    burst = int(machine.box.show(unit_name("bench4"), "StartLimitBurst"))
    assert status == EXIT_CANNOT_WORK and 1 <= restarts <= burst, (result, status, restarts)
    # Room made, the administrator clears the start limit and starts it again.
    machine.box.run("rm", STATE_DIR + "/filler")
    machine.box.systemctl("reset-failed", unit_name("bench4"))
    machine.box.systemctl("start", unit_name("bench4"))
    assert machine.state("bench4")[0] == "active"


def test_a_configuration_the_station_refuses_is_failed_at_once_and_never_tried_again(machine):
    units = machine.make_units(1)
    machine.configure("bench5", units, colour="green")
    machine.box.systemctl("start", unit_name("bench5"), check=False)
    assert assert_failed_and_stays_failed(machine, "bench5", "/etc/varnex/bench5.toml") == ("exit-code", EXIT_USAGE, 0)
    assert "colour" in machine.box.systemctl("status", unit_name("bench5"), check=False).stdout  # no retries here
    machine.configure("bench5", units)  # mended
    machine.box.systemctl("start", unit_name("bench5"))
    assert machine.state("bench5")[0] == "active"


def test_a_killed_station_is_started_again_and_its_cut_load_reads_interrupted(machine):
    (unit,) = machine.make_units(1, "--line", "2", "--pace")
    machine.configure("bench6", [unit])
    machine.box.systemctl("start", unit_name("bench6"))
    assert wait_until(lambda: loading(unit), FINISH_S), machine.said("bench6")
    killed = machine.main_pid("bench6")
    machine.box.run("kill", "-9", str(killed))
    assert wait_until(lambda: machine.state("bench6")[3] == 1 and machine.state("bench6")[0] == "active",
                      FINISH_S), machine.said("bench6")
    assert machine.main_pid("bench6") not in (0, killed)
    assert machine.results("bench6")[0] == ("fixture 1", "interrupted")
    machine.box.systemctl("stop", unit_name("bench6"))
