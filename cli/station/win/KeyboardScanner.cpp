// Keyboard-mode scanners on Windows: not read (see KeyboardScanner.h). The README tells how to
// switch a scanner to serial mode, where it is a COM port like any other.
#include "cli/station/KeyboardScanner.h"

namespace cli {

bool IsKeyboardScannerName(const std::string&) { return false; }

void RunKeyboardScanner(const station::ScannerContext& context) {
    context.target->Tell("scanner " + context.device + " not read: on Windows only serial-mode scanners are read");
}

char UsKeyCharacter(unsigned, bool) { return 0; }

}  // namespace cli
