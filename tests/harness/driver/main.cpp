// The end-to-end driver: a console program that reads one command per line on stdin and
// answers each with one JSON line on stdout. It works the program only through window
// messages, the registry and its own serial client, as a person or a tool on Windows would.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/harness/driver/Dialogs.h"
#include "tests/harness/driver/Program.h"
#include "tests/harness/driver/Registry.h"
#include "tests/harness/driver/Serial.h"

namespace {

// A command line split into words; Rest(n) is everything after the first n words, so a
// path or text with spaces can end a command.
struct Words {
    explicit Words(const std::string& line) : line_(line) {
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && line[i] == ' ') ++i;
            if (i >= line.size()) break;
            size_t end = line.find(' ', i);
            if (end == std::string::npos) end = line.size();
            starts_.push_back(i);
            words_.push_back(line.substr(i, end - i));
            i = end;
        }
    }
    size_t Count() const { return words_.size(); }
    const std::string& operator[](size_t i) const { return words_[i]; }
    long Number(size_t i, long fallback = 0) const {
        return i < words_.size() ? std::strtol(words_[i].c_str(), nullptr, 0) : fallback;
    }
    std::string Rest(size_t n) const {
        if (n >= starts_.size()) return {};
        size_t from = starts_[n];
        return line_.substr(from);
    }

private:
    std::string line_;
    std::vector<std::string> words_;
    std::vector<size_t> starts_;
};

JsonObject Error(const std::string& text) {
    JsonObject reply;
    return reply.Add("ok", false).Add("error", text);
}

JsonObject Run(Program& program, const Words& w, bool& quit) {
    const std::string& command = w[0];
    auto need = [&](size_t words) { return w.Count() >= words; };
    if (command == "ping") return JsonObject().Add("ok", true);
    if (command == "quit") {
        quit = true;
        return JsonObject().Add("ok", true);
    }
    if (command == "launch" && need(2)) return LaunchProgram(program, w.Rest(1));
    if (command == "wait_exit" && need(2)) return WaitProgramExit(program, w.Number(1));
    if (command == "kill") return KillProgram(program);
    if (command == "find_main" && need(3)) return FindMainDialog(program, w.Rest(2), w.Number(1));
    if (command == "click" && need(2)) return ClickControl(program, w.Number(1));
    if (command == "command" && need(2)) return PostCommand(program, w.Number(1));
    if (command == "control" && need(2)) return ControlState(program, w.Number(1));
    if (command == "list" && need(2)) return ListItems(program, w.Number(1));
    if (command == "setsel" && need(4)) return SetListSelection(program, w.Number(1), w.Number(2) != 0, w.Number(3));
    if (command == "windows") return ListWindows(program);
    if (command == "press" && need(3)) return PressDialogButton(program, w.Number(1), w.Number(2));
    if (command == "file_dialog" && need(3)) return FillFileDialog(program, w.Rest(2), w.Number(1));
    if (command == "edit_dialog" && need(5)) {
        bool keep = w[4] == "-";
        std::string text = keep ? std::string() : w.Rest(5);
        return FillEditDialog(program, w.Number(1), w.Number(2), keep, text, w.Number(3));
    }
    if (command == "progress") return ProgressState(program);
    if (command == "watch_progress" && need(2)) return WatchProgress(program, w.Number(1));
    if (command == "geometry") return WindowGeometry(program);
    if (command == "close") return CloseMainDialog(program);
    if (command == "key" && need(2)) return PressKey(program, w.Number(1));
    if (command == "sync") return SyncProgram(program);
    if (command == "reg_get") return RegistryGetPort();
    if (command == "reg_set" && need(2)) return RegistrySetPort(w.Number(1));
    if (command == "reg_set_text" && need(1)) return RegistrySetPortText(w.Rest(1));
    if (command == "reg_delete_value") return RegistryDeletePortValue();
    if (command == "reg_delete_key") return RegistryDeletePortKey();
    if (command == "reg_block") return RegistryBlockPortKey();
    if (command == "com_open" && need(3)) return SerialOpen(w.Number(1), w.Number(2));
    if (command == "com_status") return SerialModemStatus();
    if (command == "com_write" && need(2)) return SerialWrite(w[1]);
    if (command == "com_read" && need(3)) return SerialRead(w.Number(1), w.Number(2));
    if (command == "com_wait_cts" && need(3)) return SerialWaitCts(w.Number(1) != 0, w.Number(2));
    if (command == "com_close") return SerialClose();
    if (command == "sleep" && need(2)) {
        Sleep(w.Number(1));
        return JsonObject().Add("ok", true);
    }
    return Error("unknown command or missing arguments: " + command);
}

}  // namespace

int main() {
    // Message boxes of the driver itself would block the pipe; it never shows any.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    Program program;
    std::string line;
    bool quit = false;
    while (!quit && std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Words words(line);
        JsonObject reply = words.Count() ? Run(program, words, quit) : Error("empty command");
        std::string text = reply.Text();
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    return 0;
}
