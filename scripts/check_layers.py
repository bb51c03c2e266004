#!/usr/bin/env python3
"""Checks the arrows between the source folders, read from the #include lines.

  check_layers.py [ROOT]     (ROOT: the checkout, by default the one holding this script)

Six rules, each counted as one check; the last line is "passed failed":
  layers        a file includes only its own folder and the folders ALLOWED below; inside
                cli/, only its own room and the rooms of the ROOM_LEVELS below it;
  platforms     a file outside win/ includes no win/ header and no <windows.h>, and one
                outside posix/ no posix/ header, unless the include sits in a platform
                #if block (which keeps the native build of portable code honest);
  header names  no two headers of the product share a file name (an include by bare name,
                or a search in an editor, would find the wrong one);
  dialog        below app/ no code names a dialog id (a name app/DialogIds.h defines), shows
                a message box or posts a window message: the engines report to listeners;
  serial calls  the Win32 serial calls (the comm functions anywhere; opening, overlapped
                reads and writes and their waits in serial/ and app/) are made in one file:
                one port layer serves the dialog and varnex;
  names         every header of the engines and the layers below them declares its names in
                a namespace, and their enums are scoped (enum class).
Each breach is printed as FILE:LINE with what breaks the rule. tests/ may include anything."""
import os
import re
import sys

# Which other folders a folder's files may include, top to bottom. The front-ends (app is
# the Windows dialog, cli is varnex) never include each other; an engine never includes a
# front-end; serial knows nothing of packets; common includes nothing of the others.
ALLOWED = {
    "app":       {"transfer", "download", "link", "serial", "common"},
    "cli":       {"web", "board", "station", "records", "transfer", "download", "link", "serial", "common"},
    "board":     {"station", "records", "common"},  # the station's board: its model and views
    "web":       {"board", "common"},  # the station's web board: its server and page
    "station":   {"download", "serial", "common"},  # the loading station's port cycle
    "records":   {"common"},                        # the records of loads (SQLite)
    "transfer":  {"link", "common"},
    "download":  {"serial", "common"},
    "link":      {"serial", "common"},
    "serial":    {"common"},
    "common":    set(),
    "resources": {"app", "common"},  # the dialog's templates and ids
    "sim":       {"common"},         # the simulated unit speaks the protocol on its own
    "bench":     {"link", "common"},
}
# The rooms of cli/, by command, in levels from the top: a room may include the rooms of the
# levels below its own, never one beside it or above it. The top (Main, the dispatcher Commands
# and the parser Options) puts them together; ports, station and service each run a command on
# what load (the units' workers), records (the rows kept, forwarded and listed), output (events,
# presenters, failure texts) and terminal (the console, its posix/ and win/) provide. The options
# values (cli/Options.h) are what the parser hands every room, so that header stands below them
# all and includes none of them.
ROOM_LEVELS = [
    ["cli"],
    ["cli/ports"],
    ["cli/station", "cli/service"],
    ["cli/load"],
    ["cli/records"],
    ["cli/output", "cli/terminal"],
    ["cli/Options.h"],
]
ROOMS = {room: {lower for below in ROOM_LEVELS[level + 1:] for lower in below}
         for level, rooms in enumerate(ROOM_LEVELS) for room in rooms}
# The folders whose headers must have names of their own.
PRODUCT = ["app", "board", "web", "cli", "common", "download", "link", "records", "serial", "station", "transfer"]
# Conditions that make a block platform-specific.
PLATFORM_MACROS = ("_WIN32", "_WIN64", "__MINGW32__", "__linux__", "__unix__", "__APPLE__")
WINDOWS_SYSTEM_HEADERS = {"windows.h"}
SOURCE_ENDINGS = (".cpp", ".h", ".c", ".rc", ".h.in")

# The dialog's own: its ids, and the Win32 calls that show a box or post to a window.
DIALOG_IDS = "app/DialogIds.h"
DIALOG_CALLS = re.compile(r"\b((?:MessageBox|PostMessage)\w*)\s*\(")
DEFINE = re.compile(r"^\s*#\s*define\s+(\w+)")

# The Win32 calls of the serial port: the comm functions, which nothing else uses, and the
# file calls that serial/ and app/ make only on a port.
COMM_CALLS = re.compile(r"\b(SetCommState|GetCommState|SetCommTimeouts|GetCommTimeouts|ClearCommError|"
                        r"GetCommModemStatus|PurgeComm|SetCommMask|WaitCommEvent|EscapeCommFunction)\s*\(")
PORT_FILE_CALLS = re.compile(r"\b(CreateFile\w*|ReadFile|WriteFile|GetOverlappedResult|CancelIo)\s*\(")
PORT_FOLDERS = ("serial", "app")

# The folders below the front-ends, whose names live in namespaces.
ENGINES = ["web", "board", "station", "records", "transfer", "download", "link", "serial", "common"]
NAMESPACE = re.compile(r"^\s*namespace\s+\w+(::\w+)*\s*\{")
UNSCOPED_ENUM = re.compile(r"^\s*(?:typedef\s+)?enum\b(?!\s+(?:class|struct)\b)")

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
CONDITION = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif|else|endif)\b(.*)")


def source_files(root, folder, endings=SOURCE_ENDINGS):
    """The files below ROOT/folder with one of the endings, as paths from ROOT, in a steady order."""
    for directory, subfolders, names in os.walk(os.path.join(root, folder)):
        subfolders.sort()
        for name in sorted(names):
            if name.endswith(endings):
                yield os.path.relpath(os.path.join(directory, name), root).replace(os.sep, "/")


def platform_of(path):
    parts = path.split("/")[:-1]
    return "win" if "win" in parts else "posix" if "posix" in parts else None


def included_path(path, quote, name):
    """The included file as a path from the checkout's root, or None when it lies outside
    the source folders (system and library headers, generated files)."""
    if quote == '"' and (name.startswith(".") or "/" not in name):
        # Relative, or bare: the compiler looks beside the including file first.
        name = os.path.normpath(os.path.join(os.path.dirname(path), name)).replace(os.sep, "/")
    return name if name.split("/")[0] in ALLOWED else None


def includes(root, path):
    """Per #include: (line number, as written, the name, the included path or None, whether it
    sits in a platform #if block)."""
    blocks = []  # one flag per open #if: does its condition name a platform?
    with open(os.path.join(root, path), errors="replace") as source:
        for number, line in enumerate(source, 1):
            condition = CONDITION.match(line)
            if condition:
                kind, text = condition.groups()
                platform = any(macro in text for macro in PLATFORM_MACROS)
                if kind in ("if", "ifdef", "ifndef"):
                    blocks.append(platform)
                elif kind == "elif" and blocks:
                    blocks[-1] = blocks[-1] or platform
                elif kind == "endif" and blocks:
                    blocks.pop()
                continue
            match = INCLUDE.match(line)
            if match:
                quote, name = match.groups()
                written = quote + name + ('"' if quote == '"' else ">")
                yield number, written, name, included_path(path, quote, name), any(blocks)


def room_of(path):
    """The room of cli/ a path lies in ("cli/terminal" for cli/terminal/win/X.cpp, "cli" for the
    top's files), the options values' header by itself; None outside cli/."""
    parts = path.split("/")
    if parts[0] != "cli":
        return None
    if path in ROOMS:
        return path
    # The top's own posix/ and win/ (the program's resources) belong to the top.
    return "cli/" + parts[1] if len(parts) > 2 and parts[1] not in ("posix", "win") else "cli"


def check_layers(path, found):
    folder = path.split("/")[0]
    room = room_of(path)
    for number, written, _, target, _ in found:
        if target is None:
            continue
        to = target.split("/")[0]
        if to != folder and to not in ALLOWED[folder]:
            yield "%s:%d: includes %s: %s may not use %s/" % (path, number, written, folder, to)
        elif room and to == folder:
            into = room_of(target)
            if into != room and into not in ROOMS.get(room, ()):
                untaught = "" if room in ROOMS else " (a room ROOM_LEVELS does not name uses none)"
                yield "%s:%d: includes %s: %s may not use %s%s" % (
                    path, number, written, room, into if into.endswith(".h") else into + "/", untaught)


def check_platforms(path, found):
    if path.endswith(".rc"):
        return  # resource scripts are compiled for Windows only
    own = platform_of(path)
    for number, written, name, target, in_platform_block in found:
        if in_platform_block:
            continue
        theirs = platform_of(target) if target else None
        kind = "a %s/ header" % theirs
        if target is None and name.lower() in WINDOWS_SYSTEM_HEADERS:
            theirs, kind = "win", "the Windows API"
        if theirs is not None and theirs != own:
            where = "a %s/ file" % own if own else "a portable file (not under win/ or posix/)"
            yield "%s:%d: includes %s (%s) in %s outside a platform #if block" % (
                path, number, written, kind, where)


def check_header_names(root):
    owners = {}
    for folder in PRODUCT:
        for path in source_files(root, folder):
            if path.endswith((".h", ".h.in")):
                owners.setdefault(os.path.basename(path).replace(".h.in", ".h"), []).append(path)
    for name, paths in sorted(owners.items()):
        if len(paths) > 1:
            yield "%s is the name of %d headers: %s" % (name, len(paths), ", ".join(paths))


def dialog_names(root):
    """The names app/DialogIds.h defines (none when the tree has no dialog)."""
    try:
        with open(os.path.join(root, DIALOG_IDS), errors="replace") as ids:
            return {match.group(1) for match in map(DEFINE.match, ids) if match}
    except OSError:
        return set()


def check_dialog(root, path, names):
    word = re.compile(r"\b(%s)\b" % "|".join(sorted(names))) if names else None
    with open(os.path.join(root, path), errors="replace") as source:
        for number, line in enumerate(source, 1):
            code = line.split("//", 1)[0]  # a comment may speak of the dialog
            for match in DIALOG_CALLS.finditer(code):
                yield "%s:%d: calls %s: only a front-end shows boxes or posts to its windows" % (
                    path, number, match.group(1))
            for match in (word.finditer(code) if word else ()):
                yield "%s:%d: names %s, a dialog id, below app/" % (path, number, match.group(1))


def serial_calls(root, path):
    """(line, call) for each Win32 serial call the file makes."""
    port_folder = path.split("/")[0] in PORT_FOLDERS
    with open(os.path.join(root, path), errors="replace") as source:
        for number, line in enumerate(source, 1):
            code = line.split("//", 1)[0]
            for match in COMM_CALLS.finditer(code):
                yield number, match.group(1)
            for match in (PORT_FILE_CALLS.finditer(code) if port_folder else ()):
                yield number, match.group(1)


def check_serial_calls(root):
    calls = {}
    for folder in PRODUCT:
        for path in source_files(root, folder):
            found = list(serial_calls(root, path))
            if found:
                calls[path] = found
    if len(calls) <= 1:
        return
    home = max(sorted(calls), key=lambda path: len(calls[path]))
    for path in sorted(calls):
        if path != home:
            for number, call in calls[path]:
                yield "%s:%d: calls %s: the Win32 serial calls are made in %s only" % (path, number, call, home)


def check_names(root, path):
    with open(os.path.join(root, path), errors="replace") as source:
        lines = [line.split("//", 1)[0] for line in source]
    if path.endswith(".h") and not any(NAMESPACE.match(line) for line in lines):
        yield "%s: declares its names in the global namespace" % path
    for number, line in enumerate(lines, 1):
        if UNSCOPED_ENUM.match(line):
            yield "%s:%d: an unscoped enum: use enum class" % (path, number)


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    layer_faults, platform_faults, dialog_faults, name_faults = [], [], [], []
    names = dialog_names(root)
    for folder in ALLOWED:
        for path in source_files(root, folder):
            found = list(includes(root, path))
            layer_faults += check_layers(path, found)
            platform_faults += check_platforms(path, found)
            if folder in ALLOWED["app"]:  # the folders below the dialog
                dialog_faults += check_dialog(root, path, names)
            if folder in ENGINES and not path.endswith((".rc", ".h.in")):
                name_faults += check_names(root, path)
    results = [("layers", "each folder (and each room of cli/) includes only those below it", layer_faults),
               ("platforms", "win/ and posix/ headers only in their own folders or platform blocks",
                platform_faults),
               ("header names", "no two product headers share a file name", list(check_header_names(root))),
               ("dialog", "no dialog id, message box or posted message below app/", dialog_faults),
               ("serial calls", "every Win32 serial call in one file", list(check_serial_calls(root))),
               ("names", "engine headers in namespaces, engine enums scoped", name_faults)]
    passed = failed = 0
    for name, rule, faults in results:
        if faults:
            failed += 1
            print("FAIL  %s (%s): %d found" % (name, rule, len(faults)))
            for fault in faults:
                print("  " + fault)
        else:
            passed += 1
            print("ok    %s: %s" % (name, rule))
    print(passed, failed)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
