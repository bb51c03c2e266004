// The events every engine (a transfer session, the image download, the flash erase) tells
// its front-end, in one vocabulary. The engine says what happened; only the front-end decides
// how it shows: which bar and range, a beep, a box, a console line or a JSON event.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace common {

// What a notice asks of the operator.
enum class NoticeKind {
    Alert,    // the operator's attention, at a halt, a failure or an end; no text (the dialog beeps)
    Outcome,  // an outcome the operator acknowledges, with its text (the dialog's OK box)
};

class EngineEvents {
public:
    virtual ~EngineEvents() = default;
    // The work of one stream begins: total steps (bytes, lines), 0 when unknown.
    virtual void ProgressStart(uint64_t total) = 0;
    // done steps of total are finished (a count from the start, never a delta).
    virtual void ProgressAdvance(uint64_t done) = 0;
    // The stream is over, whatever its end; no further advance comes.
    virtual void ProgressEnd() = 0;
    // A line for the activity log; an error adds the system's text for it.
    virtual void Log(const std::string& line, std::error_code error) = 0;
    // Something the operator must notice.
    virtual void Notice(NoticeKind kind, const std::string& text) = 0;
};

}  // namespace common
