// The shared byte counters of the line (see LineCounter.h): a small file mapped by both sides,
// each advancing only its own counter with an atomic add.
#include "sim/posix/LineCounter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

namespace {
constexpr char kPtsPrefix[] = "/dev/pts/";
constexpr char kLineSuffix[] = ".line";
}  // namespace

LineCounter::~LineCounter() {
    if (counters_ != nullptr) ::munmap(counters_, sizeof(Counters));
    if (!path_.empty()) ::unlink(path_.c_str());
}

bool LineCounter::open(const std::string& modemPath, const std::string& slavePath, std::string& error) {
    if (modemPath.empty() || slavePath.compare(0, std::strlen(kPtsPrefix), kPtsPrefix) != 0) return true;
    const std::string path = modemPath + kLineSuffix + slavePath.substr(std::strlen(kPtsPrefix));
    ::unlink(path.c_str());  // a file left by an earlier unit on the same pty counts from zero
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, sizeof(Counters)) != 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    void* mapped = ::mmap(nullptr, sizeof(Counters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED) {
        error = "cannot map " + path + ": " + std::strerror(errno);
        ::unlink(path.c_str());
        return false;
    }
    counters_ = static_cast<Counters*>(mapped);
    path_ = path;
    return true;
}

void LineCounter::addRead(size_t bytes) {
    if (counters_ != nullptr) __atomic_fetch_add(&counters_->read, uint64_t(bytes), __ATOMIC_RELEASE);
}

}  // namespace sim
