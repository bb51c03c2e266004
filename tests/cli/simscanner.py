"""A simulated serial-mode barcode scanner: a pseudo-terminal whose far end varnex opens as the
scanner's device (a link in the test's folder, as /dev/serial/by-id/... would be). scan() sends
a code as the scanner would, a line ending in CR LF; unplug() takes the device away (varnex
sees the line hang up and the device vanish) and plug() brings a new one under the same name.
Used by the tests here, the bench and for training, so none of them needs a real scanner."""
import os
import pty
import tty

LINE_END = b"\r\n"


class Scanner:
    def __init__(self, folder, name="scanner"):
        self.link = os.path.join(str(folder), name)
        self._master = None
        self._slave = None
        self.plug()

    def plug(self):
        self._master, self._slave = pty.openpty()
        tty.setraw(self._slave)
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(os.ttyname(self._slave), self.link)

    def unplug(self):
        os.unlink(self.link)
        for fd in (self._master, self._slave):
            os.close(fd)
        self._master = self._slave = None

    def scan(self, code, end=LINE_END):
        data = code.encode() if isinstance(code, str) else code
        os.write(self._master, data + end)

    def close(self):
        if self._master is not None:
            self.unplug()
