"""The source checks of make test, run on small trees of their own: each finds the breach it
exists for, names FILE:LINE, and passes a sound tree."""
import os
import shutil
import subprocess
import sys

import pytest

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
LAYERS = os.path.join(REPO, "scripts", "check_layers.py")
FORMAT = os.path.join(REPO, "scripts", "check_format.py")


def tree(root, files):
    for path, text in files.items():
        os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
        with open(os.path.join(root, path), "w") as out:
            out.write(text)


def run(script, *arguments):
    result = subprocess.run([sys.executable, script, *arguments], capture_output=True, text=True, timeout=60)
    return result.returncode, result.stdout


SOUND = {
    "app/DialogIds.h": "#pragma once\n#define IDC_LOG_LIST 1002\n#define WM_DOWNLOAD_DONE 1026\n",
    "app/win/Presenter.cpp": '#include "app/DialogIds.h"\nvoid Done() { PostMessageA(0, WM_DOWNLOAD_DONE, 0, 1); }\n',
    "common/Clock.h": "#pragma once\nnamespace common {\n}  // namespace common\n",
    "serial/SerialPort.h": '#pragma once\n#include "common/Clock.h"\nnamespace serial::win {\nenum class Parity { Odd };\n}\n',
    "link/win/Glue.cpp": '#include <windows.h>\n#include "serial/SerialPort.h"\n',
    "cli/Main.cpp": '#ifdef _WIN32\n#include "link/win/Glue.h"\n#else\n#include "serial/posix/Port.h"\n#endif\n',
}


def test_a_sound_tree_passes(tmp_path):
    tree(tmp_path, SOUND)
    code, out = run(LAYERS, str(tmp_path))
    assert code == 0, out
    assert out.splitlines()[-1] == "6 0"


def test_each_breach_is_named_with_its_file_and_line(tmp_path):
    tree(tmp_path, dict(SOUND, **{
        "serial/win/Thread.cpp": '#include "common/Clock.h"\n\n#include "link/win/Glue.h"\n',
        "transfer/Engine.cpp": '#include "../app/Dialog.h"\n',
        "download/Engine.cpp": '#include "serial/win/Port.h"\n',
        "app/win/Clock.h": "#pragma once\n",
        "link/win/Post.cpp": "// posts WM_DOWNLOAD_DONE when done\nvoid Done(HWND w) {\n"
                             "    PostMessageA(w, WM_DOWNLOAD_DONE, 0, 1);\n}\n",
        "serial/win/Box.cpp": "int IDC_LOG_LISTING = 0;\nvoid Fail() { MessageBoxA(0, \"x\", \"y\", 0); }\n",
        # The port layer, and a second place that reads the modem lines and writes a port.
        "serial/win/PortIo.cpp": "void Open() { CreateFileA(p); PurgeComm(h, 0); SetCommState(h, &d); }\n",
        "app/win/Monitor.cpp": "// GetCommModemStatus(h) in a comment passes\n"
                               "void Look() {\n    GetCommModemStatus(h, &s);\n    WriteFile(h, b, n, &w, &o);\n}\n",
        "transfer/win/Files.cpp": "void Save() { CreateFileA(name); WriteFile(f, b, n, &w, 0); }\n",
        "download/Reply.h": "#pragma once\n// enum Old was here; namespace download { too\nenum Reply : int { Ok };\n",
    }))
    code, out = run(LAYERS, str(tmp_path))
    assert code == 1
    assert 'serial/win/Thread.cpp:3: includes "link/win/Glue.h": serial may not use link/' in out
    assert "transfer/Engine.cpp:1: " in out and "transfer may not use app/" in out
    assert 'download/Engine.cpp:1: includes "serial/win/Port.h" (a win/ header) in a portable file' in out
    assert "Clock.h is the name of 2 headers: app/win/Clock.h, common/Clock.h" in out
    assert "link/win/Post.cpp:3: calls PostMessageA: " in out
    assert "link/win/Post.cpp:3: names WM_DOWNLOAD_DONE, a dialog id, below app/" in out
    assert "serial/win/Box.cpp:2: calls MessageBoxA: " in out
    assert "link/win/Post.cpp:1:" not in out and "IDC_LOG_LISTING" not in out, "comments and longer names pass"
    assert "app/win/Monitor.cpp:3: calls GetCommModemStatus: the Win32 serial calls are made in " \
           "serial/win/PortIo.cpp only" in out
    assert "app/win/Monitor.cpp:4: calls WriteFile: " in out
    assert "Monitor.cpp:1:" not in out and "transfer/win/Files.cpp" not in out, "an engine's own files pass"
    assert "download/Reply.h: declares its names in the global namespace" in out
    assert "download/Reply.h:3: an unscoped enum" in out and "download/Reply.h:2:" not in out
    assert out.splitlines()[-1] == "0 6"


def test_the_rooms_of_cli_include_only_the_rooms_below_them(tmp_path):
    tree(tmp_path, dict(SOUND, **{
        "cli/Options.h": '#pragma once\n#include "common/Clock.h"\n',
        "cli/Commands.cpp": '#include "cli/station/StationCommand.h"\n#include "cli/output/Summary.h"\n',
        "cli/station/StationCommand.h": '#pragma once\n#include "cli/Options.h"\n#include "cli/load/RunUnits.h"\n',
        "cli/load/RunUnits.h": '#pragma once\n#include "cli/output/Summary.h"\n#include "cli/terminal/Terminal.h"\n',
        "cli/terminal/win/Terminal.cpp": '#include "cli/terminal/Terminal.h"\n',
        "cli/win/varnex.rc": '#include "cli/Options.h"\n',
    }))
    code, out = run(LAYERS, str(tmp_path))
    assert code == 0, out
    tree(tmp_path, {
        "cli/output/Summary.cpp": '#include "cli/output/Summary.h"\n#include "cli/load/RunUnits.h"\n',
        "cli/service/ServiceCommand.cpp": '#include "cli/station/StationCommand.h"\n',
        "cli/terminal/posix/Terminal.cpp": '#include "cli/Commands.h"\n',
        "cli/Options.h": '#pragma once\n#include "cli/station/StationConfig.h"\n',
        "cli/line/Page.cpp": '#include "cli/output/Summary.h"\n',
    })
    code, out = run(LAYERS, str(tmp_path))
    assert code == 1
    assert 'cli/output/Summary.cpp:2: includes "cli/load/RunUnits.h": cli/output may not use cli/load/' in out
    assert "cli/output/Summary.cpp:1:" not in out, "a room's own headers pass"
    assert "cli/service/ServiceCommand.cpp:1: " in out and "cli/service may not use cli/station/" in out
    assert "cli/terminal/posix/Terminal.cpp:1: " in out and "cli/terminal may not use cli/" in out
    assert "cli/Options.h:2: " in out and "cli/Options.h may not use cli/station/" in out
    assert "cli/line/Page.cpp:1: " in out and "a room ROOM_LEVELS does not name" in out
    assert out.splitlines()[-1] == "5 1"


@pytest.mark.skipif(shutil.which("clang-format-14") is None, reason="clang-format-14 is not installed")
def test_the_format_check_names_a_badly_formatted_file(tmp_path):
    shutil.copy(os.path.join(REPO, ".clang-format"), tmp_path)
    tree(tmp_path, {"common/Good.h": "int Sum(int a, int b);\n",
                    "link/Bad.cpp": "int Sum(int a, int b) { return a + b; }\nint  Twice(int a)\n{ return 2*a; }\n"})
    code, out = run(FORMAT, str(tmp_path))
    assert code == 1
    assert "ok    common/: 1 files" in out
    assert "link/Bad.cpp:2: " in out
    assert out.splitlines()[-1] == "1 1"
