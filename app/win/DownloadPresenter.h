// The dialog's presenter of the image download: the wizard's download state, and the start
// of a download on a worker whose reports become the dialog's lines, bar, boxes and message.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <system_error>

#include "common/EngineEvents.h"
#include "common/win/ActivityView.h"

extern std::atomic<int> DownloadBusy;  // a download or erase worker runs (shared with the erase)
extern int BootloaderSelected;         // 1 bootloader, 0 the 2-axis software (UI thread)
extern int DownloadLogKind;            // 0 software start line, 1 bootloader start line
extern int ImageByteCount;             // size recorded by StartImageDownload, shown on page 8

// A download's or an erase's end, posted to the dialog as WM_DOWNLOAD_DONE with these values.
inline constexpr WPARAM kWorkerDoneWParam = 0;
inline constexpr LPARAM kWorkerDoneLParam = 1;
inline constexpr DWORD kWorkerExitCode = 1;

// Start the download of the selected image (or of the bootloader) on a worker unless one
// runs; 1 when it started. Lines and the bar go to view, which must outlive the worker; the
// end is posted to dialog as WM_DOWNLOAD_DONE.
int StartImageDownload(HWND dialog, common::win::ActivityView& view, uint32_t baudRate);
int StartBootloaderDownload(HWND dialog, common::win::ActivityView& view);

// The download's and the erase's log lines and notices, shown as the transfer's are (neither
// engine gives any today); the progress is each presenter's own.
class WorkerEvents : public common::EngineEvents {
public:
    explicit WorkerEvents(common::win::ActivityView& view) : view_(view) {}
    void Log(const std::string& line, std::error_code error) override;
    void Notice(common::NoticeKind kind, const std::string& text) override;

protected:
    common::win::ActivityView& view_;
};
