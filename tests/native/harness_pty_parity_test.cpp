// The modem-line library keeps a pty's parity across settings changes: the pty driver forgets
// PARENB, and Wine reads the settings back before changing only the speed, so without this
// the odd parity of the line would be lost at the first download's speed change.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using GetFn = int (*)(int, struct termios*);
using SetFn = int (*)(int, int, const struct termios*);

// Above the numbers the library once kept the parity of.
constexpr int kHighPtyNumber = 300;

std::string LibraryPath() {
    char self[4096] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    dir = dir.substr(0, dir.rfind('/'));
    return dir + "/harness/modemlines/x86_64/libvarnexmodem.so";
}

// Sets odd parity, reads the settings back, changes only the speed and writes them back: the
// parity stays odd and enabled; a port then set to no parity reads back without it.
void ExpectParityKeptAcrossASpeedChange(GetFn get, SetFn set, int slave) {
    termios settings{};
    ASSERT_EQ(get(slave, &settings), 0);
    settings.c_cflag |= PARENB | PARODD;
    cfsetospeed(&settings, B38400);
    ASSERT_EQ(set(slave, TCSANOW, &settings), 0);

    ASSERT_EQ(get(slave, &settings), 0);
    EXPECT_TRUE(settings.c_cflag & PARENB);
    cfsetospeed(&settings, B115200);
    ASSERT_EQ(set(slave, TCSANOW, &settings), 0);
    ASSERT_EQ(get(slave, &settings), 0);
    EXPECT_TRUE(settings.c_cflag & PARENB);
    EXPECT_TRUE(settings.c_cflag & PARODD);
    EXPECT_EQ(cfgetospeed(&settings), speed_t(B115200));

    settings.c_cflag &= ~(PARENB | PARODD);
    ASSERT_EQ(set(slave, TCSANOW, &settings), 0);
    ASSERT_EQ(get(slave, &settings), 0);
    EXPECT_FALSE(settings.c_cflag & PARENB);
}

// The ptys opened, closed when the test ends.
struct Ptys {
    std::vector<int> fds;
    ~Ptys() {
        for (int fd : fds) close(fd);
    }
    // A new pair's slave and its number under /dev/pts; -1 when none could be opened.
    int Open(int* number) {
        int master = -1, slave = -1;
        char name[64] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return -1;
        fds.push_back(master);
        fds.push_back(slave);
        *number = std::atoi(name + std::strlen("/dev/pts/"));
        return slave;
    }
};

// The parity is kept whatever number the pty has: other programs on the machine may hold
// hundreds of ptys, so a test's own may be numbered far above the first few.
TEST(PtyParity, OddParitySurvivesASpeedChangeMadeFromWhatWasReadBack) {
    void* library = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) GTEST_SKIP() << "modem-line library not built: " << dlerror();
    auto get = reinterpret_cast<GetFn>(dlsym(library, "tcgetattr"));
    auto set = reinterpret_cast<SetFn>(dlsym(library, "tcsetattr"));
    ASSERT_NE(get, nullptr);
    ASSERT_NE(set, nullptr);
    Ptys ptys;
    int number = -1;
    const int first = ptys.Open(&number);
    ASSERT_GE(first, 0);
    ExpectParityKeptAcrossASpeedChange(get, set, first);

    int high = first;
    while (high >= 0 && number < kHighPtyNumber) high = ptys.Open(&number);
    ASSERT_GE(high, 0) << "no pty numbered " << kHighPtyNumber << " or above could be opened";
    ExpectParityKeptAcrossASpeedChange(get, set, high);
    dlclose(library);
}

}  // namespace
