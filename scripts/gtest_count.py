#!/usr/bin/env python3
"""Counts a GoogleTest run from its output: prints "passed failed". A run that ended with
an error but reported no failed test (a crash, a sanitizer report) counts one failure."""
import re
import sys

passed = failed = 0
for line in open(sys.argv[1], errors="replace"):
    if line.startswith("[       OK ] "):
        passed += 1
    elif re.match(r"\[  FAILED  \] \S+ \(\d+ ms\)", line):
        failed += 1
exit_code = int(sys.argv[2]) if len(sys.argv) > 2 else 0
if exit_code != 0 and failed == 0:
    failed = 1
print(passed, failed)
