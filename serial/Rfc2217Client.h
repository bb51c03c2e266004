// The client side of RFC 2217 (telnet COM-PORT-OPTION), portable: bytes from the server and
// "now" go in; bytes to send, the unit's data, CTS and the state of each line setting come
// out. It never touches a socket or a clock, so tests drive it with a fake server.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "serial/TelnetCodec.h"

namespace serial {

// Every answer the client waits for has this bound; a server that fails a setting sends
// no answer at all.
inline constexpr uint32_t kServerAnswerBoundMs = 5000;
// A server may read its modem lines only once a second: a change of CTS is told up to this late.
inline constexpr uint32_t kModemNoticeLatencyMs = 1000;

class Rfc2217Client {
public:
    // server: "HOST:PORT", for messages.
    explicit Rfc2217Client(std::string server);

    // Offers the COM-PORT option (and binary data, no go-aheads); once the server agrees,
    // the line settings go out together: baud, 8 data bits, odd parity, 1 stop bit, no flow
    // control, and the modem-state mask for CTS.
    void Start(uint32_t baud, uint64_t nowMs);
    // Bytes the socket read. The unit's data is appended to *data from the byte after the
    // answer that sets the line; before that, text is kept as the server's reason (a busy
    // server writes one).
    void Receive(const uint8_t* bytes, size_t size, uint64_t nowMs, std::vector<uint8_t>* data);
    // The server closed the connection.
    void Closed();
    // The connection broke (a reset, a failed send): before the line is set, text the server
    // wrote is its reason, as at a close (a busy server that closes on our unread offers
    // resets); after, the socket's status stands.
    void Lost(const PortStatus& status);
    // Fails an answer whose bound has run out.
    void Tick(uint64_t nowMs);
    // Asks for a new speed; Settled() is false until the server confirms it.
    void SetBaud(uint32_t baud, uint64_t nowMs);
    // The unit's bytes, with 0xFF doubled.
    void SendData(const uint8_t* data, size_t size);

    // What to write to the socket; the caller erases what the socket took.
    std::vector<uint8_t>& Outgoing() { return outgoing_; }
    // The server agreed to COM-PORT and answered every setting asked.
    bool Settled() const;
    bool Failed() const { return !failure_.Ok(); }
    const PortStatus& Failure() const { return failure_; }
    // The last CTS the server notified (off until the first notification).
    bool Cts() const { return cts_; }
    // The earliest bound still running, for the caller's wait (UINT64_MAX: none).
    uint64_t NextDeadlineMs() const;

private:
    // The settings asked of the server; each value indexes the per-setting tables.
    enum class Setting : size_t { Speed, DataSize, Parity, StopSize, FlowControl, ModemMask };
    static constexpr size_t kSettingCount = static_cast<size_t>(Setting::ModemMask) + 1;
    struct Awaited {
        bool waiting = false;
        uint32_t asked = 0;
        uint64_t deadlineMs = 0;
    };

    static std::string ValueText(Setting setting, uint32_t value);
    Awaited& AwaitedFor(Setting setting) { return awaited_[static_cast<size_t>(setting)]; }
    void OnCommand(const telnet::Command& command, uint64_t nowMs);
    void OnComPort(const std::vector<uint8_t>& payload);
    void AskAllSettings(uint64_t nowMs);
    void Ask(Setting setting, uint32_t value, uint64_t nowMs);
    void Answered(Setting setting, uint32_t value);
    void KeepServerText(const std::vector<uint8_t>& text);
    void Fail(PortError error, const std::string& text);
    std::string ServerSaid() const;

    std::string server_;
    telnet::Decoder decoder_;
    std::vector<uint8_t> outgoing_;
    std::array<Awaited, kSettingCount> awaited_{};
    uint32_t baud_ = 0;
    bool started_ = false;
    bool agreed_ = false;   // the server said DO COM-PORT-OPTION
    bool lineSet_ = false;  // every first setting answered: data from now on is the unit's
    uint64_t agreeDeadlineMs_ = 0;
    std::array<bool, 256> offered_{};  // options we said WILL (or refused with WONT)
    std::array<bool, 256> asked_{};    // options we said DO (or refused with DONT)
    std::string serverText_;
    bool cts_ = false;
    PortStatus failure_;
};

}  // namespace serial
