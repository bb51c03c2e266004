// serial::ConnectTcp on Windows: a non-blocking Winsock socket, connect bounded with
// select(), keep-alive with short times (SIO_KEEPALIVE_VALS), TCP_NODELAY.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <string>

#include "serial/TcpSocket.h"
#include "serial/win/PortIo.h"

namespace serial {

namespace {

constexpr ULONG kMsPerSecondU = 1000;
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

// Winsock starts once for the process, on first use, and stops at its end.
class WinsockSession {
public:
    WinsockSession() {
        WSADATA data{};
        started_ = WSAStartup(kWinsockVersion, &data) == 0;
    }
    ~WinsockSession() {
        if (started_) WSACleanup();
    }
    bool Started() const { return started_; }

private:
    bool started_ = false;
};

bool StartWinsock() {
    static WinsockSession session;
    return session.Started();
}

PortStatus LostStatus(int error) {
    PortStatus status = win::StatusFromError(static_cast<DWORD>(error), false);
    status.error = PortError::Gone;
    status.text = "the connection to the server is lost: " + status.text;
    return status;
}

timeval TimeoutValue(uint32_t ms) {
    timeval value{};
    value.tv_sec = static_cast<long>(ms / kMsPerSecondU);
    value.tv_usec = static_cast<long>((ms % kMsPerSecondU) * kMsPerSecondU);
    return value;
}

class WinTcpSocket final : public TcpSocket {
public:
    explicit WinTcpSocket(SOCKET s) : socket_(s) {}
    ~WinTcpSocket() override { closesocket(socket_); }

    PortStatus Send(const uint8_t* data, size_t size, size_t* sent) override {
        *sent = 0;
        int n = ::send(socket_, reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
        if (n >= 0) {
            *sent = static_cast<size_t>(n);
            return {};
        }
        int error = WSAGetLastError();
        return error == WSAEWOULDBLOCK ? PortStatus{} : LostStatus(error);
    }

    PortStatus Receive(uint8_t* buffer, size_t size, size_t* count, bool* closed) override {
        *count = 0;
        *closed = false;
        int n = ::recv(socket_, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
        if (n > 0) {
            *count = static_cast<size_t>(n);
            return {};
        }
        if (n == 0) {
            *closed = true;
            return {};
        }
        int error = WSAGetLastError();
        return error == WSAEWOULDBLOCK ? PortStatus{} : LostStatus(error);
    }

    PortStatus Wait(uint32_t timeoutMs, bool forWrite) override {
        fd_set readable;
        fd_set writable;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        FD_SET(socket_, &readable);
        if (forWrite) FD_SET(socket_, &writable);
        timeval timeout = TimeoutValue(timeoutMs);
        if (::select(0, &readable, forWrite ? &writable : nullptr, nullptr, &timeout) == SOCKET_ERROR) {
            return LostStatus(WSAGetLastError());
        }
        return {};  // a reset or a close shows in the next receive or send
    }

private:
    SOCKET socket_;
};

void TuneSocket(SOCKET s) {
    BOOL on = TRUE;
    (void)setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    (void)setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive times{};
    times.onoff = 1;
    times.keepalivetime = kKeepAliveIdleSeconds * kMsPerSecondU;
    times.keepaliveinterval = kKeepAliveIntervalSeconds * kMsPerSecondU;
    DWORD returned = 0;
    (void)WSAIoctl(s, SIO_KEEPALIVE_VALS, &times, sizeof times, nullptr, 0, &returned, nullptr, nullptr);
}

// One address: Ok with *connected, or the reason it failed.
PortStatus ConnectOne(const addrinfo& address, DWORD deadline, SOCKET* connected) {
    SOCKET s = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET) return win::StatusFromError(static_cast<DWORD>(WSAGetLastError()), true);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    TuneSocket(s);
    int error = 0;
    if (::connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            const DWORD now = GetTickCount();
            const DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
            timeval timeout = TimeoutValue(left);
            int ready = ::select(0, nullptr, &writable, &failed, &timeout);
            if (ready > 0) {
                int length = sizeof error;
                if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
                    error = WSAGetLastError();
                }
            }
        }
    }
    if (error == 0) {
        *connected = s;
        return {};
    }
    closesocket(s);
    if (error == WSAEWOULDBLOCK) return {PortError::TimedOut, ""};
    if (error == WSAECONNREFUSED) return {PortError::NoSuchPort, "connection refused"};
    PortStatus failed = win::StatusFromError(static_cast<DWORD>(error), false);
    failed.error = PortError::Io;
    return failed;
}

}  // namespace

std::unique_ptr<TcpSocket> ConnectTcp(const std::string& host, const std::string& port, PortStatus* status) {
    const std::string where = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + port;
    if (!StartWinsock()) {
        *status = {PortError::Io, "Windows sockets did not start"};
        return nullptr;
    }
    const DWORD deadline = GetTickCount() + kConnectBoundMs;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    int resolved = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) {
        *status = {PortError::NoSuchPort,
                   "cannot resolve " + host + ": " + win::StatusFromError(static_cast<DWORD>(resolved), false).text};
        return nullptr;
    }
    PortStatus last{PortError::TimedOut, ""};
    SOCKET s = INVALID_SOCKET;
    for (addrinfo* address = found; address != nullptr && s == INVALID_SOCKET; address = address->ai_next) {
        if (static_cast<LONG>(deadline - GetTickCount()) <= 0) break;
        last = ConnectOne(*address, deadline, &s);
    }
    freeaddrinfo(found);
    if (s != INVALID_SOCKET) {
        *status = {};
        return std::make_unique<WinTcpSocket>(s);
    }
    if (last.error == PortError::TimedOut) {
        last.text = "no answer from " + where + " within " + std::to_string(kConnectBoundMs / kMsPerSecondU) + " s";
    } else {
        last.text = where + ": " + last.text;
    }
    *status = last;
    return nullptr;
}

}  // namespace serial
