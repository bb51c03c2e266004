"""A frame from the unit that stops half-way during a transfer: the program's timer step puts
the half aside once the line has been quiet for over 100 ms and resends its own packet, and
the whole frame that follows is taken cleanly, with the test playing the unit frame by frame."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from link_frames import HEADER_BYTES, drain, frame, parse, read_frame  # noqa: E402
from transfer_steps import KIND_SETTINGS, RECEIVE_SETTINGS, SUCCESS_TEXT, Bench  # noqa: E402

FILE_GET, FILE_GET_DATA, FILE_GET_END = 20, 21, 22
DATA = bytes(range(100))
# The timer step's line when the rest of a frame is overdue.
STALLED_FRAME_LINE = "WM_TIMER2 calling RS232_ResendPacket"


class StalledFrame(unittest.TestCase):
    TIMEOUT_S = 180

    def setUp(self):
        self.bench = Bench(bare_line=True)
        self.peer = self.bench.peer
        drain(self.peer, 0.3)

    def tearDown(self):
        self.bench.close()

    def next_frame(self, passing_over=b""):
        """The program's next frame; repeats of passing_over (a resend that a busy machine
        let the reply timeout make) are skipped."""
        sent = read_frame(self.peer)
        while sent and sent == passing_over:
            sent = read_frame(self.peer)
        self.assertTrue(sent, "the program sent nothing")
        return sent

    def test_half_a_frame_then_a_pause_then_the_whole_frame(self):
        count = self.bench.log_count()
        saved = self.bench.path("settings.bin")
        self.bench.start_with_file(RECEIVE_SETTINGS, saved)
        request = self.next_frame()
        self.assertEqual(parse(request)[2], FILE_GET)

        reply = frame(FILE_GET, 101, b"%d" % len(DATA))
        self.peer.write(reply[:HEADER_BYTES - 3])  # the marks and part of the header
        # The line stays quiet; the program gives up on the half and sends its request
        # again, byte for byte.
        self.assertEqual(self.next_frame(), request)

        self.peer.write(reply)  # the unit answers the resend in full
        _, _, command, _, payload = parse(self.next_frame(passing_over=request))
        self.assertEqual((command, payload), (FILE_GET_DATA, b"1"), "the whole frame was taken")
        self.peer.write(frame(FILE_GET_DATA, 102, DATA))
        self.assertEqual(parse(self.next_frame())[4], b"%d" % KIND_SETTINGS)
        self.peer.write(frame(FILE_GET_END, 103))
        self.assertEqual(self.bench.result(), SUCCESS_TEXT[KIND_SETTINGS])
        self.assertEqual(self.bench.read(saved), DATA)
        lines = self.bench.log_since(count)
        self.assertEqual(lines.count(STALLED_FRAME_LINE), 1, lines)
        self.assertFalse([l for l in lines if "checksum" in l.lower()], "no frame was spoilt")


if __name__ == "__main__":
    unittest.main()
