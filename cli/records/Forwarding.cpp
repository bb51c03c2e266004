// The forwarding as varnex runs it (see Forwarding.h).
#include "cli/records/Forwarding.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "cli/Options.h"
#include "cli/output/FailureTexts.h"
#include "records/ServerRecords.h"

namespace cli {

namespace {
// A run waits this long at most for the server to take its last rows: well within the
// service's stop timeout, with the forwarder's own bounds after it.
constexpr auto kFinalWait = std::chrono::milliseconds(5000);
constexpr auto kFinalLook = std::chrono::milliseconds(50);
// A test pauses the forwarder here (seconds) after the server's commit, before the mark, to
// kill the process in between.
constexpr const char* kPauseAfterCommitVariable = "VARNEX_TEST_PAUSE_AFTER_COMMIT_S";

uint64_t Seed() { return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()); }
}  // namespace

Forwarding::Forwarding(std::shared_ptr<records::RecordStore> store, const std::string& file, const std::string& url,
                       std::ostream& err)
    : file_(file), url_(url) {
    if (url.empty() || !store) return;
    forwarder_ = std::make_unique<records::Forwarder>(std::move(store), url, Seed());
    const std::string host = forwarder_->Host();
    forwarder_->OnPermanentFailure([&err, host](const std::string& text) {
        FailureDetails details = Words(text);
        details.name = host;
        err << "varnex: " << FailureText(Failure::ServerRefuses, details) << std::endl;
    });
    if (const char* pause = std::getenv(kPauseAfterCommitVariable)) {
        const int seconds = std::atoi(pause);
        forwarder_->AfterCommit([seconds] { std::this_thread::sleep_for(std::chrono::seconds(seconds)); });
    }
    forwarder_->Start();
}

records::ForwardState Forwarding::State() const { return forwarder_ ? forwarder_->State() : records::ForwardState{}; }

void Forwarding::Describe(const records::Heartbeat& heartbeat) {
    if (!forwarder_) return;
    forwarder_->Describe(heartbeat);
    described_ = true;
}

void Forwarding::Finish(std::ostream& out) {
    if (!forwarder_) return;
    const auto until = std::chrono::steady_clock::now() + kFinalWait;
    records::ForwardState state = forwarder_->State();
    // A station's end goes to the server within the same bound, so the line page reads it
    // ended rather than silent.
    const auto unsent = [&] {
        return (state.waiting > 0 && state.reason.empty()) || (described_ && !forwarder_->EndSaid());
    };
    while (unsent() && std::chrono::steady_clock::now() < until) {
        forwarder_->Notify();
        std::this_thread::sleep_for(kFinalLook);
        state = forwarder_->State();
    }
    Stop();
    state = forwarder_->State();
    if (state.waiting == 0) return;
    FailureDetails details = Words(file_);
    details.size = state.waiting;
    details.name = state.host;
    details.more = url_;
    out << FailureText(Failure::RowsWaiting, details) << std::endl;
}

void Forwarding::Stop() {
    if (forwarder_) forwarder_->Stop();
}

int ForwardFile(const std::string& file, const std::string& url, std::ostream& out, std::ostream& err) {
    std::string error;
    std::unique_ptr<records::RecordStore> store = records::RecordStore::Open(file, records::Access::Write, &error);
    if (!store) {
        err << "varnex: " << FailureText(Failure::RecordsNotUsable, Words(error)) << std::endl;
        return kExitUsage;
    }
    // The notes are read before the rows, so a row noted meanwhile (another station on the
    // file) stays noted.
    std::string journal;
    std::vector<records::Row> noted, rows;
    int64_t lastNote = 0;
    if (!store->JournalId(&journal, &error) || !store->Pending(SIZE_MAX, &noted, &lastNote, &error) ||
        !store->List({}, &rows, &error)) {
        err << "varnex: " << FailureText(Failure::RecordsNotReadable, Words(error)) << std::endl;
        return kExitUsage;
    }
    records::ServerRecords server(url);
    const std::string host = records::ServerName(url);
    size_t sent = 0;
    for (size_t at = 0; at < rows.size(); at += records::kBatchRows) {
        const std::vector<records::Row> batch(rows.begin() + at,
                                              rows.begin() + std::min(rows.size(), at + records::kBatchRows));
        size_t taken = 0;
        records::ServerError failure;
        if (!server.Send(journal, batch, &taken, &failure)) {
            FailureDetails details = Words(failure.text);
            details.name = host;
            err << "varnex: " << FailureText(Failure::ServerRefuses, details) << std::endl;
            out << sent << " rows sent to " << host << ", " << (at - sent) << " already there; " << (rows.size() - at)
                << " not sent" << std::endl;
            return kExitSomeFailed;
        }
        sent += taken;
    }
    // Every row the file held is on the server now: nothing noted before waits any more.
    if (lastNote > 0) store->MarkForwarded(lastNote, &error);
    out << sent << " rows sent to " << host << ", " << (rows.size() - sent) << " already there" << std::endl;
    return kExitAllDone;
}

}  // namespace cli
