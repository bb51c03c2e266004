// The unit's count of bytes it has taken off the line, shared with the harness's modem-line
// library in the PC's process. A pty hands written bytes to the unit's side at once, where a
// real port's queue leaves at the line's speed; with this count the library answers the PC's
// "bytes still queued" (TIOCOUTQ) with the bytes the unit has not yet read, so a drain waits
// for the line as it would on a real port. The file PATH.lineN (N the pty's number) holds two
// 64-bit counters: bytes the PC wrote (the library's) and bytes the unit read (ours).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class LineCounter {
public:
    LineCounter() = default;
    ~LineCounter();
    LineCounter(const LineCounter&) = delete;
    LineCounter& operator=(const LineCounter&) = delete;

    // Creates the file afresh beside the modem file; false with error when it cannot.
    bool open(const std::string& modemPath, const std::string& slavePath, std::string& error);
    void addRead(size_t bytes);

private:
    struct Counters {
        uint64_t written;
        uint64_t read;
    };
    Counters* counters_ = nullptr;
    std::string path_;
};

}  // namespace sim
