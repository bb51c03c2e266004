// Commands that work the program's dialogs: controls of the main dialog, message boxes,
// the common file dialog and the program-name dialog.
#pragma once
#include <string>

#include "tests/harness/driver/Json.h"
#include "tests/harness/driver/Program.h"

JsonObject ClickControl(const Program& program, int id);
JsonObject PostCommand(const Program& program, int id);
JsonObject ControlState(const Program& program, int id);
JsonObject ListItems(const Program& program, int id);
JsonObject SetListSelection(const Program& program, int id, bool selected, int index);
JsonObject ListWindows(const Program& program);
// Waits for a dialog other than the main one that has button buttonId, reads it, presses it.
JsonObject PressDialogButton(const Program& program, int buttonId, unsigned long timeoutMs);
// Waits for a common file dialog, types the path into its name field and presses OK.
JsonObject FillFileDialog(const Program& program, const std::string& path, unsigned long timeoutMs);
// Waits for the dialog holding edit editId, types text (unless keepText) and presses buttonId.
JsonObject FillEditDialog(const Program& program, int editId, int buttonId, bool keepText, const std::string& text,
                          unsigned long timeoutMs);
JsonObject ProgressState(const Program& program);
// Watches the progress bar until it has come and gone or the timeout passes; gives every
// position it showed, in order, and its upper limit.
JsonObject WatchProgress(const Program& program, unsigned long timeoutMs);
JsonObject WindowGeometry(const Program& program);
JsonObject CloseMainDialog(const Program& program);
// Posts a key press and release to the window that has the focus in the program's thread.
JsonObject PressKey(const Program& program, int virtualKey);
JsonObject SyncProgram(const Program& program);
