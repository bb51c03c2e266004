// What every unit's worker shares: its events sent to the sink with the unit's index, the
// wording of a port failure, and opening the port with a failure event when it cannot.
#pragma once

#include <memory>
#include <string>

#include "cli/UnitWorker.h"

namespace cli {

// The error kind in words, and the system's own text where it adds something.
std::string Reason(const serial::PortStatus& status);
// "the port is gone" with the likely cause for the kind of port: an adapter or a server.
std::string GoneText(const std::string& port);

class Reporter {
public:
    explicit Reporter(const UnitContext& context) : context_(context) {}
    void Send(EventKind kind, std::string text, uint64_t bytes = 0, uint64_t total = 0) const {
        UnitEvent event{kind, context_.unit, bytes, total, std::move(text)};
        context_.sink->Report(event);
    }
    bool Fail(std::string reason, uint64_t bytes = 0, uint64_t total = 0) const {
        Send(EventKind::Failed, std::move(reason), bytes, total);
        return false;
    }

private:
    const UnitContext& context_;
};

// Null after a Failed event when the port cannot be opened.
std::unique_ptr<serial::SerialPort> OpenPort(const UnitContext& context, const Reporter& reporter);

}  // namespace cli
