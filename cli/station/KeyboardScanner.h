// Keyboard-mode (HID) barcode scanners, which type each code as key presses ending in Enter.
// On Linux they are read from their event device (/dev/input/by-id/...-event-kbd) with
// libevdev, grabbed so the codes never reach the console or another program, through a US
// key map. Elsewhere (and in a build without libevdev) such a scanner is told unsupported.
#pragma once

#include <string>

#include "station/ScannerLine.h"

namespace cli {

// Whether a scanner's name is an input event device rather than a serial port.
bool IsKeyboardScannerName(const std::string& device);

// Reads codes until *context.stop, telling a scanner lost and opening it again every 2 s as a
// serial scanner is (context.open and context.framing are not used).
void RunKeyboardScanner(const station::ScannerContext& context);

// The character a key of a US keyboard types (Linux key code, with Shift held or not), or 0
// for a key that types none (Shift itself, function keys).
char UsKeyCharacter(unsigned code, bool shift);

}  // namespace cli
