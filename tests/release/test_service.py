"""The station's system service as the Debian packages install it: the unit file passes
systemd's own check, and the maintainer scripts create the user and group once, however often
they run, and leave the records on purge. No running systemd is needed: the unit is checked
against a copy of the system's units, and the scripts run against stand-in account tools."""
import os
import shutil
import stat
import subprocess

import dist

UNIT = os.path.join(dist.REPO, "packaging", dist.SERVICE_UNIT)
SYSTEM_UNITS = "/usr/lib/systemd/system"


def verify(unit_text, tmp_path, unit_file=dist.SERVICE_UNIT, instance="varnex-station@line3-bench2.service"):
    """What systemd-analyze verify says of an instance of the unit, installed in a root of its own."""
    root = tmp_path / "root"
    shutil.copytree(SYSTEM_UNITS, str(root / "usr/lib/systemd/system"), symlinks=True)
    (root / "usr/lib/systemd/system" / unit_file).write_text(unit_text)
    program = root / "usr/bin/varnex"
    program.parent.mkdir(parents=True)
    program.write_text("#!/bin/sh\n")
    program.chmod(0o755)
    done = subprocess.run(["systemd-analyze", "verify", "--man=no", "--root=%s" % root,
                           instance], capture_output=True, text=True)
    return done.returncode, (done.stdout + done.stderr).strip()


def test_the_unit_passes_systemd_analyze_verify(tmp_path):
    with open(UNIT) as f:
        text = f.read()
    assert verify(text, tmp_path / "good") == (0, "")
    # The check sees a mistake (it would not be worth running otherwise).
    code, said = verify(text.replace("RestartSec=2", "RestartSec=2\nRestartSecs=2"), tmp_path / "bad")
    assert "RestartSecs" in said
    settings = [line for line in text.splitlines() if line and not line.startswith("#")]
    for expected in ("ExecStart=/usr/bin/varnex station --config /etc/varnex/%i.toml", "User=varnex",
                     "StateDirectory=varnex", "Restart=on-failure", "RestartSec=2", "KillSignal=SIGTERM",
                     "NoNewPrivileges=yes", "ProtectSystem=strict", "ProtectHome=yes", "PrivateTmp=yes",
                     "DevicePolicy=closed", "DeviceAllow=char-ttyUSB rw", "DeviceAllow=char-ttyACM rw"):
        assert expected in settings


def test_the_line_page_s_unit_passes_and_is_hardened_as_the_station_s(tmp_path):
    with open(os.path.join(dist.REPO, "packaging", dist.LINE_UNIT)) as f:
        text = f.read()
    assert verify(text, tmp_path, dist.LINE_UNIT, dist.LINE_UNIT) == (0, "")
    settings = [line for line in text.splitlines() if line and not line.startswith("#")]
    with open(UNIT) as f:
        station = [line for line in f.read().splitlines() if line and not line.startswith("#")]
    # Every hardening of the station's, but what its serial devices need.
    hardening = station[station.index("NoNewPrivileges=yes"):station.index("[Install]")]
    for_devices = ("DeviceAllow=", "PrivateUsers=")
    assert [s for s in hardening if s not in settings and not s.startswith(for_devices)] == []
    assert "ExecStart=/usr/bin/varnex line ${VARNEX_LINE_URL} --http ${VARNEX_LINE_HTTP} $VARNEX_LINE_OPTIONS" \
        in settings
    assert "User=varnex" in settings and "PrivateDevices=yes" in settings


# Stand-ins for the account tools, keeping users and groups in two files and every call in a log.
FAKE_TOOLS = {
    "getent": """#!/bin/sh
grep -q "^$2:" "$FAKE/$1" && grep "^$2:" "$FAKE/$1"
""",
    "addgroup": """#!/bin/sh
echo "addgroup $*" >>"$FAKE/log"
for name; do :; done
grep -q "^$name:" "$FAKE/group" && exit 1
echo "$name:" >>"$FAKE/group"
""",
    "adduser": """#!/bin/sh
echo "adduser $*" >>"$FAKE/log"
case "$*" in
  *--system*) for name; do :; done; echo "$name:" >>"$FAKE/passwd" ;;
  *) sed -i "s/^$3:\\(.*\\)/$3:\\1 $2/" "$FAKE/group" ;;
esac
""",
    "id": """#!/bin/sh
echo "$2"; grep " $2\\b" "$FAKE/group" | cut -d: -f1
""",
    "chown": """#!/bin/sh
echo "chown $*" >>"$FAKE/log"
""",
}


def run_script(name, argument, fake, root):
    env = dict(os.environ, FAKE=str(fake), DPKG_ROOT=str(root), PATH="%s:%s" % (fake / "bin", os.environ["PATH"]))
    script = os.path.join(dist.REPO, "packaging", "deb", name)
    done = subprocess.run(["sh", "-e", script, argument], env=env, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr


def test_the_maintainer_scripts_add_the_user_once_and_purge_keeps_the_records(tmp_path):
    fake, root = tmp_path / "fake", tmp_path / "root"
    (fake / "bin").mkdir(parents=True)
    root.mkdir()
    for name, text in FAKE_TOOLS.items():
        tool = fake / "bin" / name
        tool.write_text(text)
        tool.chmod(stat.S_IRWXU)
    (fake / "group").write_text("dialout:\n")
    (fake / "passwd").write_text("root:\n")
    (fake / "log").write_text("")

    run_script("postinst", "configure", fake, root)
    records = root / "var/lib/varnex/line3-bench2.db"
    assert oct(records.parent.stat().st_mode & 0o777) == "0o750"
    records.write_bytes(b"the shift's rows")
    run_script("postinst", "configure", fake, root)  # an upgrade or a reinstall
    calls = (fake / "log").read_text().splitlines()
    assert calls == ["addgroup --system --quiet varnex",
                     "adduser --system --quiet --ingroup varnex --no-create-home --home /nonexistent "
                     "--shell /usr/sbin/nologin --gecos Varnex 410 loading station varnex",
                     "adduser --quiet varnex dialout",
                     "chown varnex:varnex %s" % records.parent]
    assert (fake / "group").read_text() == "dialout: varnex\nvarnex:\n"

    for step in ("remove", "purge"):
        run_script("postrm", step, fake, root)
    assert records.read_bytes() == b"the shift's rows"
