"""The packet link on the wire, against a bare line end: the exact bytes of the fixed request,
resends of the same bytes after a bad checksum and after the unit's error reports, the unit's
log lines, unknown commands, flash-erase result boxes and raw-data logging."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from link_frames import drain, frame, parse, read_frame  # noqa: E402

FIXED_REQUEST = 1003
RAW_DATA = 1005
COM2 = 1011
FIXED_CODE = b"731942"


class LinkOnTheWire(unittest.TestCase):
    def setUp(self):
        harness.registry_command("reg_delete_key")  # COM1, where the line end waits
        self.peer = harness.PtyPeer(port=1)
        self.app = harness.App("service")
        self.app.wait_main()
        drain(self.peer, 0.5)

    def tearDown(self):
        self.app.kill()
        self.peer.close()

    def send_fixed_request(self):
        self.app.command(FIXED_REQUEST)
        sent = read_frame(self.peer)
        self.assertTrue(sent, "no frame after command 1003")
        return sent

    def log_after(self, count, text, timeout=10.0):
        """Waits for a line containing text among the lines after the first count."""
        return harness.wait_until(
            lambda: (lambda lines: lines[count:] if any(text in l for l in lines[count:]) else None)(
                self.app.log_lines()), timeout, what="log line %r" % text)

    def test_fixed_request_is_exactly_one_frame_of_command_19(self):
        first = self.send_fixed_request()
        _, _, command, ident, payload = parse(first)
        self.assertEqual(first, frame(19, ident, FIXED_CODE))
        self.assertEqual((command, payload), (19, FIXED_CODE))
        self.assertEqual(len(first), 16)
        second = self.send_fixed_request()
        self.assertEqual(second, frame(19, (ident + 1) & 0xFFFF, FIXED_CODE), "next id, same code")
        self.assertEqual(drain(self.peer, 1.0), b"", "no session: nothing more on the line")

    def test_bad_checksum_replies_resend_the_same_bytes_until_the_give_up(self):
        sent = self.send_fixed_request()
        count = len(self.app.log_lines())
        self.peer.write(frame(6, 40, b"x", checksum_delta=1))
        self.log_after(count, "Receive Packet has bad checksum.")
        self.assertEqual(read_frame(self.peer), sent)
        # Five more go out the same way; the seventh request, with no session ever started,
        # gives up with the plain retry box and sends nothing.
        for _ in range(5):
            self.peer.write(frame(6, 40, b"x", checksum_delta=1))
            self.assertEqual(read_frame(self.peer), sent)
        self.peer.write(frame(6, 40, b"x", checksum_delta=1))
        box = self.app.press(harness.IDOK)
        self.assertEqual(box.get("title"), harness.TITLE)
        self.assertIn("Retry Error.", box.get("statics", []))
        self.assertIn("Retry Error.", self.app.log_lines())
        self.assertEqual(drain(self.peer, 0.5), b"")

    def test_unit_reports_of_bad_checksum_and_timeout_resend(self):
        sent = self.send_fixed_request()
        count = len(self.app.log_lines())
        self.peer.write(frame(1, 41))
        lines = self.log_after(count, "ERROR RS232_CMD_BAD_CHECKSUM: ")
        self.assertIn("ERROR RS232_CMD_BAD_CHECKSUM: ", lines)
        self.assertEqual(read_frame(self.peer), sent)
        count = len(self.app.log_lines())
        self.peer.write(frame(2, 42, b"ignored"))
        lines = self.log_after(count, "ERROR RS232_RESEND_REMOTE_TIMEOUT: ")
        self.assertIn("ERROR RS232_RESEND_REMOTE_TIMEOUT: ", lines)
        self.assertEqual(read_frame(self.peer), sent)

    def test_log_line_from_the_unit(self):
        count = len(self.app.log_lines())
        self.peer.write(b"\x00noise" + frame(3, 7, b"abc"))
        lines = self.log_after(count, "LOG: ")
        self.assertIn("LOG:  Id=7, Cmd=3, cs=307,307, len=3,  buf(3)=abc", lines)
        self.assertEqual(drain(self.peer, 0.5), b"", "a log line gets no answer")

    def test_unknown_commands_give_two_lines_and_no_reply(self):
        sent = self.send_fixed_request()
        total, _, _, ident, _ = parse(sent)
        for code in (4, 19, 99):
            count = len(self.app.log_lines())
            unit_frame = frame(code, 9, b"zz")
            cs = parse(unit_frame)[0]
            self.peer.write(unit_frame)
            self.log_after(count, "ERROR Unknown Command: ")
            lines = harness.wait_until(lambda: (lambda l: l[count:] if len(l) >= count + 2 else None)(
                self.app.log_lines()), 5, what="the last-command line")
            self.assertEqual(lines[0], "ERROR Unknown Command:  Id=9, Cmd=%d, cs=%d,%d, len=2,  buf(2)=zz"
                             % (code, cs, cs))
            self.assertTrue(lines[1].startswith("LAST COMMAND: Resend=0, Id=%d, Cmd=19, cs=%d, buf(6)=731942, cause="
                                                % (ident, total)), lines[1])
        self.assertEqual(drain(self.peer, 0.8), b"", "no reply, no resend")

    def test_flash_erase_results_show_their_boxes(self):
        for text, expected in ((b"0", "Flash erase successful."), (b"00", "Flash erase failure: 00"),
                               (b"", "Flash erase failure: ")):
            count = len(self.app.log_lines())
            self.peer.write(frame(15, 11, text))
            box = self.app.press(harness.IDOK)
            self.assertEqual(box.get("title"), harness.TITLE)
            self.assertIn(expected.strip(), [t.strip() for t in box.get("statics", [])], box)
            self.assertEqual(len(self.app.log_lines()), count, "no log line for an erase result")

    def test_raw_data_logging_shows_each_chunk_byte_by_byte(self):
        self.app.command(RAW_DATA)
        try:
            count = len(self.app.log_lines())
            self.peer.write(bytes([0x7E, 0x41, 0x0D, 0x7F, 0xFF]))
            lines = self.log_after(count, "RAW_DATA: ")
            self.assertIn("RAW_DATA: ~A[13][127][-1]", lines)
        finally:
            self.app.command(RAW_DATA)
        count = len(self.app.log_lines())
        self.peer.write(b"quiet")
        time.sleep(1.0)
        self.assertFalse(any("RAW_DATA" in l for l in self.app.log_lines()[count:]), "off again")

    def test_frames_arrive_from_the_new_port_after_a_switch(self):
        other = harness.PtyPeer(port=2)
        try:
            self.app.click(COM2)
            self.app.wait_log("Device Com2 opened successfully.")
            count = len(self.app.log_lines())
            other.write(frame(3, 21, b"on two"))
            lines = self.log_after(count, "LOG: ")
            self.assertIn("LOG:  Id=21, Cmd=3, cs=%d,%d, len=6,  buf(6)=on two"
                          % ((parse(frame(3, 21, b"on two"))[0],) * 2), lines)
        finally:
            other.close()


if __name__ == "__main__":
    unittest.main()
