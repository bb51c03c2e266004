// Streams an embedded firmware image to the unit's bootloader on a worker thread, straight
// from the locked resource, through the download engine; this file finds the image and
// turns the engine's reports into the dialog's log lines, bar, boxes and posted message.
#include "app/win/DownloadPresenter.h"

#include <memory>
#include <string>

#include "app/DialogIds.h"
#include "app/Texts.h"
#include "common/Clock.h"
#include "common/win/ActivityView.h"
#include "common/win/Handles.h"
#include "download/DownloadEngine.h"
#include "download/EmbeddedImages.h"
#include "download/ImageCursor.h"
#include "serial/win/CommPort.h"
#include "serial/win/Win32SerialPort.h"

using common::win::ActivityView;
using common::win::LogLine;
using common::win::ProgressRange;
using common::win::UniqueNullHandle;
using serial::win::SetCommBaudRate;

std::atomic<int> DownloadBusy{0};
int BootloaderSelected = 0;
int DownloadLogKind = 0;
int ImageByteCount = 0;

namespace {

constexpr char kPortName[] = "CommPortHandle";  // the one open port, for the engine's messages
constexpr char kNoWorkerText[] = "Unable to start the download.";
constexpr int kLogSoftware = 0;
constexpr int kLogBootloader = 1;

struct ImageErrors {
    const char* notFound;
    const char* emptySize;
    const char* notLoaded;
    const char* notLocked;
};

constexpr ImageErrors kSoftwareErrors{"Internal Error 001.  Unable to extract software for upload to unit.",
                                      "Internal Error 002.  Unable to extract software for upload to unit.",
                                      "Internal Error 003.  Unable to extract software for upload to unit.",
                                      "Internal Error 004.  Unable to extract software for upload to unit."};
constexpr ImageErrors kBootloaderErrors{
    "Internal Error 101.  Unable to extract bootloader software for upload to unit.",
    "Internal Error 102.  Unable to extract bootloader software for upload to unit.",
    "Internal Error 103.  Unable to extract bootloader software for upload to unit.",
    "Internal Error 104.  Unable to extract bootloader software for upload to unit."};

// Extraction errors are shown without an owner window, beep or log line.
void ShowExtractionError(const char* text) { MessageBoxA(nullptr, text, kWindowTitle, MB_OK | MB_ICONERROR); }

using LockedImage = download::ImageBytes;

const char* ExtractionErrorText(download::ImageLookup lookup, const ImageErrors& errors) {
    switch (lookup) {
        case download::ImageLookup::NotFound: return errors.notFound;
        case download::ImageLookup::Empty: return errors.emptySize;
        case download::ImageLookup::NotLoaded: return errors.notLoaded;
        default: return errors.notLocked;
    }
}

// Finds one embedded image. recordSize receives the size as soon as it is known to be
// non-zero (the wizard's count), or is null.
bool LockImage(const char* name, const ImageErrors& errors, int* recordSize, LockedImage* image) {
    const download::ImageLookup lookup = download::FindEmbeddedImage(name, image);
    if (recordSize != nullptr && image->size != 0) *recordSize = static_cast<int>(image->size);
    if (lookup == download::ImageLookup::Found) return true;
    ShowExtractionError(ExtractionErrorText(lookup, errors));
    return false;
}

// The line, and the box, of a download that was cut short.
std::string StoppedText(const download::DownloadOutcome& outcome) {
    return "Download stopped: " + download::StallText(outcome.stallLimitMs) + ".  " +
           std::to_string(outcome.bytesSent) + " of " + std::to_string(outcome.total) + " bytes were sent.";
}

// What the operator sees of a download while it runs: the start line, the bar and the end
// line, logged as the stream ends (before the pause and the speed change).
class DialogDownloadListener final : public WorkerEvents {
public:
    DialogDownloadListener(ActivityView& view, const download::ImageDownload& download)
        : WorkerEvents(view), download_(download) {}

    void ProgressStart(uint64_t) override {
        LogLine(view_, 0,
                DownloadLogKind == kLogBootloader ? "Loading new bootloader ... "
                                                  : "Loading new software version ... (~4 min.)");
    }
    void ProgressAdvance(uint64_t done) override { view_.SetProgressPosition(download::ProgressPosition(done)); }
    void ProgressEnd() override {
        const download::DownloadOutcome& outcome = download_.Outcome();
        if (outcome.result == download::DownloadResult::Done) {
            LogLine(view_, 0, "Done loading.");
        } else {
            view_.AddLine(StoppedText(outcome));
        }
    }

private:
    const download::ImageDownload& download_;
};

// The stream to run and where it reports; the worker owns it once it runs.
struct DownloadJob {
    download::DownloadRequest request;
    HWND dialog;
    ActivityView& view;
};

DWORD WINAPI ImageDownloadThread(LPVOID parameter) {
    const std::unique_ptr<DownloadJob> job(static_cast<DownloadJob*>(parameter));
    // The port is read afresh for every block: the operator may have switched it.
    serial::win::Win32SerialPort port(kPortName, serial::win::CommPortHandle, nullptr);
    download::ImageDownload download(port, common::SteadyClock(), job->request);
    DialogDownloadListener listener(job->view, download);
    const download::DownloadOutcome outcome = download.Run(listener);
    PostMessageA(job->dialog, WM_DOWNLOAD_DONE, kWorkerDoneWParam, kWorkerDoneLParam);
    DownloadBusy = 0;
    // A cut-short download must not pass for a finished one, also where no log is shown.
    // The box belongs to this thread, so the dialog stays usable while it is up.
    if (outcome.result != download::DownloadResult::Done)
        MessageBoxA(nullptr, StoppedText(outcome).c_str(), kWindowTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return kWorkerExitCode;
}

// Shows the bar, switches the port and hands the image to a new worker. A worker that
// cannot be created undoes all three, so nothing is left busy, shown or at the wrong speed.
int LaunchDownload(HWND dialog, ActivityView& view, const LockedImage& image, uint32_t baudRate, int logKind) {
    auto job = std::make_unique<DownloadJob>(
        DownloadJob{download::DownloadRequest{image.data, image.size, baudRate, nullptr}, dialog, view});
    view.CreateProgressBar(download::ProgressMaximum(image.size), ProgressRange::Range16);
    SetCommBaudRate(baudRate);
    DownloadLogKind = logKind;
    DownloadBusy = 1;
    UniqueNullHandle worker(CreateThread(nullptr, 0, ImageDownloadThread, job.get(), 0, nullptr));
    if (!worker) {
        DWORD error = GetLastError();
        view.DestroyProgressBar();
        SetCommBaudRate(serial::kLinkBaudRate);
        DownloadBusy = 0;
        MessageBeep(0);
        LogLine(view, error, kNoWorkerText);
        MessageBoxA(dialog, kNoWorkerText, kWindowTitle, MB_OK);
        return 0;
    }
    static_cast<void>(job.release());  // the worker owns it now
    return 1;                          // the worker runs on; its handle is not kept
}

}  // namespace

void WorkerEvents::Log(const std::string& line, std::error_code error) {
    common::win::LogEngineLine(view_, line, error);
}

void WorkerEvents::Notice(common::NoticeKind kind, const std::string& text) {
    if (kind == common::NoticeKind::Alert) {
        MessageBeep(MB_OK);
    } else {
        MessageBoxA(nullptr, text.c_str(), kWindowTitle, MB_OK);
    }
}

int StartImageDownload(HWND dialog, ActivityView& view, uint32_t baudRate) {
    if (DownloadBusy) return 0;
    const char* name = BootloaderSelected != 0 ? download::kBootloaderImage.name : download::kSoftwareImage.name;
    LockedImage image;
    if (!LockImage(name, kSoftwareErrors, &ImageByteCount, &image)) return 0;
    return LaunchDownload(dialog, view, image, baudRate, kLogSoftware);
}

int StartBootloaderDownload(HWND dialog, ActivityView& view) {
    if (DownloadBusy) return 0;
    LockedImage image;
    if (!LockImage(download::kBootloaderImage.name, kBootloaderErrors, nullptr, &image)) return 0;
    return LaunchDownload(dialog, view, image, serial::kFastDownloadBaud, kLogBootloader);  // always the fast speed
}
