"""The firmware download from end to end: the real program under Wine walks the four-step
wizard against the simulated unit, which counts and hashes what arrives. Also the two
service commands that start a download, a start while one runs, and a unit that goes away
in the middle. Screenshots of every page land in the build's e2e-artifacts folder."""
import hashlib
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

NEXT, BACK, CLOSE = 1016, 1017, 1030
FOOTER, TITLE, SECOND, FIRST = 1026, 1027, 1028, 1029
DOWNLOAD_38400, DOWNLOAD_BOOTLOADER = 1015, 1019

FIRMWARE_DIR = os.path.join(h.BUILD_DIR, "win", "resources", "firmware")
SOFTWARE_BYTES = 4402584
BOOTLOADER_BYTES = 249008

PAGE_TIMEOUT_S = 20
DOWNLOAD_TIMEOUT_S = 120
# The program gives a download up once the port has taken nothing for 5 s plus one block's
# line time (under 7 s at 115 200 baud); allow for Wine's pace on a loaded machine.
STALL_BOUND_S = 7
STALL_SLACK_S = 8
QUIET_GAP_MS = 1500
BLACK, RED, GREEN = (0, 0, 0), (255, 0, 0), (0, 255, 0)

SOFTWARE_PAGE_8 = ("Please verify that the number of data bytes transmitted (4402584) matches the "
                   "number of bytes received by the Varnex 410.  The Varnex 410 shows the number "
                   "in parenthesis at the bottom of the display.")
RETRY_HINT = "If the download failed at 115 200, use the slower 57 600 transfer speed."
FAST_INSTRUCTION = ("On the Varnex 410 select 115 200 for the download speed by pressing the "
                    "numeric key associated with the menu option.")
PAGE_7_TEXT = "Please wait while the readout finishes receiving the data."
SOFTWARE_START_LINE = "Loading new software version ... (~4 min.)"
BOOTLOADER_START_LINE = "Loading new bootloader ... "
BOOTLOADER_QUESTION = "Are you sure you want to download the bootloader code?"


def image_sha256(name):
    with open(os.path.join(FIRMWARE_DIR, name + ".bin"), "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class WizardDownload(unittest.TestCase):
    def setUp(self):
        h.registry_command("reg_delete_key")
        self.sim = None
        self.app = None

    def tearDown(self):
        result = getattr(self._outcome, "result", None)
        failed = result is not None and any(test is self for test, _ in result.failures + result.errors)
        if self.app is not None and self.app.running:
            if failed:
                self.app.save_artifacts("wizard_" + self._testMethodName)
            self.app.kill()
        if self.sim is not None:
            self.sim.stop()

    # --- helpers ----------------------------------------------------------------------
    def start(self, variant="service", sim_args=("--mode", "off")):
        self.sim = h.Sim(list(sim_args) + ["--quiet-gap-ms", str(QUIET_GAP_MS)])
        self.app = h.App(variant)
        self.app.wait_main()
        # The first timer tick brings DeviceState up to date: page 1 then offers Next.
        self.wait_enabled(NEXT)
        return self.app

    def wait_text(self, control, text, timeout=PAGE_TIMEOUT_S):
        return h.wait_until(lambda: self.app.text(control) == text or None, timeout,
                            what="control %d to read %r (it reads %r)" % (control, text, self.app.text(control)))

    def wait_enabled(self, control, enabled=True, timeout=PAGE_TIMEOUT_S):
        h.wait_until(lambda: self.app.control(control).get("enabled") == enabled, timeout,
                     what="control %d %s" % (control, "enabled" if enabled else "disabled"))

    def page(self):
        return {c: self.app.text(c) for c in (TITLE, FIRST, SECOND, FOOTER)}

    def buttons(self):
        out = {}
        for c in (BACK, NEXT):
            state = self.app.control(c)
            out[c] = (state["text"], state["enabled"], state["visible"])
        return out

    def shot(self, name):
        """A screenshot of the main dialog alone, kept in the build folder."""
        self.app.sync()
        time.sleep(0.3)  # let Wine finish painting
        path = self.app.screenshot("wizard-" + name)
        if path:
            g = self.app.geometry()
            subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (g["width"], g["height"], g["left"], g["top"]),
                            "+repage", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return path

    def bar_colour(self):
        """The colour of the indicator bar across the top of the client area, read from a
        screenshot at client pixel (20, 4)."""
        g = self.app.geometry()
        border = (g["width"] - g["client_width"]) // 2
        x = g["left"] + border + 20
        y = g["top"] + g["height"] - border - g["client_height"] + 4
        path = self.app.screenshot("wizard-bar")
        out = subprocess.run(["convert", path, "-crop", "1x1+%d+%d" % (x, y), "-format",
                              "%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]", "info:-"],
                             capture_output=True, text=True, timeout=30).stdout.strip()
        return tuple(int(v) for v in out.split(",")) if out else None

    def wait_bar(self, colour):
        # A repaint may cover the bar until the next 100 ms tick draws it again.
        h.wait_until(lambda: self.bar_colour() == colour, 10, what="the bar in %r" % (colour,))

    def unit(self, **request):
        reply = self.sim.request(request)
        self.assertTrue(reply.get("ok"), reply)
        return reply

    def pc_baud(self):
        return self.unit(cmd="status")["line"]["baud"]

    def wait_pc_baud(self, baud, timeout=5):
        """The unit notices a speed change when it next looks at the line."""
        h.wait_until(lambda: self.pc_baud() == baud, timeout, what="the port at %d baud" % baud)

    def last_image(self):
        return self.unit(cmd="image")["last"]

    def wait_image_done(self, timeout=DOWNLOAD_TIMEOUT_S):
        return h.wait_until(lambda: (lambda last: last if last.get("present") and last.get("finished") else None)(
            self.last_image()), timeout, what="the unit to finish receiving an image")

    def go_to_page_4(self, software=True):
        self.app.click(NEXT)
        self.wait_text(TITLE, "STEP 2 - Readying the Varnex 410")
        self.app.click(NEXT)
        self.wait_text(TITLE, "STEP 3 - Preparing the Varnex 410 for Download")
        self.app.click(NEXT if software else BACK)
        self.wait_text(TITLE, "STEP 4 - Downloading the %s" % ("Software" if software else "Bootloader"))

    def count(self, lines, text):
        return sum(1 for line in lines if line == text)

    # --- the operator's path ------------------------------------------------------------
    def test_operator_path_loads_the_software_at_115200_and_ends_on_page_8(self):
        app = self.start("operator")
        self.assertEqual(app.text(TITLE), "STEP 1 - Connecting the Serial Cable")
        self.assertEqual(app.text(FOOTER), "When the cable is connected, press NEXT")
        self.assertEqual(self.buttons()[BACK][:2], ("Back", False))
        self.shot("page1")
        self.wait_bar(RED)  # port open, unit not ready
        app.command(BACK)  # a disabled button's command changes nothing
        self.assertEqual(app.text(TITLE), "STEP 1 - Connecting the Serial Cable")

        app.click(NEXT)
        self.wait_text(TITLE, "STEP 2 - Readying the Varnex 410")
        self.assertFalse(app.control(1010)["visible"], "port buttons hidden from page 2 on")
        self.wait_bar(RED)  # page 2 erased the window's background: the bar is drawn again
        self.shot("page2")
        app.click(NEXT)
        self.wait_text(TITLE, "STEP 3 - Preparing the Varnex 410 for Download")
        self.assertEqual(self.buttons(), {BACK: ("Bootloader", True, True), NEXT: ("Software", True, True)})
        self.assertEqual(app.text(FIRST), FAST_INSTRUCTION)
        self.shot("page3")

        app.click(NEXT)  # "Software"
        self.wait_text(TITLE, "STEP 4 - Downloading the Software")
        self.assertEqual(app.text(FIRST), "Please wait ...")
        self.assertEqual(self.buttons(), {BACK: ("57 600", False, True), NEXT: ("115 200", False, True)})
        self.shot("page4-waiting")
        app.command(NEXT)  # no download while the unit is not ready
        time.sleep(0.5)
        self.assertEqual(app.text(TITLE), "STEP 4 - Downloading the Software")
        self.assertFalse(app.progress()["exists"])

        # The technician starts the unit into its bootloader menu: CTS rises.
        self.unit(cmd="mode", mode="bootloader", baud=115200)
        self.wait_text(FIRST, "The Varnex 410 is ready to receive the download.")
        self.wait_enabled(NEXT)
        self.assertTrue(app.control(BACK)["enabled"])
        self.wait_bar(GREEN)
        self.shot("page4-ready")
        # CTS dropping before a speed is chosen takes the offer back.
        self.unit(cmd="cts", on=False)
        self.wait_text(FIRST, "Please wait ...")
        self.wait_enabled(NEXT, False)
        self.unit(cmd="cts", on=True)
        self.wait_enabled(NEXT)

        self.unit(cmd="pace", on=True)  # slow the line so the running page can be seen
        app.click(NEXT)  # "115 200"
        self.wait_text(TITLE, "Download in Progress (115 200)")
        self.assertEqual(app.text(FOOTER), "Downloading software, please wait . . . ")
        progress = h.wait_until(lambda: (lambda p: p if p.get("exists") else None)(app.progress()), 10,
                                what="the progress bar")
        self.assertTrue(progress["visible"])
        self.assertEqual((progress["low"], progress["high"]), (0, SOFTWARE_BYTES // 1000))
        self.wait_pc_baud(115200)
        self.assertFalse(app.control(NEXT)["enabled"])
        self.shot("page6")
        self.unit(cmd="pace", on=False)

        self.wait_text(FIRST, PAGE_7_TEXT, DOWNLOAD_TIMEOUT_S)
        self.wait_pc_baud(38400)  # back at the packet link's speed
        self.assertFalse(app.progress()["exists"], "the bar goes with the download")
        self.assertFalse(app.control(NEXT)["visible"])
        self.assertFalse(app.control(BACK)["visible"])
        self.shot("page7")

        image = self.wait_image_done()
        self.assertEqual(image["bytes"], SOFTWARE_BYTES)
        self.assertEqual(image["sha256"], image_sha256("V410_2_AXIS_SOFTWARE"), image)
        self.assertEqual(image.get("garbled_bytes", 0), 0)

        # The unit drops CTS once it has finished: page 8 with the byte count.
        self.wait_text(TITLE, "Download Complete")
        self.assertEqual(app.text(FIRST), SOFTWARE_PAGE_8)
        self.assertEqual(app.text(SECOND), "Press the ENTER key on the Varnex 410 to restart the unit.")
        self.assertEqual(app.text(FOOTER), "Press CLOSE to exit this program.")
        self.assertEqual(self.buttons()[BACK], ("Back", True, True))
        self.assertFalse(app.control(NEXT)["visible"])
        self.shot("page8")

        # Back after a software download: page 3 suggests the slower speed.
        app.click(BACK)
        self.wait_text(TITLE, "STEP 3 - Preparing the Varnex 410 for Download")
        self.assertEqual(app.text(FIRST), RETRY_HINT)

    def test_bootloader_at_57600_then_page_8_leads_back_to_the_software(self):
        app = self.start(sim_args=("--mode", "bootloader", "--baud", "57600"))
        self.go_to_page_4(software=False)
        self.wait_enabled(BACK)  # CTS was already on: the speed buttons come up

        self.unit(cmd="pace", on=True)
        app.click(BACK)  # "57 600"
        self.wait_text(TITLE, "Download in Progress (57 600)")
        self.assertEqual(app.text(FIRST), "The Varnex 410 bootloader is being transferred.  This operation "
                                          "takes up to 1 minute to complete.")
        self.assertEqual(app.text(FOOTER), "Downloading bootloader, please wait . . . ")
        self.wait_pc_baud(57600)
        self.shot("page5")
        self.unit(cmd="pace", on=False)

        self.wait_text(FIRST, PAGE_7_TEXT, DOWNLOAD_TIMEOUT_S)
        image = self.wait_image_done()
        self.assertEqual(image["bytes"], BOOTLOADER_BYTES)
        self.assertEqual(image["sha256"], image_sha256("BOOTLOADER"))
        lines = app.log_lines()
        # The wizard's download always announces itself as software.
        self.assertEqual(self.count(lines, SOFTWARE_START_LINE), 1)
        self.assertEqual(self.count(lines, "Done loading."), 1)
        self.wait_pc_baud(38400)

        self.wait_text(TITLE, "Download Complete")
        self.assertIn("(249008)", app.text(FIRST))
        self.assertEqual(app.text(FOOTER), "Press BACK to load the software.")
        self.assertEqual(app.text(SECOND), "Press the ENTER key on the Varnex 410 to restart the unit and "
                                           "install the bootloader.")
        app.click(BACK)
        self.wait_text(TITLE, "STEP 3 - Preparing the Varnex 410 for Download")
        self.assertEqual(app.text(FIRST), FAST_INSTRUCTION)

    # --- service commands -----------------------------------------------------------------
    def test_bootloader_command_asks_first_and_a_second_start_while_busy_changes_nothing(self):
        app = self.start(sim_args=("--mode", "bootloader", "--baud", "115200"))
        app.command(DOWNLOAD_BOOTLOADER)
        box = app.press(h.IDNO)
        self.assertIn(BOOTLOADER_QUESTION, box.get("statics", []))
        time.sleep(1)
        self.assertFalse(app.progress()["exists"])
        self.assertEqual(self.count(app.log_lines(), BOOTLOADER_START_LINE), 0)
        self.assertFalse(self.last_image().get("present"))

        self.unit(cmd="pace", on=True)  # keep the first download running for a while
        app.command(DOWNLOAD_BOOTLOADER)
        app.press(h.IDYES)
        app.wait_log(BOOTLOADER_START_LINE)
        self.wait_pc_baud(115200)
        app.command(DOWNLOAD_38400)  # refused: a download is running
        app.command(DOWNLOAD_BOOTLOADER)
        app.press(h.IDYES)  # refused as well, after the question
        time.sleep(1)
        self.assertEqual(self.pc_baud(), 115200, "the running download keeps its speed")
        self.unit(cmd="pace", on=False)

        app.wait_log("Done loading.", DOWNLOAD_TIMEOUT_S)
        image = self.wait_image_done()
        self.assertEqual(image["bytes"], BOOTLOADER_BYTES)
        self.assertEqual(image["sha256"], image_sha256("BOOTLOADER"))
        lines = app.log_lines()
        self.assertEqual(self.count(lines, BOOTLOADER_START_LINE), 1)
        self.assertEqual(self.count(lines, SOFTWARE_START_LINE), 0)
        self.assertEqual(self.count(lines, "Done loading."), 1)
        # The end of any download moves the wizard to page 7, and the unit's CTS drop to 8,
        # which shows the count last recorded by the wizard's own start: none yet.
        self.wait_text(TITLE, "Download Complete")
        self.assertIn("transmitted (0)", app.text(FIRST))
        self.wait_pc_baud(38400)

    def test_download_command_sends_the_software_at_38400(self):
        app = self.start(sim_args=("--mode", "bootloader", "--baud", "115200"))
        app.command(DOWNLOAD_38400)
        app.wait_log("Done loading.", DOWNLOAD_TIMEOUT_S)
        self.assertEqual(self.count(app.log_lines(), SOFTWARE_START_LINE), 1)
        image = self.wait_image_done()
        # The unit listens at 115 200, so it counts the stream as noise; what matters here is
        # that every byte of the software went out at 38 400.
        self.assertEqual(image["bytes_by_baud"], {"38400": SOFTWARE_BYTES})
        self.wait_pc_baud(38400)

    # --- a unit that goes away ------------------------------------------------------------
    def assert_download_given_up(self, went_at):
        app = self.app
        lines = app.wait_log("Download stopped: the port took no data for", STALL_BOUND_S + STALL_SLACK_S)
        took = time.monotonic() - went_at
        # The bound runs from the last bytes the unit took, which may be a block's line time
        # before it went: never at once, though.
        self.assertGreaterEqual(took, STALL_BOUND_S - 4)
        self.assertNotIn("Done loading.", lines)
        box = app.press(h.IDOK, STALL_SLACK_S * 1000)
        self.assertTrue(any("Download stopped" in s for s in box.get("statics", [])), box)
        # Page 7, or already page 8 when the unit's CTS went down with it.
        h.wait_until(lambda: app.text(FIRST) == PAGE_7_TEXT or app.text(TITLE) == "Download Complete",
                     10, what="the wizard to leave the running page")
        self.assertFalse(app.progress()["exists"])
        # Still usable: nothing is left busy, so a new start is taken.
        starts = self.count(app.log_lines(), SOFTWARE_START_LINE)
        app.command(DOWNLOAD_38400)
        h.wait_until(lambda: self.count(app.log_lines(), SOFTWARE_START_LINE) == starts + 1, 10,
                     what="a new download to start")

    def test_a_unit_that_hangs_up_mid_download_ends_it_within_the_bound(self):
        app = self.start(sim_args=("--mode", "bootloader", "--baud", "115200", "--pace"))
        self.go_to_page_4()
        self.wait_enabled(NEXT)
        app.click(NEXT)
        h.wait_until(lambda: (self.unit(cmd="image").get("current") or {}).get("bytes", 0) > 20000, 30,
                     what="the download to get going")
        self.sim.stop()  # the unit's side of the line is gone
        self.sim = None
        self.assert_download_given_up(time.monotonic())

    def test_a_unit_that_stops_reading_mid_download_ends_it_within_the_bound(self):
        app = self.start(sim_args=("--mode", "bootloader", "--baud", "115200", "--pace"))
        app.command(DOWNLOAD_BOOTLOADER)
        app.press(h.IDYES)
        h.wait_until(lambda: (self.unit(cmd="image").get("current") or {}).get("bytes", 0) > 20000, 30,
                     what="the download to get going")
        os.kill(self.sim.process.pid, 19)  # SIGSTOP: the line stays, nothing is read
        try:
            self.assert_download_given_up(time.monotonic())
        finally:
            os.kill(self.sim.process.pid, 18)  # SIGCONT, so the simulator can be stopped

    def test_a_download_with_no_port_open_ends_within_the_bound(self):
        app = self.start(sim_args=("--mode", "bootloader", "--baud", "115200"))
        # COM2 refuses to open (pointed at a folder): the program is left without a port.
        refused = os.path.join(h.Session.get().run_dir, "not-a-port")
        os.makedirs(refused, exist_ok=True)
        h.Session.get().point_port(2, refused)
        self.addCleanup(h.Session.get().point_port, 2, None)
        app.click(1011)
        app.press(h.IDOK)
        app.wait_log("Unable to open com port.")
        self.wait_enabled(NEXT, False)  # page 1 now says the port is not open
        self.wait_bar(BLACK)
        app.command(DOWNLOAD_BOOTLOADER)
        app.press(h.IDYES)
        app.wait_log(BOOTLOADER_START_LINE)
        self.assert_download_given_up(time.monotonic())


if __name__ == "__main__":
    unittest.main()
