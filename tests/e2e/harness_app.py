"""The program under test as the harness sees it: one start of a build through the driver,
and the driver's commands as methods. Import harness, not this module."""
import os

import harness
from harness import (COMMAND_TIMEOUT_S, IDCANCEL, IDOK, LOG_LIST, PROGRAMS, TITLE,
                     WINDOW_TIMEOUT_MS, WIN_BIN, ARTIFACTS, HarnessError, Session,
                     wait_until, windows_path)


class App:
    """One start of the program (service build by default) and the driver's commands."""

    def __init__(self, variant="service", session=None, args=""):
        self.session = session or Session.get()
        self.variant = variant
        exe = os.path.join(WIN_BIN, PROGRAMS[variant])
        if not os.path.exists(exe):
            raise HarnessError("program missing: %s" % exe)
        driver = self.session.driver
        if driver is None or not driver.alive():
            driver = self.session.restart_driver()
        self.driver = driver
        command = '"%s"' % windows_path(exe) + (" " + args if args else "")
        reply = self.call("launch " + command)
        self.pid = reply["pid"]
        self.running = True
        harness._live_apps.append(self)

    # --- raw access -----------------------------------------------------------------
    def call(self, command, timeout=COMMAND_TIMEOUT_S, check=True):
        reply = self.driver.send(command, timeout)
        if check and not reply.get("ok"):
            raise AssertionError("driver command %r failed: %r" % (command, reply))
        return reply

    # --- the main dialog ------------------------------------------------------------
    def wait_main(self, timeout_ms=WINDOW_TIMEOUT_MS):
        reply = self.call("find_main %d %s" % (timeout_ms, TITLE), timeout_ms / 1000 + 30)
        self.main_hwnd = reply["hwnd"]
        return reply

    def click(self, control_id):
        self.call("click %d" % control_id)
        self.sync()

    def command(self, command_id):
        self.call("command %d" % command_id)
        self.sync()

    def sync(self):
        return self.call("sync", check=False).get("ok", False)

    def control(self, control_id):
        return self.call("control %d" % control_id)

    def text(self, control_id):
        return self.control(control_id).get("text")

    def list_lines(self, control_id):
        return self.call("list %d" % control_id)["lines"]

    def log_lines(self):
        return self.list_lines(LOG_LIST)

    def selected(self, control_id=LOG_LIST):
        return self.call("list %d" % control_id)["selected"]

    def select_line(self, index, selected=True, control_id=LOG_LIST):
        """Selects (or clears) one line; index -1 means every line."""
        return self.call("setsel %d %d %d" % (control_id, 1 if selected else 0, index))

    def wait_log(self, text, timeout=10.0):
        """Waits until a log line contains text; returns the whole log."""
        return wait_until(lambda: (lambda lines: lines if any(text in l for l in lines)
                                   else None)(self.log_lines()), timeout,
                          what="log line %r" % text)

    def windows(self):
        return self.call("windows")["windows"]

    def message_boxes(self):
        """Visible windows of the program other than the main dialog (message boxes share
        its title, so the main dialog is told apart by its handle)."""
        main = getattr(self, "main_hwnd", None)
        return [w for w in self.windows() if w["hwnd"] != main and
                (main is not None or w["title"] != TITLE or
                 any(b["id"] in (IDOK, IDCANCEL) for b in w["buttons"]))]

    def key(self, virtual_key):
        """Presses and releases a key in the program's focused window (27 is Esc)."""
        self.call("key %d" % virtual_key)
        self.sync()

    def press(self, button_id=IDOK, timeout_ms=WINDOW_TIMEOUT_MS):
        """Waits for a message box with this button, presses it; returns its title and texts."""
        reply = self.call("press %d %d" % (button_id, timeout_ms), timeout_ms / 1000 + 30)
        self.sync()
        return reply

    def file_dialog(self, path, timeout_ms=WINDOW_TIMEOUT_MS):
        """Types a Linux path (as Z:\\...) into an open or save dialog and presses OK."""
        return self.call("file_dialog %d %s" % (timeout_ms, windows_path(path)),
                         timeout_ms / 1000 + 30)

    def edit_dialog(self, text=None, button_id=IDOK, edit_id=1000, timeout_ms=WINDOW_TIMEOUT_MS):
        """Fills the program-name dialog (text None keeps what is there) and presses a button."""
        tail = "-" if text is None else "= " + text
        return self.call("edit_dialog %d %d %d %s" % (edit_id, button_id, timeout_ms, tail),
                         timeout_ms / 1000 + 30)

    def progress(self):
        return self.call("progress")

    def watch_progress(self, timeout_s):
        """Watches the progress bar in the driver until it has come and gone; returns every
        position it showed (in order), its upper limit and whether it went."""
        return self.call("watch_progress %d" % int(timeout_s * 1000), timeout_s + 30)

    def geometry(self):
        return self.call("geometry")

    def close(self):
        self.call("close")

    def wait_exit(self, timeout_s=30):
        reply = self.call("wait_exit %d" % int(timeout_s * 1000), timeout_s + 30)
        if reply.get("exited"):
            self.running = False
            if self in harness._live_apps:
                harness._live_apps.remove(self)
        return reply

    def kill(self):
        if self.running and self.driver.alive():
            try:
                self.call("kill", check=False)
            except HarnessError:
                pass
        self.running = False
        if self in harness._live_apps:
            harness._live_apps.remove(self)

    def screenshot(self, name):
        return self.session.screenshot(name)

    def save_artifacts(self, name):
        """Screenshot and log lines into the build folder, for a failed test."""
        os.makedirs(ARTIFACTS, exist_ok=True)
        shot = self.screenshot(name)
        try:
            lines = self.log_lines()
        except Exception as error:  # the program may be gone; keep what can be kept
            lines = ["(log unreadable: %s)" % error]
        with open(os.path.join(ARTIFACTS, name + ".log.txt"), "w") as f:
            f.write("\n".join(lines) + "\n")
        return shot

    # --- registry -------------------------------------------------------------------
    def registry(self):
        return self.call("reg_get")


def registry_command(command):
    """Registry commands before a program start (reg_set 3, reg_delete_key, reg_block...)."""
    session = Session.get()
    if session.driver is None or not session.driver.alive():
        session.restart_driver()
    return session.driver.send(command)
