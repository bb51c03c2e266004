#!/usr/bin/env python3
"""Checks that the C and C++ sources keep the format of .clang-format, one check per folder.

  check_format.py [--fix] [ROOT]   (ROOT: the checkout, by default the one holding this script)

Names each file that differs with its first differing line; the last line is "passed failed".
--fix rewrites the files in place instead. The formatter is pinned by its versioned name,
since another clang-format release formats the same options differently."""
import os
import re
import shutil
import subprocess
import sys

from check_layers import source_files

CLANG_FORMAT = "clang-format-14"  # Debian 12's; scripts/setup.sh installs it
FOLDERS = ["app", "board", "cli", "common", "download", "link", "records", "serial", "station", "transfer", "sim", "bench", "tests"]
ENDINGS = (".cpp", ".h", ".c")
BATCH = 100  # files per formatter run, well inside any command-line limit

# "path:line:col: error: code should be clang-formatted [-Wclang-format-violations]"
VIOLATION = re.compile(r"^(.+?):(\d+):\d+: (?:error|warning): code should be clang-formatted")


def run_formatter(root, arguments, files):
    """The formatter's complaints as {file: [line, ...]}; raises OSError when it cannot run."""
    complaints = {}
    for start in range(0, len(files), BATCH):
        batch = files[start:start + BATCH]
        result = subprocess.run([CLANG_FORMAT, "--style=file"] + arguments + batch, cwd=root,
                                capture_output=True, text=True)
        for line in result.stderr.splitlines():
            match = VIOLATION.match(line)
            if match:
                complaints.setdefault(match.group(1), []).append(int(match.group(2)))
        if result.returncode != 0 and not complaints:
            raise OSError("%s failed: %s" % (CLANG_FORMAT, result.stderr.strip()[:500]))
    return complaints


def main():
    arguments = sys.argv[1:]
    fix = "--fix" in arguments
    arguments = [a for a in arguments if a != "--fix"]
    root = os.path.abspath(arguments[0] if arguments else
                           os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    missing = ("no .clang-format in %s" % root if not os.path.isfile(os.path.join(root, ".clang-format")) else
               "%s is not installed (run make setup)" % CLANG_FORMAT if shutil.which(CLANG_FORMAT) is None else None)
    if missing:
        print("FAIL  " + missing)
        print(0, 1)
        return 1
    passed = failed = 0
    report = []
    for folder in FOLDERS:
        files = list(source_files(root, folder, ENDINGS))
        if not files:
            continue
        try:
            complaints = run_formatter(root, ["-i"] if fix else ["--dry-run", "--Werror"], files)
        except OSError as error:
            report.append("FAIL  %s/: %s" % (folder, error))
            failed += 1
            continue
        if fix:
            report.append("formatted %s/ (%d files)" % (folder, len(files)))
        elif complaints:
            failed += 1
            report.append("FAIL  %s/: %d of %d files differ from .clang-format" % (folder, len(complaints), len(files)))
            for path, lines in sorted(complaints.items()):
                report.append("  %s:%d: %d %s to reformat" % (path, lines[0], len(lines),
                                                            "place" if len(lines) == 1 else "places"))
        else:
            passed += 1
            report.append("ok    %s/: %d files" % (folder, len(files)))
    if failed and not fix:
        print("to reformat: /usr/bin/python3 scripts/check_format.py --fix")
    print("\n".join(report))
    if not fix:
        print(passed, failed)
    return 1 if failed else 0

if __name__ == "__main__":
    sys.exit(main())
