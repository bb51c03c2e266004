"""Transfers over a poor line: the simulated unit corrupts, drops, delays and pads its frames
at random (seeded, so a failure can be repeated). Each transfer must either finish with
identical bytes or end with its own failure text; never a silent difference, never a hang."""
import os
import random
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from transfer_steps import (FAILURE_TEXT, GET_NLEC, KIND_PROGRAM, KIND_SETTINGS,  # noqa: E402
                            RECEIVE_PROGRAM, SEND_NLEC, SEND_SETTINGS, SUCCESS_TEXT, Bench)

SEED = 20261207
LINE_FAULTS = [
    {"kind": "corrupt_byte", "rate": 0.04},
    {"kind": "drop_byte", "rate": 0.02},
    {"kind": "drop_reply", "rate": 0.02},
    {"kind": "delay_reply", "rate": 0.01},
    {"kind": "noise", "rate": 0.04},
]
NLEC_RETRY_FAILURE = "Nlec transfer failure. Retry count exceeded."
FILE_RETRY_FAILURE = "Binary Test transfer failure. Retry count exceeded."
NLEC_DONE_PREFIX = "NLEC Transfer completed in "


def pattern(size, seed):
    generator = random.Random(seed)
    return bytes(generator.randrange(256) for _ in range(size))


class TransfersOnAPoorLine(unittest.TestCase):
    TIMEOUT_S = 600

    def setUp(self):
        self.bench = Bench(["--seed", str(SEED)])
        for rule in LINE_FAULTS:
            self.bench.fault(**rule)

    def tearDown(self):
        self.bench.close()

    def assertFaultsFired(self):
        applied = self.bench.sim.request({"cmd": "faults"})["faults"]["applied"]
        self.assertGreater(applied, 5, "the line was meant to be poor")

    def test_nlec_send_and_fetch(self):
        table = b"".join(b"%04d=%s\r\n" % (i, b"9" * (i % 70)) for i in range(300))
        path = self.bench.write("table.txt", table)
        self.bench.start_with_file(SEND_NLEC, path)
        text = self.bench.result()
        if text.startswith(NLEC_DONE_PREFIX):
            self.assertEqual(self.bench.read(self.bench.last_received("nlec")["path"]),
                             table.replace(b"\r\n", b"\n"))
        else:
            self.assertIn(text, (NLEC_RETRY_FAILURE, "Nlec Checksum Failure."))

        lines = ["%03d=%s" % (i, "5" * (i % 90)) for i in range(200)]
        source = self.bench.write("unit-table.txt", "\n".join(lines).encode() + b"\n")
        self.bench.sim.request({"cmd": "content_set", "what": "nlec_table", "path": source})
        saved = self.bench.path("saved.txt")
        self.bench.start_with_file(GET_NLEC, saved)
        text = self.bench.result()
        if text.startswith(NLEC_DONE_PREFIX):
            self.assertEqual(self.bench.read(saved), b"".join(l.encode() + b"\r\n" for l in lines))
        else:
            self.assertEqual(text, NLEC_RETRY_FAILURE)
        self.assertFaultsFired()

    def test_file_send_and_receive(self):
        data = pattern(20000, 6)
        path = self.bench.write("settings.bin", data)
        self.bench.start_with_file(SEND_SETTINGS, path)
        text = self.bench.result()
        if text == SUCCESS_TEXT[KIND_SETTINGS]:
            self.assertEqual(self.bench.read(self.bench.last_received("file")["path"]), data)
        else:
            self.assertIn(text, (FILE_RETRY_FAILURE, FAILURE_TEXT[KIND_SETTINGS]))

        program = pattern(12000, 7)
        self.bench.serve(KIND_PROGRAM, program, name="LATHE1")
        saved = self.bench.path("program.bin")
        self.bench.start_with_file(RECEIVE_PROGRAM, saved, program_name="LATHE1")
        text = self.bench.result()
        if text == SUCCESS_TEXT[KIND_PROGRAM]:
            self.assertEqual(self.bench.read(saved), program)
        else:
            self.assertIn(text, (FILE_RETRY_FAILURE, FAILURE_TEXT[KIND_PROGRAM]))
        self.assertFaultsFired()



class UnitThatFallsSilent(unittest.TestCase):
    """The unit stops answering in the middle of a transfer: the program gives up with its
    retry text, lets go of the file, and the next transfer works."""
    TIMEOUT_S = 300

    def setUp(self):
        self.bench = Bench()

    def tearDown(self):
        self.bench.close()

    def test_receive_and_send_give_up_and_recover(self):
        program = pattern(5000, 8)
        self.bench.serve(KIND_PROGRAM, program, name="P1")
        saved = self.bench.path("program.bin")
        rule = self.bench.fault(kind="drop_reply", command=21, rate=1.0)["id"]
        self.bench.start_with_file(RECEIVE_PROGRAM, saved, program_name="P1")
        self.assertEqual(self.bench.result(), FILE_RETRY_FAILURE)
        self.assertFalse(os.path.exists(saved), "an abandoned receive saves nothing")
        self.bench.sim.request({"cmd": "faults_clear", "id": rule})
        self.bench.start_with_file(RECEIVE_PROGRAM, saved, program_name="P1")
        self.assertEqual(self.bench.result(), SUCCESS_TEXT[KIND_PROGRAM])
        self.assertEqual(self.bench.read(saved), program)

        rule = self.bench.fault(kind="drop_reply", command=6, rate=1.0)["id"]
        path = self.bench.write("table.txt", b"A=1\r\nB=2\r\n")
        self.bench.start_with_file(SEND_NLEC, path)
        self.assertEqual(self.bench.result(), NLEC_RETRY_FAILURE)
        self.bench.sim.request({"cmd": "faults_clear", "id": rule})
        self.bench.start_with_file(SEND_NLEC, path)
        self.assertTrue(self.bench.result().startswith(NLEC_DONE_PREFIX))


if __name__ == "__main__":
    unittest.main()
