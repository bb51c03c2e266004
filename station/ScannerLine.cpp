// A serial-mode scanner's reader (see ScannerLine.h).
#include "station/ScannerLine.h"

#include <memory>

#include "download/DownloadText.h"

namespace station {

namespace {
constexpr size_t kReadChunk = 256;
}  // namespace

std::vector<std::string> CodeLines::Take(const uint8_t* data, size_t size) {
    std::vector<std::string> codes;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\r' || c == '\n') {
            if (started_) codes.push_back(line_);
            Clear();
            continue;
        }
        started_ = true;
        if (line_.size() <= kMaxCodeLength) line_ += c;
    }
    return codes;
}

namespace {

class ScannerRun {
public:
    explicit ScannerRun(const ScannerContext& context) : c_(context), clock_(*context.clock) {}

    // Opens, reads until stopped or lost, and opens again: a loss is told once, when it
    // happens, and the scanner's return once it is read again.
    void Run() {
        bool lost = false;
        while (!Stopped()) {
            serial::PortStatus status;
            std::unique_ptr<serial::SerialPort> port = c_.open(c_.device, &status);
            if (port) status = port->SetLine(c_.framing);
            if (port && status.Ok()) {
                if (lost) c_.target->Tell("scanner " + c_.device + " is back");
                lost = false;
                status = Read(*port);
            }
            if (port) port->Close();
            if (status.Ok()) return;  // stopped
            if (!lost) c_.target->Tell("scanner lost (" + c_.device + ": " + download::PortFailureText(status) + ")");
            lost = true;
            Pause(kReopenEveryMs);
        }
    }

private:
    bool Stopped() const { return c_.stop->load(); }

    void Pause(uint32_t ms) {
        for (uint32_t slept = 0; slept < ms && !Stopped(); slept += kCtsPollMs) clock_.SleepMs(kCtsPollMs);
    }

    // Until stopped (Ok) or the scanner fails.
    serial::PortStatus Read(serial::SerialPort& port) {
        CodeLines lines;
        uint8_t buffer[kReadChunk];
        while (!Stopped()) {
            size_t count = 0;
            serial::PortStatus status = port.Read(buffer, sizeof buffer, kScannerReadMs, &count);
            if (!status.Ok() && status.error != serial::PortError::TimedOut) return status;
            for (const std::string& code : lines.Take(buffer, count)) c_.target->Scanned(code);
        }
        return {};
    }

    const ScannerContext& c_;
    common::Clock& clock_;
};

}  // namespace

void RunScanner(const ScannerContext& context) { ScannerRun(context).Run(); }

}  // namespace station
