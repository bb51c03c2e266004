"""NLEC tables against the simulated unit: a send of CR LF text (a line longer than one packet,
an empty file) that the unit receives line by line with a matching sum, a wrong echo, the
unit's error in the middle of a send, and a fetch saved with CR LF line ends."""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402
from transfer_steps import GET_NLEC, SEND_NLEC, Bench, wait_quiet  # noqa: E402

NLEC_SEND_LINE, NLEC_SEND_END, NLEC_GET_LINE, NLEC_GET_LAST_LINE = 6, 7, 17, 18
COMPLETED = re.compile(r"^NLEC Transfer completed in \d+ seconds\.$")


class NlecTransfers(unittest.TestCase):
    TIMEOUT_S = 300

    def setUp(self):
        self.bench = Bench()

    def tearDown(self):
        self.bench.close()

    def send(self, name, data):
        path = self.bench.write(name, data)
        since = self.bench.mark()
        self.bench.start_with_file(SEND_NLEC, path)
        return since, self.bench.result()

    def test_send_reaches_the_unit_line_by_line_with_its_sum(self):
        long_line = bytes((ord("A") + i % 26) for i in range(600))
        table = b"NLEC TABLE\r\nAXIS=1\r\n" + long_line + b"\r\n\r\n0=0.0000\r\n1000=1000.0021\r\n"
        since, text = self.send("table.txt", table)
        self.assertRegex(text, COMPLETED)
        item = self.bench.last_received("nlec")
        self.assertEqual(self.bench.read(item["path"]), table.replace(b"\r\n", b"\n"),
                         "the unit holds each line once, with a single newline")
        self.assertTrue(item["sum_matches"], item)
        lines = [p for way, cmd, p in self.bench.frames(since, "in") if cmd == NLEC_SEND_LINE]
        self.assertEqual([len(p) for p in lines], [11, 7, 511, 90, 1, 9, 15],
                         "the 600-character line goes out as 511 and 90 characters")
        self.assertEqual(self.bench.caption(SEND_NLEC), "Send NLEC")

        since, text = self.send("empty.txt", b"")
        self.assertRegex(text, COMPLETED)
        self.assertEqual(self.bench.read(self.bench.last_received("nlec")["path"]), b"")
        sent = self.bench.frames(since, "in")
        self.assertEqual(sent[0][1:], (5, b"0"), "an empty file announces the sum 0")
        self.assertEqual(sent[-1][1:], (NLEC_SEND_END, b"1"))

    def test_wrong_echo_fails_and_unit_error_halts(self):
        self.bench.fault(kind="wrong_sum", command=NLEC_SEND_END, at=1)
        _, text = self.send("one.txt", b"X=1\r\nY=2\r\n")
        self.assertEqual(text, "Nlec Checksum Failure.")
        self.assertEqual(self.bench.caption(SEND_NLEC), "Send NLEC")

        # The unit gives up after the second line: the send halts, and no file chooser opens.
        self.bench.fault(kind="error_8", command=NLEC_SEND_LINE, at=2, text="Table full")
        count = self.bench.log_count()
        path = self.bench.write("many.txt", b"".join(b"%d=%d\r\n" % (i, i) for i in range(50)))
        self.bench.start_with_file(SEND_NLEC, path)
        lines = self.bench.wait_log_since(count, "Nlec transfer halted.")
        self.assertIn("NLEC Transfer error.", lines)
        self.assertLess(lines.index("NLEC Transfer error."), lines.index("Nlec transfer halted."))
        h.wait_until(lambda: self.bench.caption(SEND_NLEC) == "Send NLEC", 5, what="caption back")
        self.assertEqual(self.bench.other_windows(), [], "no chooser, no box after the unit's error")
        self.assertEqual(self.bench.app.progress().get("exists"), False)

        # The same error from the unit while nothing runs is logged, and opens nothing.
        count = self.bench.log_count()
        self.assertTrue(self.bench.sim.request({"cmd": "error", "code": 8, "text": "late"}).get("ok"))
        h.wait_until(lambda: any(e.get("command") == 8 for e in self.bench.events("frame_out")), 5,
                     what="the unit's late error")
        wait_quiet(1.0)
        self.assertEqual(self.bench.log_since(count), ["NLEC Transfer error."])
        self.assertEqual(self.bench.other_windows(), [])

    def test_progress_range_covers_a_long_file(self):
        # The unit's echo is held back, so the bar can be read when every line has gone: a
        # range cut to 16 bits would hold it at 4 464.
        self.bench.fault(kind="delay_reply", command=NLEC_SEND_END, at=1, delay_ms=2000)
        table = b"".join(b"%05d=" % i + b"7" * 63 + b"\r\n" for i in range(1000))  # 70 000 characters
        path = self.bench.write("long.txt", table)
        self.bench.start_with_file(SEND_NLEC, path)
        bar = h.wait_until(lambda: (lambda p: p if p.get("pos") == 70000 else None)(self.bench.app.progress()),
                           30, interval=0.05, what="the progress bar at 70 000")
        self.assertTrue(bar["exists"])
        self.assertRegex(self.bench.result(), COMPLETED)
        self.assertEqual(self.bench.read(self.bench.last_received("nlec")["path"]),
                         table.replace(b"\r\n", b"\n"))

    def test_fetch_saves_the_table_with_cr_lf(self):
        table = ["NLEC 2 AXIS TABLE", "AXIS=1", "", "X" * 300, "1000=1000.0021", "LAST=1"]
        source = self.bench.write("unit-table.txt", "\n".join(table).encode() + b"\n")
        self.assertTrue(self.bench.sim.request({"cmd": "content_set", "what": "nlec_table",
                                                "path": source}).get("ok"))
        saved = self.bench.path("saved.txt")
        since = self.bench.mark()
        self.bench.start_with_file(GET_NLEC, saved)
        self.assertRegex(self.bench.result(), COMPLETED)
        self.assertEqual(self.bench.read(saved), b"".join(l.encode() + b"\r\n" for l in table))
        frames = self.bench.frames(since)
        last = max(i for i, f in enumerate(frames) if f[:2] == ("out", NLEC_GET_LAST_LINE))
        self.assertEqual(frames[last][2], b"LAST=1")
        self.assertEqual([f for f in frames[last + 1:] if f[0] == "in"], [],
                         "the last line is not acknowledged")
        acks = [f for f in frames if f[:2] == ("in", NLEC_GET_LINE)]
        self.assertEqual(len(acks), len(table) - 1 + 1, "one request after the count, one per line but the last")
        self.assertEqual(self.bench.caption(GET_NLEC), "Get NLEC")


if __name__ == "__main__":
    unittest.main()
