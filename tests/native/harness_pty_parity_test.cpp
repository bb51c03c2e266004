// The modem-line library keeps a pty's parity across settings changes: the pty driver forgets
// PARENB, and Wine reads the settings back before changing only the speed, so without this
// the odd parity of the line would be lost at the first download's speed change.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace {

using GetFn = int (*)(int, struct termios*);
using SetFn = int (*)(int, int, const struct termios*);

std::string LibraryPath() {
    char self[4096] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    dir = dir.substr(0, dir.rfind('/'));
    return dir + "/harness/modemlines/x86_64/libvarnexmodem.so";
}

TEST(PtyParity, OddParitySurvivesASpeedChangeMadeFromWhatWasReadBack) {
    void* library = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) GTEST_SKIP() << "modem-line library not built: " << dlerror();
    auto get = reinterpret_cast<GetFn>(dlsym(library, "tcgetattr"));
    auto set = reinterpret_cast<SetFn>(dlsym(library, "tcsetattr"));
    ASSERT_NE(get, nullptr);
    ASSERT_NE(set, nullptr);
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);

    termios settings{};
    ASSERT_EQ(get(slave, &settings), 0);
    settings.c_cflag |= PARENB | PARODD;
    cfsetospeed(&settings, B38400);
    ASSERT_EQ(set(slave, TCSANOW, &settings), 0);

    // Read back, change only the speed, write back: the parity stays odd and enabled.
    ASSERT_EQ(get(slave, &settings), 0);
    EXPECT_TRUE(settings.c_cflag & PARENB);
    cfsetospeed(&settings, B115200);
    ASSERT_EQ(set(slave, TCSANOW, &settings), 0);
    ASSERT_EQ(get(slave, &settings), 0);
    EXPECT_TRUE(settings.c_cflag & PARENB);
    EXPECT_TRUE(settings.c_cflag & PARODD);
    EXPECT_EQ(cfgetospeed(&settings), speed_t(B115200));

    // A port set to no parity reads back without it.
    settings.c_cflag &= ~(PARENB | PARODD);
    ASSERT_EQ(set(slave, TCSANOW, &settings), 0);
    ASSERT_EQ(get(slave, &settings), 0);
    EXPECT_FALSE(settings.c_cflag & PARENB);

    close(master);
    close(slave);
    dlclose(library);
}

}  // namespace
