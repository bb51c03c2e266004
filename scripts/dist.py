#!/usr/bin/env python3
"""Packs the release builds into the files given to users: the Windows zip, a Debian package
and a tar.gz for each Linux architecture, and SHA256SUMS over them all (make dist).

Every archive is reproducible: entries sorted by name, each dated to the last commit
(SOURCE_DATE_EPOCH), owned by root, with fixed permissions, and compressed without a name
or a date of its own; so the output depends only on the commit and the binaries."""
import argparse
import gzip
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import textwrap
import time
import zipfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGE = "varnex"
# The package's maintainer as dpkg and lintian want it: a name and a mail address.
MAINTAINER = "Quorvanta <varnex@quorvanta.example>"
WINDOWS_PROGRAMS = ("Varnex410Download.exe", "Varnex410Service.exe", "varnex.exe")
# Linux architecture as in the tar.gz name -> (release build folder, Debian architecture).
LINUX_BUILDS = {
    "x86_64": ("dist-linux-x86_64", "amd64"),
    "arm64": ("dist-linux-arm64", "arm64"),
}
EXECUTABLE_MODE = 0o755
FILE_MODE = 0o644
# A zip entry cannot be dated before 1980.
ZIP_EARLIEST_EPOCH = 315532800
GZIP_LEVEL = 9

TARBALL_README = """varnex {version}, the command-line loader of the Varnex 410 readout unit, for Linux ({arch}).

It needs only the C library (glibc {glibc} or later). To install it for every user:

    sudo install -Dm 755 varnex /usr/local/bin/varnex
    sudo install -Dm 644 varnex.1 /usr/local/share/man/man1/varnex.1
    sudo install -Dm 644 varnex.bash-completion /usr/local/share/bash-completion/completions/varnex
    sudo adduser "$USER" dialout    # the right to open serial ports; log in again after it

Then "man varnex" describes every command.
"""

DEB_DESCRIPTION = """\
loads firmware into Varnex 410 readout units over serial ports
 varnex loads new firmware into Varnex 410 readout units over RS-232 serial
 lines, several units at once, from scripts and production lines: each unit
 has its own worker and fails on its own. It also carries the service
 functions of a running unit (NLEC table, settings, programs, bitmaps, flash
 erase, the unit's log) and writes JSON records for production lines."""


class Entry:
    """One file of a package: its path inside the package, its bytes and its permissions."""

    def __init__(self, name, data, mode=FILE_MODE):
        self.name, self.data, self.mode = name, data, mode


def read_version():
    with open(os.path.join(REPO, "VERSION")) as f:
        version = f.readline().strip()
    if not re.fullmatch(r"\d+\.\d+\.\d+", version):
        raise SystemExit("VERSION holds %r; it must be MAJOR.MINOR.PATCH" % version)
    return version


def source_date_epoch():
    value = os.environ.get("SOURCE_DATE_EPOCH")
    if value is None:
        value = subprocess.run(["git", "-C", REPO, "log", "-1", "--format=%ct"], capture_output=True,
                               text=True, check=True).stdout.strip()
    if not value.isdigit():
        raise SystemExit("SOURCE_DATE_EPOCH is %r, not a number of seconds" % value)
    return int(value)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def gzip_bytes(data):
    """gzip -9n: no file name and a zero date in the header."""
    return gzip.compress(data, compresslevel=GZIP_LEVEL, mtime=0)


def crlf(data):
    """Text for Windows' Notepad, which older versions show on one line without CRs."""
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def parent_folders(names):
    folders = set()
    for name in names:
        parts = name.split("/")[:-1]
        for i in range(1, len(parts) + 1):
            folders.add("/".join(parts[:i]))
    return folders


def write_tar_gz(path, entries, epoch):
    """tar --sort=name --mtime=@epoch --owner=0 --group=0 --numeric-owner, then gzip -9n."""
    buffer = io.BytesIO()
    items = {e.name: e for e in entries}
    for folder in parent_folders(items):
        items.setdefault(folder, None)
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.GNU_FORMAT) as tar:
        for name in sorted(items):
            entry = items[name]
            info = tarfile.TarInfo(name)
            info.mtime = epoch
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            if entry is None:
                info.type = tarfile.DIRTYPE
                info.mode = EXECUTABLE_MODE
                tar.addfile(info)
            else:
                info.mode = entry.mode
                info.size = len(entry.data)
                tar.addfile(info, io.BytesIO(entry.data))
    with open(path, "wb") as f:
        f.write(gzip_bytes(buffer.getvalue()))


def write_zip(path, entries, epoch):
    """Sorted names, every entry dated to epoch (UTC), no extra fields."""
    date_time = time.gmtime(max(epoch, ZIP_EARLIEST_EPOCH))[:6]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=GZIP_LEVEL) as archive:
        for entry in sorted(entries, key=lambda e: e.name):
            info = zipfile.ZipInfo(entry.name, date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so that the permissions below are read back
            info.external_attr = (0o100000 | entry.mode) << 16
            archive.writestr(info, entry.data)


def glibc_floor(binary):
    """The newest GLIBC_x.y symbol version the binary asks for: the oldest C library it runs on."""
    symbols = subprocess.run(["readelf", "-W", "--dyn-syms", binary], capture_output=True, text=True,
                             check=True).stdout
    versions = {tuple(int(n) for n in m.groups() if n is not None)
                for m in re.finditer(r"@GLIBC_(\d+)\.(\d+)(?:\.(\d+))?", symbols)}
    if not versions:
        raise SystemExit("%s: no GLIBC symbol versions found; is it a dynamically linked Linux program?" % binary)
    return ".".join(str(n) for n in max(versions))


CHANGELOG = os.path.join(REPO, "CHANGELOG.md")
# A Debian changelog's lines stay within lintian's 80 columns.
DEB_CHANGELOG_WIDTH = 79
# A release's heading in CHANGELOG.md: "## 1.2.0 - 2026-12-08".
RELEASE_HEADING = re.compile(r"^## (\d+\.\d+\.\d+) - (\d{4}-\d{2}-\d{2})\s*$")


def read_changelog(text):
    """The releases of CHANGELOG.md, newest first: (version, date, [(heading, [item])]). An
    item is one bullet's text on one line; text that is no bullet (a release's short note)
    is an item of its own."""
    releases = []
    for line in text.splitlines():
        heading = RELEASE_HEADING.match(line)
        if heading:
            releases.append((heading.group(1), heading.group(2), [("", [])]))
            continue
        if line.startswith("## "):
            raise SystemExit("CHANGELOG.md: %r is no release heading (## MAJOR.MINOR.PATCH - YYYY-MM-DD)" % line)
        if not releases or not line.strip():
            continue
        groups = releases[-1][2]
        if line.startswith("### "):
            groups.append((line[4:].strip(), []))
        elif line.startswith("- "):
            groups[-1][1].append(line[2:].strip())
        elif line.startswith("  ") and groups[-1][1]:
            groups[-1][1][-1] += " " + line.strip()
        else:
            groups[-1][1].append(line.strip())
    return releases


def plain(text):
    """Markdown's code marks off, for a text file read with less."""
    return text.replace("`", "")


def deb_changelog(version, changelog_text):
    """Debian's changelog of a native package, one entry per release of CHANGELOG.md, each
    dated at noon UTC of its release day (so it depends on that file alone). The newest
    release must be VERSION: a package never says it is another release than its programs."""
    releases = read_changelog(changelog_text)
    if not releases or releases[0][0] != version:
        raise SystemExit("CHANGELOG.md's newest release is %s, VERSION says %s: add the release to CHANGELOG.md"
                         % (releases[0][0] if releases else "missing", version))
    entries = []
    for number, day, groups in releases:
        lines = []
        for heading, items in groups:
            if not items:
                continue
            if heading:
                lines.append("  [ %s ]" % heading)
            for item in items:
                lines += textwrap.wrap(plain(item), DEB_CHANGELOG_WIDTH, initial_indent="  * ",
                                       subsequent_indent="    ", break_on_hyphens=False, break_long_words=False)
        date = time.strftime("%a, %d %b %Y 12:00:00 +0000", time.strptime(day, "%Y-%m-%d"))
        entries.append("%s (%s) unstable; urgency=medium\n\n%s\n\n -- %s  %s\n"
                       % (PACKAGE, number, "\n".join(lines), MAINTAINER, date))
    return "\n".join(entries).encode()


# The station's and the line page's system services and their configuration folder, in the
# Debian packages.
SERVICE_UNIT = "varnex-station@.service"
LINE_UNIT = "varnex-line.service"
SERVICE_UNIT_FOLDER = "lib/systemd/system/"
CONFIG_FOLDER = "etc/varnex/"
EXAMPLE_CONFIG = "example.toml"
MAINTAINER_SCRIPTS = ("postinst", "postrm")


def deb_files(binary, version, epoch):
    doc = "usr/share/doc/%s/" % PACKAGE
    return [
        Entry(SERVICE_UNIT_FOLDER + SERVICE_UNIT, read(os.path.join(REPO, "packaging", SERVICE_UNIT))),
        Entry(SERVICE_UNIT_FOLDER + LINE_UNIT, read(os.path.join(REPO, "packaging", LINE_UNIT))),
        Entry(CONFIG_FOLDER + EXAMPLE_CONFIG, read(os.path.join(REPO, "packaging", EXAMPLE_CONFIG))),
        Entry("usr/bin/varnex", read(binary), EXECUTABLE_MODE),
        Entry("usr/share/man/man1/varnex.1.gz", gzip_bytes(read(os.path.join(REPO, "docs", "varnex.1")))),
        Entry("usr/share/bash-completion/completions/varnex",
              read(os.path.join(REPO, "packaging", "varnex.bash-completion"))),
        Entry(doc + "copyright", read(os.path.join(REPO, "packaging", "copyright"))),
        Entry(doc + "varnex-records.sql", read(os.path.join(REPO, "packaging", "varnex-records.sql"))),
        Entry(doc + "changelog.gz", gzip_bytes(deb_changelog(version, read(CHANGELOG).decode()))),
    ]


def installed_size_kib(entries):
    """As dpkg counts it: each file rounded up to a KiB, each folder one KiB."""
    return sum((len(e.data) + 1023) // 1024 for e in entries) + len(parent_folders(e.name for e in entries))


def deb_control(version, arch, glibc, entries):
    return ("Package: %s\nVersion: %s\nArchitecture: %s\nMaintainer: %s\nInstalled-Size: %d\n"
            "Depends: adduser, libc6 (>= %s)\nSection: electronics\nPriority: optional\nDescription: %s\n"
            % (PACKAGE, version, arch, MAINTAINER, installed_size_kib(entries), glibc, DEB_DESCRIPTION)).encode()


def write_deb(path, entries, control, epoch, work):
    """Stages the files with fixed permissions and dates, then dpkg-deb, which takes its dates
    from SOURCE_DATE_EPOCH and gives every file to root."""
    shutil.rmtree(work, ignore_errors=True)
    # The files under /etc are the administrator's: dpkg keeps their edits across upgrades
    # and lists them in its own records rather than in md5sums.
    conffiles = sorted(e.name for e in entries if e.name.startswith("etc/"))
    md5sums = "".join("%s  %s\n" % (hashlib.md5(e.data).hexdigest(), e.name)
                      for e in sorted(entries, key=lambda e: e.name) if e.name not in conffiles).encode()
    staged = entries + [Entry("DEBIAN/control", control), Entry("DEBIAN/md5sums", md5sums)]
    if conffiles:
        staged.append(Entry("DEBIAN/conffiles", "".join("/%s\n" % name for name in conffiles).encode()))
    for script in MAINTAINER_SCRIPTS:
        staged.append(Entry("DEBIAN/" + script, read(os.path.join(REPO, "packaging", "deb", script)),
                            EXECUTABLE_MODE))
    for entry in staged:
        target = os.path.join(work, entry.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(entry.data)
        os.chmod(target, entry.mode)
    for folder, _, files in os.walk(work):
        os.chmod(folder, EXECUTABLE_MODE)
        for name in files + ["."]:
            os.utime(os.path.join(folder, name), (epoch, epoch))
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
    subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", work, path], env=env, check=True,
                   stdout=subprocess.DEVNULL)


def windows_zip(build, version):
    folder = os.path.join(build, "dist-win", "bin")
    entries = [Entry(name, read(os.path.join(folder, name)), EXECUTABLE_MODE) for name in WINDOWS_PROGRAMS]
    readme = read(os.path.join(REPO, "packaging", "README-windows.txt")).replace(b"@VERSION@", version.encode())
    entries.append(Entry("README.txt", crlf(readme)))
    entries.append(Entry("LICENSE.txt", crlf(read(os.path.join(REPO, "LICENSE")))))
    entries.append(Entry("varnex-records.sql", crlf(read(os.path.join(REPO, "packaging", "varnex-records.sql")))))
    entries.append(Entry("CHANGELOG.txt", crlf(read(CHANGELOG))))
    return entries


def linux_tarball(binary, arch, version, glibc):
    top = "%s-%s-linux-%s/" % (PACKAGE, version, arch)
    readme = TARBALL_README.format(version=version, arch=arch, glibc=glibc).encode()
    return [
        Entry(top + "varnex", read(binary), EXECUTABLE_MODE),
        Entry(top + "varnex.1", read(os.path.join(REPO, "docs", "varnex.1"))),
        Entry(top + "varnex.bash-completion", read(os.path.join(REPO, "packaging", "varnex.bash-completion"))),
        Entry(top + "LICENSE", read(os.path.join(REPO, "LICENSE"))),
        Entry(top + "varnex-records.sql", read(os.path.join(REPO, "packaging", "varnex-records.sql"))),
        Entry(top + "CHANGELOG.md", read(CHANGELOG)),
        Entry(top + "README", readme),
    ]


def write_sums(out):
    names = sorted(n for n in os.listdir(out) if n != "SHA256SUMS")
    with open(os.path.join(out, "SHA256SUMS"), "w") as f:
        for name in names:
            f.write("%s  %s\n" % (hashlib.sha256(read(os.path.join(out, name))).hexdigest(), name))


def clear_outputs(out):
    """Removes what an earlier run left (an older version's files too), nothing else."""
    os.makedirs(out, exist_ok=True)
    for name in os.listdir(out):
        if name == "SHA256SUMS" or name.startswith(PACKAGE + "-") or name.startswith(PACKAGE + "_"):
            os.remove(os.path.join(out, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", required=True, help="the folder holding the release builds")
    parser.add_argument("--out", required=True, help="the folder the packages are written to")
    args = parser.parse_args()
    version, epoch = read_version(), source_date_epoch()
    build, out = os.path.abspath(args.build_dir), os.path.abspath(args.out)

    missing = [p for p in [os.path.join(build, "dist-win", "bin", n) for n in WINDOWS_PROGRAMS] +
               [os.path.join(build, folder, "cli", "varnex") for folder, _ in LINUX_BUILDS.values()]
               if not os.path.isfile(p)]
    if missing:
        raise SystemExit("not built: %s (make dist builds them)" % ", ".join(missing))

    clear_outputs(out)
    write_zip(os.path.join(out, "%s-%s-windows.zip" % (PACKAGE, version)), windows_zip(build, version), epoch)
    for arch, (folder, deb_arch) in LINUX_BUILDS.items():
        binary = os.path.join(build, folder, "cli", "varnex")
        glibc = glibc_floor(binary)
        write_tar_gz(os.path.join(out, "%s-%s-linux-%s.tar.gz" % (PACKAGE, version, arch)),
                     linux_tarball(binary, arch, version, glibc), epoch)
        entries = deb_files(binary, version, epoch)
        write_deb(os.path.join(out, "%s_%s_%s.deb" % (PACKAGE, version, deb_arch)), entries,
                  deb_control(version, deb_arch, glibc, entries), epoch, os.path.join(build, "dist-deb-" + deb_arch))
        print("%s: needs glibc %s or later" % (arch, glibc))
    write_sums(out)
    for name in sorted(os.listdir(out)):
        print("  %s" % name)


if __name__ == "__main__":
    sys.exit(main())
