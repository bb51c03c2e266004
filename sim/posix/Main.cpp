// varnex-sim: runs the simulated unit on a pseudo-terminal. One thread, one poll loop: the
// line, the control socket, the unit's timers and (when pacing) the line rate all meet here.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/Version.h"
#include "sim/Control.h"
#include "sim/EventText.h"
#include "sim/LineTiming.h"
#include "sim/posix/LineCounter.h"
#include "sim/Options.h"
#include "sim/Pacer.h"
#include "sim/Scenario.h"
#include "sim/Unit.h"
#include "sim/posix/ControlServer.h"
#include "sim/posix/ModemFile.h"
#include "sim/posix/PtyPort.h"

namespace {

using namespace sim;

constexpr size_t kReadChunkBytes = 64 * 1024;  // unpaced: large reads, no per-byte calls
constexpr int kIdlePollMs = 1000;
constexpr uint64_t kPcModemPollUs = 100000;  // the PC's DTR/RTS file is looked at this often at most
constexpr int kPacedSettingsPollMs = 10;     // how often queued input is checked for a speed change
// After a hang-up of the PC's side the master reports it until the port is opened again;
// it is looked at again this often instead of on every turn of the loop.
constexpr uint64_t kHangupRetryUs = 50000;
constexpr const char* kVersion = VARNEX_VERSION;

volatile sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

uint64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

uint64_t wallMs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

FILE* gLog = stderr;

void logLine(const std::string& text) {
    std::fprintf(gLog, "varnex-sim: %s\n", text.c_str());
    std::fflush(gLog);
}

bool applyContent(const SimOptions& o, Content& content, std::string& error) {
    if (o.builtinContent) content.loadBuiltins();
    if (!o.nlecTable.empty()) content.setNlecTable(o.nlecTable);
    if (!o.settingsFile.empty()) content.setFile(kKindSettings, "", o.settingsFile);
    if (!o.binaryFile.empty()) content.setFile(kKindBinary, "", o.binaryFile);
    for (const auto& [name, path] : o.programFiles) content.setFile(kKindProgram, name, path);
    std::vector<uint8_t> probe;
    for (const std::string* path : {&o.nlecTable, &o.settingsFile, &o.binaryFile})
        if (!path->empty() && !readWholeFile(*path, probe, error)) return false;
    for (const auto& entry : o.programFiles)
        if (!readWholeFile(entry.second, probe, error)) return false;
    return true;
}

class Simulator {
public:
    explicit Simulator(const SimOptions& options) : options_(options), modem_(options.modem) {}

    int run();

private:
    bool start(std::string& error);
    void checkSettings(uint64_t nowUs);
    void runScenario(uint64_t nowUs);
    void readLine(uint64_t nowUs);
    size_t pacedReadable(uint64_t nowUs, size_t queued);
    void writeLine(uint64_t nowUs);
    void hangup(uint64_t nowUs);
    std::string control(const std::string& line);

    SimOptions options_;
    PtyPort pty_;
    ModemFile modem_;
    LineCounter lineCounter_;
    ControlServer server_;
    Content content_;
    EventLog log_;
    FILE* events_ = nullptr;
    std::unique_ptr<Unit> unit_;
    LineJudge judge_;
    Pacer inPacer_, outPacer_;
    TurnaroundClock turnaround_;
    // Paced directions start from a quiet line after each pause (see Pacer::startFromIdle).
    bool inIdle_ = true;
    bool outIdle_ = true;
    uint64_t startUs_ = 0;
    bool quit_ = false;
    bool masterReadable_ = false;
    uint64_t lineDownUntilUs_ = 0;
    uint64_t lastPcModemPollUs_ = 0;
    Scenario scenario_;
    std::string madeStore_;  // a store folder this run created (removed at exit if still empty)
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(kReadChunkBytes);

    uint64_t nowMs(uint64_t nowUs) const { return (nowUs - startUs_) / 1000; }
    // A backlog sent before a speed change still crosses the line at the old speed.
    uint32_t inBaud() const { return judge_.takePrevious(1) ? judge_.previous().baud : judge_.current().baud; }
};

bool Simulator::start(std::string& error) {
    startUs_ = monotonicUs();
    log_.setWallClockBaseMs(wallMs());
    if (!options_.eventsFile.empty()) {
        events_ = std::fopen(options_.eventsFile.c_str(), "a");
        if (!events_) {
            error = "cannot open " + options_.eventsFile + ": " + std::strerror(errno);
            return false;
        }
    }
    log_.setSink([this](const Json& event, const std::string& line) {
        if (events_) {
            std::fputs(line.c_str(), events_);
            std::fputc('\n', events_);
            std::fflush(events_);
        }
        logLine(eventText(event));
    });

    std::string store = options_.storeDir;
    if (store.empty()) {
        char tmpl[] = "/tmp/varnex-sim-store-XXXXXX";
        if (!mkdtemp(tmpl)) {
            error = std::string("cannot create a store folder: ") + std::strerror(errno);
            return false;
        }
        store = tmpl;
        madeStore_ = store;
    } else if (::mkdir(store.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot create " + store + ": " + std::strerror(errno);
        return false;
    }
    content_.setStoreDir(store);
    if (!applyContent(options_, content_, error)) return false;

    unit_ = std::make_unique<Unit>(options_.unit, content_, log_);
    for (const Json& rule : options_.faults) {
        if (!unit_->faults().add(rule, error)) {
            error = "--fault: " + error;
            return false;
        }
    }
    if (!options_.scenarioFile.empty() && !scenario_.load(options_.scenarioFile, error)) return false;
    if (!pty_.open(options_.link, error)) return false;
    if (!modem_.write(unit_->modemBits(), error)) return false;
    if (!lineCounter_.open(options_.modem, pty_.slavePath(), error)) return false;
    if (!options_.control.empty() && !server_.open(options_.control, error)) return false;

    runScenario(startUs_);  // what the scenario sets up is in place before anyone is told "ready"

    Json ready = Json::object();
    ready["ready"] = true;
    ready["link"] = pty_.linkPath();
    ready["slave"] = pty_.slavePath();
    ready["control"] = options_.control.empty() ? Json() : Json(options_.control);
    ready["modem"] = options_.modem.empty() ? Json() : Json(options_.modem);
    ready["events"] = options_.eventsFile.empty() ? Json() : Json(options_.eventsFile);
    ready["store"] = store;
    ready["mode"] = modeName(unit_->mode());
    ready["pid"] = long(getpid());
    std::printf("%s\n", jsonLine(ready).c_str());
    std::fflush(stdout);
    logLine("unit ready on " + pty_.linkPath() + " -> " + pty_.slavePath());
    return true;
}

std::string Simulator::control(const std::string& line) {
    uint64_t now = nowMs(monotonicUs());
    // Turnaround timing lives here, beside the line, not in the unit.
    Json request;
    std::string parseError;
    if (parseJson(line, request, parseError) && request.is_object()) {
        const Json* cmd = member(request, "cmd");
        if (cmd && cmd->is_string() && cmd->get<std::string>() == "turnaround") {
            const Json* samples = member(request, "samples");
            const Json* clear = member(request, "clear");
            Json reply = turnaround_.toJson(samples && samples->is_boolean() && samples->get<bool>());
            if (clear && clear->is_boolean() && clear->get<bool>()) turnaround_.clear();
            reply["ok"] = true;
            return jsonLine(reply);
        }
    }
    // Answer with the line as it is now, not as it was before the loop last slept.
    checkSettings(monotonicUs());
    unit_->notePcModemBits(modem_.readPc(), now);
    ControlOutcome outcome;
    std::string reply = handleControlLine(*unit_, line, now, outcome);
    if (outcome.quit) quit_ = true;
    return reply;
}

void Simulator::runScenario(uint64_t nowUs) {
    uint64_t now = nowMs(nowUs);
    for (const Json& request : scenario_.due(now)) {
        ControlOutcome outcome;
        Json reply = handleControl(*unit_, request, now, outcome);
        Json e = Json::object();
        e["request"] = request;
        e["reply"] = reply;
        log_.add(now, "scenario_step", e);
        if (outcome.quit) quit_ = true;
    }
}

void Simulator::checkSettings(uint64_t nowUs) {
    LineSettings settings;
    if (pty_.readSettings(settings)) {
        judge_.observe(settings);
        unit_->notePcSettings(settings, nowMs(nowUs));
    }
}

// How many bytes a paced line lets the unit read now: 0 until the line has carried the next
// chunk (or, for a short burst, all of it), so that the unit wakes on the line's own timing.
size_t Simulator::pacedReadable(uint64_t nowUs, size_t queued) {
    if (queued == 0) {
        inIdle_ = true;
        return 0;
    }
    if (inIdle_) {
        // The PC's first byte after a quiet line: its clock starts now, and so does the
        // line's. It is read once the line has carried it (or its chunk).
        inPacer_.startFromIdle(nowUs);
        turnaround_.inputArrived(nowUs);
        inIdle_ = false;
    }
    const size_t allowed = inPacer_.allowance(nowUs, inBaud());
    return allowed < std::min(queued, Pacer::chunkBytes(inBaud())) ? 0 : std::min(allowed, queued);
}

void Simulator::readLine(uint64_t nowUs) {
    checkSettings(nowUs);
    const bool pacing = unit_->settings().pacing;
    size_t want = buffer_.size();
    if (pacing) {
        // What waits is looked at directly, not through the last poll: a unit that woke late
        // reads what the line carried meanwhile before it judges the line quiet.
        want = std::min(want, pacedReadable(nowUs, pty_.queuedFromPc()));
    } else if (!masterReadable_) {
        return;
    }
    if (want == 0) return;
    ssize_t n = ::read(pty_.masterFd(), buffer_.data(), want);
    if (n <= 0) {
        masterReadable_ = false;
        if (n < 0 && errno == EIO) hangup(nowUs);
        return;
    }
    if (pacing) inPacer_.consume(size_t(n));
    lineCounter_.addRead(size_t(n));
    turnaround_.inputArrived(nowUs);
    uint64_t now = nowMs(nowUs);
    size_t old = judge_.takePrevious(size_t(n));
    if (old) unit_->onLineBytes(buffer_.data(), old, judge_.previous(), now);
    unit_->onLineBytes(buffer_.data() + old, size_t(n) - old, judge_.current(), now);
    size_t queued = pty_.queuedFromPc();
    if (queued == 0) inIdle_ = true;
    judge_.afterRead(queued);
}

void Simulator::hangup(uint64_t nowUs) {
    // The PC's side hung the terminal up (a process that held it as its controlling
    // terminal ended): take hold of the slave again and look again a little later.
    if (lineDownUntilUs_ == 0) logLine("the PC side hung up the port; waiting for it to be opened again");
    pty_.reopenSlave();
    lineDownUntilUs_ = nowUs + kHangupRetryUs;
    inIdle_ = true;  // a hung-up line carried nothing: its next byte starts a fresh clock
}

void Simulator::writeLine(uint64_t nowUs) {
    const std::vector<uint8_t>& pending = unit_->pendingOutput();
    if (pending.empty()) return;
    if (unit_->settings().pacing && outIdle_) outPacer_.startFromIdle(nowUs);
    outIdle_ = false;
    size_t want = pending.size();
    if (unit_->settings().pacing) {
        // As on input: a reply goes out whole once the line has carried it, a long one a
        // chunk at a time; the PC acts on a frame's last byte, which arrives when it would.
        const uint32_t baud = judge_.current().baud;
        const size_t allowed = outPacer_.allowance(nowUs, baud);
        if (allowed < std::min(want, Pacer::chunkBytes(baud))) return;
        want = std::min(want, allowed);
    }
    if (want == 0) return;
    ssize_t n = ::write(pty_.masterFd(), pending.data(), want);
    if (n < 0 && errno == EIO) hangup(nowUs);
    if (n > 0) {
        if (unit_->settings().pacing) outPacer_.consume(size_t(n));
        unit_->outputTaken(size_t(n));
        if (unit_->pendingOutput().empty()) {
            outIdle_ = true;
            turnaround_.outputDrained(monotonicUs());
        }
    }
}

int Simulator::run() {
    std::string error;
    if (!start(error)) {
        logLine("cannot start: " + error);
        return 1;
    }
    std::vector<pollfd> fds;
    while (!gStop && !quit_) {
        uint64_t nowUs = monotonicUs();
        runScenario(nowUs);
        readLine(nowUs);
        // Bytes that wait unread keep the line from counting as quiet.
        const size_t waiting = pty_.queuedFromPc();
        unit_->tick(nowMs(nowUs), waiting);
        writeLine(nowUs);
        if (!modem_.write(unit_->modemBits(), error)) logLine(error);
        if (nowUs - lastPcModemPollUs_ >= kPcModemPollUs) {
            lastPcModemPollUs_ = nowUs;
            unit_->notePcModemBits(modem_.readPc(), nowMs(nowUs));
        }

        bool pacing = unit_->settings().pacing;
        uint32_t baud = judge_.current().baud;
        fds.clear();
        short lineEvents = 0;
        // A paced line with bytes waiting sleeps until the line has carried its next chunk;
        // a quiet one watches for the PC's next byte, to start its clock.
        bool inAllowed = !pacing || waiting == 0;
        bool outPending = !unit_->pendingOutput().empty();
        const size_t outChunk = std::min(unit_->pendingOutput().size(), Pacer::chunkBytes(baud));
        bool outAllowed = !pacing || outPacer_.allowance(nowUs, baud) >= outChunk;
        bool lineDown = nowUs < lineDownUntilUs_;
        if (!lineDown) lineDownUntilUs_ = 0;
        if (inAllowed && !lineDown) lineEvents |= POLLIN;
        if (outPending && outAllowed && !lineDown) lineEvents |= POLLOUT;
        fds.push_back({pty_.masterFd(), lineEvents, 0});
        size_t controlFirst = server_.addPollFds(fds);

        uint64_t deadline = std::min(unit_->nextDeadlineMs(nowMs(nowUs)), scenario_.nextDueMs());
        int64_t timeoutMs = kIdlePollMs;
        if (deadline != UINT64_MAX)
            timeoutMs = std::min<int64_t>(timeoutMs, int64_t(deadline) - int64_t(nowMs(nowUs)) + 1);
        if (pacing) timeoutMs = std::min<int64_t>(timeoutMs, kPacedSettingsPollMs);
        int64_t timeoutUs = std::max<int64_t>(timeoutMs, 0) * 1000;
        // Paced waits are timed to the microsecond: a millisecond granule would add most of
        // a millisecond to every frame and make the line look slower than it is.
        if (pacing) {
            if (!inAllowed) {
                const size_t chunk = std::min(waiting, Pacer::chunkBytes(inBaud()));
                timeoutUs = std::min<int64_t>(timeoutUs, int64_t(inPacer_.waitUs(nowUs, inBaud(), chunk)));
            }
            if (outPending && !outAllowed)
                timeoutUs = std::min<int64_t>(timeoutUs, int64_t(outPacer_.waitUs(nowUs, baud, outChunk)));
            // The waits count from the top of this turn; its own work has used part of them.
            timeoutUs = std::max<int64_t>(timeoutUs - int64_t(monotonicUs() - nowUs), 0);
        }

        sigset_t unblocked;
        sigemptyset(&unblocked);
        timespec ts{time_t(timeoutUs / 1000000), long(timeoutUs % 1000000) * 1000L};
        int ready = ::ppoll(fds.data(), fds.size(), &ts, &unblocked);
        if (ready < 0) {
            if (errno == EINTR) continue;
            logLine(std::string("poll: ") + std::strerror(errno));
            break;
        }
        masterReadable_ = (fds[0].revents & POLLIN) != 0;
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            masterReadable_ = false;
            hangup(monotonicUs());
        }
        server_.service(fds, controlFirst, [this](const std::string& line) { return control(line); });
    }
    logLine(gStop ? "stopping on signal" : "stopping on request");
    std::string ignored;
    modem_.write(0, ignored);  // the unit is gone: its lines fall
    server_.close();
    pty_.close();
    if (events_) std::fclose(events_);
    if (!madeStore_.empty()) ::rmdir(madeStore_.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "varnex-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::printf("%s%s", usageText().c_str(), controlHelp());
        return 0;
    }
    if (options.version) {
        std::printf("varnex-sim %s\n", kVersion);
        return 0;
    }
    if (!options.logFile.empty()) {
        gLog = std::fopen(options.logFile.c_str(), "a");
        if (!gLog) {
            std::fprintf(stderr, "varnex-sim: cannot open %s: %s\n", options.logFile.c_str(), std::strerror(errno));
            return 2;
        }
    }
    // A paced line's waits are timed to the microsecond; the kernel's default timer slack
    // would let each one run up to 50 us late, and the last byte of every frame with it.
    (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // Signals stay blocked except inside ppoll, so a stop request is never missed.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Simulator simulator(options);
    return simulator.run();
}
