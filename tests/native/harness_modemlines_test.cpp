// The modem-line library that Wine preloads, called directly through dlopen: the unit's
// lines come from the file, the PC's lines go to "<file>.pc", and only ptys are touched.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using IoctlFn = int (*)(int, unsigned long, ...);

std::string LibraryPath() {
    char self[4096] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    dir = dir.substr(0, dir.rfind('/'));
    return dir + "/harness/modemlines/x86_64/libvarnexmodem.so";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

class ModemLines : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library_) GTEST_SKIP() << "modem-line library not built: " << dlerror();
        ioctl_ = reinterpret_cast<IoctlFn>(dlsym(library_, "ioctl"));
        ioctlTime64_ = reinterpret_cast<IoctlFn>(dlsym(library_, "__ioctl_time64"));
        ASSERT_NE(ioctl_, nullptr);
        ASSERT_NE(ioctlTime64_, nullptr);
        char dir[] = "/tmp/modemlines-test-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        file_ = dir_ + "/modem";
        setenv("VARNEX_MODEM_FILE", file_.c_str(), 1);
        ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    }
    void TearDown() override {
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
        unsetenv("VARNEX_MODEM_FILE");
        if (!dir_.empty()) {
            unlink(file_.c_str());
            unlink((file_ + ".pc").c_str());
            rmdir(dir_.c_str());
        }
        if (library_) dlclose(library_);
    }
    int Get(IoctlFn fn) {
        int bits = -1;
        EXPECT_EQ(fn(slave_, TIOCMGET, &bits), 0);
        return bits;
    }

    void* library_ = nullptr;
    IoctlFn ioctl_ = nullptr;
    IoctlFn ioctlTime64_ = nullptr;
    std::string dir_, file_;
    int master_ = -1, slave_ = -1;
};

TEST_F(ModemLines, UnitLinesComeFromTheFileThroughBothEntryPoints) {
    EXPECT_EQ(Get(ioctl_), 0);  // no file yet: every line down
    WriteFile(file_, std::to_string(TIOCM_CTS | TIOCM_DSR) + "\n");
    EXPECT_EQ(Get(ioctl_), TIOCM_CTS | TIOCM_DSR);
    EXPECT_EQ(Get(ioctlTime64_), TIOCM_CTS | TIOCM_DSR);
    // The PC's own lines in the unit's file are not the unit's to drive.
    WriteFile(file_, std::to_string(TIOCM_CAR | TIOCM_DTR | TIOCM_RTS));
    EXPECT_EQ(Get(ioctl_), TIOCM_CAR);
    WriteFile(file_, "garbage");
    EXPECT_EQ(Get(ioctl_), 0);
}

TEST_F(ModemLines, PcLinesAreSetClearedAndReplacedInThePcFile) {
    int bits = TIOCM_DTR;
    ASSERT_EQ(ioctl_(slave_, TIOCMBIS, &bits), 0);
    bits = TIOCM_RTS | TIOCM_CTS;  // CTS is the unit's: ignored
    ASSERT_EQ(ioctlTime64_(slave_, TIOCMBIS, &bits), 0);
    EXPECT_EQ(ReadFile(file_ + ".pc"), std::to_string(TIOCM_DTR | TIOCM_RTS));
    bits = TIOCM_DTR;
    ASSERT_EQ(ioctl_(slave_, TIOCMBIC, &bits), 0);
    EXPECT_EQ(ReadFile(file_ + ".pc"), std::to_string(TIOCM_RTS));
    bits = TIOCM_DTR;
    ASSERT_EQ(ioctl_(slave_, TIOCMSET, &bits), 0);
    EXPECT_EQ(ReadFile(file_ + ".pc"), std::to_string(TIOCM_DTR));
    WriteFile(file_, std::to_string(TIOCM_CTS));
    EXPECT_EQ(Get(ioctl_), TIOCM_CTS | TIOCM_DTR);  // unit's lines | PC's lines
}

TEST_F(ModemLines, OtherDescriptorsAndRequestsReachTheSystem) {
    int fd = open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    int bits = 0;
    EXPECT_EQ(ioctl_(fd, TIOCMGET, &bits), -1);  // not a pty: the real answer, an error
    close(fd);
    int queued = -1;
    EXPECT_EQ(ioctl_(slave_, FIONREAD, &queued), 0);
    EXPECT_EQ(queued, 0);
    unsetenv("VARNEX_MODEM_FILE");  // without the setting the pty is left alone
    EXPECT_EQ(ioctl_(slave_, TIOCMGET, &bits), -1);
}

}  // namespace
