"""A firmware download as the operator sees it while it runs, against the simulated unit
held to the line rate: the progress bar climbing to its end, the program closed in the
middle (Close button and Esc) ending at once and freeing the port, and the guard that keeps
a download and a flash erase from running together, whichever starts first."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

NEXT, BACK, CLOSE = 1016, 1017, 1030
FIRST, TITLE = 1029, 1027
ERASE_FLASH, DOWNLOAD_38400, DOWNLOAD_BOOTLOADER = 1014, 1015, 1019
VK_ESCAPE = 27

BOOTLOADER_BYTES = 249008
BOOTLOADER_BAR_HIGH = BOOTLOADER_BYTES // 1000
BOOTLOADER_START_LINE = "Loading new bootloader ... "
SOFTWARE_START_LINE = "Loading new software version ... (~4 min.)"
DONE_LOADING = "Done loading."
ERASING = "Erasing user storage on flash ... (~50 sec.)"
DONE_ERASING = "Done erasing user storage."

# The unit ends an image after this much silence. A worker that waits on a busy dialog
# thread (a box opening under Wine on a loaded machine) pauses the stream for a moment, so
# the gap is the unit's own, not a shortened one.
QUIET_GAP_MS = 1500
# The paced bootloader takes about 24 s at 115 200 baud; these bound a stuck run only.
DOWNLOAD_TIMEOUT_S = 120
PAGE_TIMEOUT_S = 20
EXIT_TIMEOUT_S = 15
UNDER_WAY_BYTES = 20000
# Long enough for the refused starts to be tried while the unit is still erasing.
LONG_ERASE_MS = 15000
REFUSAL_SETTLE_S = 1.5
# A paced download that climbs shows many positions on its way, not a jump to the end.
MIN_POSITIONS_SEEN = 10


class RunningDownload(unittest.TestCase):
    TIMEOUT_S = 420

    def setUp(self):
        h.registry_command("reg_delete_key")  # COM1
        self.sim = h.Sim(["--mode", "bootloader", "--baud", "115200", "--pace",
                          "--quiet-gap-ms", str(QUIET_GAP_MS)])
        self.app = None

    def tearDown(self):
        if self.app is not None and self.app.running:
            self.app.kill()
        self.sim.stop()

    # --- helpers ----------------------------------------------------------------------
    def start(self, variant):
        self.app = h.App(variant)
        self.app.wait_main()
        return self.app

    def unit(self, **request):
        reply = self.sim.request(request)
        self.assertTrue(reply.get("ok"), reply)
        return reply

    def bytes_arriving(self):
        return (self.unit(cmd="image").get("current") or {}).get("bytes", 0)

    def wait_under_way(self):
        h.wait_until(lambda: self.bytes_arriving() > UNDER_WAY_BYTES, 30, what="the download to get going")

    def start_bootloader_command(self):
        self.app.command(DOWNLOAD_BOOTLOADER)
        self.app.press(h.IDYES)
        self.app.wait_log(BOOTLOADER_START_LINE)

    def wait_text(self, control, text):
        h.wait_until(lambda: self.app.text(control) == text, PAGE_TIMEOUT_S,
                     what="control %d to read %r" % (control, text))

    def wait_enabled(self, control):
        h.wait_until(lambda: self.app.control(control).get("enabled"), PAGE_TIMEOUT_S,
                     what="control %d enabled" % control)

    def image_ended(self, timeout):
        """The image the unit last received, once no bytes of it are arriving any more."""
        def ended():
            reply = self.unit(cmd="image")
            last = reply["last"]
            return last if not reply["current"].get("present") and last.get("finished") else None
        return h.wait_until(ended, timeout, what="the unit to see the stream end")

    def assert_whole_bootloader_arrived(self):
        image = self.image_ended(DOWNLOAD_TIMEOUT_S)
        self.assertEqual(image["bytes"], BOOTLOADER_BYTES)
        self.assertEqual(image.get("garbled_bytes", 0), 0)

    # --- the bar ----------------------------------------------------------------------
    def test_wizard_bar_climbs_to_its_end(self):
        app = self.start("operator")
        self.wait_enabled(NEXT)
        app.click(NEXT)
        self.wait_text(TITLE, "STEP 2 - Readying the Varnex 410")
        app.click(NEXT)
        self.wait_text(TITLE, "STEP 3 - Preparing the Varnex 410 for Download")
        app.click(BACK)  # "Bootloader"
        self.wait_text(TITLE, "STEP 4 - Downloading the Bootloader")
        self.wait_enabled(NEXT)
        app.click(NEXT)  # "115 200"

        watched = app.watch_progress(DOWNLOAD_TIMEOUT_S)
        self.assertTrue(watched["seen"] and watched["gone"], watched)
        positions = [int(p) for p in watched["positions"]]
        self.assertEqual(watched["high"], BOOTLOADER_BAR_HIGH)
        self.assertGreaterEqual(len(positions), MIN_POSITIONS_SEEN, positions)
        self.assertEqual(positions, sorted(set(positions)), "the bar only moves forward")
        self.assertEqual(positions[-1], BOOTLOADER_BAR_HIGH, "the bar ends at its range")
        self.assert_whole_bootloader_arrived()

    # --- closing in the middle ----------------------------------------------------------
    def test_closing_mid_download_ends_at_once_and_frees_the_port(self):
        ways = (("Close button", lambda app: app.click(CLOSE)),
                ("Esc", lambda app: app.key(VK_ESCAPE)))
        for name, close in ways:
            with self.subTest(way=name):
                self.unit(cmd="mode", mode="bootloader", baud=115200)
                app = self.start("service")
                self.start_bootloader_command()
                self.wait_under_way()
                close(app)
                reply = app.wait_exit(EXIT_TIMEOUT_S)
                self.assertTrue(reply.get("exited"), "%s: the program still runs" % name)
                self.assertEqual(reply.get("code"), 0)
                # The stream stopped with the program: the unit saw part of the image only.
                self.assertLess(self.image_ended(PAGE_TIMEOUT_S)["bytes"], BOOTLOADER_BYTES)
                # Nothing of the program keeps the port, and another program can open it.
                self.assertEqual(h.pty_holders(self.sim.slave_path, exclude=(self.sim.process.pid,)), [])
                session = h.Session.get()
                opened = session.driver.send("com_open 1 38400")
                self.assertTrue(opened.get("ok"), opened)
                session.driver.send("com_close")
                # A Wine process keeps the descriptor of a pseudo-terminal it once opened: a
                # fresh driver keeps this unit's pty from standing in for a later one.
                session.restart_driver()

    # --- one worker at a time ---------------------------------------------------------
    def test_erase_asked_for_during_a_download_is_refused(self):
        app = self.start("service")
        self.start_bootloader_command()
        self.wait_under_way()
        app.command(ERASE_FLASH)
        app.press(h.IDOK)
        time.sleep(REFUSAL_SETTLE_S)
        self.assertNotIn(ERASING, app.log_lines())
        self.assertEqual(self.unit(cmd="status")["erase"]["requests"], 0)
        self.unit(cmd="pace", on=False)
        app.wait_log(DONE_LOADING, DOWNLOAD_TIMEOUT_S)
        # No request bytes were slipped into the stream.
        self.assert_whole_bootloader_arrived()
        self.assertNotIn(ERASING, app.log_lines())

    def test_downloads_asked_for_during_an_erase_are_refused(self):
        self.unit(cmd="mode", mode="running")
        self.unit(cmd="erase", ms=LONG_ERASE_MS, fault="none")
        app = self.start("service")
        app.command(ERASE_FLASH)
        app.press(h.IDOK)
        app.wait_log(ERASING)
        h.wait_until(lambda: self.unit(cmd="status")["erase"]["requests"] == 1, 10,
                     what="the unit to take the erase request")
        before = self.unit(cmd="status")["counters"]["bytes_in"]
        app.command(DOWNLOAD_38400)
        app.command(DOWNLOAD_BOOTLOADER)
        app.press(h.IDYES)
        time.sleep(REFUSAL_SETTLE_S)
        status = self.unit(cmd="status")
        self.assertEqual(status["counters"]["bytes_in"], before, "nothing was sent during the erase")
        self.assertEqual(status["line"]["baud"], 115200, "the erase keeps its speed")
        self.assertEqual(status["erase"]["completed"], 0, "the erase is still running")
        app.wait_log(DONE_ERASING, LONG_ERASE_MS / 1000 + 30)
        lines = app.log_lines()
        self.assertNotIn(BOOTLOADER_START_LINE, lines)
        self.assertNotIn(SOFTWARE_START_LINE, lines)
        self.assertEqual(lines[lines.index(ERASING):], [ERASING, DONE_ERASING])


if __name__ == "__main__":
    unittest.main()
