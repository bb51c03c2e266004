"""One Wine session for the whole end-to-end run, and what each test leaves behind.

A test that runs past its limit (240 s, or its class's TIMEOUT_S) is failed where it waits,
and its Wine processes and simulators are ended so the next test starts clean; a failed test
leaves a screenshot and the program's log lines in the build folder (e2e-artifacts/);
whatever a test started is ended after it. The run ends with "E2E-RESULT passed=N failed=N"
for scripts/test.sh.
"""
import os
import sys
import traceback

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

TIMEOUT_MESSAGE = "Timeout"


def pytest_collection_modifyitems(items):
    for item in items:
        limit = getattr(item.cls, "TIMEOUT_S", None) if item.cls else None
        if limit is not None:
            item.add_marker(pytest.mark.timeout(limit))


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    setattr(item, "report_" + report.when, report)


@pytest.fixture(scope="session", autouse=True)
def wine_session():
    """Ends the session's Wine, Xvfb and whatever is still running when the run is over."""
    yield
    try:
        h.cleanup_live()
    finally:
        h.Session.shutdown_current()


@pytest.fixture(scope="class", autouse=True)
def class_leftovers(wine_session):
    """What a class started for all its tests is ended after its last test."""
    yield
    h.cleanup_live()


def _stuck(report):
    return report is not None and report.failed and TIMEOUT_MESSAGE in str(report.longrepr)


def _artifact_name(item):
    module = os.path.splitext(os.path.basename(str(item.fspath)))[0]
    return ".".join([module] + ([item.cls.__name__] if item.cls else []) + [item.name])


def _save_artifacts(name):
    apps = h.live_apps()
    for index, app in enumerate(apps):
        try:
            app.save_artifacts(name + ("" if index == 0 else "-%d" % index))
        except Exception as error:
            print("    (artifacts not saved: %s)" % error)
    session = h.Session._current
    if not apps and session is not None:
        try:
            session.screenshot(name)
        except Exception:
            pass


def _end_wine_side():
    for sim in list(h._live_sims):
        try:
            sim.stop()
        except Exception:
            pass
    session = h.Session._current
    if session is not None:
        session.kill_wine()


@pytest.fixture(autouse=True)
def unittest_result_lists(request):
    """A unittest test may look in its result for its own failure (tearDown saving what it
    needs only then); pytest's result records outcomes without those lists, so they are
    kept here as unittest keeps them."""
    item = request.node
    if not hasattr(item, "addFailure") or hasattr(item, "failures"):
        yield
        return
    item.failures, item.errors = [], []
    add_failure, add_error = item.addFailure, item.addError

    def record_failure(test, err):
        item.failures.append((test, "".join(traceback.format_exception(*err))))
        add_failure(test, err)

    def record_error(test, err):
        item.errors.append((test, "".join(traceback.format_exception(*err))))
        add_error(test, err)

    item.addFailure, item.addError = record_failure, record_error
    yield


@pytest.fixture(autouse=True)
def test_leftovers(request, class_leftovers):
    """Artifacts of a failed test, then the end of whatever the test itself started."""
    owned_by_class = h.live_snapshot()
    yield
    item = request.node
    call = getattr(item, "report_call", None)
    if _stuck(call):
        _end_wine_side()
    elif call is not None and call.failed:
        _save_artifacts(_artifact_name(item))
    h.cleanup_live(keep=owned_by_class)


def pytest_terminal_summary(terminalreporter):
    stats = terminalreporter.stats
    passed = len(stats.get("passed", []))
    failed = len(stats.get("failed", [])) + len(stats.get("error", []))
    terminalreporter.write_line("E2E-RESULT passed=%d failed=%d" % (passed, failed))
