// A plain HTTP/1.1 client for the tests of the web board on a real loopback socket: a request
// written by hand, the answer read as the server sent it, and whether the server closed.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace http_client {

// A reader that hears nothing for this long takes the answer as whole.
constexpr int kReadTimeoutMs = 5000;

// A connection to the server under test, written to and read from by hand.
class Client {
public:
    explicit Client(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool Send(const std::string& text) {
        return connected_ && ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
    }
    // Reads until the text holds `until` (or, when empty, until the server closes).
    std::string Read(const std::string& until = "") {
        char buffer[4096];
        while (until.empty() || received_.find(until) == std::string::npos) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, kReadTimeoutMs) <= 0) break;
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            closed_ = got == 0;
            if (got <= 0) break;
            received_.append(buffer, static_cast<size_t>(got));
        }
        return received_;
    }
    bool Closed() const { return closed_; }  // the server ended the connection
    // Whether the server closes the connection (having sent nothing) within the read timeout.
    bool ClosedByServer() {
        pollfd entry{fd_, POLLIN, 0};
        char byte;
        return ::poll(&entry, 1, kReadTimeoutMs) == 1 && ::recv(fd_, &byte, 1, 0) == 0;
    }

private:
    int fd_;
    bool connected_ = false;
    bool closed_ = false;
    std::string received_;
};

inline std::string Get(uint16_t port, const std::string& path, const std::string& headers = "",
                       const std::string& method = "GET") {
    Client client(port);
    client.Send(method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" + headers +
                "\r\n");
    return client.Read();
}

inline int Status(const std::string& response) { return response.size() > 12 ? std::stoi(response.substr(9, 3)) : 0; }

// The answer's body: what follows the blank line after the headers.
inline std::string Body(const std::string& response) {
    const size_t blank = response.find("\r\n\r\n");
    return blank == std::string::npos ? std::string() : response.substr(blank + 4);
}

}  // namespace http_client
