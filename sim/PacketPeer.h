// The running unit's side of the packet link: reads the PC's frames, answers NLEC sends and
// fetches and file sends and receives, reports bad frames (1) and its own timeouts (2), and
// re-answers a resent frame (same id) with its stored reply instead of acting twice, so a
// resend never skips or repeats a line or chunk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Content.h"
#include "sim/EventLog.h"
#include "sim/FaultInjector.h"
#include "sim/Json.h"
#include "sim/WireFrame.h"

namespace sim {

// Packet command codes.
enum Command : uint16_t {
    kCmdBadChecksum = 1,
    kCmdRemoteTimeout = 2,
    kCmdLog = 3,
    kCmdNlecSend = 5,
    kCmdNlecSendLine = 6,
    kCmdNlecSendEnd = 7,
    kCmdNlecError = 8,
    kCmdFileSend = 10,
    kCmdFileSendData = 11,
    kCmdFileSendEnd = 12,
    kCmdFileError = 13,
    kCmdFlashEraseResult = 15,
    kCmdNlecGet = 16,
    kCmdNlecGetLine = 17,
    kCmdNlecGetLastLine = 18,
    kCmdFixedRequest = 19,
    kCmdFileGet = 20,
    kCmdFileGetData = 21,
    kCmdFileGetEnd = 22,
    kCmdFileGetText = 23,
};

constexpr uint32_t kFrameStallMs = 300;        // a frame silent this long is given up (answered with 2)
constexpr uint32_t kDuplicateWindowMs = 2000;  // a repeat of the last frame within this is a resend
constexpr size_t kFileSendChunkBytes = 128;    // what the PC sends per data packet
constexpr size_t kDefaultFileGetChunk = 512;

// Where the peer's bytes go: now, or at a later time (delayed replies).
class Outbox {
public:
    virtual ~Outbox() = default;
    virtual void sendNow(const std::vector<uint8_t>& bytes) = 0;
    virtual void sendAt(uint64_t atMs, const std::vector<uint8_t>& bytes) = 0;
};

struct PeerCounters {
    uint64_t framesIn = 0;
    uint64_t framesOut = 0;
    uint64_t badChecksums = 0;
    uint64_t oversize = 0;
    uint64_t stalls = 0;
    uint64_t duplicates = 0;
    uint64_t fixedRequests = 0;
    std::string lastFixedRequest;
};

class PacketPeer {
public:
    PacketPeer(Content& content, FaultInjector& faults, EventLog& log, Outbox& out)
        : content_(content), faults_(faults), log_(log), out_(out) {}

    void onBytes(const uint8_t* data, size_t size, uint64_t nowMs);
    // Gives up a frame that stopped arriving; call on every tick.
    void tick(uint64_t nowMs);
    uint64_t nextDeadlineMs() const;

    // An unsolicited frame (log line, erase result, error, text...), sent without faults.
    // id < 0 takes the unit's next id.
    void sendUnsolicited(uint16_t command, const std::vector<uint8_t>& payload, int id, uint64_t nowMs);
    // A frame with chosen header fields (a wrong checksum or length on purpose); checksum < 0
    // takes the sum the other fields call for.
    void sendCustom(int checksum, uint16_t length, uint16_t command, int id, const std::vector<uint8_t>& payload,
                    uint64_t nowMs);

    void setFileGetChunk(size_t bytes) { fileGetChunk_ = bytes; }
    size_t fileGetChunk() const { return fileGetChunk_; }
    // The unit was switched off or changed mode: transfers, a half-read frame and the
    // remembered last answer are gone; counters stay.
    void restart();
    // Everything back to the start, counters and ids included.
    void reset();

    const PeerCounters& counters() const { return counters_; }
    Json transferJson() const;
    bool midFrame() const { return decoder_.inFrame(); }

private:
    enum class Transfer { None, NlecIn, NlecOut, FileIn, FileOut };

    void onFrame(const WireFrame& frame, uint64_t nowMs);
    void handle(const WireFrame& frame, uint64_t nowMs);
    // The reply to a new frame: stored for resends, then sent through the faults.
    void reply(uint16_t command, const std::vector<uint8_t>& payload, uint64_t nowMs);
    void transmit(const std::vector<uint8_t>& bytes, uint16_t command, uint64_t nowMs, bool mayFault);
    void endTransfer(const char* why, uint64_t nowMs);
    void finishNlecIn(uint64_t nowMs);
    void finishFileIn(uint64_t nowMs);
    uint16_t nextId() { return ++unitId_; }
    void traceOut(const std::vector<uint8_t>& bytes, uint64_t nowMs, const char* note);

    Content& content_;
    FaultInjector& faults_;
    EventLog& log_;
    Outbox& out_;

    FrameDecoder decoder_;
    uint64_t lastByteMs_ = 0;
    uint16_t unitId_ = 0;

    // The last frame handled and what it was answered with, for resends.
    bool haveLast_ = false;
    uint16_t lastId_ = 0, lastCommand_ = 0, lastChecksum_ = 0, lastLength_ = 0;
    uint64_t lastSeenMs_ = 0;
    std::vector<uint8_t> lastReply_;
    uint64_t delayedUntilMs_ = 0;  // a delayed reply is still on its way

    Transfer transfer_ = Transfer::None;
    std::vector<uint8_t> inBytes_;
    uint16_t announcedSum_ = 0;
    long long announcedCount_ = -1;
    int kind_ = 0;
    std::string programName_;
    std::vector<std::string> nlecLines_;
    size_t nextLine_ = 0;
    std::vector<uint8_t> outBytes_;
    size_t outOffset_ = 0;
    size_t fileGetChunk_ = kDefaultFileGetChunk;

    PeerCounters counters_;
};

// The fields of a frame event (command, id, len, checksum, payload_hex, text).
Json frameEventFields(uint16_t checksum, uint16_t length, uint16_t command, uint16_t id, const uint8_t* payload,
                      size_t payloadSize);
// The decimal text the unit sends for sums, counts and sizes.
std::vector<uint8_t> decimalPayload(long long value);
// Reads leading decimal digits (after blanks and a sign), as the unit's firmware does.
bool parseLeadingInt(const std::vector<uint8_t>& payload, size_t from, long long& value, size_t& end);

}  // namespace sim
