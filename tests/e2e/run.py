#!/usr/bin/env python3
"""Runs the end-to-end tests (tests/e2e/test_*.py) with pytest in one Wine session.

Usage: run.py [--timeout S] [--dir FOLDER] [substring ...] [-- pytest options]
A substring selects the tests whose id contains it ("shell_ports",
"test_wizard_download.WizardDownload"); several select the union. The run ends with the
line "E2E-RESULT passed=N failed=N" (conftest.py).
"""
import argparse
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
# pytest and pytest-timeout come from Debian and serve the system interpreter.
SYSTEM_PYTHON = "/usr/bin/python3"


def keyword_expression(patterns):
    """pytest -k for "id contains one of these": a dotted id matches all of its parts."""
    terms = []
    for pattern in patterns:
        parts = [p for p in pattern.replace("::", ".").split(".") if p]
        terms.append("(" + " and ".join(parts) + ")")
    return " or ".join(terms)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--timeout", type=float, help="seconds one test may take (default 240)")
    parser.add_argument("--dir", default=HERE, help="folder of the test_*.py files")
    parser.add_argument("patterns", nargs="*")
    argv = sys.argv[1:]
    passed_on = []
    if "--" in argv:
        argv, passed_on = argv[:argv.index("--")], argv[argv.index("--") + 1:]
    args, extra = parser.parse_known_args(argv)
    extra += passed_on

    python = SYSTEM_PYTHON if os.path.exists(SYSTEM_PYTHON) else sys.executable
    folder = os.path.abspath(args.dir)
    command = [python, "-m", "pytest", "-c", os.path.join(HERE, "pytest.ini"),
               "--rootdir", folder, "-v", folder]
    if folder != HERE:
        command += ["-p", "conftest"]  # the run's fixtures and closing line for a folder elsewhere
    if args.timeout is not None:
        command += ["--timeout", str(args.timeout)]
    if args.patterns:
        command += ["-k", keyword_expression(args.patterns)]
    command += extra
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [HERE, os.environ.get("PYTHONPATH")])))
    try:
        return subprocess.call(command, env=env)
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
