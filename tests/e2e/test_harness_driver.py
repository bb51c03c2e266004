"""The driver's own promises, which every end-to-end test builds on: registry set-up of the
remembered port (a locked key included), refusals instead of clicks that no person could
make, bounded waits for windows that never come, and plain errors for bad commands."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

REG_DWORD = 4
REG_SZ = 1
BACK_BUTTON = 1017  # disabled on the first wizard page
NO_SUCH_CONTROL = 4321
SHORT_WAIT_MS = 500
VK_ESCAPE = 27


def send(command):
    return h.registry_command(command)


class DriverRegistry(unittest.TestCase):
    def tearDown(self):
        send("reg_delete_key")

    def test_values_are_written_read_and_removed(self):
        self.assertTrue(send("reg_delete_key")["ok"])
        self.assertFalse(send("reg_get")["key_exists"])
        self.assertTrue(send("reg_set 5")["ok"])
        reply = send("reg_get")
        self.assertEqual((reply["type"], reply["value"]), (REG_DWORD, 5))
        self.assertTrue(send("reg_set_text 3")["ok"])
        reply = send("reg_get")
        self.assertEqual(reply["type"], REG_SZ)
        self.assertTrue(send("reg_delete_value")["ok"])
        reply = send("reg_get")
        self.assertTrue(reply["key_exists"])
        self.assertFalse(reply["value_exists"])

    def test_a_locked_key_cannot_be_opened_until_it_is_reset(self):
        send("reg_set 2")
        self.assertTrue(send("reg_block")["ok"], "the lock must hold under Wine")
        self.assertFalse(send("reg_get")["key_exists"])
        self.assertTrue(send("reg_set 3")["ok"], "setting a value lifts the lock first")
        self.assertEqual(send("reg_get")["value"], 3)


class DriverOnTheProgram(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        send("reg_delete_key")
        cls.peer = h.PtyPeer(1)
        cls.app = h.App("service")
        cls.app.wait_main()

    @classmethod
    def tearDownClass(cls):
        cls.app.kill()
        cls.peer.close()
        send("reg_delete_key")

    def test_main_dialog_is_listed_with_its_buttons(self):
        windows = self.app.windows()
        main = [w for w in windows if w["title"] == h.TITLE]
        self.assertEqual(len(main), 1, windows)
        self.assertEqual(main[0]["pid"], self.app.pid)
        ids = {b["id"] for b in main[0]["buttons"]}
        self.assertTrue({1010, 1011, 1012, 1013, 1016, 1030} <= ids, ids)
        geometry = self.app.geometry()
        self.assertGreater(geometry["client_width"], 0)
        self.assertGreater(geometry["client_height"], 0)
        self.assertFalse(self.app.progress()["exists"], "no bar while nothing runs")

    def test_clicks_no_person_could_make_are_refused(self):
        state = self.app.control(BACK_BUTTON)
        self.assertTrue(state["exists"] and not state["enabled"], state)
        reply = self.app.call("click %d" % BACK_BUTTON, check=False)
        self.assertEqual(reply, {"ok": False, "error": "control disabled"})
        reply = self.app.call("click %d" % NO_SUCH_CONTROL, check=False)
        self.assertEqual(reply, {"ok": False, "error": "no such control"})
        self.assertFalse(self.app.control(NO_SUCH_CONTROL)["exists"])

    def test_waits_for_windows_that_never_come_end_on_time(self):
        for command in ("press %d %d" % (h.IDOK, SHORT_WAIT_MS),
                        "file_dialog %d Z:\\tmp\\x.txt" % SHORT_WAIT_MS,
                        "edit_dialog 1000 1 %d = name" % SHORT_WAIT_MS):
            with self.subTest(command=command.split()[0]):
                started = time.monotonic()
                reply = self.app.call(command, check=False)
                self.assertFalse(reply["ok"], reply)
                self.assertLess(time.monotonic() - started, 10)

    def test_bad_commands_get_an_error_reply_and_the_driver_lives_on(self):
        for command in ("no_such_command", "click", "setsel 1002"):
            with self.subTest(command=command):
                reply = self.app.call(command, check=False)
                self.assertFalse(reply["ok"])
                self.assertIn("unknown command or missing arguments", reply["error"])
        self.assertTrue(self.app.call("ping")["ok"])
        self.assertTrue(self.app.sync())


class DriverKeyPress(unittest.TestCase):
    def test_esc_typed_into_the_program_ends_it(self):
        peer = h.PtyPeer(1)
        app = h.App("service")
        app.wait_main()
        self.assertEqual(app.message_boxes(), [])
        app.key(VK_ESCAPE)
        reply = app.wait_exit(30)
        self.assertTrue(reply["exited"], reply)
        self.assertEqual(reply["code"], 0)
        peer.close()


if __name__ == "__main__":
    unittest.main()
