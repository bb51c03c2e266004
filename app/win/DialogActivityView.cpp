#include "app/win/DialogActivityView.h"

#include "app/win/ActivityLog.h"
#include "app/win/ProgressBar.h"

using common::win::ProgressRange;

void DialogActivityView::AddLine(const std::string& line) { AddLogListLine(dialog_.load(), line.c_str()); }

void DialogActivityView::CreateProgressBar(unsigned maximum, ProgressRange range) {
    progress_bar::Create(dialog_.load(), maximum, range);
}

void DialogActivityView::DestroyProgressBar() { progress_bar::Destroy(); }

void DialogActivityView::SetProgressPosition(unsigned position) { progress_bar::SetPosition(position); }

void DialogActivityView::AdvanceProgress(unsigned increment) { progress_bar::Advance(increment); }
