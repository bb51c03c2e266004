"""What keeps a file from being silently wrong, with the test playing the unit frame by frame:
a receive that gets more or fewer bytes than the unit announced, a receive stopped or replaced
by the operator (the chosen file keeps its bytes), and a file that shrinks or grows on disk
between the opening packet and its data."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from link_frames import drain, frame, parse, read_frame  # noqa: E402
import harness as h  # noqa: E402
from transfer_steps import (FAILURE_TEXT, KIND_SETTINGS, RECEIVE_PROGRAM, RECEIVE_SETTINGS,  # noqa: E402
                            SEND_SETTINGS, STATUS_TEXT, Bench)

FILE_SEND, FILE_SEND_DATA, FILE_SEND_END = 10, 11, 12
FILE_GET, FILE_GET_DATA, FILE_GET_END = 20, 21, 22
ESC_KEY = 27


class TransferGuards(unittest.TestCase):
    TIMEOUT_S = 240

    def setUp(self):
        self.bench = Bench(bare_line=True)
        self.peer = self.bench.peer
        self.unit_id = 100
        self.last = b""
        drain(self.peer, 0.3)

    def tearDown(self):
        self.bench.close()

    def expect(self, command):
        """The program's next new frame, which must carry this command; returns its payload.
        Resends of the frame before (a busy test machine may answer after the program's
        reply timeout) are passed over: they are the same bytes."""
        sent = read_frame(self.peer)
        while sent and sent == self.last:
            sent = read_frame(self.peer)
        self.assertTrue(sent, "the program sent nothing (expected command %d)" % command)
        self.last = sent
        _, _, got, _, payload = parse(sent)
        self.assertEqual(got, command, payload)
        return payload

    def assertNothingNew(self, why, quiet=1.0):
        """Nothing but resends of the last frame arrives for a while."""
        data = drain(self.peer, quiet)
        while data.startswith(self.last) and self.last:
            data = data[len(self.last):]
        self.assertEqual(data, b"", why)

    def answer(self, command, payload=b""):
        self.unit_id += 1
        self.peer.write(frame(command, self.unit_id, payload))

    def start_receive(self, announced):
        saved = self.bench.path("received.bin")
        self.bench.start_with_file(RECEIVE_SETTINGS, saved)
        self.assertEqual(self.expect(FILE_GET), b"25")
        self.answer(FILE_GET, b"%d" % announced)
        self.assertEqual(self.expect(FILE_GET_DATA), b"1")
        return saved

    def test_receive_longer_than_announced_fails(self):
        count = self.bench.log_count()
        saved = self.start_receive(100)
        self.answer(FILE_GET_DATA, b"a" * 80)
        self.assertEqual(self.expect(FILE_GET_DATA), b"25")
        self.answer(FILE_GET_DATA, b"b" * 70)
        self.assertEqual(self.bench.result(), FAILURE_TEXT[KIND_SETTINGS])
        self.assertTrue(any(l.startswith("The unit sent more than the 100 bytes it announced;")
                            for l in self.bench.log_since(count)))
        self.assertNothingNew("no acknowledgement of the excess")
        self.assertFalse(os.path.exists(saved), "a failed receive saves nothing")

    def test_receive_shorter_than_announced_fails(self):
        count = self.bench.log_count()
        saved = self.start_receive(100)
        self.answer(FILE_GET_DATA, b"c" * 60)
        self.assertEqual(self.expect(FILE_GET_DATA), b"25")
        self.answer(FILE_GET_END)
        self.assertEqual(self.bench.result(), FAILURE_TEXT[KIND_SETTINGS])
        self.assertTrue(any("Received 60 of the 100 bytes the unit announced" in l
                            for l in self.bench.log_since(count)))
        self.assertFalse(os.path.exists(saved), "a failed receive saves nothing")

    def test_stop_and_restart_keep_the_existing_file(self):
        saved = self.bench.write("kept.bin", b"KEEP")
        # "Stop Transfer" stops: no dialog, the halt line, the caption back, the link quiet.
        self.bench.start_with_file(RECEIVE_SETTINGS, saved, replace=True)
        self.assertEqual(self.expect(FILE_GET), b"25")
        self.answer(FILE_GET, b"8")
        self.assertEqual(self.expect(FILE_GET_DATA), b"1")
        self.answer(FILE_GET_DATA, b"abcd")
        self.assertEqual(self.expect(FILE_GET_DATA), b"25")
        self.assertEqual(self.bench.caption(RECEIVE_SETTINGS), "Stop Transfer")
        count = self.bench.log_count()
        self.bench.app.click(RECEIVE_SETTINGS)
        self.bench.wait_log_since(count, "Settings transfer halted.")
        self.assertEqual(self.bench.other_windows(), [], "a stop opens no dialog")
        self.assertEqual(self.bench.caption(RECEIVE_SETTINGS), "Get Settings")
        self.assertEqual(self.bench.app.progress().get("exists"), False)
        self.answer(FILE_GET_DATA, b"efgh")  # late data finds no file and draws no reply
        self.assertNothingNew("nothing is resent or acknowledged after a stop")
        self.assertEqual(self.bench.read(saved), b"KEEP")
        self.assertEqual(self.bench.caption(STATUS_TEXT), "")

        # Another start of the family ends the receive first; cancelling its dialog leaves the
        # program idle.
        self.bench.start_with_file(RECEIVE_SETTINGS, saved, replace=True)
        self.assertEqual(self.expect(FILE_GET), b"25")
        count = self.bench.log_count()
        self.bench.app.call("command %d" % SEND_SETTINGS)
        self.bench.wait_log_since(count, "Settings transfer halted.")
        h.wait_until(self.bench.other_windows, 10, what="the send's file dialog")
        self.bench.app.key(ESC_KEY)
        h.wait_until(lambda: self.bench.other_windows() == [], 10, what="the dialog to close")
        self.assertEqual(self.bench.caption(RECEIVE_SETTINGS), "Get Settings")
        self.assertNothingNew("the ended receive is not resent")
        self.assertEqual(self.bench.caption(STATUS_TEXT), "")
        self.assertEqual(self.bench.read(saved), b"KEEP")

    def test_program_name_prompt(self):
        # An empty name starts nothing: no file dialog, nothing on the line.
        self.bench.app.call("command %d" % RECEIVE_PROGRAM)
        self.bench.app.edit_dialog("")
        self.assertNothingNew("an empty name starts nothing")
        self.assertEqual(self.bench.other_windows(), [])
        # A name longer than the prompt keeps is cut to 254 characters.
        self.bench.app.call("command %d" % RECEIVE_PROGRAM)
        self.bench.app.edit_dialog("N" * 300)
        dialog = self.bench.app.file_dialog(self.bench.path("long.bin"))["hwnd"]
        self.assertTrue(dialog)
        self.assertEqual(self.expect(FILE_GET), b"26" + b"N" * 254)

    def test_send_of_a_file_that_shrinks_or_grows(self):
        path = self.bench.write("settings.bin", bytes(range(200)) + bytes(100))
        count = self.bench.log_count()
        self.bench.start_with_file(SEND_SETTINGS, path)
        self.assertEqual(self.expect(FILE_SEND), b"25,%d,300," % sum(range(200)))
        with open(path, "r+b") as f:
            f.truncate(100)
        self.answer(FILE_SEND)
        self.assertEqual(self.expect(FILE_SEND_DATA), bytes(range(100)))
        self.answer(FILE_SEND_DATA)
        self.assertEqual(self.bench.result(), FAILURE_TEXT[KIND_SETTINGS])
        self.assertTrue(any("it ended after 100 of 300 bytes." in l for l in self.bench.log_since(count)))
        self.assertNothingNew("no end-of-send for a cut file")

        # A file that grows after its sum was announced: only the announced bytes go out.
        data = bytes(range(200))
        path = self.bench.write("grows.bin", data)
        self.bench.start_with_file(SEND_SETTINGS, path)
        self.assertEqual(self.expect(FILE_SEND), b"25,%d,200," % sum(data))
        with open(path, "ab") as f:
            f.write(b"\xff" * 50)
        self.answer(FILE_SEND)
        self.assertEqual(self.expect(FILE_SEND_DATA), data[:128])
        self.answer(FILE_SEND_DATA)
        self.assertEqual(self.expect(FILE_SEND_DATA), data[128:])
        self.answer(FILE_SEND_DATA)
        self.assertEqual(self.expect(FILE_SEND_END), b"1")
        self.answer(FILE_SEND_END, b"%d" % sum(data))
        self.assertEqual(self.bench.result(), "Transfer of settings sucessfully completed.")


if __name__ == "__main__":
    unittest.main()
