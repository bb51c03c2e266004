// The telnet byte stream taken apart and put together (see TelnetCodec.h).
#include "serial/TelnetCodec.h"

namespace serial::telnet {

size_t Decoder::Feed(const uint8_t* bytes, size_t size, std::vector<uint8_t>* data, std::optional<Command>* command) {
    command->reset();
    for (size_t i = 0; i < size; ++i) {
        const uint8_t byte = bytes[i];
        switch (state_) {
            case State::Data:
                if (byte == kIac) {
                    state_ = State::Iac;
                } else {
                    data->push_back(byte);
                }
                break;
            case State::Iac:
                if (byte == kIac) {
                    data->push_back(kIac);
                    state_ = State::Data;
                } else if (byte == kWill || byte == kWont || byte == kDo || byte == kDont || byte == kSb) {
                    pending_ = Command{byte, 0, {}};
                    overlong_ = false;
                    state_ = State::Option;
                } else {
                    state_ = State::Data;  // NOP, GA and the other two-byte commands mean nothing here
                }
                break;
            case State::Option:
                pending_.option = byte;
                if (pending_.verb == kSb) {
                    state_ = State::Sub;
                } else {
                    *command = std::move(pending_);
                    state_ = State::Data;
                    return i + 1;
                }
                break;
            case State::Sub:
                if (byte == kIac) {
                    state_ = State::SubIac;
                } else if (pending_.payload.size() < kMaxSubnegotiationBytes) {
                    pending_.payload.push_back(byte);
                } else {
                    overlong_ = true;
                }
                break;
            case State::SubIac:
                if (byte == kSe) {
                    state_ = State::Data;
                    if (!overlong_) {
                        *command = std::move(pending_);
                        return i + 1;
                    }
                } else if (byte == kIac) {
                    if (pending_.payload.size() < kMaxSubnegotiationBytes) {
                        pending_.payload.push_back(kIac);
                    } else {
                        overlong_ = true;
                    }
                    state_ = State::Sub;
                } else {
                    state_ = State::Sub;  // a stray command inside: skipped, as telnet peers do
                }
                break;
        }
    }
    return size;
}

void AppendData(std::vector<uint8_t>* out, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        out->push_back(data[i]);
        if (data[i] == kIac) out->push_back(kIac);
    }
}

void AppendCommand(std::vector<uint8_t>* out, uint8_t verb, uint8_t option) {
    out->insert(out->end(), {kIac, verb, option});
}

void AppendSubnegotiation(std::vector<uint8_t>* out, uint8_t option, const std::vector<uint8_t>& payload) {
    out->insert(out->end(), {kIac, kSb, option});
    AppendData(out, payload.data(), payload.size());
    out->insert(out->end(), {kIac, kSe});
}

}  // namespace serial::telnet
