// RFC 2217 negotiation and line settings over the telnet codec (see Rfc2217Client.h).
#include "serial/Rfc2217Client.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <optional>

#include "common/Clock.h"

namespace serial {

namespace {

using namespace telnet;

// COM-PORT-OPTION commands as the client sends them; the server answers each with +100.
constexpr uint8_t kSignature = 0;
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kNotifyModemState = 7;
constexpr uint8_t kSetModemStateMask = 11;
constexpr uint8_t kServerOffset = 100;

constexpr uint32_t kDataBits = 8;
constexpr uint32_t kParityOdd = 2;
constexpr uint32_t kOneStopBit = 1;
constexpr uint32_t kNoFlowControl = 1;
constexpr uint32_t kDtrOn = 8;
constexpr uint32_t kRtsOn = 11;
// SET-CONTROL values 0 to 3 ask about or set the outbound flow control; the others are
// about DTR, RTS, BREAK and inbound flow control, whose answers are not waited for.
constexpr uint32_t kLastFlowControlValue = 3;
constexpr uint8_t kModemCts = 0x10;
constexpr uint8_t kModemDeltaCts = 0x01;
constexpr uint32_t kCtsMask = kModemCts | kModemDeltaCts;
constexpr size_t kBaudBytes = 4;
constexpr char kOurSignature[] = "varnex";
constexpr size_t kMaxServerTextBytes = 160;

constexpr uint8_t kCodeOf[] = {kSetBaudRate, kSetDataSize, kSetParity, kSetStopSize, kSetControl, kSetModemStateMask};
constexpr const char* kSettingName[] = {"speed",     "data size",    "parity",
                                        "stop bits", "flow control", "modem-state mask"};

bool WantedLocally(uint8_t option) {
    return option == kOptionBinary || option == kOptionSuppressGoAhead || option == kOptionComPort;
}
bool WantedRemotely(uint8_t option) { return option == kOptionBinary || option == kOptionSuppressGoAhead; }

}  // namespace

std::string Rfc2217Client::ValueText(Setting setting, uint32_t value) {
    static const char* const kParityNames[] = {"?", "none", "odd", "even", "mark", "space"};
    static const char* const kStopNames[] = {"?", "1", "2", "1.5"};
    static const char* const kFlowNames[] = {"?", "none", "XON/XOFF", "hardware"};
    switch (setting) {
        case Setting::Speed: return std::to_string(value) + " baud";
        case Setting::DataSize: return std::to_string(value) + " bits";
        case Setting::Parity: return value < std::size(kParityNames) ? kParityNames[value] : std::to_string(value);
        case Setting::StopSize: return value < std::size(kStopNames) ? kStopNames[value] : std::to_string(value);
        case Setting::FlowControl: return value < std::size(kFlowNames) ? kFlowNames[value] : std::to_string(value);
        default: return std::to_string(value);
    }
}

Rfc2217Client::Rfc2217Client(std::string server) : server_(std::move(server)) {}

void Rfc2217Client::Start(uint32_t baud, uint64_t nowMs) {
    baud_ = baud;
    started_ = true;
    agreeDeadlineMs_ = nowMs + kServerAnswerBoundMs;
    for (uint8_t option : {kOptionComPort, kOptionBinary, kOptionSuppressGoAhead}) {
        AppendCommand(&outgoing_, kWill, option);
        offered_[option] = true;
    }
    for (uint8_t option : {kOptionBinary, kOptionSuppressGoAhead}) {
        AppendCommand(&outgoing_, kDo, option);
        asked_[option] = true;
    }
}

void Rfc2217Client::Receive(const uint8_t* bytes, size_t size, uint64_t nowMs, std::vector<uint8_t>* data) {
    // Command by command: the answer that sets the line makes the bytes after it, in the same
    // read, the unit's data.
    std::vector<uint8_t> text;
    std::optional<Command> command;
    for (size_t used = 0; used < size && !Failed();) {
        used += decoder_.Feed(bytes + used, size - used, lineSet_ ? data : &text, &command);
        KeepServerText(text);
        text.clear();
        if (command) OnCommand(*command, nowMs);
    }
}

void Rfc2217Client::Closed() {
    if (Failed()) return;
    if (lineSet_) {
        Fail(PortError::Gone, "the server " + server_ + " closed the connection");
    } else if (!serverText_.empty()) {
        std::string lower = serverText_;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        const bool busy = lower.find("in use") != std::string::npos || lower.find("busy") != std::string::npos;
        Fail(busy ? PortError::Busy : PortError::Io, ServerSaid());
    } else {
        Fail(PortError::Io, "the server " + server_ + " closed the connection before the line was set");
    }
}

void Rfc2217Client::Lost(const PortStatus& status) {
    if (!lineSet_ && !serverText_.empty()) {
        Closed();
    } else {
        Fail(status.error, status.text);
    }
}

void Rfc2217Client::Tick(uint64_t nowMs) {
    if (Failed() || !started_) return;
    if (!agreed_) {
        if (nowMs < agreeDeadlineMs_) return;
        std::string why = serverText_.empty() ? "" : " (" + ServerSaid() + ")";
        Fail(PortError::TimedOut, "no answer to COM-PORT-OPTION from " + server_ + " within " +
                                      std::to_string(kServerAnswerBoundMs / common::kMsPerSecond) + " s" + why +
                                      ": for a raw TCP port use socket://" + server_ +
                                      " with the line settings made on the server");
        return;
    }
    std::string late;
    for (size_t i = 0; i < kSettingCount; ++i) {
        if (awaited_[i].waiting && nowMs >= awaited_[i].deadlineMs) {
            late += (late.empty() ? "" : ", ") + std::string(kSettingName[i]) + " (" +
                    ValueText(static_cast<Setting>(i), awaited_[i].asked) + ")";
        }
    }
    if (!late.empty()) {
        Fail(PortError::TimedOut, "the server " + server_ + " did not answer the setting of " + late + " within " +
                                      std::to_string(kServerAnswerBoundMs / common::kMsPerSecond) + " s");
    }
}

void Rfc2217Client::SetBaud(uint32_t baud, uint64_t nowMs) {
    baud_ = baud;
    if (agreed_ && !Failed()) Ask(Setting::Speed, baud, nowMs);
}

void Rfc2217Client::SendData(const uint8_t* data, size_t size) { AppendData(&outgoing_, data, size); }

bool Rfc2217Client::Settled() const {
    if (!agreed_) return false;
    return std::none_of(awaited_.begin(), awaited_.end(), [](const Awaited& a) { return a.waiting; });
}

uint64_t Rfc2217Client::NextDeadlineMs() const {
    uint64_t next = UINT64_MAX;
    if (started_ && !agreed_) next = agreeDeadlineMs_;
    for (const Awaited& a : awaited_) {
        if (a.waiting) next = std::min(next, a.deadlineMs);
    }
    return next;
}

void Rfc2217Client::OnCommand(const Command& command, uint64_t nowMs) {
    const uint8_t option = command.option;
    switch (command.verb) {
        case kDo:
            if (!WantedLocally(option)) {
                if (!offered_[option]) AppendCommand(&outgoing_, kWont, option);
                offered_[option] = true;
                return;
            }
            if (!offered_[option]) AppendCommand(&outgoing_, kWill, option);
            offered_[option] = true;
            if (option == kOptionComPort && !agreed_) {
                agreed_ = true;
                AskAllSettings(nowMs);
            }
            return;
        case kDont:
            if (option == kOptionComPort) {
                Fail(PortError::NotSerial, "the server " + server_ +
                                               " refuses serial settings (COM-PORT-OPTION): for a raw TCP port use "
                                               "socket://" +
                                               server_ + " with the line settings made on the server");
            }
            return;
        case kWill:
            if (!asked_[option]) AppendCommand(&outgoing_, WantedRemotely(option) ? kDo : kDont, option);
            asked_[option] = true;
            return;
        case kSb:
            if (option == kOptionComPort) OnComPort(command.payload);
            return;
        default: return;  // WONT: the server keeps an option of its own off, which is fine
    }
}

void Rfc2217Client::OnComPort(const std::vector<uint8_t>& payload) {
    if (payload.empty() || payload[0] < kServerOffset) return;
    const uint8_t code = static_cast<uint8_t>(payload[0] - kServerOffset);
    uint32_t value = 0;
    const size_t valueBytes = std::min(payload.size() - 1, kBaudBytes);
    for (size_t i = 1; i <= valueBytes; ++i) value = (value << 8) | payload[i];
    if (payload.size() < 2 && code != kSignature) return;  // an answer without its value
    switch (code) {
        case kSignature:
            if (payload.size() == 1) {  // the server asks who we are
                std::vector<uint8_t> reply{kSignature};
                reply.insert(reply.end(), kOurSignature, kOurSignature + sizeof kOurSignature - 1);
                AppendSubnegotiation(&outgoing_, kOptionComPort, reply);
            }
            return;
        case kSetBaudRate: Answered(Setting::Speed, value); return;
        case kSetDataSize: Answered(Setting::DataSize, value); return;
        case kSetParity: Answered(Setting::Parity, value); return;
        case kSetStopSize: Answered(Setting::StopSize, value); return;
        case kSetControl:
            if (value <= kLastFlowControlValue) Answered(Setting::FlowControl, value);
            return;
        case kSetModemStateMask: Answered(Setting::ModemMask, value); return;
        case kNotifyModemState:
            // Some servers answer the mask with the lines' state instead of the mask.
            cts_ = (payload[1] & kModemCts) != 0;
            if (AwaitedFor(Setting::ModemMask).waiting) Answered(Setting::ModemMask, kCtsMask);
            return;
        default: return;  // line-state notices, flow-control suspend and resume, purge answers
    }
}

void Rfc2217Client::AskAllSettings(uint64_t nowMs) {
    Ask(Setting::Speed, baud_, nowMs);
    Ask(Setting::DataSize, kDataBits, nowMs);
    Ask(Setting::Parity, kParityOdd, nowMs);
    Ask(Setting::StopSize, kOneStopBit, nowMs);
    Ask(Setting::FlowControl, kNoFlowControl, nowMs);
    // DTR and RTS on, as on a local port; a server on a line without them stays silent, so
    // their answers are not waited for.
    AppendSubnegotiation(&outgoing_, kOptionComPort, {kSetControl, static_cast<uint8_t>(kDtrOn)});
    AppendSubnegotiation(&outgoing_, kOptionComPort, {kSetControl, static_cast<uint8_t>(kRtsOn)});
    Ask(Setting::ModemMask, kCtsMask, nowMs);
}

void Rfc2217Client::Ask(Setting setting, uint32_t value, uint64_t nowMs) {
    std::vector<uint8_t> payload{kCodeOf[static_cast<size_t>(setting)]};
    if (setting == Setting::Speed) {
        for (size_t i = kBaudBytes; i-- > 0;) payload.push_back(static_cast<uint8_t>(value >> (8 * i)));
    } else {
        payload.push_back(static_cast<uint8_t>(value));
    }
    AppendSubnegotiation(&outgoing_, kOptionComPort, payload);
    AwaitedFor(setting) = {true, value, nowMs + kServerAnswerBoundMs};
}

void Rfc2217Client::Answered(Setting setting, uint32_t value) {
    Awaited& awaited = AwaitedFor(setting);
    if (!awaited.waiting) return;  // a repeat, or a notice nobody asked for
    awaited.waiting = false;
    if (value != awaited.asked) {
        Fail(PortError::Io, "the server " + server_ + " set the " + kSettingName[static_cast<size_t>(setting)] +
                                " to " + ValueText(setting, value) + ", not " + ValueText(setting, awaited.asked));
        return;
    }
    if (Settled()) lineSet_ = true;
}

void Rfc2217Client::KeepServerText(const std::vector<uint8_t>& text) {
    for (uint8_t byte : text) {
        if (serverText_.size() >= kMaxServerTextBytes) return;
        const bool printable = byte >= 0x20 && byte < 0x7F;
        if (printable) {
            serverText_.push_back(static_cast<char>(byte));
        } else if (!serverText_.empty() && serverText_.back() != ' ') {
            serverText_.push_back(' ');
        }
    }
}

void Rfc2217Client::Fail(PortError error, const std::string& text) {
    if (!Failed()) failure_ = PortStatus{error, text};
}

std::string Rfc2217Client::ServerSaid() const {
    std::string text = serverText_;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return "the server " + server_ + " says \"" + text + "\"";
}

}  // namespace serial
