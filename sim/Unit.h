// The simulated unit as a whole: its mode (off, bootloader menu, running), the modem lines it
// drives, which received bytes it can read at the line settings the PC has set, and where
// they go (image, erase, packet link). Bytes and "now" in; bytes for the PC and modem bits out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Bootloader.h"
#include "sim/Content.h"
#include "sim/EventLog.h"
#include "sim/FaultInjector.h"
#include "sim/LineSettings.h"
#include "sim/PacketPeer.h"
#include "sim/UnitLine.h"

namespace sim {

// Modem bits as the Linux TIOCM_* values the harness's modem file carries.
constexpr uint32_t kModemDtr = 0x002;
constexpr uint32_t kModemRts = 0x004;
constexpr uint32_t kModemCts = 0x020;
constexpr uint32_t kModemCar = 0x040;
constexpr uint32_t kModemRi = 0x080;
constexpr uint32_t kModemDsr = 0x100;

constexpr uint32_t kDefaultQuietGapMs = 1500;
constexpr uint32_t kDefaultEraseMs = 50000;
// An erase request is the two bytes 0x07 0x06 at 115 200 baud and nothing after them for
// this long; the same bytes at the start of an image or amid other traffic are not one.
constexpr uint32_t kEraseConfirmMs = 200;
constexpr size_t kMaxPendingOutputBytes = 4u << 20;
// Babble: a unit talking at another speed, or a noisy cable: stray bytes that never hold a
// frame mark, this many every so often, with the unit's own frames lost in them.
constexpr uint32_t kDefaultBabbleEveryMs = 20;
constexpr uint32_t kDefaultBabbleBytes = 8;

enum class Mode { Off, Bootloader, Running };
bool parseMode(const std::string& name, Mode& out);
const char* modeName(Mode mode);

struct UnitConfig {
    Mode mode = Mode::Running;
    uint32_t bootBaud = kBootloaderFastBaud;
    uint32_t quietGapMs = kDefaultQuietGapMs;
    uint32_t eraseMs = kDefaultEraseMs;
    EraseFault eraseFault = EraseFault::None;
    bool garbleOutput = true;
    bool pacing = false;
    size_t fileGetChunk = kDefaultFileGetChunk;
    uint64_t seed = 1;
    LineConfig line;  // a line of units on the port, one after another
};

class Unit : private Outbox {
public:
    Unit(const UnitConfig& config, Content& content, EventLog& log);

    // The PC's settings as they are now (output garbling, status).
    void notePcSettings(const LineSettings& settings, uint64_t nowMs);
    // The PC's DTR and RTS (TIOCM bits), or -1 when unknown; changes are logged.
    void notePcModemBits(int bits, uint64_t nowMs);
    // Bytes from the PC, sent under the given settings.
    void onLineBytes(const uint8_t* data, size_t size, const LineSettings& sentUnder, uint64_t nowMs);
    // Timers; bytesWaiting: bytes from the PC not yet read, which keep an image going.
    void tick(uint64_t nowMs, size_t bytesWaiting = 0);
    // The next time tick() has something to do (UINT64_MAX for none).
    uint64_t nextDeadlineMs(uint64_t nowMs) const;

    // Bytes for the PC, in order; the caller writes them (paced or not) and reports how many
    // it took.
    const std::vector<uint8_t>& pendingOutput() const { return out_; }
    void outputTaken(size_t bytes);

    uint32_t modemBits() const;
    void setModemBit(uint32_t bit, bool on, uint64_t nowMs);

    void setMode(Mode mode, uint32_t bootBaud, uint64_t nowMs);
    // The operator pressed ENTER on the bootloader's count display: the unit restarts and,
    // with "C" not held, comes up running its software.
    void pressEnter(uint64_t nowMs);
    void reset(uint64_t nowMs);  // back to the start-up scenario

    Mode mode() const { return mode_; }
    // The speed at which the unit reads and writes in its present mode.
    uint32_t unitBaud() const { return mode_ == Mode::Running ? kRunningBaud : bootBaud_; }
    UnitConfig& settings() { return config_; }
    const UnitConfig& settings() const { return config_; }
    PacketPeer& peer() { return peer_; }
    FaultInjector& faults() { return faults_; }
    Content& content() { return content_; }
    EventLog& log() { return log_; }
    const ImageReport& lastImage() const { return lastImage_; }
    const ImageReceiver& image() const { return image_; }
    const EraseHandshake& erase() const { return erase_; }
    const UnitLine& line() const { return line_; }
    // Sends raw bytes at the unit's speed (garbled like any other output if the PC is elsewhere).
    void sendRaw(const std::vector<uint8_t>& bytes, uint64_t nowMs);
    // Starts or stops the babble; while it runs, the unit's frames never reach the line.
    void setBabble(bool on, uint32_t everyMs, uint32_t bytes, uint64_t nowMs);

    Json status() const;

private:
    void sendNow(const std::vector<uint8_t>& bytes) override;
    void sendAt(uint64_t atMs, const std::vector<uint8_t>& bytes) override;
    void emit(const std::vector<uint8_t>& bytes, uint32_t atBaud);

    // Bytes past the erase check: data at the unit's speed, noise otherwise.
    void route(const uint8_t* data, size_t size, const LineSettings& sentUnder, uint64_t nowMs);
    void releaseHeld(uint64_t nowMs);
    void startErase(uint64_t nowMs);
    void noteGarbled(size_t size, const LineSettings& sentUnder, uint64_t nowMs);
    void flushGarbled(uint64_t nowMs);

    UnitConfig config_;
    UnitConfig startup_;
    Content& content_;
    EventLog& log_;
    FaultInjector faults_;
    PacketPeer peer_;

    Mode mode_ = Mode::Running;
    uint32_t bootBaud_ = kBootloaderFastBaud;
    bool cts_ = false, dsr_ = false, car_ = false, ri_ = false;
    LineSettings pc_;
    int pcModem_ = -1;

    ImageReceiver image_;
    ImageReport lastImage_;
    UnitLine line_;
    bool showingCount_ = false;  // after an image, until ENTER or a mode change
    std::vector<uint8_t> held_;  // a possible erase request, until more bytes or quiet decide
    LineSettings heldSettings_;
    uint64_t heldSinceMs_ = 0;
    EraseHandshake erase_;

    std::vector<uint8_t> out_;
    struct Scheduled {
        uint64_t atMs;
        std::vector<uint8_t> bytes;
        uint32_t baud;
    };
    std::vector<Scheduled> scheduled_;

    struct Babble {
        bool on = false;
        uint32_t everyMs = kDefaultBabbleEveryMs;
        uint32_t bytes = kDefaultBabbleBytes;
        uint64_t nextMs = 0;
        uint64_t framesLost = 0;
    } babble_;

    // Garbled bytes are reported as runs, not per read.
    uint64_t garbledRun_ = 0;
    uint32_t garbledRunBaud_ = 0;
    uint64_t garbledRunStartMs_ = 0;
    uint64_t garbledRunLastMs_ = 0;
    std::string lastGarbledSettings_;

    uint64_t bytesIn_ = 0, bytesOut_ = 0, garbledIn_ = 0, garbledOut_ = 0, ignoredIn_ = 0, outputDropped_ = 0;
};

}  // namespace sim
