"""The packaging (scripts/dist.py) and the release checks (scripts/release_checks.py), on small
inputs: archives and packages that depend only on their contents and the commit's date, and
checks that see a program built for development rather than release. The version that every
build output carries is the one in VERSION."""
import os
import subprocess
import tarfile
import time
import zipfile

import pytest

import dist
from conftest import SIM, version
from release_checks import elf_problems, fixed_file_version
from simunits import BUILD, VARNEX

EPOCH = 1796000000  # a commit's date
ENTRIES = [("b/tool", b"\x7fELF tool", 0o755), ("a.txt", b"line\n", 0o644), ("b/c/doc", b"doc", 0o644)]


def entries(order=1):
    return [dist.Entry(name, data, mode) for name, data, mode in ENTRIES[::order]]


def test_tarball_and_zip_depend_only_on_their_contents(tmp_path):
    for write, name in ((dist.write_tar_gz, "a.tar.gz"), (dist.write_zip, "a.zip")):
        first, second = tmp_path / ("1" + name), tmp_path / ("2" + name)
        write(str(first), entries(1), EPOCH)
        write(str(second), entries(-1), EPOCH)
        assert first.read_bytes() == second.read_bytes(), name

    packed = (tmp_path / "1a.tar.gz").read_bytes()
    assert packed[3] & 0x08 == 0 and packed[4:8] == b"\0\0\0\0"  # gzip -n: no name, no date
    with tarfile.open(str(tmp_path / "1a.tar.gz")) as tar:
        members = tar.getmembers()
    assert [m.name for m in members] == ["a.txt", "b", "b/c", "b/c/doc", "b/tool"]
    assert {(m.uid, m.gid, m.mtime) for m in members} == {(0, 0, EPOCH)}
    assert [oct(m.mode) for m in members] == ["0o644", "0o755", "0o755", "0o644", "0o755"]

    with zipfile.ZipFile(str(tmp_path / "1a.zip")) as archive:
        infos = archive.infolist()
    assert [i.filename for i in infos] == ["a.txt", "b/c/doc", "b/tool"]
    assert {i.date_time for i in infos} == {time.gmtime(EPOCH)[:6]}


def deb_field(deb, field):
    return subprocess.run(["dpkg-deb", "-f", deb, field], capture_output=True, text=True, check=True).stdout.strip()


def test_a_debian_package_is_the_same_from_any_folder_and_umask(tmp_path):
    binary = tmp_path / "varnex"
    binary.write_bytes(b"\x7fELF not really a program")
    built = []
    for folder, mask in (("one", 0o022), ("two/deeper", 0o077)):
        old = os.umask(mask)
        try:
            files = dist.deb_files(str(binary), version(), EPOCH)
            deb = str(tmp_path / (folder.replace("/", "-") + ".deb"))
            dist.write_deb(deb, files, dist.deb_control(version(), "arm64", "2.17", files), EPOCH,
                           str(tmp_path / folder))
        finally:
            os.umask(old)
        built.append(deb)
    with open(built[0], "rb") as one, open(built[1], "rb") as two:
        assert one.read() == two.read()

    assert [deb_field(built[0], f) for f in ("Version", "Architecture", "Depends")] == [version(), "arm64",
                                                                                         "adduser, libc6 (>= 2.17)"]
    listing = subprocess.run(["dpkg-deb", "-c", built[0]], capture_output=True, text=True, check=True,
                             env=dict(os.environ, TZ="UTC")).stdout
    lines = [line.split() for line in listing.splitlines()]
    assert {line[1] for line in lines} == {"root/root"}
    assert {line[3] + " " + line[4] for line in lines} == {time.strftime("%Y-%m-%d %H:%M", time.gmtime(EPOCH))}
    assert ["-rwxr-xr-x", "./usr/bin/varnex"] in [[line[0], line[5]] for line in lines]


def test_the_checks_see_a_development_build():
    problems = " ".join(elf_problems(VARNEX))
    assert "needs" in problems and "not stripped" in problems, problems


def test_every_build_output_carries_the_version_in_VERSION():
    expected = version()
    out = subprocess.run([SIM, "--version"], capture_output=True, text=True, check=True).stdout
    assert out.strip() == "varnex-sim " + expected
    for name in ("Varnex410Download.exe", "Varnex410Service.exe", "varnex.exe"):
        path = os.path.join(BUILD, "win", "bin", name)
        if not os.path.exists(path):
            pytest.fail("not built: %s (make build)" % path)
        with open(path, "rb") as f:
            data = f.read()
        assert fixed_file_version(data) == expected + ".0", name
        if name != "varnex.exe":
            assert ('version="%s.0"' % expected).encode() in data, name + ": manifest"


def test_the_packages_changelog_is_CHANGELOG_md_and_names_VERSION_first(tmp_path):
    with open(dist.CHANGELOG) as f:
        text = f.read()
    changelog = tmp_path / "changelog"
    changelog.write_bytes(dist.deb_changelog(version(), text))
    parsed = subprocess.run(["dpkg-parsechangelog", "-l", str(changelog), "--all", "--format", "rfc822"],
                            capture_output=True, text=True, check=True).stdout
    parsed = [line.split()[1] for line in parsed.splitlines() if line.startswith("Version: ")]
    assert parsed[0] == version()
    assert parsed == [number for number, _, _ in dist.read_changelog(text)]
    assert max(len(line) for line in changelog.read_text().splitlines()) <= 80
    with pytest.raises(SystemExit, match="VERSION says 9.9.9"):
        dist.deb_changelog("9.9.9", text)
