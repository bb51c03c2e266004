// Writing and reading the decimal modem-bit files.
#include "sim/posix/ModemFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

bool ModemFile::write(uint32_t bits, std::string& error) {
    if (path_.empty() || (written_ && bits == last_)) return true;
    std::string tmp = path_ + ".tmp." + std::to_string(getpid());
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f) {
        error = "cannot write " + tmp + ": " + std::strerror(errno);
        return false;
    }
    std::fprintf(f, "%u", bits);
    bool ok = std::fclose(f) == 0 && std::rename(tmp.c_str(), path_.c_str()) == 0;
    if (!ok) {
        error = "cannot replace " + path_ + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    written_ = true;
    last_ = bits;
    return true;
}

int ModemFile::readPc() const {
    if (path_.empty()) return -1;
    FILE* f = std::fopen((path_ + ".pc").c_str(), "r");
    if (!f) return -1;
    char buf[32] = {};
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    if (n == 0) return -1;
    char* end = nullptr;
    long v = std::strtol(buf, &end, 10);
    if (end == buf || v < 0 || v > 0xFFFF) return -1;
    return int(v);
}

}  // namespace sim
