// What varnex makes of the transfer engine's output for one unit: frames go to the port as
// one write each, log lines and the unit's own lines become kept lines, the progress bar
// becomes progress events, and the session's end is kept for the worker to report.
#pragma once

#include <optional>
#include <string>

#include "cli/output/UnitEvents.h"
#include "cli/service/LinkLoop.h"
#include "transfer/TransferEngine.h"

namespace cli {

class ServiceListener final : public transfer::TransferListener {
public:
    ServiceListener(size_t unit, UnitEventSink& sink, FrameWriter& writer)
        : unit_(unit), sink_(sink), writer_(writer) {}

    void SendFrame(const uint8_t* bytes, size_t count) override { writer_.Write(bytes, count); }
    void Log(const std::string& line, std::error_code error) override;
    void AppendLine(const std::string& line) override;
    // A console tool stays quiet at an alert; an outcome is its last line.
    void Notice(common::NoticeKind kind, const std::string& text) override;
    void ProgressStart(uint64_t total) override;
    void ProgressAdvance(uint64_t done) override;
    void ProgressEnd() override {}
    // A command line has no control that stops a session: Ctrl-C does.
    void StopArmed(transfer::Operation) override {}
    void StopReleased(transfer::Operation) override {}
    void SessionEnded(const transfer::SessionEnd& end) override;

    const std::optional<transfer::SessionEnd>& End() const { return end_; }
    // The last line logged with the system's reason where it gave one ("Could not create a
    // file beside x. (No such file or directory)"): why a start did not go on.
    const std::string& LastReason() const { return lastReason_; }
    uint64_t Steps() const { return steps_; }
    uint64_t Total() const { return total_; }

private:
    void Keep(const std::string& line);

    size_t unit_;
    UnitEventSink& sink_;
    FrameWriter& writer_;
    std::optional<transfer::SessionEnd> end_;
    std::string lastLine_;  // the last line kept, so that a box repeating it is not shown twice
    std::string lastReason_;
    uint64_t steps_ = 0;
    uint64_t total_ = 0;
};

}  // namespace cli
