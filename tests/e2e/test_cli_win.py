"""varnex.exe, the command-line loader's Windows build, under Wine against the simulated
unit: one download arrives whole and unchanged, and `ports` names the mapped COM ports."""
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402
from test_wizard_download import BOOTLOADER_BYTES, image_sha256  # noqa: E402

VARNEX_EXE = os.path.join(h.WIN_BIN, "varnex.exe")
UNIT_PORT = 3
IDLE_PORT = 6
RUN_TIMEOUT_S = 180
QUIET_GAP_MS = 1500


class VarnexExe(unittest.TestCase):
    def setUp(self):
        self.endings = []

    def tearDown(self):
        for end in self.endings:
            end()

    def varnex(self, *args):
        session = h.Session.get()
        return subprocess.run(["wine", VARNEX_EXE] + list(args), env=session.env, capture_output=True,
                              text=True, timeout=RUN_TIMEOUT_S)

    def test_download_reaches_the_unit_whole(self):
        sim = h.Sim(["--mode", "bootloader", "--baud", "115200", "--quiet-gap-ms", str(QUIET_GAP_MS)],
                    port=UNIT_PORT)
        self.endings.append(sim.stop)
        run = self.varnex("download", "--port", "COM%d" % UNIT_PORT, "--bootloader", "--baud", "115200",
                          "--wait", "30")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn(str(BOOTLOADER_BYTES), run.stdout)

        def finished_image():
            last = sim.request({"cmd": "image"}).get("last") or {}
            return last if last.get("present") and last.get("finished") else None

        image = h.wait_until(finished_image, 30, what="the unit to finish receiving the image")
        self.assertEqual(image["bytes"], BOOTLOADER_BYTES)
        self.assertEqual(image["sha256"], image_sha256("BOOTLOADER"))
        self.assertEqual(image["garbled"], 0)
        # The port went back to the link's speed at the end.
        self.assertEqual(sim.request({"cmd": "status"})["line"]["baud"], 38400)

    def test_ports_lists_the_mapped_com_ports(self):
        self.endings.append(h.Sim(["--mode", "off"], port=UNIT_PORT).stop)
        self.endings.append(h.PtyPeer(IDLE_PORT).close)
        run = self.varnex("ports")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        listed = re.findall(r"^(COM\d+)\s", run.stdout, re.MULTILINE)
        self.assertIn("COM%d" % UNIT_PORT, listed, run.stdout)
        self.assertIn("COM%d" % IDLE_PORT, listed, run.stdout)


if __name__ == "__main__":
    unittest.main()
