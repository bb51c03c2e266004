// The lower layers' log and progress calls, handed to the installed sink. Log lines are
// formatted here, with the system's text for an error code, so every front-end gets the
// same words.
#include "common/win/UiSink.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "common/win/ActivityLog.h"

namespace {

constexpr std::size_t kLogLineBytes = 1024;  // one formatted line holds 1023 characters
constexpr std::size_t kNoTextLineBytes = 64;  // "Error <code> (no system text)"
constexpr DWORD kSystemLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

std::atomic<UiSink*> Sink{nullptr};

void AddLine(HWND window, const char* line) {
    if (UiSink* sink = Sink.load()) sink->AddLogLine(window, line);
}

void AddSystemText(HWND window, DWORD errorCode) {
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                                  errorCode, kSystemLanguage, reinterpret_cast<char*>(&text), 0, nullptr);
    if (length != 0 && text != nullptr) {
        AddLine(window, text);  // kept exactly as the system returned it, line end included
    } else {
        char line[kNoTextLineBytes];
        std::snprintf(line, sizeof line, "Error %lu (no system text)", static_cast<unsigned long>(errorCode));
        AddLine(window, line);
    }
    if (text != nullptr) LocalFree(text);
}

}  // namespace

void InstallUiSink(UiSink* sink) { Sink.store(sink); }

void LogMessage(HWND window, DWORD errorCode, const char* format, ...) {
    char line[kLogLineBytes];
    va_list arguments;
    va_start(arguments, format);
    // A longer text is cut at the buffer's end rather than refused.
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    AddLine(window, line);
    if (errorCode != 0) AddSystemText(window, errorCode);
}

void AppendLogLine(HWND window, const char* line) { AddLine(window, line); }

void CreateProgressBar(HWND dialog, unsigned maximum, ProgressRange range) {
    if (UiSink* sink = Sink.load()) sink->CreateProgressBar(dialog, maximum, range);
}

void DestroyProgressBar() {
    if (UiSink* sink = Sink.load()) sink->DestroyProgressBar();
}

void SetProgressPosition(unsigned position) {
    if (UiSink* sink = Sink.load()) sink->SetProgressPosition(position);
}

void AdvanceProgress(unsigned increment) {
    if (UiSink* sink = Sink.load()) sink->AdvanceProgress(increment);
}

HWND ProgressBarWindow() {
    UiSink* sink = Sink.load();
    return sink != nullptr ? sink->ProgressBarWindow() : nullptr;
}
