// The dialog as the glue's activity view: lines and the bar go to the dialog it is shown in,
// and nowhere while it is shown in none.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "app/DialogIds.h"
#include "app/win/DialogActivityView.h"
#include "app/win/MainDialog.h"
#include "app/win/ProgressBar.h"
#include "tests/win/ListLines.h"

using common::win::LogLine;
using common::win::ProgressRange;

namespace {

HWND MakeHost(HWND* list) {
    HWND host = CreateWindowExA(0, "STATIC", "view host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    *list = CreateWindowExA(0, "LISTBOX", "", WS_CHILD, 0, 0, 300, 100, host, reinterpret_cast<HMENU>(IDC_LOG_LIST),
                            GetModuleHandleA(nullptr), nullptr);
    return host;
}

}  // namespace

TEST(DialogActivityView, ReportsGoToTheDialogItIsShownInAndNowhereWithoutOne) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    g_Instance = GetModuleHandleA(nullptr);
    HWND firstList = nullptr;
    HWND secondList = nullptr;
    HWND first = MakeHost(&firstList);
    HWND second = MakeHost(&secondList);
    ASSERT_NE(firstList, nullptr);
    ASSERT_NE(secondList, nullptr);

    DialogActivityView view(nullptr);
    LogLine(view, ERROR_ACCESS_DENIED, "unseen %d", 1);
    view.CreateProgressBar(10, ProgressRange::Range16);
    EXPECT_EQ(progress_bar::Window(), nullptr);

    view.ShowIn(first);
    LogLine(view, 0, "seen %d%%", 2);
    view.ShowIn(second);
    view.AddLine("moved");
    EXPECT_EQ(ListLines(firstList), (std::vector<std::string>{"seen 2%"}));
    EXPECT_EQ(ListLines(secondList), (std::vector<std::string>{"moved"}));

    view.CreateProgressBar(10, ProgressRange::Range16);
    ASSERT_NE(progress_bar::Window(), nullptr);
    EXPECT_EQ(GetParent(progress_bar::Window()), second);
    view.SetProgressPosition(4);
    view.AdvanceProgress(3);
    EXPECT_EQ(SendMessageA(progress_bar::Window(), PBM_GETPOS, 0, 0), 7);
    view.DestroyProgressBar();
    EXPECT_EQ(progress_bar::Window(), nullptr);
    DestroyWindow(first);
    DestroyWindow(second);
}

namespace {

// Keeps the lines it is given.
class LineRecorder final : public common::win::ActivityView {
public:
    void AddLine(const std::string& line) override { lines.push_back(line); }
    void CreateProgressBar(unsigned, ProgressRange) override {}
    void DestroyProgressBar() override {}
    void SetProgressPosition(unsigned) override {}
    void AdvanceProgress(unsigned) override {}
    std::vector<std::string> lines;
};

}  // namespace

// Every engine's log line reads alike in the dialog: a Win32 code in the system's words as the
// glue's own lines give them, an errno value in the C library's words.
TEST(DialogActivityView, AnEnginesLineCarriesItsErrorInTheSystemsWords) {
    LineRecorder engine;
    LineRecorder glue;
    common::win::LogEngineLine(engine, "Could not write x", std::error_code(ERROR_DISK_FULL, std::system_category()));
    LogLine(glue, ERROR_DISK_FULL, "Could not write x");
    EXPECT_EQ(engine.lines, glue.lines);
    ASSERT_EQ(engine.lines.size(), 2u);

    LineRecorder errnoLines;
    common::win::LogEngineLine(errnoLines, "Could not open y", std::error_code(ENOENT, std::generic_category()));
    EXPECT_EQ(errnoLines.lines, (std::vector<std::string>{"Could not open y", std::strerror(ENOENT)}));

    LineRecorder plain;
    common::win::LogEngineLine(plain, "done", std::error_code());
    EXPECT_EQ(plain.lines, (std::vector<std::string>{"done"}));
}
