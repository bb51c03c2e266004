"""Start-up, the remembered port, a port that cannot be opened, switching ports and the
three ways out, with the real program under Wine and pseudo-terminals behind its ports."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

COM1, COM2, COM3, COM4 = 1010, 1011, 1012, 1013
CLOSE_BUTTON = 1030
ESC_COMMAND = 2
RELEASE_TIMEOUT_S = 10
OPEN_FAILED_TEXT = ("Unable to open the selected com port.  Another device may be using the "
                    "port.  Select another port.")


class ShellPorts(unittest.TestCase):
    def setUp(self):
        self.peers = {}
        self.app = None
        self.refused = []
        h.registry_command("reg_delete_key")

    def tearDown(self):
        if self.app is not None and self.app.running:
            self.app.kill()
        for peer in self.peers.values():
            peer.close()
        for port in self.refused:
            h.Session.get().point_port(port, None)
        h.registry_command("reg_delete_key")

    # --- helpers --------------------------------------------------------------------
    def refuse(self, port):
        """Makes COMn refuse to open, as a port held by another program does: Wine opens
        a serial port shared, so the port is pointed at a folder (access denied)."""
        folder = os.path.join(h.Session.get().run_dir, "not-a-port")
        os.makedirs(folder, exist_ok=True)
        h.Session.get().point_port(port, folder)
        self.refused.append(port)

    def peer(self, port):
        self.peers[port] = h.PtyPeer(port)
        return self.peers[port]

    def start(self, wait=True):
        self.app = h.App("service")
        if wait:
            self.app.wait_main()
        return self.app

    def checked_button(self):
        states = {b: self.app.control(b).get("checked") for b in (COM1, COM2, COM3, COM4)}
        return [b for b, state in states.items() if state == 1]

    def assert_line_settings(self, peer):
        settings = peer.settings()
        self.assertEqual(settings["ospeed"], 38400)
        self.assertEqual(settings["ispeed"], 38400)
        self.assertTrue(settings["parodd"], "odd parity")
        self.assertFalse(settings["cstopb"], "one stop bit")
        self.assertTrue(settings["cs8"], "8 data bits")

    def wait_held(self, peer, held=True):
        h.wait_until(lambda: bool(peer.holders()) == held, RELEASE_TIMEOUT_S,
                     what="port %s" % ("held" if held else "released"))

    def stored_port(self):
        reply = h.registry_command("reg_get")
        return reply.get("value") if reply.get("value_exists") else None

    def assert_exit_releases(self, peer):
        reply = self.app.wait_exit(30)
        self.assertTrue(reply.get("exited"), reply)
        self.assertEqual(reply.get("code"), 0)
        self.wait_held(peer, held=False)

    # --- start-up -------------------------------------------------------------------
    def test_first_run_opens_com1_at_38400_8o1_and_creates_the_key(self):
        peer = self.peer(1)
        app = self.start()
        lines = app.wait_log("Device Com1 opened successfully.")
        self.assertEqual(lines[:2], ["Opening Device Com1 ...", "Device Com1 opened successfully."])
        self.assertEqual(self.checked_button(), [COM1])
        self.assertEqual(self.stored_port(), 1)
        self.assert_line_settings(peer)
        self.wait_held(peer)
        self.assertEqual(app.text(1008), "")
        app.click(CLOSE_BUTTON)
        self.assert_exit_releases(peer)

    def test_remembered_ports(self):
        # stored number -> (buttons shown checked, port opened); none for a port without one
        for stored, button, port in ((3, [COM3], 3), (7, [], 7), (0, [COM1], 1)):
            with self.subTest(stored=stored):
                h.registry_command("reg_set %d" % stored)
                peer = self.peer(port)
                app = self.start()
                app.wait_log("Device Com%d opened successfully." % port)
                self.assertEqual(self.checked_button(), button)
                self.assert_line_settings(peer)
                self.wait_held(peer)
                self.assertEqual(self.stored_port(), stored, "start-up only reads the setting")
                app.command(ESC_COMMAND)
                self.assert_exit_releases(peer)
                peer.close()
                del self.peers[port]

    def test_key_without_value_is_logged_and_com1_used(self):
        h.registry_command("reg_set 4")
        h.registry_command("reg_delete_value")
        peer = self.peer(1)
        app = self.start()
        lines = app.wait_log("Device Com1 opened successfully.")
        self.assertEqual(lines[0], "RegQueryValueEx failed.")
        self.assertIn("Opening Device Com1 ...", lines)
        self.assertIsNone(self.stored_port(), "the value is not repaired at start-up")
        app.close()  # the close box
        self.assert_exit_releases(peer)

    # --- a port that cannot be opened ----------------------------------------------
    def test_start_on_a_port_that_refuses_reports_it_and_keeps_running(self):
        h.registry_command("reg_set 2")
        self.refuse(2)
        app = self.start(wait=False)
        box = app.press(h.IDOK)
        self.assertEqual(box["title"], h.TITLE)
        self.assertIn(OPEN_FAILED_TEXT, box["statics"])
        app.wait_main()
        lines = app.wait_log("Unable to open com port.")
        self.assertEqual(lines[0], "Opening Device Com2 ...")
        self.assertEqual(lines[1], "Unable to open com port.")
        self.assertGreater(len(lines), 2, "the system's text follows")
        self.assertTrue(lines[2].strip())
        self.assertEqual(self.checked_button(), [COM2])
        self.assertEqual(self.stored_port(), 2)

    def test_choosing_a_port_held_by_another_program(self):
        com1 = self.peer(1)
        self.refuse(2)
        app = self.start()
        app.wait_log("Device Com1 opened successfully.")
        app.click(COM2)
        box = app.press(h.IDOK)
        self.assertIn(OPEN_FAILED_TEXT, box["statics"])
        lines = app.wait_log("Unable to open com port.")
        tail = lines[2:]
        self.assertEqual(tail[:2], ["Opening Device Com2 ...", "Closing current device ..."])
        self.assertEqual(tail[2], "Unable to open com port.")
        self.assertTrue(tail[3].strip(), "the system's text follows")
        self.assertEqual(self.stored_port(), 2, "remembered even though it did not open")
        self.wait_held(com1, held=False)

    # --- switching ------------------------------------------------------------------
    def test_switching_closes_the_old_port_and_opens_the_new_one(self):
        com1 = self.peer(1)
        com3 = self.peer(3)
        app = self.start()
        app.wait_log("Device Com1 opened successfully.")
        self.wait_held(com1)
        app.click(COM3)
        lines = app.wait_log("Device Com3 opened successfully.")
        self.assertEqual(lines[2:], ["Opening Device Com3 ...", "Closing current device ...",
                                     "Device Com3 opened successfully."])
        self.wait_held(com1, held=False)
        self.wait_held(com3)
        self.assert_line_settings(com3)
        self.assertEqual(self.stored_port(), 3)

        # The port already open is closed and opened again.
        app.click(COM3)
        lines = app.wait_log("Device Com3 opened successfully.")
        h.wait_until(lambda: app.log_lines()[5:] == ["Opening Device Com3 ...", "Closing current device ...",
                                                     "Device Com3 opened successfully."],
                     10, what="reopen lines")
        self.wait_held(com3)
        app.close()
        self.assert_exit_releases(com3)


def tearDownModule():
    h.Session.shutdown_current()


if __name__ == "__main__":
    unittest.main()
