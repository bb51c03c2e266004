// Control requests: reading their fields with clear errors and acting on the unit.
#include "sim/Control.h"

#include <cmath>
#include <functional>
#include <map>
#include <string>

namespace sim {
namespace {

constexpr size_t kDefaultEventLimit = 1000;
constexpr size_t kMaxEventLimit = 20000;
constexpr uint64_t kMaxBabbleEveryMs = 60000;
constexpr uint64_t kMaxBabbleBytes = 4096;

Json failure(const std::string& why) {
    Json j = Json::object();
    j["ok"] = false;
    j["error"] = why;
    return j;
}

Json success() {
    Json j = Json::object();
    j["ok"] = true;
    return j;
}

// Reads a whole number field; absent leaves *out alone. Returns false with *error on bad input.
bool number(const Json& req, const char* key, uint64_t max, uint64_t& out, std::string& error) {
    const Json* v = member(req, key);
    if (!v) return true;
    if (!v->is_number() || v->get<double>() < 0 || v->get<double>() != std::floor(v->get<double>()) ||
        v->get<double>() > double(max)) {
        error = std::string("\"") + key + "\" must be a whole number from 0 to " + std::to_string(max);
        return false;
    }
    out = uint64_t(v->get<double>());
    return true;
}

bool flag(const Json& req, const char* key, bool& out, std::string& error) {
    const Json* v = member(req, key);
    if (!v) return true;
    if (!v->is_boolean()) {
        error = std::string("\"") + key + "\" must be true or false";
        return false;
    }
    out = v->get<bool>();
    return true;
}

bool text(const Json& req, const char* key, std::string& out, std::string& error) {
    const Json* v = member(req, key);
    if (!v) return true;
    if (!v->is_string()) {
        error = std::string("\"") + key + "\" must be a string";
        return false;
    }
    out = v->get<std::string>();
    return true;
}

// The payload of a send: "text" (taken byte for byte) or "hex".
bool payload(const Json& req, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    std::string t;
    if (req.contains("hex")) {
        if (!text(req, "hex", t, error)) return false;
        if (!fromHex(t, out)) {
            error = "\"hex\" must be pairs of hex digits";
            return false;
        }
    } else if (req.contains("text")) {
        if (!text(req, "text", t, error)) return false;
        // JSON strings arrive as UTF-8; characters up to U+00FF stand for single bytes.
        for (size_t i = 0; i < t.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(t[i]);
            if ((c == 0xC2 || c == 0xC3) && i + 1 < t.size()) {
                out.push_back(uint8_t(((c & 0x03) << 6) | (static_cast<unsigned char>(t[++i]) & 0x3F)));
            } else {
                out.push_back(c);
            }
        }
    }
    if (out.size() > 0xFFFF) {
        error = "payload too long";
        return false;
    }
    return true;
}

bool applyConfig(Unit& unit, const Json& req, std::string& error) {
    UnitConfig& c = unit.settings();
    uint64_t v = c.quietGapMs;
    if (!number(req, "quiet_gap_ms", 3600000, v, error)) return false;
    c.quietGapMs = uint32_t(v);
    v = c.eraseMs;
    if (!number(req, "erase_ms", 3600000, v, error)) return false;
    c.eraseMs = uint32_t(v);
    std::string fault;
    if (!text(req, "erase_fault", fault, error)) return false;
    if (!fault.empty() && !parseEraseFault(fault, c.eraseFault)) {
        error = "\"erase_fault\" must be none, wrong_pair_first, stray_byte or never";
        return false;
    }
    v = c.fileGetChunk;
    if (!number(req, "file_chunk", kMaxPayloadBytes, v, error)) return false;
    if (v == 0) {
        error = "\"file_chunk\" must be from 1 to 512";
        return false;
    }
    c.fileGetChunk = size_t(v);
    unit.peer().setFileGetChunk(c.fileGetChunk);
    if (!flag(req, "garble_output", c.garbleOutput, error)) return false;
    if (!flag(req, "pacing", c.pacing, error)) return false;
    return true;
}

Json configJson(const Unit& unit) {
    const UnitConfig& c = unit.settings();
    Json j = success();
    j["quiet_gap_ms"] = c.quietGapMs;
    j["erase_ms"] = c.eraseMs;
    j["erase_fault"] = eraseFaultName(c.eraseFault);
    j["file_chunk"] = c.fileGetChunk;
    j["garble_output"] = c.garbleOutput;
    j["pacing"] = c.pacing;
    return j;
}

Json sendFrame(Unit& unit, const Json& req, uint16_t command, uint64_t nowMs) {
    std::string error;
    std::vector<uint8_t> bytes;
    if (!payload(req, bytes, error)) return failure(error);
    uint64_t id = 0, checksum = 0, length = 0;
    if (!number(req, "id", 0xFFFF, id, error) || !number(req, "checksum", 0xFFFF, checksum, error) ||
        !number(req, "length", 0xFFFF, length, error))
        return failure(error);
    int frameId = req.contains("id") ? int(id) : -1;
    if (req.contains("checksum") || req.contains("length")) {
        uint16_t len = req.contains("length") ? uint16_t(length) : uint16_t(bytes.size());
        unit.peer().sendCustom(req.contains("checksum") ? int(checksum) : -1, len, command, frameId, bytes, nowMs);
        return success();
    }
    unit.peer().sendUnsolicited(command, bytes, frameId, nowMs);
    return success();
}

using Handler = std::function<Json(Unit&, const Json&, uint64_t, ControlOutcome&)>;

const std::map<std::string, Handler>& handlers() {
    static const std::map<std::string, Handler> table = {
        {"help",
         [](Unit&, const Json&, uint64_t, ControlOutcome&) {
             Json j = success();
             j["help"] = controlHelp();
             return j;
         }},
        {"status",
         [](Unit& u, const Json&, uint64_t, ControlOutcome&) {
             Json j = u.status();
             Json out = success();
             out.update(j);
             return out;
         }},
        {"mode",
         [](Unit& u, const Json& r, uint64_t now, ControlOutcome&) {
             std::string name, error;
             if (!text(r, "mode", name, error)) return failure(error);
             Mode mode;
             if (!parseMode(name, mode)) return failure("\"mode\" must be off, bootloader or running");
             uint64_t baud = u.settings().bootBaud;
             if (!number(r, "baud", 1000000, baud, error)) return failure(error);
             if (mode == Mode::Bootloader && baud != kBootloaderFastBaud && baud != kBootloaderSlowBaud)
                 return failure("the bootloader takes 115200 or 57600 baud");
             if (mode == Mode::Bootloader) u.settings().bootBaud = uint32_t(baud);
             u.setMode(mode, u.settings().bootBaud, now);
             Json j = success();
             j["mode"] = modeName(u.mode());
             j["unit_baud"] = u.unitBaud();
             return j;
         }},
        {"enter",
         [](Unit& u, const Json&, uint64_t now, ControlOutcome&) {
             if (u.mode() != Mode::Bootloader)
                 return failure("ENTER restarts the unit from its bootloader; the unit is not in it");
             u.pressEnter(now);
             return success();
         }},
        {"cts",
         [](Unit& u, const Json& r, uint64_t now, ControlOutcome&) {
             bool on = true;
             std::string error;
             if (!r.contains("on") || !flag(r, "on", on, error))
                 return failure(error.empty() ? "give \"on\": true or false" : error);
             u.setModemBit(kModemCts, on, now);
             return success();
         }},
        {"modem",
         [](Unit& u, const Json& r, uint64_t now, ControlOutcome&) {
             std::string error;
             const std::pair<const char*, uint32_t> lines[] = {{"cts", kModemCts},
                                                               {"dsr", kModemDsr},
                                                               {"car", kModemCar},
                                                               {"ri", kModemRi}};
             for (const auto& [key, bit] : lines) {
                 bool on = (u.modemBits() & bit) != 0;
                 if (!flag(r, key, on, error)) return failure(error);
                 u.setModemBit(bit, on, now);
             }
             Json j = success();
             j["bits"] = u.modemBits();
             return j;
         }},
        {"image",
         [](Unit& u, const Json&, uint64_t, ControlOutcome&) {
             Json j = success();
             j["last"] = u.lastImage().toJson();
             j["current"] = u.image().active() ? u.image().report().toJson() : Json{{"present", false}};
             return j;
         }},
        {"line",
         [](Unit& u, const Json&, uint64_t, ControlOutcome&) {
             Json j = success();
             j["line"] = u.line().report();
             return j;
         }},
        {"config",
         [](Unit& u, const Json& r, uint64_t, ControlOutcome&) {
             std::string error;
             if (!applyConfig(u, r, error)) return failure(error);
             return configJson(u);
         }},
        {"erase",
         [](Unit& u, const Json& r, uint64_t, ControlOutcome&) {
             Json c = Json::object();
             if (const Json* v = member(r, "ms")) c["erase_ms"] = *v;
             if (const Json* v = member(r, "fault")) c["erase_fault"] = *v;
             std::string error;
             if (!applyConfig(u, c, error)) return failure(error);
             return configJson(u);
         }},
        {"pace",
         [](Unit& u, const Json& r, uint64_t, ControlOutcome&) {
             std::string error;
             if (!r.contains("on") || !flag(r, "on", u.settings().pacing, error))
                 return failure(error.empty() ? "give \"on\": true or false" : error);
             return configJson(u);
         }},
        {"content",
         [](Unit& u, const Json&, uint64_t, ControlOutcome&) {
             Json j = success();
             j["content"] = u.content().describe();
             return j;
         }},
        {"content_set",
         [](Unit& u, const Json& r, uint64_t, ControlOutcome&) {
             std::string path, name, error;
             if (!text(r, "path", path, error) || !text(r, "name", name, error)) return failure(error);
             if (path.empty()) return failure("give \"path\", the file the unit serves");
             std::string what;
             if (!text(r, "what", what, error)) return failure(error);
             if (what == "nlec_table") {
                 u.content().setNlecTable(path);
             } else if (what == "file") {
                 uint64_t kind = 0;
                 if (!r.contains("kind") || !number(r, "kind", 0xFFFF, kind, error))
                     return failure(error.empty() ? "give \"kind\" (25 settings, 26 program, ...)" : error);
                 if (kind == kKindProgram && name.empty()) name = "*";
                 u.content().setFile(int(kind), name, path);
             } else {
                 return failure("\"what\" must be nlec_table or file");
             }
             std::vector<uint8_t> probe;
             Json j = success();
             if (!readWholeFile(path, probe, error)) j["warning"] = error;
             j["content"] = u.content().describe();
             return j;
         }},
        {"content_builtin",
         [](Unit& u, const Json&, uint64_t, ControlOutcome&) {
             u.content().loadBuiltins();
             Json j = success();
             j["content"] = u.content().describe();
             return j;
         }},
        {"content_clear",
         [](Unit& u, const Json&, uint64_t, ControlOutcome&) {
             u.content().clear();
             Json j = success();
             j["content"] = u.content().describe();
             return j;
         }},
        {"received",
         [](Unit& u, const Json& r, uint64_t, ControlOutcome&) {
             std::string what, error;
             if (!text(r, "what", what, error)) return failure(error);
             Json items = Json::array();
             Json last;
             for (const auto& item : u.content().received()) {
                 if (!what.empty() && item.what != what) continue;
                 items.push_back(item.toJson());
                 last = item.toJson();
             }
             Json j = success();
             j["last"] = last;
             j["items"] = items;
             return j;
         }},
        {"send",
         [](Unit& u, const Json& r, uint64_t now, ControlOutcome&) {
             uint64_t command = 0;
             std::string error;
             if (!r.contains("command") || !number(r, "command", 0xFFFF, command, error))
                 return failure(error.empty() ? "give \"command\", the packet's command code" : error);
             return sendFrame(u, r, uint16_t(command), now);
         }},
        {"send_raw",
         [](Unit& u, const Json& r, uint64_t now, ControlOutcome&) {
             std::string hex, error;
             std::vector<uint8_t> bytes;
             if (!text(r, "hex", hex, error) || !fromHex(hex, bytes) || bytes.empty())
                 return failure(error.empty() ? "give \"hex\": the bytes as hex digits" : error);
             u.sendRaw(bytes, now);
             return success();
         }},
        {"babble",
         [](Unit& u, const Json& r, uint64_t now, ControlOutcome&) {
             bool on = false;
             uint64_t every = kDefaultBabbleEveryMs, bytes = kDefaultBabbleBytes;
             std::string error;
             if (!r.contains("on") || !flag(r, "on", on, error))
                 return failure(error.empty() ? "give \"on\": true or false" : error);
             if (!number(r, "every_ms", kMaxBabbleEveryMs, every, error) ||
                 !number(r, "bytes", kMaxBabbleBytes, bytes, error))
                 return failure(error);
             if (every == 0 || bytes == 0) return failure("\"every_ms\" and \"bytes\" must be at least 1");
             u.setBabble(on, uint32_t(every), uint32_t(bytes), now);
             return success();
         }},
        {"log", [](Unit& u, const Json& r, uint64_t now, ControlOutcome&) { return sendFrame(u, r, kCmdLog, now); }},
        {"erase_result",
         [](Unit& u, const Json& r, uint64_t now, ControlOutcome&) {
             Json req = r;
             if (!req.contains("text") && !req.contains("hex")) req["text"] = "0";
             return sendFrame(u, req, kCmdFlashEraseResult, now);
         }},
        {"text",
         [](Unit& u, const Json& r, uint64_t now, ControlOutcome&) { return sendFrame(u, r, kCmdFileGetText, now); }},
        {"error",
         [](Unit& u, const Json& r, uint64_t now, ControlOutcome&) {
             uint64_t code = 0;
             std::string error;
             if (!number(r, "code", 0xFFFF, code, error)) return failure(error);
             if (code != kCmdNlecError && code != kCmdFileError)
                 return failure("\"code\" must be 8 (NLEC) or 13 (file)");
             return sendFrame(u, r, uint16_t(code), now);
         }},
        {"fault",
         [](Unit& u, const Json& r, uint64_t now, ControlOutcome&) {
             std::string error;
             int id = u.faults().add(r, error);
             if (!id) return failure(error);
             Json e = r;
             e["id"] = id;
             u.log().add(now, "fault_armed", e);
             Json j = success();
             j["id"] = id;
             return j;
         }},
        {"faults",
         [](Unit& u, const Json&, uint64_t, ControlOutcome&) {
             Json j = success();
             j["faults"] = u.faults().describe();
             return j;
         }},
        {"faults_clear",
         [](Unit& u, const Json& r, uint64_t, ControlOutcome&) {
             uint64_t id = 0;
             std::string error;
             if (!number(r, "id", 1000000, id, error)) return failure(error);
             if (r.contains("id")) {
                 if (!u.faults().remove(int(id))) return failure("no fault with that id");
             } else {
                 u.faults().clear();
             }
             return success();
         }},
        {"events",
         [](Unit& u, const Json& r, uint64_t, ControlOutcome&) {
             uint64_t since = 0, limit = kDefaultEventLimit;
             std::string error;
             if (!number(r, "since", UINT32_MAX * 1024ull, since, error) ||
                 !number(r, "limit", kMaxEventLimit, limit, error))
                 return failure(error);
             Json j = success();
             j["last_seq"] = u.log().lastSeq();
             j["events"] = u.log().since(since, size_t(limit));
             return j;
         }},
        {"trace",
         [](Unit& u, const Json& r, uint64_t, ControlOutcome&) {
             uint64_t since = 0, limit = kDefaultEventLimit;
             std::string error;
             if (!number(r, "since", UINT32_MAX * 1024ull, since, error) ||
                 !number(r, "limit", kMaxEventLimit, limit, error))
                 return failure(error);
             Json frames = Json::array();
             const Json recent = u.log().since(since, EventLog::kKeptEvents);
             for (const Json& e : recent) {
                 const Json* type = member(e, "event");
                 if (type && (type->get<std::string>() == "frame_in" || type->get<std::string>() == "frame_out") &&
                     frames.size() < limit)
                     frames.push_back(e);
             }
             Json j = success();
             j["last_seq"] = u.log().lastSeq();
             j["frames"] = frames;
             return j;
         }},
        {"reset",
         [](Unit& u, const Json&, uint64_t now, ControlOutcome&) {
             u.reset(now);
             return success();
         }},
        {"quit",
         [](Unit&, const Json&, uint64_t, ControlOutcome& outcome) {
             outcome.quit = true;
             return success();
         }},
    };
    return table;
}

}  // namespace

const char* controlHelp() {
    return "  status\n"
           "  mode {mode: off|bootloader|running, baud: 115200|57600}\n"
           "  enter                      (ENTER in the bootloader: the unit restarts, running)\n"
           "  cts {on} | modem {cts, dsr, car, ri}\n"
           "  image                      (the last image: bytes, sha256, garbled, baud_seen)\n"
           "  line                       (a line of units: which one is up, what each received)\n"
           "  config {quiet_gap_ms, erase_ms, erase_fault, file_chunk, garble_output, pacing}\n"
           "  erase {ms, fault: none|wrong_pair_first|stray_byte|never} | pace {on}\n"
           "  content | content_set {what: nlec_table|file, kind, name, path} | content_builtin | content_clear\n"
           "  received {what: nlec|file}  (what the PC sent: path, size, sha256, sum)\n"
           "  send {command, text|hex, id, checksum, length} | send_raw {hex}\n"
           "  babble {on, every_ms, bytes}  (stray bytes without frame marks; the unit's frames lost)\n"
           "  log {text} | erase_result {text} | text {text} | error {code: 8|13, text}\n"
           "  fault {kind, at|rate, count, command, seed, delay_ms, bytes, marks, length, text}\n"
           "  faults | faults_clear {id}\n"
           "  events {since, limit} | trace {since, limit} | turnaround {samples, clear}\n"
           "  reset | quit | help\n"
           "Each request is one JSON object on one line, e.g. {\"cmd\": \"status\"}; see sim/README.md.\n";
}

Json handleControl(Unit& unit, const Json& request, uint64_t nowMs, ControlOutcome& outcome) {
    if (!request.is_object()) return failure("a request is one JSON object");
    const Json* cmd = member(request, "cmd");
    if (!cmd || !cmd->is_string()) return failure("a request needs \"cmd\"; try {\"cmd\": \"help\"}");
    auto it = handlers().find(cmd->get<std::string>());
    if (it == handlers().end())
        return failure("unknown cmd \"" + cmd->get<std::string>() + "\"; try {\"cmd\": \"help\"}");
    // A value of an unexpected type that a handler did not check is a bad request, not a
    // reason to stop the unit.
    try {
        return it->second(unit, request, nowMs, outcome);
    } catch (const Json::exception& e) {
        return failure(std::string("bad request: ") + e.what());
    }
}

std::string handleControlLine(Unit& unit, const std::string& line, uint64_t nowMs, ControlOutcome& outcome) {
    Json request;
    std::string error;
    if (!parseJson(line, request, error)) return jsonLine(failure("not JSON: " + error));
    return jsonLine(handleControl(unit, request, nowMs, outcome));
}

}  // namespace sim
