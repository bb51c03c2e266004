// What the operator sees of the Win32 glue below the dialog (the port, the comm-event
// thread, the download and erase workers): lines in the activity log and the one progress
// bar. The dialog implements it and hands it to the glue; a front-end without a log or a bar
// simply shows nothing of a call.
#pragma once
#include <windows.h>

#include <string>
#include <system_error>

namespace common::win {

enum class ProgressRange { Range16, Range32 };  // PBM_SETRANGE (16-bit maximum) or PBM_SETRANGE32

class ActivityView {
public:
    virtual ~ActivityView() = default;
    // Adds one finished line as it stands (no formatting). Any thread.
    virtual void AddLine(const std::string& line) = 0;
    // Creates the bar with range 0..maximum (the 16-bit form keeps only the low 16 bits, as
    // the message does) and step 1; an earlier bar goes, so at most one ever exists. UI thread.
    virtual void CreateProgressBar(unsigned maximum, ProgressRange range) = 0;
    // Destroys the bar if one exists. UI thread.
    virtual void DestroyProgressBar() = 0;
    // Sets the absolute position. Any thread.
    virtual void SetProgressPosition(unsigned position) = 0;
    // Moves the position on by increment. UI thread.
    virtual void AdvanceProgress(unsigned increment) = 0;
};

// Adds one printf-style line, however long; a non-zero errorCode adds the system's text for
// it as a second line, exactly as the system words it (line end included).
void LogLine(ActivityView& view, DWORD errorCode, const char* format, ...)
#if defined(__MINGW_PRINTF_FORMAT)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4)))
#endif
    ;

// An engine's log line with its error: a Win32 code's words as the system gives them (as
// LogLine), any other error's own words as a second line.
void LogEngineLine(ActivityView& view, const std::string& line, std::error_code error);

}  // namespace common::win
