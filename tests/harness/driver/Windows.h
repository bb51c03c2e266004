// Finding and reading the program's windows from another process, through window messages
// only (the same messages a screen reader or test tool would use).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "tests/harness/driver/Json.h"

// How long one cross-process message may take before the program counts as hung.
inline constexpr UINT kMessageTimeoutMs = 5000;

// Top-level windows of a process (any process when pid is 0), in z-order.
std::vector<HWND> TopLevelWindows(DWORD pid);
// The first visible top-level window with this exact title, or null.
// childId, when not 0, is a control the window must hold.
HWND FindWindowByTitle(DWORD pid, const std::string& title, int childId = 0);
// WM_GETTEXT through SendMessageTimeout; empty when the window does not answer.
std::string WindowText(HWND window);
std::string ClassName(HWND window);
// Direct children, in creation order.
std::vector<HWND> ChildWindows(HWND parent);
// Describes one control: exists, text, class, enabled, visible, checked (buttons).
JsonObject DescribeControl(HWND control);
// Describes one top-level window: title, class, pid, visible, static texts, buttons.
JsonObject DescribeTopLevel(HWND window);
// The items of a list box, with their selection state.
bool ListBoxItems(HWND list, std::vector<std::string>& items, std::vector<std::string>& selected);
// A dialog of the process other than the main dialog, that has a child with this id.
HWND FindDialogWithChild(DWORD pid, HWND mainDialog, int childId);
// Presses a button of a dialog the way a mouse click would end: WM_COMMAND BN_CLICKED.
void PressButton(HWND dialog, int buttonId);
// Makes sure the window's thread has handled everything posted so far.
bool Sync(HWND window);
