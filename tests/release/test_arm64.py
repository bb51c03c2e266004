"""The arm64 varnex of the packages, under qemu-user against the simulated unit: it reports the
release's version, is built as it ships, loads an image byte for byte and carries a settings
file both ways."""
import hashlib
import os

from conftest import ARM64, VARNEX_ARM64, run_arm64, version
from release_checks import elf_problems

BOOTLOADER_BYTES = 249008
SETTINGS = 25


def sha(data):
    return hashlib.sha256(data).hexdigest()


def test_the_arm64_program_is_the_release_build():
    code, out, err = run_arm64(["--version"])
    assert (code, out.strip()) == (0, "varnex " + version()), err
    assert elf_problems(VARNEX_ARM64) == []


def test_a_download_arrives_byte_for_byte(units):
    (unit,) = units(1, "--mode", "bootloader", "--baud", "115200")
    code, out, err = run_arm64(["download", "--port", unit.link, "--bootloader", "--baud", "115200",
                                "--wait", "30"], [unit])
    assert code == 0, out + err
    assert "check that the unit's display shows %d" % BOOTLOADER_BYTES in out
    with open(os.path.join(ARM64, "resources", "firmware", "BOOTLOADER.bin"), "rb") as f:
        expected = sha(f.read())
    image = unit.finished_image()
    assert (image["bytes"], image["sha256"], image["garbled"]) == (BOOTLOADER_BYTES, expected, False)


def test_settings_travel_identical_both_ways(units, tmp_path):
    (unit,) = units(1)
    data = bytes(range(256)) * 3 + os.urandom(173)
    sent = tmp_path / "sent.settings"
    sent.write_bytes(data)
    code, out, err = run_arm64(["settings", "send", str(sent), "--port", unit.link], [unit])
    assert code == 0, out + err
    got = unit.request(cmd="received", what="file")["last"]
    assert (got["kind"], got["sha256"], got["sum_matches"]) == (SETTINGS, sha(data), True), got

    assert unit.request(cmd="content_set", what="file", kind=SETTINGS, path=str(sent))["ok"]
    back = tmp_path / "back.settings"
    code, out, err = run_arm64(["settings", "get", str(back), "--port", unit.link, "--json"], [unit])
    assert code == 0, out + err
    assert back.read_bytes() == data
