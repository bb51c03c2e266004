"""A throwaway PostgreSQL 15 for the records-server tests: initdb and pg_ctl as the postgres
user into a temporary folder, on a free port of 127.0.0.1, with the table and role of
packaging/varnex-records.sql and a SCRAM password for the role in a temporary passfile. One
server serves every test of a run; the tests stop, hang and restart it through this class."""
import os
import pwd
import shutil
import signal
import socket
import subprocess
import tempfile
import time

BIN = "/usr/lib/postgresql/15/bin"
SQL_FILE = os.path.join(os.path.dirname(__file__), "..", "..", "packaging", "varnex-records.sql")
ADMIN = "postgres"
ROLE = "varnex"
DATABASE = "records"
START_TIMEOUT_S = 60
SQL_TIMEOUT_S = 30
LSAN_SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan-libcrypto.supp")


def _free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _as_postgres():
    """What subprocess runs the server's programs as, from root or as postgres itself."""
    if os.getuid() == 0:
        user = pwd.getpwnam(ADMIN)
        return {"user": user.pw_uid, "group": user.pw_gid}
    return {}


class PgServer:
    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="varnex-pg-")
        os.chmod(self.root, 0o755)
        self.data = os.path.join(self.root, "data")
        self.port = _free_port()
        self.password = "line-%d" % os.getpid()
        self.passfile = os.path.join(self.root, "passfile")
        self.url = "postgresql://%s@127.0.0.1:%d/%s" % (ROLE, self.port, DATABASE)
        self._owner = _as_postgres()
        if self._owner:
            os.chown(self.root, self._owner["user"], self._owner["group"])

    def _run(self, *args, check=True, timeout=START_TIMEOUT_S):
        return subprocess.run(list(args), check=check, timeout=timeout, capture_output=True, text=True,
                              cwd=self.root, **self._owner)

    def start_fresh(self):
        self._run(BIN + "/initdb", "-D", self.data, "-U", ADMIN, "--auth-local=trust",
                  "--auth-host=scram-sha-256", "-E", "UTF8", "--locale=C")
        with open(os.path.join(self.data, "postgresql.conf"), "a") as conf:
            conf.write("listen_addresses = '127.0.0.1'\nport = %d\nunix_socket_directories = '%s'\n"
                       "fsync = off\nlog_min_messages = warning\n" % (self.port, self.root))
        self.start()
        self.admin_sql("CREATE DATABASE %s" % DATABASE, database="postgres")
        self.run_sql_file()
        self.admin_sql("ALTER ROLE %s PASSWORD '%s'" % (ROLE, self.password))
        with open(self.passfile, "w") as f:
            f.write("127.0.0.1:%d:%s:%s:%s\n" % (self.port, DATABASE, ROLE, self.password))
        os.chmod(self.passfile, 0o600)

    def run_sql_file(self):
        """What the administrator runs, once to make the table and again after an upgrade."""
        self._run(BIN + "/psql", "-h", self.root,
                  "-p", str(self.port), "-U", ADMIN, "-d", DATABASE, "-v", "ON_ERROR_STOP=1", "-q",
                  "-f", os.path.abspath(SQL_FILE))

    def start(self):
        self._run(BIN + "/pg_ctl", "-D", self.data, "-l", os.path.join(self.root, "server.log"), "-w",
                  "-t", str(START_TIMEOUT_S), "start")

    def stop(self, mode="fast"):
        self._run(BIN + "/pg_ctl", "-D", self.data, "-m", mode, "-w", "stop", check=False)

    def postmaster_pid(self):
        with open(os.path.join(self.data, "postmaster.pid")) as f:
            return int(f.readline())

    def hang(self):
        os.kill(self.postmaster_pid(), signal.SIGSTOP)

    def resume(self):
        os.kill(self.postmaster_pid(), signal.SIGCONT)

    def admin_sql(self, sql, database=DATABASE):
        """Runs SQL as the administrator over the local socket; gives psql's unaligned rows."""
        done = self._run(BIN + "/psql", "-h", self.root, "-p", str(self.port), "-U", ADMIN, "-d", database,
                         "-v", "ON_ERROR_STOP=1", "-qAt", "-F", "|", "-c", sql, timeout=SQL_TIMEOUT_S)
        return [line.split("|") for line in done.stdout.splitlines()]

    def env(self, **extra):
        """The environment a varnex run takes the passfile and no other server's settings from."""
        env = {k: v for k, v in os.environ.items() if not k.startswith("PG")}
        env["PGPASSFILE"] = self.passfile
        env["LSAN_OPTIONS"] = "suppressions=" + LSAN_SUPPRESSIONS
        env.update(extra)
        return env

    def close(self):
        try:
            self.resume()
        except (OSError, ValueError):
            pass
        self.stop("immediate")
        shutil.rmtree(self.root, ignore_errors=True)
