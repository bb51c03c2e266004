// How the lower layers reach whatever front-end shows their log lines and progress: the
// front-end installs one sink at start-up; the free functions of common/win/ActivityLog.h
// and common/win/ProgressBar.h hand everything to it. Without a sink, reports go nowhere.
#pragma once
#include <windows.h>

#include "common/win/ProgressBar.h"

class UiSink {
public:
    virtual ~UiSink() = default;
    // One finished line for the log shown in window.
    virtual void AddLogLine(HWND window, const char* line) = 0;
    virtual void CreateProgressBar(HWND dialog, unsigned maximum, ProgressRange range) = 0;
    virtual void DestroyProgressBar() = 0;
    virtual void SetProgressPosition(unsigned position) = 0;
    virtual void AdvanceProgress(unsigned increment) = 0;
    virtual HWND ProgressBarWindow() = 0;
};

// Installs the sink (null removes it). Done once, before any other thread reports.
void InstallUiSink(UiSink* sink);
