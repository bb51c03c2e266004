#!/usr/bin/env python3
"""Runs one command (for example `wine some_test.exe`) inside an end-to-end session: the
Wine prefix, Xvfb, the COM port mapping and the modem-line library are set up first and
ended afterwards. Used by scripts/test.sh for the Windows-side test program.

Usage: wine_exec.py [--timeout S] -- COMMAND...   (VARNEX_BUILD_DIR, VARNEX_RUN_DIR as for
the end-to-end tests). The exit code is the command's, 124 when it ran past the timeout.
"""
import argparse
import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tests", "e2e"))
import harness as h  # noqa: E402

TIMED_OUT = 124


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--timeout", type=float, default=1800)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command given")
    session = h.Session.get()
    try:
        process = subprocess.Popen(command, env=session.env, start_new_session=True)
        try:
            return process.wait(args.timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            print("wine_exec: %s ran past %d s and was killed" % (command[0], args.timeout))
            return TIMED_OUT
    finally:
        h.Session.shutdown_current()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
