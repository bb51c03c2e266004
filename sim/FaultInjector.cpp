// Rule matching and a seeded splitmix64 generator.
#include "sim/FaultInjector.h"

#include <algorithm>
#include <cmath>

namespace sim {
namespace {

constexpr uint16_t kNlecSendEnd = 7;
constexpr uint16_t kFileSendEnd = 12;

struct KindName {
    FaultKind kind;
    const char* name;
};
constexpr KindName kKindNames[] = {
    {FaultKind::CorruptByte, "corrupt_byte"},
    {FaultKind::DropByte, "drop_byte"},
    {FaultKind::DropReply, "drop_reply"},
    {FaultKind::DelayReply, "delay_reply"},
    {FaultKind::Noise, "noise"},
    {FaultKind::LongLength, "long_length"},
    {FaultKind::Reply1, "reply_1"},
    {FaultKind::Reply2, "reply_2"},
    {FaultKind::Error8, "error_8"},
    {FaultKind::Error13, "error_13"},
    {FaultKind::WrongSum, "wrong_sum"},
};

bool readCount(const Json& rule, const char* key, uint64_t& out, std::string& error) {
    const Json* v = member(rule, key);
    if (!v) return true;
    if (!v->is_number() || v->get<double>() < 0 || v->get<double>() != std::floor(v->get<double>()) ||
        v->get<double>() > 1e12) {
        error = std::string("\"") + key + "\" must be a whole number of 0 or more";
        return false;
    }
    out = uint64_t(v->get<double>());
    return true;
}

}  // namespace

bool parseFaultKind(const std::string& name, FaultKind& out) {
    for (const auto& k : kKindNames)
        if (name == k.name) {
            out = k.kind;
            return true;
        }
    return false;
}

const char* faultKindName(FaultKind kind) {
    for (const auto& k : kKindNames)
        if (kind == k.kind) return k.name;
    return "?";
}

Json FaultRule::toJson() const {
    Json j = Json::object();
    j["id"] = id;
    j["kind"] = faultKindName(kind);
    if (command >= 0) j["command"] = command;
    if (at) j["at"] = at;
    else j["rate"] = rate;
    j["count"] = count;
    if (kind == FaultKind::DelayReply) j["delay_ms"] = delayMs;
    if (kind == FaultKind::Noise) {
        j["bytes"] = noiseBytes;
        j["marks"] = noiseMarks;
    }
    if (kind == FaultKind::LongLength) j["length"] = length;
    if (kind == FaultKind::Error8 || kind == FaultKind::Error13) j["text"] = text;
    j["seen"] = seen;
    j["fired"] = fired;
    return j;
}

void FaultInjector::reseed(uint64_t seed) {
    seed_ = seed;
    state_ = seed;
}

uint64_t FaultInjector::nextRaw() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t FaultInjector::next(uint32_t bound) { return bound ? uint32_t(nextRaw() % bound) : 0; }

int FaultInjector::add(const Json& rule, std::string& error) {
    FaultRule armed;
    const Json* kind = member(rule, "kind");
    if (!kind || !kind->is_string() || !parseFaultKind(kind->get<std::string>(), armed.kind)) {
        error = "\"kind\" must be one of corrupt_byte, drop_byte, drop_reply, delay_reply, noise, "
                "long_length, reply_1, reply_2, error_8, error_13, wrong_sum";
        return 0;
    }
    uint64_t command = 0;
    if (rule.contains("command")) {
        if (!readCount(rule, "command", command, error)) return 0;
        if (command > 0xFFFF) {
            error = "\"command\" must fit in 16 bits";
            return 0;
        }
        armed.command = int(command);
    }
    if (!readCount(rule, "at", armed.at, error)) return 0;
    if (const Json* rate = member(rule, "rate")) {
        if (!rate->is_number() || rate->get<double>() < 0 || rate->get<double>() > 1) {
            error = "\"rate\" must be a number from 0 to 1";
            return 0;
        }
        armed.rate = rate->get<double>();
    }
    if (armed.at == 0 && armed.rate == 0) {
        error = "give \"at\" (the n-th frame from now, 1 = the next) or \"rate\" (0 to 1)";
        return 0;
    }
    armed.count = armed.at ? 1 : 0;
    if (!readCount(rule, "count", armed.count, error)) return 0;
    uint64_t v = 0;
    if (rule.contains("delay_ms")) {
        if (!readCount(rule, "delay_ms", v, error)) return 0;
        armed.delayMs = uint32_t(std::min<uint64_t>(v, 3600000));
    }
    if (rule.contains("bytes")) {
        if (!readCount(rule, "bytes", v, error)) return 0;
        armed.noiseBytes = uint32_t(std::min<uint64_t>(v, 65536));
    }
    if (const Json* marks = member(rule, "marks")) armed.noiseMarks = marks->is_boolean() && marks->get<bool>();
    if (rule.contains("length")) {
        if (!readCount(rule, "length", v, error)) return 0;
        if (v > 0xFFFF) {
            error = "\"length\" must fit in 16 bits";
            return 0;
        }
        armed.length = uint32_t(v);
    }
    if (const Json* text = member(rule, "text"); text && text->is_string()) armed.text = text->get<std::string>();
    else armed.text = armed.kind == FaultKind::Error8 ? "NLEC error" : "File error";
    if (rule.contains("seed")) {
        if (!readCount(rule, "seed", v, error)) return 0;
        reseed(v);
    }
    armed.id = nextId_++;
    rules_.push_back(armed);
    return armed.id;
}

bool FaultInjector::remove(int id) {
    for (auto it = rules_.begin(); it != rules_.end(); ++it)
        if (it->id == id) {
            rules_.erase(it);
            return true;
        }
    return false;
}

const FaultRule* FaultInjector::decide(uint16_t command) {
    const FaultRule* chosen = nullptr;
    for (auto& rule : rules_) {
        if (rule.count && rule.fired >= rule.count) continue;
        if (rule.command >= 0 && rule.command != command) continue;
        if (rule.kind == FaultKind::WrongSum && command != kNlecSendEnd && command != kFileSendEnd) continue;
        ++rule.seen;
        bool fires;
        if (rule.at) fires = rule.seen >= rule.at;
        else fires = double(nextRaw() >> 11) / double(1ull << 53) < rule.rate;
        if (fires && !chosen) {
            ++rule.fired;
            ++applied_;
            chosen = &rule;
        }
    }
    return chosen;
}

Json FaultInjector::describe() const {
    Json j = Json::object();
    j["seed"] = seed_;
    j["applied"] = applied_;
    Json rules = Json::array();
    for (const auto& r : rules_) rules.push_back(r.toJson());
    j["rules"] = rules;
    return j;
}

}  // namespace sim
