// The main dialog's sink for the lower layers' log lines and progress.
#include "app/win/DialogUiSink.h"

#include "app/win/ActivityLog.h"
#include "app/win/ProgressBar.h"
#include "common/win/UiSink.h"

namespace {

class DialogUiSink final : public UiSink {
public:
    void AddLogLine(HWND window, const char* line) override { AddLogListLine(window, line); }
    void CreateProgressBar(HWND dialog, unsigned maximum, ProgressRange range) override {
        progress_bar::Create(dialog, maximum, range);
    }
    void DestroyProgressBar() override { progress_bar::Destroy(); }
    void SetProgressPosition(unsigned position) override { progress_bar::SetPosition(position); }
    void AdvanceProgress(unsigned increment) override { progress_bar::Advance(increment); }
    HWND ProgressBarWindow() override { return progress_bar::Window(); }
};

}  // namespace

void InstallDialogUiSink() {
    static DialogUiSink sink;
    InstallUiSink(&sink);
}
