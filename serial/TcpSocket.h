// The one TCP connection a network serial port needs, behind a small boundary with a POSIX
// and a Winsock implementation: non-blocking, so that every wait is the caller's and has
// its bound. The program only connects; it never listens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/SerialPort.h"

namespace serial {

// A connection attempt gives up after this.
inline constexpr uint32_t kConnectBoundMs = 5000;
// Keep-alive: a server that vanished while nothing is written is noticed after the idle
// time and then one interval per unanswered probe. Linux takes all three: about 11 s.
// Windows' keep-alive call sets only the idle time and the interval; the probe count stays
// the system's (ten since Vista), so there it is about 25 s. Other systems without the
// per-socket options keep their own times.
inline constexpr uint32_t kKeepAliveIdleSeconds = 5;
inline constexpr uint32_t kKeepAliveIntervalSeconds = 2;
inline constexpr uint32_t kKeepAliveProbes = 3;
// Bytes written but not acknowledged for this long: the connection is lost. Linux sets this
// bound; on Windows the system's own retransmission limit ends such a connection.
inline constexpr uint32_t kUnacknowledgedBoundMs = 10000;

class TcpSocket {
public:
    virtual ~TcpSocket() = default;
    TcpSocket() = default;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Sends what the socket takes now (*sent may be 0). A broken connection is Gone.
    virtual PortStatus Send(const uint8_t* data, size_t size, size_t* sent) = 0;
    // Takes what has arrived, without waiting; *closed when the server closed its side.
    virtual PortStatus Receive(uint8_t* buffer, size_t size, size_t* count, bool* closed) = 0;
    // Waits at most timeoutMs until data (or a close) arrives or, with forWrite, the socket
    // would take more.
    virtual PortStatus Wait(uint32_t timeoutMs, bool forWrite) = 0;
};

// Resolves host and connects to the first of its addresses that answers, within
// kConnectBoundMs in all, with TCP_NODELAY and keep-alive on. Null with *status naming the
// failure: the host not resolved, the connection refused, no answer in time.
std::unique_ptr<TcpSocket> ConnectTcp(const std::string& host, const std::string& port, PortStatus* status);

}  // namespace serial
