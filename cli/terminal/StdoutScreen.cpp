// Standard output as the presenters see it (see StdoutScreen.h).
#include "cli/terminal/StdoutScreen.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "cli/terminal/ConsoleScreen.h"
#include "cli/terminal/Terminal.h"

namespace cli {

namespace {

bool ForcedTerminal() {
    const char* value = std::getenv(kForceTerminalVariable);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

// Asked once: a console is asked to take escape sequences on the first look.
TerminalKind OutputKind() {
    static const TerminalKind kind = StdoutTerminal();
    return kind;
}

}  // namespace

bool OnTerminal() { return ForcedTerminal() || OutputKind() != TerminalKind::None; }

bool ColourWanted() {
    const char* noColour = std::getenv("NO_COLOR");
    return OutputKind() == TerminalKind::Vt && (noColour == nullptr || *noColour == '\0');
}

board::TerminalSize OutputSize() { return OutputKind() != TerminalKind::None ? StdoutSize() : board::TerminalSize{}; }

std::unique_ptr<board::Screen> MakeScreen(std::ostream& out) {
    if (&out == &std::cout) {
        if (OutputKind() == TerminalKind::Console) {
            if (std::unique_ptr<Console> console = OpenStdoutConsole()) {
                return std::make_unique<ConsoleScreen>(std::move(console), out);
            }
            return std::make_unique<board::ScrollingScreen>(out);
        }
        if (OutputKind() == TerminalKind::Unmoving) return std::make_unique<board::ScrollingScreen>(out);
    }
    return std::make_unique<board::VtScreen>(out);
}

void StopIfOutputGone(std::ostream& out, std::atomic<bool>& cancel) {
    if (!out.good() || (&out == &std::cout && StdoutClosed())) cancel.store(true);
}

}  // namespace cli
