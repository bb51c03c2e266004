"""The serial path under Wine without the program: a Windows client (the driver) opens COM1
overlapped, follows CTS through GetCommModemStatus and WaitCommEvent, writes bytes and reads
them through WaitCommEvent(EV_RXCHAR) and overlapped reads, first against a bare
pseudo-terminal (which checks the modem-line library) and then against the simulated unit."""
import os
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

LINK_BAUD = 38400
WAIT_MS = 5000
# Command 21, id 1, payload "1", as the unit's manual spells it out byte for byte.
NLEC_LINE_REQUEST = bytes.fromhex("7e7e4800010015000100" "31")
# A log frame (command 3, id 7) with payload "abc": checksum 307 = 0x0133.
LOG_ABC = bytes.fromhex("7e7e3301030003000700") + b"abc"


def driver():
    session = h.Session.get()
    if session.driver is None or not session.driver.alive():
        session.restart_driver()
    return session.driver


def fresh_driver():
    """A new driver process: a Wine process that opened a pty keeps its first descriptor
    for a later pty of the same number, and the simulator's ptys are numbered anew."""
    return h.Session.get().restart_driver()


def call(command, timeout=h.COMMAND_TIMEOUT_S):
    reply = driver().send(command, timeout)
    if not reply.get("ok"):
        raise AssertionError("%r failed: %r" % (command, reply))
    return reply


class LineOnPseudoTerminal(unittest.TestCase):
    def setUp(self):
        self.peer = h.PtyPeer(1)
        self.peer.set_modem(0)
        fresh_driver()
        call("com_open 1 %d" % LINK_BAUD)

    def tearDown(self):
        driver().send("com_close")
        self.peer.set_modem(0)
        self.peer.close()

    def test_line_settings_reach_the_far_end(self):
        settings = self.peer.settings()
        self.assertEqual((settings["ispeed"], settings["ospeed"]), (LINK_BAUD, LINK_BAUD))
        self.assertTrue(settings["parodd"], settings)  # odd parity shows as PARODD alone
        self.assertFalse(settings["cstopb"], settings)

    def test_modem_lines_follow_the_file_both_ways(self):
        self.assertFalse(call("com_status")["cts"])
        self.peer.set_modem(h.TIOCM_CTS | h.TIOCM_DSR)
        status = call("com_status")
        self.assertTrue(status["cts"] and status["dsr"], status)
        self.peer.set_modem(0)
        self.assertFalse(call("com_status")["cts"])
        # The PC's own lines (DTR and RTS enabled at open) land in the .pc file.
        pc_bits = h.Session.get().pc_modem_bits()
        self.assertEqual(pc_bits & (h.TIOCM_DTR | h.TIOCM_RTS), h.TIOCM_DTR | h.TIOCM_RTS)

    def test_a_cts_change_wakes_a_comm_event_wait(self):
        def raise_later():
            time.sleep(1.0)
            self.peer.set_modem(h.TIOCM_CTS)
        threading.Thread(target=raise_later, daemon=True).start()
        reply = call("com_wait_cts 1 %d" % WAIT_MS)
        self.assertTrue(reply["cts"])
        self.assertGreaterEqual(reply["cts_events"], 1, reply)

    def test_bytes_cross_in_both_directions(self):
        call("com_write " + NLEC_LINE_REQUEST.hex())
        self.assertEqual(self.peer.read(len(NLEC_LINE_REQUEST)), NLEC_LINE_REQUEST)
        payload = bytes(range(256)) * 4  # every byte value, more than one read's worth
        # Sent while the driver already waits, so the bytes must wake WaitCommEvent.
        later = threading.Timer(0.5, self.peer.write, args=(payload,))
        later.start()
        reply = call("com_read %d %d" % (len(payload), WAIT_MS))
        later.join()
        self.assertEqual(bytes.fromhex(reply["hex"]), payload)
        self.assertGreaterEqual(reply["rx_events"], 1, reply)

    def test_a_read_with_nothing_arriving_ends_at_its_timeout(self):
        started = time.monotonic()
        reply = call("com_read 1 500")
        self.assertEqual(reply["count"], 0)
        self.assertLess(time.monotonic() - started, 5)


@unittest.skipUnless(os.path.exists(h.SIM_PROGRAM), "simulated unit not built")
class LineOnSimulatedUnit(unittest.TestCase):
    def setUp(self):
        self.sim = h.Sim(["--mode", "running"])
        fresh_driver()
        call("com_open 1 %d" % LINK_BAUD)

    def tearDown(self):
        driver().send("com_close")
        self.sim.stop()

    def test_cts_follows_the_unit(self):
        self.sim.request({"cmd": "cts", "on": True})
        self.assertTrue(call("com_wait_cts 1 %d" % WAIT_MS)["cts"])
        self.sim.request({"cmd": "cts", "on": False})
        self.assertFalse(call("com_wait_cts 0 %d" % WAIT_MS)["cts"])

    def test_unit_decodes_a_frame_from_the_pc(self):
        call("com_write " + NLEC_LINE_REQUEST.hex())

        def decoded():
            frames = self.sim.request({"cmd": "trace"})["frames"]
            return [f for f in frames if f.get("event") == "frame_in"]
        frames = h.wait_until(decoded, 10, what="the unit to decode the frame")
        first = frames[0]
        self.assertEqual((first.get("command"), first.get("id")), (21, 1), first)
        self.assertNotEqual(str(first.get("checksum_ok")).lower(), "false", first)

    def test_pc_reads_a_frame_from_the_unit(self):
        reply = self.sim.request({"cmd": "send", "command": 3, "id": 7, "text": "abc"})
        self.assertTrue(reply["ok"], reply)
        reply = call("com_read %d %d" % (len(LOG_ABC), WAIT_MS))
        self.assertEqual(bytes.fromhex(reply["hex"]), LOG_ABC)


class SimulatorThatCannotStart(unittest.TestCase):
    def test_its_own_words_reach_the_test(self):
        import harness_peers
        script = os.path.join(h.Session.get().run_dir, "broken-sim")
        with open(script, "w") as f:
            f.write("#!/bin/sh\necho 'unknown option --frobnicate' >&2\nexit 2\n")
        os.chmod(script, 0o755)
        saved = harness_peers.SIM_PROGRAM
        harness_peers.SIM_PROGRAM = script
        try:
            with self.assertRaises(h.HarnessError) as caught:
                h.Sim(["--frobnicate"])
        finally:
            harness_peers.SIM_PROGRAM = saved
        self.assertIn("unknown option --frobnicate", str(caught.exception))
        self.assertFalse(os.path.lexists(h.Session.get().port_link(1)), "COM1 left unmapped")


if __name__ == "__main__":
    unittest.main()
