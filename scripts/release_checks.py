#!/usr/bin/env python3
"""Checks the release programs as they ship: each Linux program needs only the C library and is
hardened (PIE, full RELRO, immediate binding, stack protector, fortified functions); each
Windows program has ASLR and DEP set in its header and carries the version of the file
VERSION in its version resource; every program is stripped. Prints one line per program and
check, ends with "passed failed", and exits 1 when any check failed."""
import argparse
import re
import struct
import subprocess
import sys

# The C library family: a program linked only against these runs on any glibc system.
C_LIBRARY = {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1",
             "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1"}
PE_OBJDUMP = "i686-w64-mingw32-objdump"
# VS_FIXEDFILEINFO starts with this signature; the file and product versions follow it.
FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)
FIXED_FILE_INFO_BYTES = 52


def run(*argv):
    return subprocess.run(list(argv), capture_output=True, text=True, check=True).stdout


def elf_problems(path):
    """What the Linux program lacks of a portable, hardened release; empty when nothing."""
    problems = []
    dynamic = run("readelf", "-W", "-d", path)
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic)
    foreign = [n for n in needed if n not in C_LIBRARY]
    if foreign or not needed:
        problems.append("needs %s beside the C library" % (", ".join(foreign) or "no library at all"))
    if not re.search(r"\(FLAGS_1\).*\bPIE\b", dynamic):
        problems.append("not a position-independent executable")
    if not re.search(r"\(FLAGS\).*\bBIND_NOW\b", dynamic) and not re.search(r"\(FLAGS_1\).*\bNOW\b", dynamic):
        problems.append("no immediate binding")
    if "GNU_RELRO" not in run("readelf", "-W", "-l", path):
        problems.append("no RELRO segment")
    symbols = run("readelf", "-W", "--dyn-syms", path)
    if "__stack_chk_fail" not in symbols:
        problems.append("no stack protector")
    if not re.search(r"\b__\w+_chk\b", symbols.replace("__stack_chk_fail", "")):
        problems.append("no fortified functions")
    if ".symtab" in run("readelf", "-W", "-S", path):
        problems.append("not stripped")
    return problems


def fixed_file_version(data):
    """The file version of a PE's version resource as "a.b.c.d", or None."""
    at = data.find(FIXED_FILE_INFO_SIGNATURE)
    if at < 0 or at + FIXED_FILE_INFO_BYTES > len(data):
        return None
    _, _, ms, ls = struct.unpack_from("<IIII", data, at)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def pe_problems(path, version):
    problems = []
    headers = run(PE_OBJDUMP, "-p", path)
    for flag, meaning in (("DYNAMIC_BASE", "ASLR"), ("NX_COMPAT", "DEP")):
        if flag not in headers:
            problems.append("no %s (%s) in its header" % (flag, meaning))
    stamp = re.search(r"^Time/Date\s+(.*)$", headers, re.MULTILINE)
    if stamp and not stamp.group(1).startswith(("Thu Jan  1 00:00:00 1970", "00000000")):
        problems.append("a link time in its header (%s)" % stamp.group(1).strip())
    if re.search(r"^\s*\[\s*\d+\]\(sec", run(PE_OBJDUMP, "-t", path), re.MULTILINE):
        problems.append("not stripped")
    with open(path, "rb") as f:
        found = fixed_file_version(f.read())
    if found != version + ".0":
        problems.append("version resource says %s, VERSION says %s" % (found, version))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--version", required=True, help="the release number from VERSION")
    parser.add_argument("--elf", nargs="*", default=[], help="Linux programs")
    parser.add_argument("--pe", nargs="*", default=[], help="Windows programs")
    args = parser.parse_args()
    passed = failed = 0
    for paths, check in ((args.elf, elf_problems), (args.pe, lambda p: pe_problems(p, args.version))):
        for path in paths:
            try:
                problems = check(path)
            except (OSError, subprocess.CalledProcessError) as error:
                problems = ["cannot be read (%s)" % error]
            if problems:
                failed += 1
                print("FAIL  %s: %s" % (path, "; ".join(problems)))
            else:
                passed += 1
                print("ok    %s" % path)
    print(passed, failed)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
