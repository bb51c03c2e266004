"""The packet link during a transfer session: an unanswered packet is resent after more than
500 ms and abandoned after six resends (retry box, caption, progress bar, status line); against
the simulated unit, corrupted, oversize and refused replies are recovered by resends and the
transfer still completes, and the unit's log lines reach the activity log."""
import os
import re
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from link_frames import drain, parse, read_frame  # noqa: E402

SEND_NLEC = 1004
STATUS_TEXT = 1008
STATUS_LINE = re.compile(r"^Elapsed Time: (\d+)   Retry Count: (\d+)  $")
NLEC_TABLE = b"LINE ONE\r\nLINE TWO\r\nLINE THREE\r\n"
RESENDS = 6


def write_table(name):
    path = os.path.join(harness.Session.get().run_dir, name)
    with open(path, "wb") as f:
        f.write(NLEC_TABLE)
    return path


def start_nlec_send(app, path):
    app.command(SEND_NLEC)
    app.file_dialog(path)
    app.sync()


class UnansweredPacket(unittest.TestCase):
    """A line end that never answers."""

    def setUp(self):
        harness.registry_command("reg_delete_key")
        self.peer = harness.PtyPeer(port=1)
        self.app = harness.App("service")
        self.app.wait_main()

    def tearDown(self):
        self.app.kill()
        self.peer.close()

    def test_resent_after_more_than_500_ms_then_abandoned_after_six_resends(self):
        app = self.app
        drain(self.peer, 0.2)
        arrivals = []  # (time, bytes) of every frame, taken as it arrives

        def collect():
            for _ in range(RESENDS + 1):
                data = read_frame(self.peer, timeout=5.0)
                if not data:
                    return
                arrivals.append((time.monotonic(), data))

        reader = threading.Thread(target=collect, daemon=True)
        reader.start()
        start_nlec_send(app, write_table("silent.TXT"))
        harness.wait_until(lambda: arrivals, 10, what="the opening packet")
        first = arrivals[0][1]
        self.assertEqual(parse(first)[2], 5)
        self.assertEqual(app.text(SEND_NLEC), "Stop Transfer")
        self.assertTrue(app.progress().get("exists"))
        self.assertTrue(STATUS_LINE.match(app.text(STATUS_TEXT) or ""), app.text(STATUS_TEXT))
        harness.wait_until(lambda: len(arrivals) >= 4, 10, what="three resends")
        harness.wait_until(lambda: int((STATUS_LINE.match(app.text(STATUS_TEXT) or "") or
                                        [0, 0, -1])[2]) >= 3, 2, what="Retry Count 3 in the status")
        reader.join(15)
        self.assertEqual(len(arrivals), RESENDS + 1)
        for n, (_, data) in enumerate(arrivals[1:]):
            self.assertEqual(data, first, "resend %d repeats the same bytes" % (n + 1))
        gaps = [b[0] - a[0] for a, b in zip(arrivals, arrivals[1:])]
        for gap in gaps:
            # Resent between 501 ms and about 600 ms after the send; allow for the reading side.
            self.assertGreater(gap, 0.45, gaps)
            self.assertLess(gap, 1.5, gaps)

        box = app.press(harness.IDOK)
        self.assertEqual(box.get("title"), harness.TITLE)
        self.assertIn("Nlec transfer failure. Retry count exceeded.", box.get("statics", []))
        self.assertEqual(drain(self.peer, 1.0), b"", "nothing more is sent after the give-up")
        self.assertEqual(app.text(SEND_NLEC), "Send NLEC")
        self.assertFalse(app.progress().get("exists"))
        harness.wait_until(lambda: app.text(STATUS_TEXT) == "", 3, what="the status line emptied")
        lines = app.log_lines()
        # Six timeouts resend; the seventh finds the limit reached and gives up.
        self.assertEqual(sum(1 for l in lines if l == "WM_TIMER1 calling RS232_ResendPacket"), RESENDS + 1)
        self.assertIn("Nlec transfer failure. Retry count exceeded.", lines)


class RecoveredReplies(unittest.TestCase):
    """The simulated unit, with faults armed on its replies."""

    def setUp(self):
        harness.registry_command("reg_delete_key")
        self.sim = harness.Sim(port=1)
        self.app = harness.App("service")
        self.app.wait_main()

    def tearDown(self):
        self.app.kill()
        self.sim.stop()

    def send_table_expecting_success(self, name):
        start_nlec_send(self.app, write_table(name))
        harness.wait_until(lambda: STATUS_LINE.match(self.app.text(STATUS_TEXT) or "") or
                           self.app.message_boxes(), 10, what="a running session")
        box = self.app.press(harness.IDOK)
        texts = " ".join(box.get("statics", []))
        self.assertRegex(texts, r"NLEC Transfer completed in \d+ seconds\.", box)
        received = self.sim.request({"cmd": "received", "what": "nlec"})["last"]
        self.assertTrue(received, "the unit stored the table")
        harness.wait_until(lambda: self.app.text(STATUS_TEXT) == "", 3, what="the status line emptied")
        return self.app.log_lines()

    def frames_in(self):
        return [e for e in self.sim.events() if e.get("event") == "frame_in"]

    def test_corrupted_reply_is_resent_and_the_transfer_completes(self):
        self.assertTrue(self.sim.request({"cmd": "fault", "kind": "corrupt_byte", "at": 2})["ok"])
        before = len(self.app.log_lines())
        lines = self.send_table_expecting_success("corrupt.TXT")[before:]
        self.assertIn("Receive Packet has bad checksum.", lines)
        frames = self.frames_in()
        repeats = [(a, b) for a, b in zip(frames, frames[1:])
                   if (a["id"], a["command"], a["checksum"], a["payload_hex"]) ==
                   (b["id"], b["command"], b["checksum"], b["payload_hex"])]
        self.assertTrue(repeats, "the unit saw the same packet twice")

    def test_unit_error_reports_are_logged_and_answered_with_resends(self):
        self.sim.request({"cmd": "fault", "kind": "reply_1", "at": 2})
        self.sim.request({"cmd": "fault", "kind": "reply_2", "at": 4})
        before = len(self.app.log_lines())
        lines = self.send_table_expecting_success("reports.TXT")[before:]
        self.assertIn("ERROR RS232_CMD_BAD_CHECKSUM: ", lines)
        self.assertIn("ERROR RS232_RESEND_REMOTE_TIMEOUT: ", lines)

    def test_oversize_reply_is_dropped_and_the_byte_timeout_resends(self):
        self.sim.request({"cmd": "fault", "kind": "long_length", "at": 2, "length": 600})
        before = len(self.app.log_lines())
        lines = self.send_table_expecting_success("oversize.TXT")[before:]
        self.assertIn("WM_TIMER2 calling RS232_ResendPacket", lines)

    def test_log_line_from_the_unit(self):
        before = len(self.app.log_lines())
        self.assertTrue(self.sim.request({"cmd": "log", "text": "unit says hi"})["ok"])
        lines = self.app.wait_log("LOG: ")[before:]
        entry = [l for l in lines if l.startswith("LOG: ")][0]
        self.assertRegex(entry, r"^LOG:  Id=\d+, Cmd=3, cs=(\d+),\1, len=12,  buf\(12\)=unit says hi$")


if __name__ == "__main__":
    unittest.main()
