// The network serial port (see NetworkSerialPort.h). One thread uses it, as a local port:
// every call pumps the socket itself, with poll-style waits bounded by the call's deadline
// and by the RFC 2217 client's own answer bounds.
#include "serial/NetworkSerialPort.h"

#include <algorithm>
#include <deque>
#include <vector>

#include "serial/LinePacer.h"
#include "serial/NetworkPortName.h"
#include "serial/Rfc2217Client.h"

namespace serial {

namespace {

// After the account says the last byte has left the server's port, this allows for the
// network and the server's own scheduling.
constexpr uint32_t kServerLatencyMarginMs = 10;
// A speed change or a close lets queued bytes leave at the old speed first, this long at most.
constexpr uint32_t kDrainBeforeChangeMs = 2000;
// Bytes from the unit kept for Read; beyond this the socket is left to hold them.
constexpr size_t kMaxInboundBytes = 64 * 1024;
constexpr size_t kReceiveChunkBytes = 4096;
// How long the opening waits for the server to speak first, as a telnet server does with its
// own offers and a busy one with its reason before it closes: read before anything is sent,
// that reason is not lost in the reset our unread bytes would cause.
constexpr uint32_t kGreetingWaitMs = 200;

PortStatus ClosedStatus() { return {PortError::Io, "the port is closed"}; }

class NetworkSerialPort final : public SerialPort {
public:
    NetworkSerialPort(std::string name, std::string server, std::unique_ptr<TcpSocket> socket, common::Clock& clock,
                      bool rfc2217)
        : name_(std::move(name)), socket_(std::move(socket)), clock_(clock), pacer_(kLinkBaudRate) {
        if (rfc2217) client_ = std::make_unique<Rfc2217Client>(std::move(server));
    }
    ~NetworkSerialPort() override { Close(); }

    // Sets the line through an RFC 2217 server; a raw port has nothing to set.
    PortStatus Open() {
        if (!client_) return {};
        PortStatus greeted = socket_->Wait(kGreetingWaitMs, false);
        if (!greeted.Ok()) return greeted;
        client_->Start(kLinkBaudRate, clock_.NowMs());
        return WaitUntilSettled();
    }

    const std::string& Name() const override { return name_; }

    PortStatus SetBaudRate(uint32_t baudRate) override {
        if (!socket_) return ClosedStatus();
        static_cast<void>(Drain(kDrainBeforeChangeMs));
        if (!failure_.Ok()) return failure_;
        pacer_.SetBaud(baudRate);
        if (!client_) return {};  // the raw port's speed is the one set on the server
        client_->SetBaud(baudRate, clock_.NowMs());
        return WaitUntilSettled();
    }

    PortStatus Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) override {
        *written = 0;
        if (!socket_) return ClosedStatus();
        const uint64_t deadline = clock_.NowMs() + timeoutMs;
        while (*written < size) {
            PortStatus status = Pump(0);
            if (!status.Ok()) return status;
            const uint64_t now = clock_.NowMs();
            // Bytes the socket has not taken yet count against the bound too.
            const size_t room = Outgoing().size() > pacer_.BoundBytes() ? 0 : pacer_.Room(now);
            if (room > 0) {
                const size_t n = std::min(room, size - *written);
                if (client_) {
                    client_->SendData(data + *written, n);
                } else {
                    raw_.insert(raw_.end(), data + *written, data + *written + n);
                }
                pacer_.Sent(n, now);
                *written += n;
                continue;
            }
            if (now >= deadline) return {PortError::TimedOut, "the line is still busy with earlier bytes"};
            status = Pump(std::min(deadline, std::max(pacer_.RefillAtMs(), now + 1)));
            if (!status.Ok()) return status;
        }
        return Pump(0);
    }

    PortStatus Drain(uint32_t timeoutMs) override {
        if (!socket_) return ClosedStatus();
        const uint64_t deadline = clock_.NowMs() + timeoutMs;
        for (;;) {
            PortStatus status = Pump(0);
            if (!status.Ok()) return status;
            const uint64_t now = clock_.NowMs();
            const uint64_t emptyAt = pacer_.EmptyAtMs() + kServerLatencyMarginMs;
            if (Outgoing().empty() && now >= emptyAt) return {};
            if (now >= deadline) {
                return {PortError::TimedOut,
                        std::to_string(pacer_.InFlight(now)) + " bytes still on their way to the unit"};
            }
            status = Pump(std::min(deadline, std::max(emptyAt, now + 1)));
            if (!status.Ok()) return status;
        }
    }

    PortStatus Read(uint8_t* buffer, size_t size, uint32_t timeoutMs, size_t* count) override {
        *count = 0;
        if (!socket_) return ClosedStatus();
        const uint64_t deadline = clock_.NowMs() + timeoutMs;
        for (;;) {
            PortStatus status = Pump(0);
            if (!inbound_.empty()) {
                *count = std::min(size, inbound_.size());
                std::copy_n(inbound_.begin(), *count, buffer);
                inbound_.erase(inbound_.begin(), inbound_.begin() + static_cast<std::ptrdiff_t>(*count));
                return {};  // what arrived before a failure is still the unit's
            }
            if (!status.Ok()) return status;
            if (clock_.NowMs() >= deadline) return {};
            status = Pump(deadline);
            if (!status.Ok() && inbound_.empty()) return status;
        }
    }

    PortStatus ReadCts(bool* on) override {
        *on = false;
        if (!socket_) return ClosedStatus();
        if (!client_) return {PortError::Io, "a raw network port (socket://) has no CTS"};
        PortStatus status = Pump(0);
        if (!status.Ok()) return status;
        *on = client_->Cts();
        return {};
    }

    bool HasCts() const override { return client_ != nullptr; }
    PortKind Kind() const override { return PortKind::Network; }
    uint32_t CtsNoticeLatencyMs() const override { return client_ ? kModemNoticeLatencyMs : 0; }

    void Close() override {
        if (!socket_) return;
        // Bytes still in flight leave at this line's speed before the connection goes.
        if (failure_.Ok()) static_cast<void>(Drain(kDrainBeforeChangeMs));
        socket_.reset();
    }

private:
    std::vector<uint8_t>& Outgoing() { return client_ ? client_->Outgoing() : raw_; }

    // Pumps until the RFC 2217 client has every answer (it bounds each wait itself).
    PortStatus WaitUntilSettled() {
        while (!client_->Settled()) {
            PortStatus status = Pump(client_->NextDeadlineMs());
            if (!status.Ok()) return status;
        }
        return Pump(0);
    }

    // Sends what is queued, takes in what has arrived and runs the client's bounds; with a
    // later untilMs, first waits for the socket until then (or the client's next bound).
    PortStatus Pump(uint64_t untilMs) {
        if (!failure_.Ok()) return failure_;
        Exchange();
        uint64_t now = clock_.NowMs();
        if (client_) untilMs = std::min(untilMs, client_->NextDeadlineMs());
        if (failure_.Ok() && untilMs > now) {
            PortStatus waited = socket_->Wait(static_cast<uint32_t>(untilMs - now), !Outgoing().empty());
            if (!waited.Ok()) failure_ = waited;
            Exchange();
        }
        if (client_ && failure_.Ok()) {
            client_->Tick(clock_.NowMs());
            if (client_->Failed()) failure_ = client_->Failure();
        }
        return failure_;
    }

    // Takes in what has arrived first, then sends what is queued: a server's last words
    // before a close are read before anything sent could make it reset the connection.
    void Exchange() {
        if (!failure_.Ok()) return;
        uint8_t chunk[kReceiveChunkBytes];
        while (inbound_.size() < kMaxInboundBytes) {
            size_t count = 0;
            bool closed = false;
            PortStatus status = socket_->Receive(chunk, sizeof chunk, &count, &closed);
            if (!status.Ok()) {
                Broken(status);
                return;
            }
            if (count > 0) {
                Take(chunk, count);
                if (!failure_.Ok()) return;
                continue;
            }
            if (closed) {
                if (client_) {
                    client_->Closed();
                    failure_ = client_->Failure();
                } else {
                    failure_ = {PortError::Gone, "the server closed the connection"};
                }
                return;
            }
            break;
        }
        std::vector<uint8_t>& out = Outgoing();
        if (out.empty()) return;
        size_t sent = 0;
        PortStatus status = socket_->Send(out.data(), out.size(), &sent);
        if (!status.Ok()) {
            Broken(status);
            return;
        }
        out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(sent));
    }

    // The RFC 2217 client judges a broken connection: before the line is set, the server's
    // words say why.
    void Broken(const PortStatus& status) {
        if (client_) {
            client_->Lost(status);
            failure_ = client_->Failure();
        } else {
            failure_ = status;
        }
    }

    void Take(const uint8_t* bytes, size_t count) {
        if (!client_) {
            inbound_.insert(inbound_.end(), bytes, bytes + count);
            return;
        }
        std::vector<uint8_t> data;
        client_->Receive(bytes, count, clock_.NowMs(), &data);
        inbound_.insert(inbound_.end(), data.begin(), data.end());
        if (client_->Failed()) failure_ = client_->Failure();
    }

    std::string name_;
    std::unique_ptr<TcpSocket> socket_;
    common::Clock& clock_;
    LinePacer pacer_;
    std::unique_ptr<Rfc2217Client> client_;  // null on a raw port
    std::vector<uint8_t> raw_;               // a raw port's bytes the socket has not taken
    std::deque<uint8_t> inbound_;
    PortStatus failure_;  // a lost connection stays lost
};

}  // namespace

std::unique_ptr<SerialPort> OpenNetworkPortOver(const std::string& name, std::unique_ptr<TcpSocket> socket,
                                                common::Clock& clock, PortStatus* status) {
    NetworkPortAddress address;
    std::string error;
    if (!ParseNetworkPortName(name, &address, &error)) {
        *status = {PortError::NoSuchPort, error};
        return nullptr;
    }
    const bool ipv6 = address.host.find(':') != std::string::npos;
    const std::string server = (ipv6 ? "[" + address.host + "]" : address.host) + ":" + address.port;
    auto port = std::make_unique<NetworkSerialPort>(name, server, std::move(socket), clock,
                                                    address.kind == NetworkPortKind::Rfc2217);
    *status = port->Open();
    if (!status->Ok()) return nullptr;
    return port;
}

std::unique_ptr<SerialPort> OpenNetworkPort(const std::string& name, TcpConnector connect, PortStatus* status) {
    NetworkPortAddress address;
    std::string error;
    if (!ParseNetworkPortName(name, &address, &error)) {
        *status = {PortError::NoSuchPort, error};
        return nullptr;
    }
    std::unique_ptr<TcpSocket> socket = connect(address.host, address.port, status);
    if (!socket) return nullptr;
    return OpenNetworkPortOver(name, std::move(socket), common::SteadyClock(), status);
}

}  // namespace serial
