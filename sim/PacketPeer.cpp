// The running unit's packet exchanges: what it does with each frame the PC sends.
#include "sim/PacketPeer.h"

#include <algorithm>

#include "sim/Sha256.h"

namespace sim {
namespace {

const std::vector<uint8_t> kRequestPayload = {'1'};

std::vector<uint8_t> textBytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
}  // namespace

std::vector<uint8_t> decimalPayload(long long value) { return textBytes(std::to_string(value)); }

bool parseLeadingInt(const std::vector<uint8_t>& payload, size_t from, long long& value, size_t& end) {
    size_t i = from;
    while (i < payload.size() && (payload[i] == ' ' || payload[i] == '\t')) ++i;
    bool negative = false;
    if (i < payload.size() && (payload[i] == '-' || payload[i] == '+')) negative = payload[i++] == '-';
    size_t digitsStart = i;
    long long v = 0;
    while (i < payload.size() && payload[i] >= '0' && payload[i] <= '9') {
        if (v < (1ll << 40)) v = v * 10 + (payload[i] - '0');
        ++i;
    }
    end = i;
    value = negative ? -v : v;
    return i > digitsStart;
}

void PacketPeer::restart() {
    decoder_.abandon();
    haveLast_ = false;
    lastReply_.clear();
    delayedUntilMs_ = 0;
    transfer_ = Transfer::None;
    inBytes_.clear();
    nlecLines_.clear();
    outBytes_.clear();
}

void PacketPeer::reset() {
    restart();
    counters_ = PeerCounters();
    unitId_ = 0;
}

void PacketPeer::onBytes(const uint8_t* data, size_t size, uint64_t nowMs) {
    if (size) lastByteMs_ = nowMs;
    for (size_t i = 0; i < size; ++i) {
        switch (decoder_.push(data[i])) {
            case FrameDecoder::Result::None: break;
            case FrameDecoder::Result::Frame: onFrame(decoder_.frame(), nowMs); break;
            case FrameDecoder::Result::Oversize: {
                ++counters_.oversize;
                const WireFrame& f = decoder_.frame();
                Json e = Json::object();
                e["command"] = f.command;
                e["id"] = f.id;
                e["len"] = f.length;
                log_.add(nowMs, "frame_oversize", e);
                // The unit cannot hold it: ask for the frame again as for a bad checksum.
                transmit(encodeFrame(kCmdBadChecksum, nextId(), {}), kCmdBadChecksum, nowMs, true);
                break;
            }
        }
    }
}

void PacketPeer::tick(uint64_t nowMs) {
    if (decoder_.inFrame() && nowMs - lastByteMs_ >= kFrameStallMs) {
        decoder_.abandon();
        ++counters_.stalls;
        log_.add(nowMs, "frame_stalled");
        transmit(encodeFrame(kCmdRemoteTimeout, nextId(), {}), kCmdRemoteTimeout, nowMs, true);
    }
}

uint64_t PacketPeer::nextDeadlineMs() const { return decoder_.inFrame() ? lastByteMs_ + kFrameStallMs : UINT64_MAX; }

void PacketPeer::reply(uint16_t command, const std::vector<uint8_t>& payload, uint64_t nowMs) {
    lastReply_ = encodeFrame(command, nextId(), payload);
    transmit(lastReply_, command, nowMs, true);
}

void PacketPeer::onFrame(const WireFrame& frame, uint64_t nowMs) {
    ++counters_.framesIn;
    Json e = frameEventFields(frame.checksum, frame.length, frame.command, frame.id, frame.payload.data(),
                              frame.payload.size());
    e["computed"] = frame.computed;
    e["checksum_ok"] = frame.checksumOk();
    log_.add(nowMs, "frame_in", e);

    if (!frame.checksumOk()) {
        ++counters_.badChecksums;
        transmit(encodeFrame(kCmdBadChecksum, nextId(), {}), kCmdBadChecksum, nowMs, true);
        return;
    }
    bool repeat = haveLast_ && frame.id == lastId_ && frame.command == lastCommand_ &&
                  frame.checksum == lastChecksum_ && frame.length == lastLength_ &&
                  nowMs - lastSeenMs_ <= kDuplicateWindowMs;
    lastSeenMs_ = nowMs;
    if (repeat) {
        ++counters_.duplicates;
        Json d = Json::object();
        d["id"] = frame.id;
        d["command"] = frame.command;
        if (nowMs < delayedUntilMs_) {
            // The answer is already on its way; answering again would make two.
            d["action"] = "reply still delayed";
            log_.add(nowMs, "duplicate", d);
            return;
        }
        d["action"] = lastReply_.empty() ? "no reply" : "reply repeated";
        log_.add(nowMs, "duplicate", d);
        if (!lastReply_.empty()) transmit(lastReply_, uint16_t(lastReply_[6] | (lastReply_[7] << 8)), nowMs, true);
        return;
    }
    haveLast_ = true;
    lastId_ = frame.id;
    lastCommand_ = frame.command;
    lastChecksum_ = frame.checksum;
    lastLength_ = frame.length;
    lastReply_.clear();
    delayedUntilMs_ = 0;
    handle(frame, nowMs);
}

void PacketPeer::endTransfer(const char* why, uint64_t nowMs) {
    if (transfer_ == Transfer::None) return;
    Json e = Json::object();
    e["why"] = why;
    log_.add(nowMs, "transfer_ended", e);
    transfer_ = Transfer::None;
    inBytes_.clear();
    nlecLines_.clear();
    outBytes_.clear();
}

void PacketPeer::finishNlecIn(uint64_t nowMs) {
    ReceivedItem item;
    item.what = "nlec";
    item.announced = true;
    item.announcedSum = announcedSum_;
    item.atMs = nowMs;
    const ReceivedItem& stored = content_.store(item, inBytes_);
    log_.add(nowMs, "nlec_received", stored.toJson());
    transfer_ = Transfer::None;
    inBytes_.clear();
    reply(kCmdNlecSendEnd, decimalPayload(stored.sum), nowMs);
}

void PacketPeer::finishFileIn(uint64_t nowMs) {
    ReceivedItem item;
    item.what = "file";
    item.kind = kind_;
    item.announced = true;
    item.announcedSum = announcedSum_;
    item.announcedCount = announcedCount_;
    item.atMs = nowMs;
    const ReceivedItem& stored = content_.store(item, inBytes_);
    log_.add(nowMs, "file_received", stored.toJson());
    transfer_ = Transfer::None;
    inBytes_.clear();
    reply(kCmdFileSendEnd, decimalPayload(stored.sum), nowMs);
}

void PacketPeer::handle(const WireFrame& f, uint64_t nowMs) {
    const std::vector<uint8_t>& p = f.payload;
    switch (f.command) {
        case kCmdNlecSend: {
            endTransfer("new NLEC send", nowMs);
            long long sum = 0;
            size_t end = 0;
            parseLeadingInt(p, 0, sum, end);
            announcedSum_ = uint16_t(sum);
            transfer_ = Transfer::NlecIn;
            inBytes_.clear();
            reply(kCmdNlecSendLine, kRequestPayload, nowMs);
            return;
        }
        case kCmdNlecSendLine:
            if (transfer_ != Transfer::NlecIn) break;
            if (inBytes_.size() + p.size() > kMaxContentBytes) {
                endTransfer("table too large", nowMs);
                reply(kCmdNlecError, textBytes("Table too large"), nowMs);
                return;
            }
            inBytes_.insert(inBytes_.end(), p.begin(), p.end());
            reply(kCmdNlecSendLine, kRequestPayload, nowMs);
            return;
        case kCmdNlecSendEnd:
            if (transfer_ != Transfer::NlecIn) break;
            finishNlecIn(nowMs);
            return;
        case kCmdNlecGet: {
            endTransfer("new NLEC fetch", nowMs);
            std::string error;
            if (!content_.nlecLines(nlecLines_, error)) {
                Json e = Json::object();
                e["error"] = error;
                log_.add(nowMs, "content_missing", e);
                reply(kCmdNlecError, textBytes("No table"), nowMs);
                return;
            }
            transfer_ = Transfer::NlecOut;
            nextLine_ = 0;
            reply(kCmdNlecGet, decimalPayload(static_cast<long long>(nlecLines_.size())), nowMs);
            return;
        }
        case kCmdNlecGetLine: {
            if (transfer_ != Transfer::NlecOut) break;
            // The last line (or an empty one for an empty table) goes out as 18 and ends it.
            if (nextLine_ + 1 >= nlecLines_.size()) {
                std::string line = nextLine_ < nlecLines_.size() ? nlecLines_[nextLine_] : std::string();
                transfer_ = Transfer::None;
                Json e = Json::object();
                e["lines"] = nlecLines_.size();
                log_.add(nowMs, "nlec_sent", e);
                reply(kCmdNlecGetLastLine, textBytes(line), nowMs);
            } else {
                reply(kCmdNlecGetLine, textBytes(nlecLines_[nextLine_++]), nowMs);
            }
            return;
        }
        case kCmdFileSend: {
            endTransfer("new file send", nowMs);
            long long kind = 0, sum = 0, count = 0;
            size_t at = 0;
            bool ok = parseLeadingInt(p, 0, kind, at) && at < p.size() && p[at] == ',' &&
                      parseLeadingInt(p, at + 1, sum, at) && at < p.size() && p[at] == ',' &&
                      parseLeadingInt(p, at + 1, count, at);
            if (!ok || count < 0) {
                Json e = Json::object();
                e["text"] = std::string(p.begin(), p.end());
                log_.add(nowMs, "bad_file_header", e);
                reply(kCmdFileError, textBytes("Bad file header"), nowMs);
                return;
            }
            kind_ = int(kind);
            announcedSum_ = uint16_t(sum);
            announcedCount_ = count;
            transfer_ = Transfer::FileIn;
            inBytes_.clear();
            reply(kCmdFileSendData, kRequestPayload, nowMs);
            return;
        }
        case kCmdFileSendData:
            if (transfer_ != Transfer::FileIn) break;
            if (inBytes_.size() + p.size() > kMaxContentBytes) {
                endTransfer("file too large", nowMs);
                reply(kCmdFileError, textBytes("File too large"), nowMs);
                return;
            }
            inBytes_.insert(inBytes_.end(), p.begin(), p.end());
            reply(kCmdFileSendData, kRequestPayload, nowMs);
            return;
        case kCmdFileSendEnd:
            if (transfer_ != Transfer::FileIn) break;
            finishFileIn(nowMs);
            return;
        case kCmdFileGet: {
            endTransfer("new file receive", nowMs);
            long long kind = 0;
            size_t at = 0;
            if (!parseLeadingInt(p, 0, kind, at)) {
                reply(kCmdFileError, textBytes("Bad file request"), nowMs);
                return;
            }
            kind_ = int(kind);
            programName_.assign(p.begin() + long(at), p.end());
            std::string error;
            if (!content_.file(kind_, programName_, outBytes_, error)) {
                Json e = Json::object();
                e["error"] = error;
                log_.add(nowMs, "content_missing", e);
                reply(kCmdFileError, textBytes("File not found"), nowMs);
                return;
            }
            transfer_ = Transfer::FileOut;
            outOffset_ = 0;
            Json e = Json::object();
            e["kind"] = kind_;
            if (kind_ == kKindProgram) e["name"] = programName_;
            e["size"] = outBytes_.size();
            log_.add(nowMs, "file_requested", e);
            reply(kCmdFileGet, decimalPayload(static_cast<long long>(outBytes_.size())), nowMs);
            return;
        }
        case kCmdFileGetData: {
            if (transfer_ != Transfer::FileOut) break;
            std::vector<uint8_t> expected = outOffset_ == 0 ? kRequestPayload : decimalPayload(kind_);
            if (p != expected) {
                Json e = Json::object();
                e["text"] = std::string(p.begin(), p.end());
                e["expected"] = std::string(expected.begin(), expected.end());
                log_.add(nowMs, "unexpected_ack", e);
            }
            if (outOffset_ >= outBytes_.size()) {
                transfer_ = Transfer::None;
                Json e = Json::object();
                e["kind"] = kind_;
                e["size"] = outBytes_.size();
                e["sha256"] = sha256Hex(outBytes_.data(), outBytes_.size());
                log_.add(nowMs, "file_sent", e);
                reply(kCmdFileGetEnd, {}, nowMs);
                return;
            }
            size_t take = std::min(fileGetChunk_, outBytes_.size() - outOffset_);
            std::vector<uint8_t> chunk(outBytes_.begin() + long(outOffset_),
                                       outBytes_.begin() + long(outOffset_ + take));
            outOffset_ += take;
            reply(kCmdFileGetData, chunk, nowMs);
            return;
        }
        case kCmdFixedRequest: {
            ++counters_.fixedRequests;
            counters_.lastFixedRequest.assign(p.begin(), p.end());
            Json e = Json::object();
            e["text"] = counters_.lastFixedRequest;
            log_.add(nowMs, "fixed_request", e);
            return;
        }
        default: {
            Json e = Json::object();
            e["command"] = f.command;
            log_.add(nowMs, "unknown_command", e);
            return;
        }
    }
    // A data or end packet with no transfer of its kind open: the unit says so.
    Json e = Json::object();
    e["command"] = f.command;
    log_.add(nowMs, "no_transfer", e);
    bool nlec = f.command == kCmdNlecSendLine || f.command == kCmdNlecSendEnd || f.command == kCmdNlecGetLine;
    reply(nlec ? kCmdNlecError : kCmdFileError, textBytes("No transfer"), nowMs);
}

Json PacketPeer::transferJson() const {
    Json j = Json::object();
    switch (transfer_) {
        case Transfer::None: j["state"] = "idle"; break;
        case Transfer::NlecIn:
            j["state"] = "nlec_in";
            j["bytes"] = inBytes_.size();
            j["announced_sum"] = announcedSum_;
            break;
        case Transfer::NlecOut:
            j["state"] = "nlec_out";
            j["lines"] = nlecLines_.size();
            j["next_line"] = nextLine_;
            break;
        case Transfer::FileIn:
            j["state"] = "file_in";
            j["kind"] = kind_;
            j["bytes"] = inBytes_.size();
            j["announced_sum"] = announcedSum_;
            j["announced_count"] = announcedCount_;
            break;
        case Transfer::FileOut:
            j["state"] = "file_out";
            j["kind"] = kind_;
            j["size"] = outBytes_.size();
            j["offset"] = outOffset_;
            break;
    }
    return j;
}

}  // namespace sim
