// What the running unit puts on the line: its frames, traced as events, with the armed
// faults applied on the way out.
#include <algorithm>

#include "sim/PacketPeer.h"

namespace sim {

Json frameEventFields(uint16_t checksum, uint16_t length, uint16_t command, uint16_t id, const uint8_t* payload,
                      size_t payloadSize) {
    Json j = Json::object();
    j["command"] = command;
    j["id"] = id;
    j["len"] = length;
    j["checksum"] = checksum;
    j["payload_hex"] = toHex(payload, payloadSize);
    // Text payloads are shown as text too; binary ones only as hex, which keeps the kept
    // events small.
    bool printable = true;
    for (size_t i = 0; i < payloadSize && printable; ++i)
        printable =
            (payload[i] >= 0x20 && payload[i] < 0x7F) || payload[i] == '\n' || payload[i] == '\r' || payload[i] == '\t';
    if (printable) j["text"] = std::string_view(reinterpret_cast<const char*>(payload), payloadSize);
    return j;
}

void PacketPeer::traceOut(const std::vector<uint8_t>& bytes, uint64_t nowMs, const char* note) {
    ++counters_.framesOut;
    Json e = Json::object();
    if (bytes.size() >= kFrameHeaderBytes && bytes[0] == kFrameMark && bytes[1] == kFrameMark) {
        auto le16 = [&](size_t at) { return uint16_t(bytes[at] | (bytes[at + 1] << 8)); };
        e = frameEventFields(le16(2), le16(4), le16(6), le16(8), bytes.data() + kFrameHeaderBytes,
                             bytes.size() - kFrameHeaderBytes);
    } else {
        e["bytes_hex"] = toHex(bytes);
    }
    if (note) e["note"] = note;
    log_.add(nowMs, "frame_out", e);
}

void PacketPeer::transmit(const std::vector<uint8_t>& bytes, uint16_t command, uint64_t nowMs, bool mayFault) {
    const FaultRule* fault = mayFault ? faults_.decide(command) : nullptr;
    if (!fault) {
        traceOut(bytes, nowMs, nullptr);
        out_.sendNow(bytes);
        return;
    }
    Json e = fault->toJson();
    e["rule"] = fault->id;
    e["fault"] = faultKindName(fault->kind);
    e["frame_command"] = command;
    std::vector<uint8_t> sent = bytes;
    switch (fault->kind) {
        case FaultKind::CorruptByte: {
            // Keep the marks and the length, so the frame stays whole and fails its checksum.
            std::vector<size_t> positions = {2, 3, 6, 7, 8, 9};
            for (size_t i = kFrameHeaderBytes; i < sent.size(); ++i) positions.push_back(i);
            size_t at = positions[faults_.next(uint32_t(positions.size()))];
            uint8_t flip = uint8_t(1 + faults_.next(255));
            sent[at] ^= flip;
            e["position"] = at;
            break;
        }
        case FaultKind::DropByte: {
            size_t at = 2 + faults_.next(uint32_t(sent.size() - 2));
            sent.erase(sent.begin() + long(at));
            e["position"] = at;
            break;
        }
        case FaultKind::DropReply: log_.add(nowMs, "fault", e); return;
        case FaultKind::DelayReply:
            delayedUntilMs_ = nowMs + fault->delayMs;
            log_.add(nowMs, "fault", e);
            traceOut(sent, nowMs, "delayed");
            out_.sendAt(delayedUntilMs_, sent);
            return;
        case FaultKind::Noise: {
            std::vector<uint8_t> noise;
            for (uint32_t i = 0; i < fault->noiseBytes; ++i) {
                uint8_t b = uint8_t(faults_.next(256));
                if (b == kFrameMark && !fault->noiseMarks) b = 0x55;
                noise.push_back(b);
            }
            e["noise_hex"] = toHex(noise);
            sent.insert(sent.begin(), noise.begin(), noise.end());
            break;
        }
        case FaultKind::LongLength: {
            std::vector<uint8_t> payload(bytes.begin() + long(kFrameHeaderBytes), bytes.end());
            payload.resize(std::max<size_t>(payload.size(), fault->length), 0);
            uint16_t cmd = uint16_t(bytes[6] | (bytes[7] << 8));
            uint16_t id = uint16_t(bytes[8] | (bytes[9] << 8));
            uint16_t len = uint16_t(fault->length);
            sent =
                encodeFrameFields(frameChecksum(len, cmd, id, payload.data(), payload.size()), len, cmd, id, payload);
            break;
        }
        case FaultKind::Reply1: sent = encodeFrame(kCmdBadChecksum, nextId(), {}); break;
        case FaultKind::Reply2: sent = encodeFrame(kCmdRemoteTimeout, nextId(), {}); break;
        case FaultKind::Error8:
        case FaultKind::Error13: {
            uint16_t cmd = fault->kind == FaultKind::Error8 ? kCmdNlecError : kCmdFileError;
            sent = encodeFrame(cmd, nextId(), std::vector<uint8_t>(fault->text.begin(), fault->text.end()));
            lastReply_ = sent;  // a resend of the PC's frame gets the same error
            endTransfer("error injected", nowMs);
            break;
        }
        case FaultKind::WrongSum: {
            std::vector<uint8_t> payload(bytes.begin() + long(kFrameHeaderBytes), bytes.end());
            long long sum = 0;
            size_t end = 0;
            parseLeadingInt(payload, 0, sum, end);
            uint16_t cmd = uint16_t(bytes[6] | (bytes[7] << 8));
            uint16_t id = uint16_t(bytes[8] | (bytes[9] << 8));
            sent = encodeFrame(cmd, id, decimalPayload((sum + 1) & 0xFFFF));
            break;
        }
    }
    log_.add(nowMs, "fault", e);
    traceOut(sent, nowMs, "fault");
    out_.sendNow(sent);
}

void PacketPeer::sendUnsolicited(uint16_t command, const std::vector<uint8_t>& payload, int id, uint64_t nowMs) {
    uint16_t frameId = id < 0 ? nextId() : uint16_t(id);
    transmit(encodeFrame(command, frameId, payload), command, nowMs, false);
}

void PacketPeer::sendCustom(int checksum, uint16_t length, uint16_t command, int id,
                            const std::vector<uint8_t>& payload, uint64_t nowMs) {
    uint16_t frameId = id < 0 ? nextId() : uint16_t(id);
    uint16_t sum =
        checksum >= 0 ? uint16_t(checksum) : frameChecksum(length, command, frameId, payload.data(), payload.size());
    transmit(encodeFrameFields(sum, length, command, frameId, payload), command, nowMs, false);
}

}  // namespace sim
