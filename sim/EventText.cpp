// Short readable forms of the event types; anything else is shown as its JSON fields.
#include "sim/EventText.h"

#include <cstdio>

namespace sim {
namespace {

std::string field(const Json& e, const char* key) {
    const Json* v = member(e, key);
    if (!v) return "";
    if (v->is_string()) return v->get<std::string>();
    return jsonLine(*v);
}

std::string printable(const std::string& text, size_t max) {
    std::string out;
    for (unsigned char c : text) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c < 0x20 || c >= 0x7F) out += '.';
        else out += char(c);
    }
    return out;
}

constexpr size_t kShownTextChars = 60;

}  // namespace

std::string eventText(const Json& e) {
    std::string type = field(e, "event");
    char stamp[32];
    const Json* t = member(e, "t_ms");
    std::snprintf(stamp, sizeof stamp, "%10.3f ", t ? t->get<double>() / 1000.0 : 0.0);
    std::string line = stamp;
    if (type == "frame_in" || type == "frame_out") {
        line += type == "frame_in" ? "PC -> unit  " : "unit -> PC  ";
        line += "cmd=" + field(e, "command") + " id=" + field(e, "id") + " len=" + field(e, "len") +
                " cs=" + field(e, "checksum");
        if (type == "frame_in" && field(e, "checksum_ok") == "false")
            line += " (BAD, computed " + field(e, "computed") + ")";
        if (e.contains("note")) line += " [" + field(e, "note") + "]";
        if (e.contains("text")) line += " \"" + printable(field(e, "text"), kShownTextChars) + "\"";
        else line += " hex " + printable(field(e, "payload_hex"), kShownTextChars);
        return line;
    }
    if (type == "mode")
        return line + "mode " + field(e, "mode") + " at " + field(e, "unit_baud") + " baud, CTS " +
               (field(e, "cts") == "true" ? "on" : "off");
    if (type == "image_done")
        return line + "image received: " + field(e, "bytes") + " bytes, sha256 " + field(e, "sha256") +
               (field(e, "garbled") == "true" ? ", GARBLED " + field(e, "garbled_bytes") + " bytes" : "") + "; CTS off";
    if (type == "garbled")
        return line + "garbled: " + field(e, "bytes") + " bytes sent at " + field(e, "pc_settings") + ", unit at " +
               field(e, "unit_settings");
    if (type == "erase_started")
        return line + "erasing for " + field(e, "duration_ms") + " ms (fault " + field(e, "fault") + ")";
    if (type == "erase_done") return line + "erase done, answering " + field(e, "reply_hex");
    if (type == "nlec_received" || type == "file_received")
        return line + (type == "nlec_received" ? "NLEC table" : "file kind " + field(e, "kind")) +
               " received: " + field(e, "size") + " bytes, sum " + field(e, "sum") + " (PC said " +
               field(e, "announced_sum") + "), stored in " +
               (field(e, "path").empty() ? field(e, "store_error") : field(e, "path"));
    if (type == "modem") {
        const Json* bits = member(e, "bits");
        unsigned b = bits ? unsigned(bits->get<double>()) : 0;
        // TIOCM bits: CTS 0x20, CAR 0x40, RI 0x80, DSR 0x100.
        return line + "unit lines: CTS " + (b & 0x20 ? "on" : "off") + ", DSR " + (b & 0x100 ? "on" : "off") + ", CD " +
               (b & 0x40 ? "on" : "off") + ", RI " + (b & 0x80 ? "on" : "off");
    }
    if (type == "scenario_step") {
        const Json* reply = member(e, "reply");
        const Json* ok = reply ? member(*reply, "ok") : nullptr;
        bool good = ok && ok->is_boolean() && ok->get<bool>();
        const Json* request = member(e, "request");
        return line + "scenario: " + (request ? jsonLine(*request) : std::string()) +
               (good ? " done" : " FAILED: " + (reply ? field(*reply, "error") : std::string()));
    }
    if (type == "duplicate")
        return line + "PC resent id " + field(e, "id") + " (command " + field(e, "command") +
               "): " + field(e, "action");
    if (type == "image_started") return line + "image download begins";
    if (type == "pc_modem")
        return line + "PC lines: DTR " + (field(e, "dtr") == "true" ? "on" : "off") + ", RTS " +
               (field(e, "rts") == "true" ? "on" : "off");
    if (type == "line_settings")
        return line + "PC port set to " + field(e, "baud") + " baud, parity " + field(e, "parity") + ", " +
               field(e, "data_bits") + " data bits, " + field(e, "stop_bits") + " stop bit(s)" +
               (field(e, "matches_unit") == "true" ? "" : " (not what the unit uses now)");
    if (type == "fault")
        return line + "fault " + field(e, "fault") + " on a frame of command " + field(e, "frame_command");
    std::string rest = jsonLine(e);
    return line + type + " " + rest;
}

}  // namespace sim
