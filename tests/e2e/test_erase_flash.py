"""Erasing the unit's user storage against the simulated unit: the two-byte request at
115 200 baud, the log lines and the wizard's last page when the unit answers, a cancelled
confirmation, a wrong pair before the answer, and a unit that never answers, which ends
within the program's bound and leaves the next erase free to start."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402
from transfer_steps import ERASE_FLASH, TITLE_TEXT, Bench  # noqa: E402

QUESTION = "Are you sure you want to erase the flash?"
ERASING = "Erasing user storage on flash ... (~50 sec.)"
DONE = "Done erasing user storage."
NO_ANSWER = "Flash erase failed: the unit did not answer within 120 seconds."
SHORT_ERASE_MS = 2000
REPLY_BOUND_S = 120
PAGE_7_TITLE = "Download Complete"


class FlashErase(unittest.TestCase):
    TIMEOUT_S = 420

    def setUp(self):
        self.bench = Bench()
        self.bench.sim.request({"cmd": "erase", "ms": SHORT_ERASE_MS, "fault": "none"})

    def tearDown(self):
        self.bench.close()

    def confirm(self, button):
        self.bench.app.call("command %d" % ERASE_FLASH)
        box = self.bench.app.press(button)
        self.assertEqual(box.get("statics"), [QUESTION])
        self.assertEqual(box.get("title"), h.TITLE)

    def erase_state(self):
        return self.bench.sim.request({"cmd": "status"})["erase"]

    def test_erase_at_115200_ends_on_page_7(self):
        count = self.bench.log_count()
        self.confirm(h.IDCANCEL)
        time.sleep(1.0)
        self.assertEqual(self.erase_state()["requests"], 0, "cancelled: nothing sent")
        self.assertEqual(self.bench.log_since(count), [])

        self.confirm(h.IDOK)
        lines = self.bench.wait_log_since(count, DONE, timeout=30)
        self.assertEqual(lines[lines.index(ERASING):], [ERASING, DONE])
        h.wait_until(lambda: self.bench.app.text(TITLE_TEXT) == PAGE_7_TITLE, 5, what="page 7")
        status = self.bench.sim.request({"cmd": "status"})
        self.assertEqual(status["line"]["baud"], 115200, "the port stays at 115 200 afterwards")
        self.assertEqual(status["erase"]["completed"], 1)

        # The unit answers with a wrong pair first; the right pair after it still ends the wait.
        self.bench.sim.request({"cmd": "erase", "ms": SHORT_ERASE_MS, "fault": "wrong_pair_first"})
        count = self.bench.log_count()
        self.confirm(h.IDOK)
        lines = self.bench.wait_log_since(count, DONE, timeout=30)
        self.assertEqual(lines, [ERASING, DONE])

    def test_unit_that_never_answers(self):
        self.bench.sim.request({"cmd": "erase", "ms": SHORT_ERASE_MS, "fault": "never"})
        count = self.bench.log_count()
        started = time.monotonic()
        self.confirm(h.IDOK)
        lines = self.bench.wait_log_since(count, NO_ANSWER, timeout=REPLY_BOUND_S + 30)
        self.assertGreaterEqual(time.monotonic() - started, REPLY_BOUND_S - 1)
        self.assertEqual(lines, [ERASING, NO_ANSWER])
        h.wait_until(lambda: self.bench.app.text(TITLE_TEXT) == PAGE_7_TITLE, 5, what="page 7")

        # The erase is over: the next one may start, and this time the unit answers.
        self.bench.sim.request({"cmd": "erase", "ms": SHORT_ERASE_MS, "fault": "none"})
        count = self.bench.log_count()
        self.confirm(h.IDOK)
        self.assertEqual(self.bench.wait_log_since(count, DONE, timeout=30), [ERASING, DONE])


class FlashEraseWithoutAPort(unittest.TestCase):
    """No port is open: the request cannot be written, and the erase gives up after a few
    seconds instead of holding the program busy for good."""
    TIMEOUT_S = 180
    WRITE_BOUND_S = 5

    def setUp(self):
        h.registry_command("reg_delete_key")  # COM1
        # A port that refuses to open, as one held by another program does.
        folder = os.path.join(h.Session.get().run_dir, "not-a-port")
        os.makedirs(folder, exist_ok=True)
        h.Session.get().point_port(1, folder)
        self.app = h.App("service")

    def tearDown(self):
        self.app.kill()
        h.Session.get().point_port(1, None)

    def test_request_that_cannot_be_written(self):
        self.app.press(h.IDOK)  # the box saying the port could not be opened
        self.app.wait_main()
        count = len(self.app.log_lines())
        self.app.call("command %d" % ERASE_FLASH)
        self.app.press(h.IDOK)
        started = time.monotonic()
        failed = "Flash erase failed: the erase request could not be written to the port."
        lines = self.app.wait_log(failed, timeout=self.WRITE_BOUND_S + 20)[count:]
        self.assertLess(time.monotonic() - started, self.WRITE_BOUND_S + 10)
        self.assertEqual(lines, [failed])
        # The erase is over (without a port the wizard itself stays on its first page): the next
        # erase may start, and ends the same way.
        self.app.call("command %d" % ERASE_FLASH)
        self.app.press(h.IDOK)
        h.wait_until(lambda: self.app.log_lines()[count:].count(failed) == 2, self.WRITE_BOUND_S + 20,
                     what="the second erase to end")


if __name__ == "__main__":
    unittest.main()
