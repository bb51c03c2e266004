"""What the program sets up as it starts, seen from outside: the serial line as the far end
finds it (DTR raised, no hardware or software flow control) and the first page's two pictures
on the screen at their slots."""
import os
import subprocess
import sys
import termios
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

PICTURES = os.path.join(h.REPO, "resources", "pictures")
PICTURE_WIDTH, PICTURE_HEIGHT = 87, 68
SLOT_LEFT = 296
SLOT_TOPS = (60, 160)
# Page 1: the hand on the power switch's off side, then the cable.
PAGE_1_PICTURES = ("switch_off.bmp", "cable.bmp")
RGB_BYTES = 3
PAINT_SETTLE_S = 0.5
OPEN_TIMEOUT_S = 20


def raw_rgb(path):
    """(width, height, bytes) of an image as 8-bit RGB, through ImageMagick."""
    size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, text=True,
                          check=True, timeout=30).stdout.split()
    pixels = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, check=True,
                            timeout=30).stdout
    return int(size[0]), int(size[1]), pixels


def picture_at(screen, picture, left, top):
    """Whether the picture's pixels are on the screen with its top-left corner there."""
    width, pixels = screen[0], screen[2]
    row_bytes = PICTURE_WIDTH * RGB_BYTES
    for row in range(PICTURE_HEIGHT):
        start = ((top + row) * width + left) * RGB_BYTES
        if pixels[start:start + row_bytes] != picture[row * row_bytes:(row + 1) * row_bytes]:
            return False
    return True


class StartUp(unittest.TestCase):
    def setUp(self):
        h.registry_command("reg_delete_key")  # COM1
        self.peer = None
        self.sim = None
        self.app = None

    def tearDown(self):
        if self.app is not None:
            self.app.kill()
        if self.peer is not None:
            self.peer.close()
        if self.sim is not None:
            self.sim.stop()

    def start(self, variant="service"):
        # The PC's lines as the last program left them are forgotten: what is read after
        # this start is this start's doing.
        h.write_atomic(h.Session.get().modem_file + ".pc", "0\n")
        self.app = h.App(variant)
        self.app.wait_main()
        return self.app

    def test_port_raises_dtr_with_no_flow_control(self):
        # The far end as a bare line: the settings the program left on it.
        self.peer = h.PtyPeer(1)
        self.start()
        h.wait_until(lambda: self.peer.holders(), OPEN_TIMEOUT_S, what="the port to open")
        h.wait_until(lambda: h.Session.get().pc_modem_bits() & h.TIOCM_DTR, OPEN_TIMEOUT_S,
                     what="DTR raised")
        iflag, _, cflag = termios.tcgetattr(self.peer.master)[:3]
        self.assertFalse(cflag & termios.CRTSCTS, "no RTS/CTS flow control")
        self.assertFalse(iflag & (termios.IXON | termios.IXOFF), "no XON/XOFF")
        self.app.kill()
        self.app = None

        # The simulated unit's record of the PC's lines says the same.
        self.sim = h.Sim([])
        self.start()
        modem = h.wait_until(lambda: (lambda m: m if m.get("dtr") else None)(
            self.sim.request({"cmd": "status"})["modem"]), OPEN_TIMEOUT_S, what="the unit to see DTR")
        self.assertTrue(modem["dtr"])
        self.assertTrue(modem["rts"], "RTS held on, not used for flow control")

    def test_page_1_pictures_sit_at_their_slots(self):
        self.peer = h.PtyPeer(1)
        app = self.start("operator")
        app.sync()
        h.wait_until(lambda: app.text(1027) == "STEP 1 - Connecting the Serial Cable", OPEN_TIMEOUT_S,
                     what="page 1")
        time.sleep(PAINT_SETTLE_S)
        g = app.geometry()
        border = (g["width"] - g["client_width"]) // 2
        client_left = g["left"] + border
        client_top = g["top"] + g["height"] - border - g["client_height"]
        shot = app.screenshot("startup-pictures")
        self.assertTrue(shot)
        screen = raw_rgb(shot)
        pictures = []
        for name in PAGE_1_PICTURES:
            width, height, pixels = raw_rgb(os.path.join(PICTURES, name))
            self.assertEqual((width, height), (PICTURE_WIDTH, PICTURE_HEIGHT), name)
            pictures.append(pixels)
        # The slots' left edge is 296, or further right where the font lays the texts out
        # wider; both slots share it.
        lefts = [x for x in range(SLOT_LEFT, g["client_width"] - PICTURE_WIDTH + 1)
                 if picture_at(screen, pictures[0], client_left + x, client_top + SLOT_TOPS[0])]
        self.assertEqual(len(lefts), 1, "the first picture once, at y %d" % SLOT_TOPS[0])
        self.assertTrue(picture_at(screen, pictures[1], client_left + lefts[0], client_top + SLOT_TOPS[1]),
                        "the second picture below the first, at y %d" % SLOT_TOPS[1])


if __name__ == "__main__":
    unittest.main()
