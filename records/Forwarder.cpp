// The forwarding to the line's server (see Forwarder.h).
#include "records/Forwarder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>

namespace records {

namespace {
// With nothing noted, the outbox is looked at this often (a row noted wakes it sooner).
constexpr int64_t kIdleLookMs = 1000;

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

int64_t ForwardStep::Run(int64_t nowMs, int64_t idleMs) {
    std::string localError;
    ServerError serverError;
    const auto failed = [&](bool permanent, const std::string& text) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            reason_ = text;
        }
        idle_ = false;
        ++failures_;
        if (permanent && !permanentSaid_ && report_) report_(text);
        permanentSaid_ = permanentSaid_ || permanent;
        sink_.Reset();
        return schedule_.Failed(nowMs, permanent);
    };
    if (journal_.empty() && !store_.JournalId(&journal_, &localError)) return failed(false, localError);
    for (;;) {
        if (stop_ != nullptr && stop_->load()) return nowMs + idleMs;
        std::vector<Row> rows;
        int64_t lastNote = 0;
        if (!store_.Pending(kBatchRows, &rows, &lastNote, &localError)) return failed(false, localError);
        if (rows.empty()) break;
        size_t taken = 0;
        if (!sink_.Send(journal_, rows, &taken, &serverError)) return failed(serverError.permanent, serverError.text);
        if (afterCommit_) afterCommit_();
        if (!store_.MarkForwarded(lastNote, &localError)) return failed(false, localError);
    }
    {
        std::lock_guard<std::mutex> hold(mutex_);
        reason_.clear();
    }
    idle_ = true;
    permanentSaid_ = false;
    schedule_.Succeeded();
    return nowMs + idleMs;
}

std::string ForwardStep::Reason() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return reason_;
}

struct Forwarder::Shared {
    Shared(std::shared_ptr<RecordStore> s, const std::string& url, uint64_t seed)
        : store(std::move(s)), sink(url), step(*store, sink, seed), beat(sink, ~seed) {
        step.StopWhen(&stopping);
    }
    std::shared_ptr<RecordStore> store;
    ServerRecords sink;
    ForwardStep step;
    HeartbeatStep beat;
    std::mutex mutex;
    std::condition_variable wake;
    bool notified = false;
    std::atomic<bool> stopping{false};
};

Forwarder::Forwarder(std::shared_ptr<RecordStore> store, const std::string& url, uint64_t seed)
    : shared_(std::make_shared<Shared>(std::move(store), url, seed)), host_(ServerName(url)) {}

Forwarder::~Forwarder() { Stop(); }

void Forwarder::OnPermanentFailure(PermanentFailureReport report) {
    shared_->step.OnPermanentFailure(std::move(report));
}

void Forwarder::AfterCommit(std::function<void()> hook) { shared_->step.AfterCommit(std::move(hook)); }

void Forwarder::Start() { thread_ = std::thread(&Forwarder::Loop, shared_); }

void Forwarder::Notify() {
    {
        std::lock_guard<std::mutex> hold(shared_->mutex);
        shared_->notified = true;
    }
    shared_->wake.notify_one();
}

void Forwarder::Stop() {
    {
        std::lock_guard<std::mutex> hold(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->wake.notify_one();
    if (thread_.joinable()) thread_.join();
}

ForwardState Forwarder::State() const {
    ForwardState state;
    state.host = host_;
    std::string ignored;
    shared_->store->PendingCount(&state.waiting, &ignored);
    state.reason = shared_->step.Reason();
    state.errors = shared_->step.Failures() + shared_->beat.Failures();
    return state;
}

void Forwarder::Describe(const Heartbeat& heartbeat) {
    shared_->beat.Describe(heartbeat);
    // The beat may be due sooner now (a change, the end): the thread looks again.
    { std::lock_guard<std::mutex> hold(shared_->mutex); }
    shared_->wake.notify_one();
}

bool Forwarder::EndSaid() const { return shared_->beat.EndSaid(); }

void Forwarder::Loop(std::shared_ptr<Shared> shared) {
    int64_t next = SteadyMs();
    while (!shared->stopping) {
        bool rowsDue = false;
        {
            std::unique_lock<std::mutex> hold(shared->mutex);
            // A noted row is sent at once while the server takes rows; after a failure the
            // pause is kept, notes or not. A heartbeat due wakes the thread for itself alone.
            const bool healthy = shared->step.Reason().empty();
            const auto due = [&] { return std::min(next, shared->beat.DueMs()); };
            while (!shared->stopping && !(healthy && shared->notified) && SteadyMs() < due()) {
                shared->wake.wait_for(hold, std::chrono::milliseconds(due() - SteadyMs()));
            }
            if (shared->stopping) return;
            rowsDue = (healthy && shared->notified) || SteadyMs() >= next;
            if (rowsDue) shared->notified = false;
        }
        if (rowsDue) next = shared->step.Run(SteadyMs(), kIdleLookMs);
        if (!shared->stopping) shared->beat.Run(SteadyMs());
    }
}

}  // namespace records
