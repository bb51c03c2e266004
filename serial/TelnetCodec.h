// The telnet layer under an RFC 2217 connection: data bytes with 0xFF doubled, three-byte
// option commands and sub-negotiations, taken apart however the network splits them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace serial::telnet {

inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;

inline constexpr uint8_t kOptionBinary = 0;
inline constexpr uint8_t kOptionSuppressGoAhead = 3;
inline constexpr uint8_t kOptionComPort = 44;

// A sub-negotiation longer than this is no COM-PORT message: it is dropped whole.
inline constexpr size_t kMaxSubnegotiationBytes = 64;

// One command from the peer: an option verb (WILL, WONT, DO, DONT) or a sub-negotiation.
struct Command {
    uint8_t verb = 0;  // kWill, kWont, kDo, kDont or kSb
    uint8_t option = 0;
    std::vector<uint8_t> payload;  // a sub-negotiation's bytes after the option, undoubled
};

// Keeps its place between reads, so a command split across them is put back together.
class Decoder {
public:
    // Takes bytes until a command is finished or they run out, appending the data bytes to
    // *data; sets *command when one finished and returns how many bytes it took. Stopping
    // after each command lets the caller act on it (the answer that sets the line) before it
    // decides where the data after it goes.
    size_t Feed(const uint8_t* bytes, size_t size, std::vector<uint8_t>* data, std::optional<Command>* command);

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    State state_ = State::Data;
    Command pending_;
    bool overlong_ = false;
};

// Appends data with every 0xFF doubled.
void AppendData(std::vector<uint8_t>* out, const uint8_t* data, size_t size);
void AppendCommand(std::vector<uint8_t>* out, uint8_t verb, uint8_t option);
void AppendSubnegotiation(std::vector<uint8_t>* out, uint8_t option, const std::vector<uint8_t>& payload);

}  // namespace serial::telnet
