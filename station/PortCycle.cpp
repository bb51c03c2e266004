// One port's unit cycle (see PortCycle.h): a small loop over the four steps, with the lost
// port's reopening beside it. The load itself is the download engine's, unchanged.
#include "station/PortCycle.h"

#include <utility>

#include "download/DownloadEngine.h"
#include "download/DownloadText.h"

namespace station {

const char* StepName(Step step) {
    switch (step) {
        case Step::WaitingForUnit: return "waiting_for_unit";
        case Step::Loading: return "loading";
        case Step::WaitingForConfirmation: return "waiting_for_confirmation";
        case Step::WaitingForUnitToGo: return "waiting_for_unit_to_go";
        case Step::PortLost: return "port_lost";
    }
    return "unknown";
}

const char* LoadResultName(LoadResult result) {
    switch (result) {
        case LoadResult::Confirmed: return "confirmed";
        case LoadResult::Failed: return "failed";
        case LoadResult::NoConfirmation: return "no_confirmation";
        case LoadResult::Stopped: return "stopped";
    }
    return "failed";
}

namespace {

using common::kMsPerSecond;

constexpr const char* kGoText = "switch the unit off and take it away";

// Forwards the engine's progress and notes when the stream ended (the last byte left); the
// scans that came meanwhile are told between two pieces of the image.
class LoadProgress final : public download::DownloadListener {
public:
    LoadProgress(PortListener& listener, common::Clock& clock, uint32_t unit, std::function<void()> between)
        : listener_(listener), clock_(clock), unit_(unit), between_(std::move(between)) {}
    void ProgressStart(uint64_t total) override { total_ = total; }
    void ProgressAdvance(uint64_t done) override {
        listener_.OnProgress(unit_, done, total_);
        between_();
    }
    void ProgressEnd() override { streamEndMs = clock_.NowMs(); }
    void Log(const std::string&, std::error_code) override {}  // the download has no lines of its own
    void Notice(common::NoticeKind, const std::string&) override {}
    uint64_t streamEndMs = 0;

private:
    PortListener& listener_;
    common::Clock& clock_;
    uint32_t unit_;
    uint64_t total_ = 0;
    std::function<void()> between_;
};

enum class Wait { Happened, Lost, Ended };

class PortRun {
public:
    explicit PortRun(const PortContext& context)
        : c_(context), clock_(*context.clock), listener_(*context.listener), gate_(*context.gate) {}

    void Run() {
        Step resume = Step::WaitingForUnit;
        bool opened = false;
        while (!gate_.Cancelled()) {
            if (!port_ && !Open(opened)) break;
            opened = true;
            Wait wait = resume == Step::WaitingForUnit ? WaitForUnit() : WaitForUnitToGo(goText_);
            if (wait == Wait::Ended) break;
            if (wait == Wait::Lost) {
                Lose();
                continue;
            }
            if (resume == Step::WaitingForUnitToGo) {
                resume = Step::WaitingForUnit;
                continue;
            }
            Load();  // every load, whatever its end, is followed by the unit's going
            resume = Step::WaitingForUnitToGo;
        }
        if (port_) port_->Close();
    }

private:
    // Opens the port, retrying every kReopenEveryMs (a lost one only after the first wait);
    // false when the station ends meanwhile.
    bool Open(bool afterLoss) {
        if (afterLoss && !Pause(kReopenEveryMs)) return false;
        const char* words = afterLoss ? "port lost, trying again" : "cannot open the port, trying again";
        std::string shown;
        for (;;) {
            serial::PortStatus status;
            port_ = c_.open(c_.port, &status);
            if (port_) return true;
            std::string text = std::string(words) + " (" + download::PortFailureText(status) + ")";
            if (text != shown) listener_.OnStep(Step::PortLost, unit_, text);
            shown = text;
            if (!Pause(kReopenEveryMs)) return false;
        }
    }

    // The port is closed and shown lost at once; Run reopens it.
    void Lose() {
        if (port_) port_->Close();
        port_.reset();
        listener_.OnStep(Step::PortLost, unit_, "port lost, trying again (" + lostBecause_ + ")");
    }

    // Sleeps ms in polls; false as soon as the port should end (stop, or arming over).
    bool Pause(uint32_t ms) {
        for (uint32_t slept = 0; slept < ms; slept += kCtsPollMs) {
            if (gate_.Cancelled() || !gate_.Arming()) return false;
            clock_.SleepMs(kCtsPollMs);
        }
        return true;
    }

    bool ReadCts(bool* on) {
        serial::PortStatus status = port_->ReadCts(on);
        if (status.Ok()) return true;
        lostBecause_ = download::PortFailureText(status);
        return false;
    }

    // The scanner's notices since the last look, told as the step the port is in.
    void TellScans(Step step) {
        if (c_.serials.slot == nullptr) return;
        for (const std::string& text : c_.serials.slot->Notices()) listener_.OnStep(step, unit_, text);
    }

    bool WantsScan() const { return c_.serials.required && c_.serials.slot != nullptr && !c_.serials.slot->Holding(); }

    // A unit whose CTS is already up when the port opens is one waiting for its load; with a
    // serial required it waits for its label's scan as well.
    Wait WaitForUnit() {
        if (gate_.Cancelled() || !gate_.Arming()) return Wait::Ended;
        listener_.OnStep(Step::WaitingForUnit, unit_, "waiting for a unit");
        bool asked = false;
        for (;;) {
            if (gate_.Cancelled() || !gate_.Arming()) return Wait::Ended;
            TellScans(Step::WaitingForUnit);
            bool on = false;
            if (!ReadCts(&on)) return Wait::Lost;
            if (on && WantsScan()) {
                if (!asked) listener_.OnStep(Step::WaitingForUnit, unit_, "scan the unit's label");
                asked = true;
            } else if (on && gate_.TryReserve()) {
                return Wait::Happened;
            }
            clock_.SleepMs(kCtsPollMs);
        }
    }

    // A unit is loaded once per visit: CTS must stay down for kGoneAfterMs, so a flicker of
    // the line does not count as the next unit.
    Wait WaitForUnitToGo(const std::string& text) {
        if (gate_.Cancelled() || !gate_.Arming()) return Wait::Ended;
        listener_.OnStep(Step::WaitingForUnitToGo, unit_, text);
        bool down = false;
        uint64_t downSinceMs = 0;
        for (;;) {
            if (gate_.Cancelled() || !gate_.Arming()) return Wait::Ended;
            TellScans(Step::WaitingForUnitToGo);
            bool on = false;
            if (!ReadCts(&on)) return Wait::Lost;
            const uint64_t now = clock_.NowMs();
            if (on) {
                down = false;
            } else if (!down) {
                down = true;
                downSinceMs = now;
            } else if (now - downSinceMs >= kGoneAfterMs) {
                return Wait::Happened;
            }
            clock_.SleepMs(kCtsPollMs);
        }
    }

    void Load() {
        goText_ = kGoText;
        const std::string serial = c_.serials.slot != nullptr ? c_.serials.slot->Take() : std::string();
        std::string warning;
        bool loadedBefore = false;
        if (!MayLoad(serial, &warning, &loadedBefore)) {
            gate_.Release();  // a unit refused is neither loaded nor failed
            goText_ = warning + "; " + kGoText;
            return;
        }
        ++unit_;
        const uint64_t startMs = clock_.NowMs();
        LoadEnd end;
        end.total = c_.plan.size;
        end.serial = serial;
        end.loadedBefore = loadedBefore;
        uint64_t id = 0;
        std::string error;
        if (c_.records != nullptr && !c_.records->Begin({c_.port, unit_, c_.plan.size, serial}, &id, &error)) {
            // Never a load without its row: this unit is not loaded, and no further one is.
            gate_.NoteRecordsFailure("the records cannot be written (" + error + "): no further units are loaded");
            end.reason = "not loaded: the records cannot be written (" + error + ")";
            Finish(end, startMs, nullptr);
            return;
        }
        listener_.OnStep(Step::Loading, unit_, "");  // the load's start event says it in words
        Stream(&end, warning);
        Finish(end, startMs, c_.records != nullptr ? &id : nullptr);
    }

    // False when the unit must not be loaded: its serial has a confirmed load already and
    // the line refuses reloads. *text says what was found, or why nothing could be looked up
    // (the records are a log, not a gate: a failed look-up never holds a unit).
    bool MayLoad(const std::string& serial, std::string* text, bool* loadedBefore) {
        const SerialRules& rules = c_.serials;
        if (serial.empty() || rules.history == nullptr || rules.reload == Reload::Allow) return true;
        PreviousLoad previous;
        bool found = false;
        std::string error;
        if (!rules.history->FindConfirmed(serial, &previous, &found, &error)) {
            *text = "SN " + serial + ": its earlier loads cannot be looked up (" + error + ")";
            return true;
        }
        if (!found) return true;
        *loadedBefore = true;
        *text = "SN " + serial + " was loaded at " + previous.when + " on " + previous.port + ", " + previous.station;
        if (rules.reload == Reload::Refuse) {
            *text += ": not loaded again";
            return false;
        }
        *text += ": loading it again";
        return true;
    }

    // The download, then the wait for the unit's confirmation; fills *end. A warning about
    // the unit stays on its port while it loads.
    void Stream(LoadEnd* end, const std::string& warning) {
        serial::PortStatus speed = port_->SetBaudRate(c_.plan.baud);
        if (!speed.Ok()) {
            end->reason =
                "cannot switch to " + std::to_string(c_.plan.baud) + " baud: " + download::PortFailureText(speed);
            if (speed.error == serial::PortError::Gone) {
                lostBecause_ = download::PortFailureText(speed);
                Lose();
            }
            return;
        }
        listener_.OnLoadStart(unit_, c_.plan.size, c_.plan.baud);
        if (!warning.empty()) listener_.OnStep(Step::Loading, unit_, warning);
        LoadProgress progress(listener_, clock_, unit_, [this] { TellScans(Step::Loading); });
        download::DownloadRequest request;
        request.data = c_.plan.data;
        request.size = c_.plan.size;
        request.baudRate = c_.plan.baud;
        request.cancel = gate_.CancelFlag();
        request.endOnCtsDrop = true;  // a unit that goes off mid-image is never taken as loaded
        const download::DownloadOutcome outcome = download::RunImageDownload(*port_, clock_, request, progress);
        end->bytesSent = outcome.bytesSent;
        switch (outcome.result) {
            case download::DownloadResult::Done: Confirm(progress.streamEndMs, end); return;
            case download::DownloadResult::Cancelled: end->result = LoadResult::Stopped; break;
            default: break;
        }
        end->reason = download::OutcomeText(outcome, port_->Kind(), gate_.StoppedWords());
        if (outcome.result == download::DownloadResult::PortGone) {
            lostBecause_ = download::PortFailureText(outcome.lastError);
            Lose();
        }
    }

    void Confirm(uint64_t lastByteMs, LoadEnd* end) {
        listener_.OnStep(Step::WaitingForConfirmation, unit_, "waiting for the unit's confirmation");
        // A port that tells a fall of CTS late (a network server) is given that time as well.
        const uint64_t limitMs = kConfirmLimitMs + port_->CtsNoticeLatencyMs();
        for (;;) {
            if (gate_.Cancelled()) {
                end->result = LoadResult::Stopped;
                end->reason = gate_.StoppedWords() + " before the unit confirmed the image";
                return;
            }
            TellScans(Step::WaitingForConfirmation);
            bool on = false;
            if (!ReadCts(&on)) {
                end->reason = "the port was lost before the unit confirmed the image: " + lostBecause_;
                Lose();
                return;
            }
            if (!on) {
                end->result = LoadResult::Confirmed;
                return;
            }
            if (clock_.NowMs() - lastByteMs >= limitMs) {
                end->result = LoadResult::NoConfirmation;
                end->reason = "no confirmation from the unit within " + std::to_string(kConfirmLimitMs / kMsPerSecond) +
                              " s of the last byte (CTS stayed up): load it again";
                return;
            }
            clock_.SleepMs(kCtsPollMs);
        }
    }

    void Finish(LoadEnd& end, uint64_t startMs, const uint64_t* id) {
        end.durationMs = clock_.NowMs() - startMs;
        std::string error;
        if (id != nullptr && !c_.records->Complete(*id, end, &error)) {
            gate_.NoteRecordsFailure("the records cannot be written (" + error + "): no further units are loaded");
        }
        gate_.Finished(end.result == LoadResult::Confirmed, end.result == LoadResult::Stopped);
        listener_.OnLoadEnd(unit_, end);
    }

    const PortContext& c_;
    common::Clock& clock_;
    PortListener& listener_;
    StationGate& gate_;
    std::unique_ptr<serial::SerialPort> port_;
    uint32_t unit_ = 0;
    std::string lostBecause_;
    std::string goText_ = kGoText;  // what the port asks of the operator once a unit is done
};

}  // namespace

void RunPortCycle(const PortContext& context) { PortRun(context).Run(); }

}  // namespace station
