"""The records file as a user other than root meets it: a records file that user may not write
stops the station at open (exit 2) before any port is touched, as an unwritable folder does,
instead of failing at the first row."""
import os
import pwd
import shutil
import stat
import subprocess
import tempfile

import pytest

from simunits import VARNEX, varnex_env

START_S = 30


@pytest.fixture
def user_folder():
    """A user whom file modes bind (root writes any file: then the user nobody), and a folder
    of that user's."""
    user = pwd.getpwuid(os.geteuid())
    if os.geteuid() == 0:
        try:
            user = pwd.getpwnam("nobody")
        except KeyError:
            pytest.skip("no user nobody here")
    path = tempfile.mkdtemp(prefix="vx-records-")  # pytest's own folders are root's alone
    os.chmod(path, 0o755)
    os.chown(path, user.pw_uid, user.pw_gid)
    yield path, user
    shutil.rmtree(path, ignore_errors=True)


def as_user(user, args, units):
    """varnex run as that user: (exit code, stdout, stderr)."""
    command = [VARNEX] + args
    if user.pw_uid != os.geteuid():
        command = ["setpriv", "--reuid=%d" % user.pw_uid, "--regid=%d" % user.pw_gid, "--clear-groups"] + command
    run = subprocess.run(command, capture_output=True, text=True, timeout=START_S, env=varnex_env(units))
    return run.returncode, run.stdout, run.stderr


def test_a_records_file_its_user_cannot_write_stops_the_station_before_any_port_is_touched(units, user_folder):
    folder, user = user_folder
    (unit,) = units(1, "--line", "1")
    records = os.path.join(folder, "shift.db")
    # The user's own records file, made by varnex (an erase on a port that is not there).
    code, out, err = as_user(user, ["erase", "--port", os.path.join(folder, "no-such-port"), "--records", records],
                             [unit])
    assert code == 1 and os.path.exists(records), out + err
    os.chmod(records, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)

    code, out, err = as_user(user, ["station", "--bootloader", "--baud", "115200", "--records", records,
                                      "--port", unit.link], [unit])
    assert code == 3, out + err
    assert records in err and "cannot be used" in err and "read-only" in err, err
    assert not os.path.exists(unit.modem + ".pc")  # the port was never opened
    assert unit.request(cmd="status")["counters"]["bytes_in"] == 0
