// The control socket: a Unix stream socket taking newline-delimited JSON requests from any
// number of clients in turn, each answered with one line. Non-blocking; the main loop polls.
#pragma once

#include <poll.h>

#include <functional>
#include <string>
#include <vector>

namespace sim {

class ControlServer {
public:
    using Handler = std::function<std::string(const std::string& line)>;

    ~ControlServer();
    bool open(const std::string& path, std::string& error);
    void close();
    const std::string& path() const { return path_; }

    // Adds the listening socket and the clients to a poll set; returns the first index used.
    size_t addPollFds(std::vector<pollfd>& fds) const;
    // Acts on the poll results from that index on.
    void service(const std::vector<pollfd>& fds, size_t first, const Handler& handler);

private:
    struct Client {
        int fd = -1;
        std::string in;
        std::string out;
        bool closing = false;
    };
    void acceptAll();
    void readClient(Client& c, const Handler& handler);
    void flushClient(Client& c);

    int listen_ = -1;
    std::string path_;
    std::vector<Client> clients_;
};

}  // namespace sim
