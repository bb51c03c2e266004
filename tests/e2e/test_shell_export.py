"""The log export with the real program: every line or the selected ones go to a new file
in the temporary folder with CR LF line ends, and Notepad is started on it. Also takes the
screenshots of both dialog layouts into the build folder."""
import glob
import os
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

EXPORT_ALL = 1006
EXPORT_SELECTED = 1007
CLEAR_LOG = 1001
NOTEPAD_TIMEOUT_S = 20


def wine_processes(session, name):
    """Pids and command lines of this prefix's Wine processes whose command starts with name."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                args = f.read().split(b"\0")
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=" + session.prefix).encode() not in environ:
            continue
        command = b" ".join(a for a in args if a).decode("latin-1")
        if command.lower().startswith(name) or ("\\" + name) in command.lower():
            found.append((int(pid), command))
    return found


def linux_path(session, windows_name):
    """C:\\users\\... inside the prefix as a Linux path."""
    drive, rest = windows_name[0].lower(), windows_name[3:]
    return os.path.join(session.prefix, "dosdevices", drive + ":", *rest.split("\\"))


class ShellExport(unittest.TestCase):
    def setUp(self):
        self.session = h.Session.get()
        h.registry_command("reg_delete_key")
        self.peer = h.PtyPeer(1)
        self.app = None
        self.known_notepads = {pid for pid, _ in wine_processes(self.session, "notepad")}

    def tearDown(self):
        for pid, _ in wine_processes(self.session, "notepad"):
            if pid not in self.known_notepads:
                os.kill(pid, signal.SIGKILL)  # a Notepad this test's program started
        if self.app is not None and self.app.running:
            self.app.kill()
        self.peer.close()
        h.registry_command("reg_delete_key")

    def exported_file(self, seen):
        """Waits for a Notepad started on a file not in seen; returns that file's Linux path."""
        def fresh():
            for pid, command in wine_processes(self.session, "notepad"):
                name = command.split(" ", 1)[1] if " " in command else ""
                if pid not in self.known_notepads and name and name not in seen:
                    return name
            return None
        name = h.wait_until(fresh, NOTEPAD_TIMEOUT_S, what="Notepad on a new export file")
        seen.add(name)
        self.assertRegex(name, r"\\jvk\d+$")
        return linux_path(self.session, name)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def test_export_all_then_selected_lines(self):
        app = self.app = h.App("service")
        app.wait_main()
        lines = app.wait_log("Device Com1 opened successfully.")
        self.assertEqual(len(lines), 2)
        seen = set()

        app.click(EXPORT_ALL)
        everything = self.exported_file(seen)
        self.assertEqual(self.read(everything), b"Opening Device Com1 ...\r\nDevice Com1 opened successfully.\r\n")

        app.select_line(1)
        app.click(EXPORT_SELECTED)
        selected = self.exported_file(seen)
        self.assertNotEqual(selected, everything)
        self.assertEqual(self.read(selected), b"Device Com1 opened successfully.\r\n")
        self.assertTrue(os.path.exists(everything), "earlier exports stay")

        # Nothing selected: an empty file, and Notepad still opens it.
        app.select_line(-1, selected=False)
        app.click(EXPORT_SELECTED)
        self.assertEqual(self.read(self.exported_file(seen)), b"")

        # Clearing empties the log; a later export is empty too.
        app.click(CLEAR_LOG)
        h.wait_until(lambda: app.log_lines() == [], 10, what="cleared log")
        app.click(EXPORT_ALL)
        self.assertEqual(self.read(self.exported_file(seen)), b"")
        app.close()
        app.wait_exit(30)

    def test_screenshots_of_both_layouts(self):
        for variant in ("operator", "service"):
            app = self.app = h.App(variant)
            app.wait_main()
            if variant == "service":
                app.wait_log("Device Com1 opened successfully.")
            else:
                h.wait_until(lambda: self.peer.holders(), 10, what="COM1 held")
            geometry = app.geometry()
            self.assertGreater(geometry["client_width"], 0)
            self.assertIsNotNone(app.screenshot("shell_%s_dialog" % variant))
            app.close()
            self.assertTrue(app.wait_exit(30).get("exited"))


def tearDownModule():
    h.Session.shutdown_current()


if __name__ == "__main__":
    unittest.main()
