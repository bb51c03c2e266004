"""Settings, program and bitmap files against the simulated unit: sends that arrive byte for
byte in chunks of 128, the success and failure texts of each kind, the unit's error in the
middle of a send with its own text, and receives saved byte for byte."""
import glob
import os
import random
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402
from transfer_steps import (FAILURE_TEXT, KIND_BITMAP, KIND_PROGRAM, KIND_SETTINGS,  # noqa: E402
                            RECEIVE_PROGRAM, RECEIVE_SETTINGS, SEND_COMMAND, SEND_SETTINGS,
                            SUCCESS_TEXT, Bench)

FILE_SEND, FILE_SEND_DATA, FILE_SEND_END, FILE_GET = 10, 11, 12, 20


def pattern(size, seed):
    generator = random.Random(seed)
    return bytes(generator.randrange(256) for _ in range(size))


class FileTransfers(unittest.TestCase):
    TIMEOUT_S = 300

    def setUp(self):
        self.bench = Bench()

    def tearDown(self):
        self.bench.close()

    def send(self, kind, name, data):
        path = self.bench.write(name, data)
        since = self.bench.mark()
        self.bench.start_with_file(SEND_COMMAND[kind], path)
        return since, self.bench.result()

    def test_sends_arrive_byte_for_byte(self):
        cases = [(KIND_SETTINGS, "settings.bin", pattern(300, 1)),
                 (KIND_SETTINGS, "empty.bin", b""),
                 (KIND_PROGRAM, "program.bin", pattern(64 * 1024, 2))]
        for kind, name, data in cases:
            since, text = self.send(kind, name, data)
            self.assertEqual(text, SUCCESS_TEXT[kind], name)
            item = self.bench.last_received("file")
            self.assertEqual(item.get("kind"), kind)
            self.assertEqual(self.bench.read(item["path"]), data, name)
            frames = self.bench.frames(since, "in")
            self.assertEqual(frames[0][1:], (FILE_SEND, b"%d,%d,%d," % (kind, sum(data) & 0xFFFF, len(data))))
            chunks = [len(p) for _, cmd, p in frames if cmd == FILE_SEND_DATA]
            if name == "settings.bin":
                self.assertEqual(chunks, [128, 128, 44])
            self.assertEqual(frames[-1][1:], (FILE_SEND_END, b"1"))
        self.assertEqual(self.bench.caption(SEND_SETTINGS), "Send Settings")

    def test_bitmap_is_converted_beside_nothing_of_the_operators(self):
        # A file of the intermediate's name in the operator's folder must survive the send.
        keep = self.bench.write("bitmap.bin", b"the operator's own file")
        text = b"static unsigned char logo[] = {\r\n  0x1F, 0xA0, x1,2,\r\n  0X33, 0x4\r\n5, 0xff };\r\n"
        _, result = self.send(KIND_BITMAP, "logo.txt", text)
        self.assertEqual(result, SUCCESS_TEXT[KIND_BITMAP])
        self.assertEqual(self.bench.read(self.bench.last_received("file")["path"]), b"\x1f\xa0\x12\xff")
        self.assertEqual(self.bench.read(keep), b"the operator's own file")
        # The image is built in memory: no file of it exists that another send could overwrite.
        images = glob.glob(os.path.join(h.Session.get().prefix, "drive_c", "users", "*", "**", "bitmap.bin"),
                           recursive=True)
        self.assertEqual(images, [])

    def test_failure_texts_of_each_kind(self):
        for kind, name in ((KIND_SETTINGS, "s.bin"), (KIND_PROGRAM, "p.bin"), (KIND_BITMAP, "b.txt")):
            self.bench.fault(kind="wrong_sum", command=FILE_SEND_END, at=1)
            data = b"0x01 0x02 0x03\r\n" if kind == KIND_BITMAP else pattern(200, kind)
            _, text = self.send(kind, name, data)
            self.assertEqual(text, FAILURE_TEXT[kind])
            self.assertIn(FAILURE_TEXT[kind], self.bench.app.log_lines())

    def test_unit_error_mid_send_shows_its_text(self):
        self.bench.fault(kind="error_13", command=FILE_SEND_DATA, at=3, text="Storage full")
        count = self.bench.log_count()
        _, text = self.send(KIND_SETTINGS, "big.bin", pattern(2000, 3))
        self.assertEqual(text, "Settings transfer failure.")
        lines = self.bench.log_since(count)
        start = lines.index("Settings Transfer error.")
        self.assertEqual(lines[start:start + 3],
                         ["Settings Transfer error.", "Settings transfer halted.", "Storage full"])
        self.assertEqual(self.bench.caption(SEND_SETTINGS), "Send Settings")
        self.assertEqual(self.bench.app.progress().get("exists"), False)

    def test_receives_save_the_units_files(self):
        settings = pattern(1500, 4)
        self.bench.serve(KIND_SETTINGS, settings)
        saved = self.bench.path("saved-settings.bin")
        self.bench.start_with_file(RECEIVE_SETTINGS, saved)
        self.assertEqual(self.bench.result(), SUCCESS_TEXT[KIND_SETTINGS])
        self.assertEqual(self.bench.read(saved), settings)

        program = pattern(3000, 5)
        self.bench.serve(KIND_PROGRAM, program, name="ABC")
        saved = self.bench.path("saved-program.bin")
        since = self.bench.mark()
        self.bench.start_with_file(RECEIVE_PROGRAM, saved, program_name="ABC")
        self.assertEqual(self.bench.result(), SUCCESS_TEXT[KIND_PROGRAM])
        self.assertEqual(self.bench.read(saved), program)
        self.assertEqual(self.bench.frames(since, "in")[0][1:], (FILE_GET, b"26ABC"))
        h.wait_until(lambda: self.bench.caption(RECEIVE_PROGRAM) != "Stop Transfer", 5)


if __name__ == "__main__":
    unittest.main()
