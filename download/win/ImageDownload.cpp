// Streams an embedded firmware image to the unit's bootloader on a worker thread, straight
// from the locked resource in 16 384-byte blocks, then puts the port back at 38 400 baud
// and tells the dialog. A port that keeps taking nothing ends the download after a bound.
#include "download/win/ImageDownload.h"

#include "common/DialogIds.h"
#include "app/win/ActivityLog.h"
#include "app/win/ProgressBar.h"
#include "common/Texts.h"
#include "common/win/Handles.h"
#include "download/ImageCursor.h"
#include "serial/win/CommPort.h"

#include <cstdio>
#include <memory>

std::atomic<int> DownloadBusy{0};
int BootloaderSelected = 0;
int DownloadLogKind = 0;
int ImageByteCount = 0;

namespace {

constexpr char kResourceType[] = "EMBEDDED_FILE";
constexpr char kBootloaderImage[] = "BOOTLOADER";
constexpr char kSoftwareImage[] = "V410_2_AXIS_SOFTWARE";

constexpr uint32_t kLineBaud = 38400;        // the packet link's speed, restored at the end
constexpr uint32_t kBootloaderBaud = 115200;  // command 1019 always loads at this speed
constexpr DWORD kSettleMs = 100;              // lets the last bytes leave before the speed changes
constexpr DWORD kWriteWaitSliceMs = 250;      // how often a pending write is looked at
constexpr DWORD kRefusedWritePauseMs = 50;    // between writes that moved nothing
constexpr DWORD kCancelWaitMs = 2000;         // for a cancelled write to come back
constexpr DWORD kMsPerSecond = 1000;
constexpr size_t kStoppedTextSize = 160;
constexpr char kNoWorkerText[] = "Unable to start the download.";
constexpr int kLogSoftware = 0;
constexpr int kLogBootloader = 1;

// The stream in progress: written by the starter before the worker exists, then read and
// advanced by the worker only.
download::ImageCursor g_Cursor;
uint32_t g_DownloadBaud = 0;

struct ImageErrors {
    const char* notFound;
    const char* emptySize;
    const char* notLoaded;
    const char* notLocked;
};

constexpr ImageErrors kSoftwareErrors{
    "Internal Error 001.  Unable to extract software for upload to unit.",
    "Internal Error 002.  Unable to extract software for upload to unit.",
    "Internal Error 003.  Unable to extract software for upload to unit.",
    "Internal Error 004.  Unable to extract software for upload to unit."};
constexpr ImageErrors kBootloaderErrors{
    "Internal Error 101.  Unable to extract bootloader software for upload to unit.",
    "Internal Error 102.  Unable to extract bootloader software for upload to unit.",
    "Internal Error 103.  Unable to extract bootloader software for upload to unit.",
    "Internal Error 104.  Unable to extract bootloader software for upload to unit."};

// Extraction errors are shown without an owner window, beep or log line.
void ShowExtractionError(const char* text) {
    MessageBoxA(nullptr, text, kWindowTitle, MB_OK | MB_ICONERROR);
}

struct LockedImage {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

// Finds, sizes, loads and locks one embedded image. recordSize receives the size as soon
// as it is known to be non-zero (the wizard's count), or is null.
bool LockImage(const char* name, const ImageErrors& errors, int* recordSize, LockedImage* image) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, name, kResourceType);
    if (resource == nullptr) {
        ShowExtractionError(errors.notFound);
        return false;
    }
    DWORD size = SizeofResource(module, resource);
    if (size == 0) {
        ShowExtractionError(errors.emptySize);
        return false;
    }
    if (recordSize != nullptr) *recordSize = static_cast<int>(size);
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) {
        ShowExtractionError(errors.notLoaded);
        return false;
    }
    const void* locked = LockResource(loaded);
    if (locked == nullptr) {
        ShowExtractionError(errors.notLocked);
        return false;
    }
    image->data = static_cast<const uint8_t*>(locked);
    image->size = size;
    return true;
}

// Shows the bar, switches the port and hands the image to a new worker. A worker that
// cannot be created undoes all three, so nothing is left busy, shown or at the wrong speed.
int LaunchDownload(HWND dialog, const LockedImage& image, uint32_t baudRate, int logKind) {
    g_Cursor = download::ImageCursor(image.data, image.size);
    g_DownloadBaud = baudRate;
    CreateProgressBar(dialog, download::ProgressMaximum(image.size), ProgressRange::Range16);
    SetCommBaudRate(baudRate);
    DownloadLogKind = logKind;
    DownloadBusy = 1;
    UniqueNullHandle worker(CreateThread(nullptr, 0, ImageDownloadThread, dialog, 0, nullptr));
    if (!worker) {
        DWORD error = GetLastError();
        DestroyProgressBar();
        SetCommBaudRate(kLineBaud);
        DownloadBusy = 0;
        MessageBeep(0);
        LogMessage(dialog, error, kNoWorkerText);
        MessageBoxA(dialog, kNoWorkerText, kWindowTitle, MB_OK);
        return 0;
    }
    return 1;  // the worker runs on; its handle is not kept
}

struct WriteOutcome {
    DWORD written = 0;
    bool givenUp = false;    // the unit took nothing for the whole bound: the write was cancelled
    bool abandoned = false;  // not even the cancel came back: the write may still touch its record
};

// One write of the current block with the worker's own record. The wait for a pending
// write is cut into slices so that a unit that stops taking data cannot hold the worker
// for ever: once the stall guard runs out, the write is cancelled and whatever part of it
// went out is still counted.
WriteOutcome WriteBlock(HANDLE port, OVERLAPPED* overlapped, const download::WriteStallGuard& guard) {
    WriteOutcome out;
    overlapped->Offset = 0;
    overlapped->OffsetHigh = 0;
    if (WriteFile(port, g_Cursor.Next(), g_Cursor.BlockSize(), &out.written, overlapped)) return out;
    if (GetLastError() != ERROR_IO_PENDING) {
        ClearCommError(port, nullptr, nullptr);
        out.written = 0;
        return out;
    }
    for (;;) {
        WaitForSingleObject(overlapped->hEvent, kWriteWaitSliceMs);
        out.written = 0;
        if (GetOverlappedResult(port, overlapped, &out.written, FALSE)) return out;
        if (GetLastError() != ERROR_IO_INCOMPLETE) {
            ClearCommError(port, nullptr, nullptr);
            return out;
        }
        if (guard.Expired(GetTickCount())) {
            CancelIo(port);
            out.written = 0;
            // The cancel itself is waited for only so long: a port whose device has gone may
            // never complete it, and the worker must still end.
            if (WaitForSingleObject(overlapped->hEvent, kCancelWaitMs) != WAIT_OBJECT_0 &&
                !HasOverlappedIoCompleted(overlapped)) {
                out.givenUp = true;
                out.abandoned = true;
                return out;
            }
            if (!GetOverlappedResult(port, overlapped, &out.written, FALSE)) ClearCommError(port, nullptr, nullptr);
            // A write that completed just before the cancel shows the unit is taking data.
            out.givenUp = out.written < g_Cursor.BlockSize();
            return out;
        }
    }
}

}  // namespace

int StartImageDownload(HWND dialog, uint32_t baudRate) {
    if (DownloadBusy) return 0;
    const char* name = BootloaderSelected != 0 ? kBootloaderImage : kSoftwareImage;
    LockedImage image;
    if (!LockImage(name, kSoftwareErrors, &ImageByteCount, &image)) return 0;
    return LaunchDownload(dialog, image, baudRate, kLogSoftware);
}

int StartBootloaderDownload(HWND dialog) {
    if (DownloadBusy) return 0;
    LockedImage image;
    if (!LockImage(kBootloaderImage, kBootloaderErrors, nullptr, &image)) return 0;
    return LaunchDownload(dialog, image, kBootloaderBaud, kLogBootloader);
}

DWORD WINAPI ImageDownloadThread(LPVOID parameter) {
    HWND dialog = static_cast<HWND>(parameter);
    const uint32_t stallLimitMs = download::WriteStallLimitMs(g_DownloadBaud);
    bool stalled = false;
    {
        // The record is on the heap: a write abandoned at the bound may complete after this
        // thread has ended, so that record and its event are then kept for the process's life.
        UniqueNullHandle event = MakeAutoResetEvent();
        auto overlapped = std::make_unique<OVERLAPPED>();
        overlapped->hEvent = event.Get();
        LogMessage(dialog, 0, DownloadLogKind == kLogBootloader ? "Loading new bootloader ... "
                                                                : "Loading new software version ... (~4 min.)");
        download::WriteStallGuard guard(stallLimitMs, GetTickCount());
        while (!g_Cursor.Done()) {
            // The port is read afresh for every block: the operator may have switched it.
            WriteOutcome write = WriteBlock(CommPortHandle.load(), overlapped.get(), guard);
            if (write.abandoned) {
                static_cast<void>(overlapped.release());  // deliberately kept: see above
                event.Release();
            }
            g_Cursor.Advance(write.written);
            SetProgressPosition(download::ProgressPosition(g_Cursor.BytesSent()));
            auto step = guard.AfterWrite(write.written, write.givenUp, GetTickCount());
            if (step == download::WriteStallGuard::Step::GiveUp) {
                stalled = true;
                break;
            }
            // A closed or refusing port fails at once: do not spin on it.
            if (step == download::WriteStallGuard::Step::PauseAndRetry) Sleep(kRefusedWritePauseMs);
        }
    }
    char stopped[kStoppedTextSize] = "";
    if (stalled) {
        snprintf(stopped, sizeof stopped,
                 "Download stopped: the port took no data for %lu seconds.  %lu of %lu bytes were sent.",
                 static_cast<unsigned long>(stallLimitMs / kMsPerSecond),
                 static_cast<unsigned long>(g_Cursor.BytesSent()),
                 static_cast<unsigned long>(g_Cursor.Total()));
        AppendLogLine(dialog, stopped);
    } else {
        LogMessage(dialog, 0, "Done loading.");
    }
    Sleep(kSettleMs);
    SetCommBaudRate(kLineBaud);
    PostMessageA(dialog, WM_DOWNLOAD_DONE, 0, 1);
    DownloadBusy = 0;
    // A cut-short download must not pass for a finished one, also where no log is shown.
    // The box belongs to this thread, so the dialog stays usable while it is up.
    if (stalled) MessageBoxA(nullptr, stopped, kWindowTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return 1;
}
