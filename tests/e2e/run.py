#!/usr/bin/env python3
"""Runs every end-to-end test (tests/e2e/test_*.py, unittest) in one Wine session.

Prints one line per test (ok / FAIL / ERROR / skip, name, seconds), the details of each
failure, and at the end the line "E2E-RESULT passed=N failed=N" for scripts/test.sh.
A test that runs past its time limit has its Wine processes and simulators killed and is
marked failed; whatever a test leaves running is ended after it; a failed test leaves a
screenshot and the program's log lines in the build folder (e2e-artifacts/).

Usage: run.py [--timeout S] [--grace S] [--dir FOLDER] [substring ...]   (substrings select tests by id)
"""
import argparse
import os
import sys
import threading
import time
import traceback
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import harness as h  # noqa: E402

DEFAULT_TEST_TIMEOUT_S = 240
# After the watchdog has killed Wine, how long the test gets to notice and return.
DEFAULT_KILL_GRACE_S = 60


def iter_tests(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from iter_tests(item)
        else:
            yield item


def load_tests(patterns, folder=HERE):
    loader = unittest.TestLoader()
    if folder not in sys.path:
        sys.path.insert(0, folder)
    suite = loader.discover(folder, pattern="test_*.py", top_level_dir=folder)
    tests = []
    for test in iter_tests(suite):
        test_id = test.id()
        if patterns and not any(p in test_id for p in patterns):
            continue
        tests.append(test)
    return tests


class Watchdog:
    """Kills the Wine side of the session when a test overruns, so that whatever the test
    waits on (a driver reply, a window) fails at once instead of hanging the run."""

    def __init__(self):
        self.fired = False
        self._timer = None

    def start(self, seconds):
        self.fired = False
        self._timer = threading.Timer(seconds, self._fire)
        self._timer.daemon = True
        self._timer.start()

    def cancel(self):
        if self._timer:
            self._timer.cancel()

    def _fire(self):
        self.fired = True
        session = h.Session._current
        for sim in list(h._live_sims):
            try:
                sim.stop()
            except Exception:
                pass
        if session is not None:
            try:
                session.kill_wine()
            except Exception:
                pass


class LineResult(unittest.TestResult):
    """Collects one test's outcome."""

    def __init__(self):
        super().__init__()
        self.outcome = "ok"
        self.details = ""

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self.outcome, self.details = "FAIL", self._exc_info_to_string(err, test)

    def addError(self, test, err):
        super().addError(test, err)
        self.outcome, self.details = "ERROR", self._exc_info_to_string(err, test)

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self.outcome, self.details = "skip", reason

    def addExpectedFailure(self, test, err):
        super().addExpectedFailure(test, err)
        self.outcome = "ok"

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self.outcome, self.details = "FAIL", "unexpected success"


def save_failure_artifacts(test):
    name = test.id().replace("/", "_")
    for index, app in enumerate(h.live_apps()):
        try:
            app.save_artifacts(name + ("" if index == 0 else "-%d" % index))
        except Exception as error:
            print("    (artifacts not saved: %s)" % error)
    session = h.Session._current
    if not h.live_apps() and session is not None:
        try:
            session.screenshot(name)
        except Exception:
            pass


def run_one(test, watchdog, default_timeout, grace):
    limit = getattr(test, "TIMEOUT_S", default_timeout)
    result = LineResult()
    outcome = {}

    def body():
        test.run(result)
        outcome["done"] = True

    started = time.monotonic()
    watchdog.start(limit)
    worker = threading.Thread(target=body, daemon=True)
    worker.start()
    worker.join(limit + grace)
    watchdog.cancel()
    elapsed = time.monotonic() - started
    if "done" not in outcome:
        return "FAIL", "did not end even after its Wine processes were killed", elapsed, True
    if watchdog.fired:
        return "FAIL", "ran past its %d s limit; Wine was killed\n%s" % (limit, result.details), \
            elapsed, False
    if result.outcome in ("FAIL", "ERROR"):
        save_failure_artifacts(test)
    return result.outcome, result.details, elapsed, False


def start_class(cls):
    """Runs setUpClass; returns the traceback text when it failed."""
    if getattr(cls, "__unittest_skip__", False):
        return None
    try:
        cls.setUpClass()
    except unittest.SkipTest:
        return None
    except Exception:
        return traceback.format_exc()
    return None


def finish_class(cls):
    if cls is None:
        return
    try:
        cls.tearDownClass()
    except Exception:
        traceback.print_exc()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--timeout", type=float, default=DEFAULT_TEST_TIMEOUT_S,
                        help="seconds one test may take (a class may set TIMEOUT_S)")
    parser.add_argument("--grace", type=float, default=DEFAULT_KILL_GRACE_S,
                        help="seconds a test may still take after its Wine side was killed")
    parser.add_argument("--dir", default=HERE, help="folder of the test_*.py files")
    parser.add_argument("patterns", nargs="*")
    args = parser.parse_args()

    try:
        tests = load_tests(args.patterns, os.path.abspath(args.dir))
    except Exception:
        traceback.print_exc()
        print("E2E-RESULT passed=0 failed=1")
        return 1
    passed = failed = skipped = 0
    watchdog = Watchdog()
    hung = False
    current_class = None
    class_broken = None
    class_owned = frozenset()
    try:
        for index, test in enumerate(tests):
            # Tests run one by one, so class set-up and tear-down are called here.
            if type(test) is not current_class:
                finish_class(current_class)
                h.cleanup_live()
                current_class = type(test)
                class_broken = start_class(current_class)
                class_owned = h.live_snapshot()
            if class_broken:
                print("ERROR %s (class set-up failed)" % test.id())
                print("    " + class_broken.strip().replace("\n", "\n    "), flush=True)
                failed += 1
                continue
            outcome, details, elapsed, hung = run_one(test, watchdog, args.timeout, args.grace)
            print("%-5s %s (%.1f s)" % (outcome, test.id(), elapsed), flush=True)
            if outcome in ("FAIL", "ERROR"):
                failed += 1
                print("    " + details.strip().replace("\n", "\n    "), flush=True)
            elif outcome == "skip":
                skipped += 1
            else:
                passed += 1
            if hung:
                rest = len(tests) - index - 1
                print("stopping: a test is stuck; %d tests not run count as failed" % rest)
                failed += rest
                break
            h.cleanup_live(keep=class_owned)
        if not hung:
            finish_class(current_class)
    except Exception:
        traceback.print_exc()
        failed += 1
    finally:
        try:
            h.cleanup_live()
            h.Session.shutdown_current()
        except Exception:
            traceback.print_exc()
    if skipped:
        print("%d skipped" % skipped)
    print("E2E-RESULT passed=%d failed=%d" % (passed, failed), flush=True)
    if hung:
        os._exit(1)  # the stuck test's thread cannot be joined
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
