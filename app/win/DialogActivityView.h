// The main dialog as the glue's activity view: lines into list 1002, progress into the bar
// along its bottom edge.
#pragma once
#include <windows.h>

#include <atomic>

#include "common/win/ActivityView.h"

class DialogActivityView final : public common::win::ActivityView {
public:
    explicit DialogActivityView(HWND dialog) : dialog_(dialog) {}

    // The dialog that shows from now on; the main dialog's view lives as long as the
    // process (workers may report while a dialog closes) and is shown in each new dialog.
    void ShowIn(HWND dialog) { dialog_.store(dialog); }

    void AddLine(const std::string& line) override;
    void CreateProgressBar(unsigned maximum, common::win::ProgressRange range) override;
    void DestroyProgressBar() override;
    void SetProgressPosition(unsigned position) override;
    void AdvanceProgress(unsigned increment) override;

private:
    std::atomic<HWND> dialog_;
};
