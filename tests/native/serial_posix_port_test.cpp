// The POSIX serial port on a pseudo-terminal: the line settings it sets and restores, the
// exclusive open, bounded writes and reads, and an unplugged device reported as gone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "serial/SerialPort.h"

namespace {

using serial::PortError;

class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) slave_ = ptsname(master_);
    }
    ~Pty() { CloseMaster(); }
    int Master() const { return master_; }
    const std::string& Slave() const { return slave_; }
    void CloseMaster() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }
    termios Settings() const {
        termios t{};
        tcgetattr(master_, &t);  // the master reports the slave's settings
        return t;
    }

private:
    int master_ = -1;
    std::string slave_;
};

std::unique_ptr<serial::SerialPort> Open(const std::string& name, serial::PortStatus* status) {
    return serial::OpenSerialPort(name, status);
}

TEST(PosixSerialPort, OpensExclusivelyAt38400OddParityAndRestoresTheLineOnClose) {
    Pty pty;
    ASSERT_FALSE(pty.Slave().empty());
    {
        // The line as another program left it: 9600 baud, two stop bits.
        int fd = open(pty.Slave().c_str(), O_RDWR | O_NOCTTY);
        termios before{};
        tcgetattr(fd, &before);
        cfsetospeed(&before, B9600);
        cfsetispeed(&before, B9600);
        before.c_cflag |= CSTOPB;
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &before), 0);
        close(fd);
    }
    serial::PortStatus status;
    auto port = Open(pty.Slave(), &status);
    ASSERT_TRUE(port) << status.text;
    termios line = pty.Settings();
    EXPECT_EQ(cfgetospeed(&line), B38400);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(line.c_cflag & PARODD);
    EXPECT_FALSE(line.c_cflag & CSTOPB);
    EXPECT_FALSE(line.c_cflag & CRTSCTS);

    serial::PortStatus second;
    EXPECT_FALSE(Open(pty.Slave(), &second));
    EXPECT_EQ(second.error, PortError::Busy);
    EXPECT_EQ(second.code, std::errc::resource_unavailable_try_again) << "the lock's own errno is kept";

    ASSERT_TRUE(port->SetBaudRate(115200).Ok());
    line = pty.Settings();
    EXPECT_EQ(cfgetospeed(&line), B115200);
    EXPECT_TRUE(line.c_cflag & PARODD);
    const serial::PortStatus unsupported = port->SetBaudRate(12345);
    EXPECT_EQ(unsupported.error, PortError::Io);
    EXPECT_FALSE(unsupported.code) << "decided here: no system code";

    port->Close();
    line = pty.Settings();
    EXPECT_EQ(cfgetospeed(&line), B9600);
    EXPECT_TRUE(line.c_cflag & CSTOPB);
    size_t count = 0;
    uint8_t byte = 0;
    EXPECT_EQ(port->Read(&byte, 1, 0, &count).error, PortError::Io);  // closed
    EXPECT_TRUE(Open(pty.Slave(), &second)) << "free again after close";
}

TEST(PosixSerialPort, NamesThatAreNoPortSayWhatTheyAre) {
    struct Case {
        std::string name;
        PortError error;
        const char* words;  // as a technician reads it
        int code;           // the errno kept beside the kind (0: decided here, none)
    };
    const std::string file = testing::TempDir() + "varnex-not-a-port.txt";
    FILE* made = std::fopen(file.c_str(), "w");
    ASSERT_NE(made, nullptr);
    std::fclose(made);
    const Case cases[] = {
        {"/dev/varnex-no-such-port", PortError::NoSuchPort, "no such port", ENOENT},
        {"/dev/null", PortError::NotSerial, "not a serial port", ENOTTY},
        {file, PortError::NotSerial, "not a serial port", 0},
        {testing::TempDir(), PortError::Folder, "a folder, not a serial port", EISDIR},
    };
    for (const Case& c : cases) {
        serial::PortStatus status;
        EXPECT_FALSE(Open(c.name, &status)) << c.name;
        EXPECT_EQ(status.error, c.error) << c.name;
        EXPECT_STREQ(serial::PortErrorName(status.error), c.words) << c.name;
        EXPECT_FALSE(status.text.empty()) << c.name << ": the system's words are kept";
        EXPECT_EQ(status.code.value(), c.code) << c.name;
        if (c.code != 0) {
            EXPECT_EQ(status.code.category(), std::generic_category()) << c.name;
            EXPECT_EQ(status.text, std::strerror(c.code)) << c.name << ": worded as before";
        }
    }
    std::remove(file.c_str());
}

TEST(PosixSerialPort, FlowControlFoundOnThePortIsClearedAtOpen) {
    Pty pty;
    {
        int fd = open(pty.Slave().c_str(), O_RDWR | O_NOCTTY);
        termios before{};
        tcgetattr(fd, &before);
        before.c_iflag |= IXON | IXOFF;
        before.c_cflag |= CRTSCTS;
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &before), 0);
        close(fd);
    }
    termios found = pty.Settings();
    ASSERT_TRUE((found.c_iflag & IXON) && (found.c_iflag & IXOFF) && (found.c_cflag & CRTSCTS));
    serial::PortStatus status;
    auto port = Open(pty.Slave(), &status);
    ASSERT_TRUE(port) << status.text;
    termios line = pty.Settings();
    EXPECT_FALSE(line.c_iflag & IXON);
    EXPECT_FALSE(line.c_iflag & IXOFF);
    EXPECT_FALSE(line.c_cflag & CRTSCTS);
}

TEST(PosixSerialPort, BytesBothWaysAndReadsThatWaitOnlyUntilTheirDeadline) {
    Pty pty;
    serial::PortStatus status;
    auto port = Open(pty.Slave(), &status);
    ASSERT_TRUE(port) << status.text;

    const uint8_t out[] = {0x07, 0x06, 0x7e, 0x00};
    size_t written = 0;
    ASSERT_TRUE(port->Write(out, sizeof out, 1000, &written).Ok());
    EXPECT_EQ(written, sizeof out);
    uint8_t got[8] = {};
    ssize_t n = 0;
    for (int tries = 0; tries < 100 && n <= 0; ++tries) {
        n = read(pty.Master(), got, sizeof got);
        if (n <= 0) usleep(1000);
    }
    ASSERT_EQ(n, 4);
    EXPECT_EQ(std::vector<uint8_t>(got, got + 4), std::vector<uint8_t>(out, out + 4));

    EXPECT_TRUE(port->Drain(1000).Ok()) << "nothing queued on a pty once the bytes were read";

    size_t count = 99;
    EXPECT_TRUE(port->Read(got, sizeof got, 20, &count).Ok());
    EXPECT_EQ(count, 0u) << "nothing came: Ok with no bytes";

    ASSERT_EQ(write(pty.Master(), "\x07\x06", 2), 2);
    EXPECT_TRUE(port->Read(got, sizeof got, 1000, &count).Ok());
    EXPECT_EQ(count, 2u);
}

TEST(PosixSerialPort, AWriteTheLineDoesNotTakeEndsAtItsDeadlineWithThePartThatWent) {
    Pty pty;  // nobody reads the master
    serial::PortStatus status;
    auto port = Open(pty.Slave(), &status);
    ASSERT_TRUE(port) << status.text;
    std::vector<uint8_t> image(4 * 1024 * 1024, 0x55);
    size_t written = 0;
    serial::PortStatus write = port->Write(image.data(), image.size(), 100, &written);
    EXPECT_EQ(write.error, PortError::TimedOut);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, image.size());
}

TEST(PosixSerialPort, AVanishedDeviceIsGoneNeverTimedOut) {
    Pty pty;
    serial::PortStatus status;
    auto port = Open(pty.Slave(), &status);
    ASSERT_TRUE(port) << status.text;
    pty.CloseMaster();  // the adapter is pulled out
    uint8_t buffer[16];
    size_t count = 0;
    serial::PortStatus read = port->Read(buffer, sizeof buffer, 1000, &count);
    EXPECT_EQ(read.error, PortError::Gone) << read.text;
    size_t written = 0;
    serial::PortStatus write = port->Write(buffer, sizeof buffer, 1000, &written);
    EXPECT_EQ(write.error, PortError::Gone) << write.text;
    EXPECT_FALSE(write.text.empty());
}

}  // namespace
