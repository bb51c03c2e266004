// Sends the records file's noted rows to the line's server, in order and in batches, and marks
// them sent only once the server has committed them: a batch sent twice (a crash between the
// server's commit and the mark) changes nothing there. The station never waits for it: the
// forwarding runs on a thread of its own, and while the server is away the rows wait in the
// file and the pause between tries grows (RetrySchedule).
// The same thread keeps the station's heartbeat on the server (HeartbeatStep).
// ForwardStep is the portable decision (one try at a given "now"); Forwarder runs it on a thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "records/HeartbeatStep.h"
#include "records/RecordStore.h"
#include "records/RetrySchedule.h"
#include "records/ServerRecords.h"

namespace records {

inline constexpr size_t kBatchRows = 200;  // rows per statement, well under the server's 65 535 parameters

// What the board's header and the station's last line show.
struct ForwardState {
    uint64_t waiting = 0;
    std::string host;
    std::string reason;   // the last failure's words, empty while the server takes the rows
    uint64_t errors = 0;  // tries (rows or heartbeats) the server refused or never answered
};

// Told of a permanent failure once (until the server takes rows again), in plain words.
using PermanentFailureReport = std::function<void(const std::string& text)>;

class ForwardStep {
public:
    ForwardStep(RecordStore& store, RowSink& sink, uint64_t seed) : store_(store), sink_(sink), schedule_(seed) {}
    // One try at nowMs when due: sends batches until the outbox is empty or one fails.
    // Gives the time of the next try (nowMs + idle when all went, later after a failure).
    int64_t Run(int64_t nowMs, int64_t idleMs);
    bool Idle() const { return idle_; }  // the outbox was emptied on the last run
    std::string Reason() const;
    uint64_t Failures() const { return failures_.load(); }  // failed tries since the start
    void OnPermanentFailure(PermanentFailureReport report) { report_ = std::move(report); }
    // A hook the tests may use to stop a process between the server's commit and the mark.
    void AfterCommit(std::function<void()> hook) { afterCommit_ = std::move(hook); }
    // Once *stop is raised, a run sends no further batch: the one in flight ends within the
    // connection's own bounds and the rest wait in the file.
    void StopWhen(const std::atomic<bool>* stop) { stop_ = stop; }

private:
    RecordStore& store_;
    RowSink& sink_;
    RetrySchedule schedule_;
    std::string journal_;
    mutable std::mutex mutex_;
    std::string reason_;
    bool idle_ = false;
    bool permanentSaid_ = false;
    std::atomic<uint64_t> failures_{0};
    PermanentFailureReport report_;
    std::function<void()> afterCommit_;
    const std::atomic<bool>* stop_ = nullptr;
};

class Forwarder {
public:
    // The store stays with the forwarder's thread until that ends.
    Forwarder(std::shared_ptr<RecordStore> store, const std::string& url, uint64_t seed);
    ~Forwarder();  // Stop()
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;
    // Set before Start.
    void OnPermanentFailure(PermanentFailureReport report);
    void AfterCommit(std::function<void()> hook);
    void Start();
    // A row was noted: try now rather than at the next idle look.
    void Notify();
    // Ends the thread and joins it: no batch starts after this is called, and one in flight
    // finishes or gives up within the connection's bounds (kConnectTimeoutS, then
    // kStatementTimeoutMs); its rows wait in the file either way.
    void Stop();
    ForwardState State() const;
    const std::string& Host() const { return host_; }
    // What the station's heartbeat says from now on (any thread); this thread sends it.
    void Describe(const Heartbeat& heartbeat);
    // The server holds the station's end.
    bool EndSaid() const;

private:
    struct Shared;
    static void Loop(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> shared_;
    std::string host_;
    std::thread thread_;
};

}  // namespace records
