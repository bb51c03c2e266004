// What the ports of one station share: the stop flag (Ctrl-C), the end of arming (--count
// reached, --stop-on-failure, a records write that failed) with its reason, and the count of
// units loaded and failed. Every member is safe to call from any port's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace station {

struct GateRules {
    uint32_t count = 0;  // units loaded and confirmed after which the station ends; 0: no limit
    bool stopOnFailure = false;
};

class StationGate {
public:
    StationGate(const GateRules& rules, const std::atomic<bool>* cancel) : rules_(rules), cancel_(cancel) {}

    // Ctrl-C or another stop signal: every port ends now, a running load as stopped.
    bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }
    const std::atomic<bool>* CancelFlag() const { return cancel_; }
    // False once the station ends cleanly: no port starts another load, running ones finish.
    bool Arming() const { return arming_.load() && !Cancelled(); }
    // A port whose unit is ready asks before it loads; false while the loads running already
    // fill the count, or once arming has ended.
    bool TryReserve();
    // The reserved unit is not loaded after all; it counts neither way.
    void Release();
    // The reserved load has ended; confirmed counts toward --count, a failure may end arming.
    // A load cut short by the stop is counted apart: it is neither loaded nor failed.
    void Finished(bool confirmed, bool stopped = false);
    // How a load cut short by the stop is worded; the front-end knows who asked (Ctrl-C, the
    // system). Set before the ports start.
    void WordStops(std::function<std::string()> words) { stopWords_ = std::move(words); }
    std::string StoppedWords() const { return stopWords_ ? stopWords_() : "stopped"; }
    // Ends arming with the first reason given (later ones are dropped).
    void StopArming(const std::string& reason);
    // Whether a records write failed: the station then exits as failed.
    void NoteRecordsFailure(const std::string& reason);

    uint64_t Loaded() const { return loaded_.load(); }
    uint64_t Failed() const { return failed_.load(); }
    uint64_t Stopped() const { return stopped_.load(); }
    bool RecordsFailed() const { return recordsFailed_.load(); }
    std::string StopReason() const;

private:
    const GateRules rules_;
    const std::atomic<bool>* cancel_;
    std::atomic<bool> arming_{true};
    std::atomic<bool> recordsFailed_{false};
    std::atomic<uint64_t> loaded_{0};
    std::atomic<uint64_t> failed_{0};
    std::atomic<uint64_t> stopped_{0};
    std::function<std::string()> stopWords_;
    mutable std::mutex mutex_;  // the reservations and the reason
    uint64_t running_ = 0;
    std::string reason_;
};

}  // namespace station
