"""A throwaway machine run by Debian's systemd, for the tests of the station's service: systemd
boots as PID 1 of new pid, mount, cgroup, uts and ipc namespaces (as a container runtime
starts it) over an overlay of this machine whose changes stay in memory, in a cgroup v2 child
of its own. It shares the machine's network (the records server on 127.0.0.1) and ptys (the
simulated units). Files go in through /proc/PID/root; commands run inside through nsenter.

Where the kernel refuses the namespaces or the cgroup tree, Unavailable says so in one line."""
import ctypes
import os
import shlex
import shutil
import signal
import subprocess
import tempfile
import time

INIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "systembox_init.sh")
# The writable cgroup v2 tree of a hybrid machine; on a unified one it is the root itself.
CGROUP_TREES = ("/sys/fs/cgroup/unified", "/sys/fs/cgroup")
# Where the box sees the machine's shared folder.
SHARE_AT = "/srv/varnex-box"
NAMESPACES = ["--pid", "--fork", "--mount", "--cgroup", "--uts", "--ipc"]
BOOT_TIMEOUT_S = 60
COMMAND_TIMEOUT_S = 60
POLL_S = 0.2
PR_SET_PDEATHSIG = 1


class Unavailable(Exception):
    """This machine cannot run the box; the message is the one line to show."""


def _cgroup_tree():
    for tree in CGROUP_TREES:
        if os.path.exists(os.path.join(tree, "cgroup.subtree_control")):
            return tree
    raise Unavailable("no cgroup v2 tree under /sys/fs/cgroup")


def check_machine():
    """Raises Unavailable when the kernel refuses what the box needs; a cheap probe run first."""
    if os.getuid() != 0:
        raise Unavailable("the systemd box needs root")
    _cgroup_tree()
    probe = subprocess.run(["unshare"] + NAMESPACES + ["true"], capture_output=True, text=True)
    if probe.returncode != 0:
        raise Unavailable("the kernel refuses new namespaces: %s" % probe.stderr.strip())


def _die_with_parent():
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def wait_until(condition, seconds, step=POLL_S):
    """condition()'s first true value within the time, else the last false one."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


class SystemBox:
    def __init__(self, name="varnex-box"):
        self.share = tempfile.mkdtemp(prefix="vx-share-")
        os.chmod(self.share, 0o755)
        self._scratch = tempfile.mkdtemp(prefix="vx-box-")
        tree = _cgroup_tree()
        self._cgroup = tempfile.mkdtemp(prefix="varnex-box-", dir=tree)
        self._log = open(os.path.join(self.share, "box.log"), "wb")
        # The launcher moves itself into the box's cgroup before the namespaces are made, so
        # that the new cgroup namespace starts there and systemd sees only its own tree.
        # Should the tests themselves be killed, the launcher dies with them and takes the box
        # along (--kill-child), so no systemd is left running on the machine.
        launch = 'echo $$ >"$1/cgroup.procs" && shift && exec unshare %s --kill-child --propagation private sh "$@"' % (
            " ".join(NAMESPACES))
        self._launcher = subprocess.Popen(["sh", "-c", launch, "sh", self._cgroup, INIT, self._scratch, self.share,
                                           SHARE_AT, name], stdout=self._log, stderr=subprocess.STDOUT,
                                          start_new_session=True, preexec_fn=_die_with_parent)
        self.pid = None
        try:
            self.pid = wait_until(self._init_pid, BOOT_TIMEOUT_S)
            if not self.pid:
                raise RuntimeError("the box's init did not start: %s" % self.boot_log())
            state = wait_until(self._booted, BOOT_TIMEOUT_S, step=0.5)
            if not state:
                raise RuntimeError("systemd did not finish booting: %s; %s" % (
                    self.run("systemctl", "--failed", "--no-legend", check=False).stdout.strip(), self.boot_log()))
        except BaseException:
            self.close()
            raise

    def boot_log(self):
        with open(os.path.join(self.share, "box.log"), errors="replace") as f:
            return " | ".join(f.read().splitlines()[-10:]) or "no output"

    def _init_pid(self):
        """The box's PID 1, as the machine numbers it: the child unshare forked."""
        if self._launcher.poll() is not None:
            raise RuntimeError("the box ended at once (exit %d): %s" % (self._launcher.returncode, self.boot_log()))
        try:
            with open("/proc/%d/task/%d/children" % (self._launcher.pid, self._launcher.pid)) as f:
                children = f.read().split()
        except OSError:
            return None
        if not children:
            return None
        pid = int(children[0])
        try:
            # Booted once the init script has become systemd.
            return pid if os.readlink("/proc/%d/exe" % pid) == "/usr/lib/systemd/systemd" else None
        except OSError:
            return None

    def _booted(self):
        said = self.run("systemctl", "is-system-running", check=False).stdout.strip()
        return said if said in ("running", "degraded") else None

    # --- inside the box

    def run(self, *command, check=True, timeout=COMMAND_TIMEOUT_S, input=None):
        """A command in the box's namespaces and root, as root; its CompletedProcess (text)."""
        done = subprocess.run(["nsenter", "-t", str(self.pid), "-a", "-r", "-w"] + list(command), input=input,
                              capture_output=True, text=True, timeout=timeout)
        if check and done.returncode != 0:
            raise AssertionError("%s: exit %d: %s" % (shlex.join(command), done.returncode,
                                                      (done.stdout + done.stderr).strip()))
        return done

    def path(self, inside):
        """The machine's path to a file of the box (its writes stay in the box's memory)."""
        return "/proc/%d/root%s" % (self.pid, inside)

    def write(self, inside, data, mode=0o644):
        target = self.path(inside)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb" if isinstance(data, bytes) else "w") as f:
            f.write(data)
        os.chmod(target, mode)

    def systemctl(self, *args, check=True):
        return self.run("systemctl", *args, check=check)

    def show(self, unit, prop):
        return self.systemctl("show", "-P", prop, unit).stdout.strip()

    def journal(self, unit):
        """The unit's lines in the journal, as an administrator reads them."""
        return self.run("journalctl", "--no-pager", "-o", "cat", "-u", unit).stdout

    # --- the end

    def close(self):
        if self.pid:
            try:
                os.kill(self.pid, signal.SIGKILL)  # the kernel ends every process of the box
            except ProcessLookupError:
                pass
        if self._launcher.poll() is None:
            try:
                self._launcher.wait(COMMAND_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                os.killpg(self._launcher.pid, signal.SIGKILL)
                self._launcher.wait()
        self._log.close()
        wait_until(lambda: self._remove_cgroup(self._cgroup), COMMAND_TIMEOUT_S)
        try:
            os.rmdir(self._scratch)  # empty here: its tmpfs lived in the box's mount namespace
        except OSError:
            pass
        shutil.rmtree(self.share, ignore_errors=True)

    @staticmethod
    def _remove_cgroup(top):
        """Removes the box's cgroup tree, deepest first; False while a process still lingers."""
        for folder, _, _ in os.walk(top, topdown=False):
            try:
                os.rmdir(folder)
            except FileNotFoundError:
                pass
            except OSError:
                return False
        return True
