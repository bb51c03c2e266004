#!/usr/bin/env python3
"""`make run`: the program under Wine with the simulated unit on COM1.

Starts Xvfb when there is no display, the simulated unit (or, before it is built, a bare
pseudo-terminal that holds the port open) on COM1, and the program; prints where its
screenshot is and how to reach the unit; cleans everything up when the program ends
(Ctrl-C ends it too). VARIANT=operator|service chooses the build, SIM_ARGS adds options
for the simulated unit, PACE=0 lets the unit take and send bytes as fast as the
pseudo-terminal carries them, RUN_SECONDS closes the program after that many seconds.
"""
import os
import shlex
import signal
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tests", "e2e"))
import harness as h  # noqa: E402

SCREENSHOT_DELAY_S = 3
EXIT_POLL_S = 1
# The operator build is for loading firmware: the unit waits in its bootloader menu at the
# speed the wizard recommends, so a person can walk the wizard to its last page. The service
# build talks to a running unit.
DEFAULT_SIM_ARGS = {"operator": "--mode bootloader --baud 115200", "service": ""}
# A person walking the wizard should see a download take its real time and the bar move, as
# with a real unit: the unit keeps to the line rate unless PACE=0 (or off, no) is given.
PACE_OPTION = "--pace"
PACE_OFF_VALUES = ("0", "off", "no", "false")


def simulator_args(variant):
    """The simulated unit's options: SIM_ARGS or the variant's defaults, paced unless PACE
    turns it off."""
    args = shlex.split(os.environ.get("SIM_ARGS", DEFAULT_SIM_ARGS.get(variant, "")))
    pace = os.environ.get("PACE", "1").strip().lower() not in PACE_OFF_VALUES
    if pace and PACE_OPTION not in args:
        args.append(PACE_OPTION)
    return args


def main():
    variant = os.environ.get("VARIANT", "operator")
    if variant not in h.PROGRAMS:
        print("VARIANT must be one of: %s" % ", ".join(sorted(h.PROGRAMS)))
        return 2
    run_seconds = float(os.environ.get("RUN_SECONDS", "0") or 0)
    os.environ.setdefault("VARNEX_RUN_DIR", os.path.join(h.BUILD_DIR, "run"))
    print("Starting Wine (the first start prepares a prefix, about 20 s) ...", flush=True)
    session = h.Session.get()
    peer = sim = None
    if os.path.exists(h.SIM_PROGRAM):
        sim_args = simulator_args(variant)
        sim = h.Sim(sim_args)
        if sim_args:
            print("Simulated unit options: %s" % " ".join(sim_args))
        if PACE_OPTION not in sim_args:
            print("The unit is not paced: a download is over in seconds (PACE=0).")
        print("Simulated unit on COM1 (%s -> %s)." % (sim.link, sim.slave_path))
        print("  control socket: %s" % sim.control_path)
        print("  for example:    echo '{\"cmd\": \"status\"}' | socat - UNIX-CONNECT:%s"
              % sim.control_path)
        print("  event log:      %s" % sim.events_path)
    else:
        peer = h.PtyPeer(1)
        print("No simulated unit built yet: COM1 is a bare pseudo-terminal (%s)." % peer.slave_path)
        print("  raise CTS and DSR: echo %d > %s" % (h.TIOCM_CTS | h.TIOCM_DSR,
                                                     session.modem_file))
    app = h.App(variant)
    app.wait_main()
    print("%s build running on display %s (pid %d)." % (variant, session.display, app.pid))
    time.sleep(SCREENSHOT_DELAY_S)
    shot = app.screenshot("run-%s" % variant)
    if shot:
        print("Screenshot: %s" % shot)
        print("  another one: import -display %s -window root shot.png" % session.display)
    if run_seconds:
        print("Closing the program after %g s." % run_seconds, flush=True)
    else:
        print("Close the program (or press Ctrl-C) to end.", flush=True)

    stop = {"now": False}
    signal.signal(signal.SIGINT, lambda *_: stop.update(now=True))
    signal.signal(signal.SIGTERM, lambda *_: stop.update(now=True))
    started = time.monotonic()
    code = 0
    try:
        while True:
            reply = app.call("wait_exit %d" % (EXIT_POLL_S * 1000), check=False)
            if reply.get("exited"):
                code = reply.get("code", 0)
                print("The program ended (exit code %s)." % code)
                app.running = False
                break
            if stop["now"] or (run_seconds and time.monotonic() - started >= run_seconds):
                app.close()
                if not app.wait_exit(10).get("exited"):
                    app.kill()
                print("The program was closed.")
                break
    finally:
        h.cleanup_live()
        if sim:
            sim.stop()
        if peer:
            peer.close()
        h.Session.shutdown_current()
    return 0


if __name__ == "__main__":
    sys.exit(main())
