#!/usr/bin/env python3
"""Checks that each shipped .exe imports only DLLs that every Windows has (the runtime
libraries must be linked in). Prints one line per program and then "passed failed"."""
import re
import subprocess
import sys

SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll",
    "user32.dll", "msvcrt.dll", "shell32.dll", "shlwapi.dll", "ole32.dll", "oleaut32.dll",
    "version.dll", "winmm.dll", "uxtheme.dll", "ntdll.dll", "rpcrt4.dll", "setupapi.dll",
    "ws2_32.dll",  # Winsock, for the network serial ports and the records server
    "secur32.dll",  # Windows' single sign-on (SSPI), which libpq offers a server that asks for it
}
OBJDUMP = "i686-w64-mingw32-objdump"

passed = failed = 0
for exe in sys.argv[1:]:
    try:
        dump = subprocess.run([OBJDUMP, "-p", exe], capture_output=True, text=True,
                              check=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        print("FAIL  %s: cannot read its imports (%s)" % (exe, error))
        failed += 1
        continue
    dlls = sorted({m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)})
    foreign = [d for d in dlls if d not in SYSTEM_DLLS]
    if foreign or not dlls:
        print("FAIL  %s imports %s" % (exe, ", ".join(foreign) or "nothing readable"))
        failed += 1
    else:
        print("ok    %s imports only system DLLs (%s)" % (exe, ", ".join(dlls)))
        passed += 1
print(passed, failed)
