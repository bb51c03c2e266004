"""The station service on a throwaway systemd machine (systembox.py), set up as an administrator
sets it up: the Debian package installed with dpkg (its maintainer scripts run for real), a
configuration in /etc/varnex, the records server's password in the credential store, then
systemctl. The simulated units run on this machine; their ptys are shown to the service as a
serial adapter's devices are (group dialout, mode 660), with the modem-line library preloaded
by a drop-in so that CTS works on them."""
import json
import os
import shutil
import tempfile

import dist
from simunits import MODEM_LIBRARY, Unit
from systembox import SHARE_AT

STATE_DIR = "/var/lib/varnex"
MODEM_LIBRARY_AT = "/usr/local/lib/varnex-box/libvarnexmodem.so"
DIALOUT = "dialout"


def make_deb(binary, folder):
    """The .deb that make dist would make of this program, in folder; its path."""
    version, epoch = dist.read_version(), dist.source_date_epoch()
    entries = dist.deb_files(binary, version, epoch)
    control = dist.deb_control(version, "amd64", dist.glibc_floor(binary), entries)
    path = os.path.join(folder, "varnex_%s_amd64.deb" % version)
    dist.write_deb(path, entries, control, epoch, tempfile.mkdtemp(prefix="deb-", dir=folder))
    return path


def unit_name(station):
    return "varnex-station@%s.service" % station


class StationMachine:
    """A box with the package installed, where configure() sets up stations of simulated units."""

    def __init__(self, box, deb):
        self.box = box
        self.units = []
        inside = os.path.join(SHARE_AT, os.path.basename(deb))
        shutil.copy(deb, os.path.join(box.share, os.path.basename(deb)))
        # dpkg's trigger would index every manual page of the machine again, for nobody.
        box.run("rm", "-f", "/var/lib/man-db/auto-update")
        box.run("dpkg", "--install", inside)
        with open(MODEM_LIBRARY, "rb") as library:
            box.write(MODEM_LIBRARY_AT, library.read(), 0o755)

    def make_units(self, count, *sim_args):
        """Simulated units whose folders the service can reach; stopped by close()."""
        new = [Unit(self.box.share, sim_args) for _ in range(count)]
        self.units.extend(new)
        dialout = int(self.box.run("getent", "group", DIALOUT).stdout.split(":")[2])
        for unit in new:
            # The unit's own files: the station reads its modem lines and writes its own.
            os.chmod(unit.dir, 0o777)
            os.chown(unit.slave, 0, dialout)
            os.chmod(unit.slave, 0o660)
        return new

    def inside(self, path):
        """A machine path under the shared folder, as the box sees it."""
        return os.path.join(SHARE_AT, os.path.relpath(path, self.box.share))

    def configure(self, name, units, **keys):
        """/etc/varnex/NAME.toml: the station NAME loading the bootloader into the units, its
        records in the state folder, and the given keys; and a drop-in that wires the test's
        ptys in as a serial adapter's devices would be."""
        settings = dict(station=name, image="bootloader", baud=115200, records="%s/%s.db" % (STATE_DIR, name))
        settings.update(keys)
        lines = ["%s = %s" % (key, json.dumps(value)) for key, value in settings.items()]
        for number, unit in enumerate(units, 1):
            lines += ["", "[[port]]", 'name = "fixture %d"' % number,
                      "device = %s" % json.dumps(self.inside(unit.link))]
        self.box.write("/etc/varnex/%s.toml" % name, "\n".join(lines) + "\n")
        modem_map = ";".join("%s=%s" % (u.slave, self.inside(u.modem)) for u in units)
        self.box.write("/etc/systemd/system/%s.d/simulated-units.conf" % unit_name(name),
                       "[Service]\nEnvironment=LD_PRELOAD=%s\nEnvironment=\"VARNEX_MODEM_MAP=%s\"\n"
                       "DeviceAllow=char-pts rw\nReadWritePaths=%s\n" % (MODEM_LIBRARY_AT, modem_map, SHARE_AT))
        self.box.systemctl("daemon-reload")

    def sh(self, script, check=True):
        """An administrator's shell commands, run as root in the box."""
        return self.box.run("sh", "-ec", script, check=check)

    def records(self, station, check=True):
        """The rows of the station's file; with check off, none while the file is still being
        made (for polling)."""
        done = self.box.run("varnex", "records", "%s/%s.db" % (STATE_DIR, station), "--format", "json", check=check)
        return [json.loads(line) for line in done.stdout.splitlines() if line.strip()] if done.returncode == 0 else []

    def results(self, station, check=True):
        return [(row["port"], row["result"]) for row in self.records(station, check)]

    def state(self, station):
        """(ActiveState, Result, ExecMainStatus, NRestarts) of the station's unit."""
        said = self.box.systemctl("show", "-p", "ActiveState", "-p", "Result", "-p", "ExecMainStatus", "-p",
                                  "NRestarts", unit_name(station)).stdout
        values = dict(line.split("=", 1) for line in said.splitlines() if "=" in line)
        return values["ActiveState"], values["Result"], int(values["ExecMainStatus"]), int(values["NRestarts"])

    def main_pid(self, station):
        return int(self.box.show(unit_name(station), "MainPID"))

    def journal(self, station):
        return self.box.journal(unit_name(station)).splitlines()

    def said(self, station):
        """The station's journal, for a failed assertion's message."""
        return "journal of %s:\n%s" % (station, "\n".join(self.journal(station)))

    def close(self):
        for unit in self.units:
            unit.stop()
