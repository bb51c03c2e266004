// The Win32 port's failures as a technician reads them: a name that does not exist, a port
// another program holds and a device that vanished stay three different things, each with
// the system's own code. And the one port layer as the dialog uses it: a port object on the
// handle the dialog publishes, and the packet link's waited write.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

#include "common/ErrnoText.h"
#include "common/win/Handles.h"
#include "common/win/SystemText.h"
#include "serial/SerialPort.h"
#include "serial/win/CommEventThread.h"
#include "serial/win/CommPort.h"
#include "serial/win/PortIo.h"
#include "serial/win/Win32SerialPort.h"

using common::win::UniqueFileHandle;
using serial::PortError;

namespace {

constexpr DWORD kWholeFileBytes = 64;

std::string TempFile(const char* name) {
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + name;
}

// A file opened as the port layer opens a device: overlapped, shared with nobody.
HANDLE OpenOverlapped(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, 0, nullptr, disposition, FILE_FLAG_OVERLAPPED, nullptr);
}

std::string Contents(const std::string& path) {
    UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[kWholeFileBytes] = {};
    DWORD read = 0;
    if (!file || !ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) return "(unreadable)";
    return std::string(buffer, read);
}

}  // namespace

TEST(Win32SerialPort, MissingPortIsNoSuchPortWithTheSystemsCodeAndWords) {
    serial::PortStatus status;
    EXPECT_EQ(serial::OpenSerialPort("COM231", &status), nullptr);
    EXPECT_EQ(status.error, PortError::NoSuchPort);
    EXPECT_EQ(status.code.category(), std::system_category());
    EXPECT_NE(status.code.value(), 0);
    EXPECT_EQ(status.text, common::win::SystemText(static_cast<DWORD>(status.code.value())));
}

TEST(Win32SerialPort, ErrorsKeepBusyGoneAndTimedOutApart) {
    struct Case {
        DWORD code;
        bool opening;
        PortError expected;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, true, PortError::NoSuchPort},
        {ERROR_ACCESS_DENIED, true, PortError::Busy},
        {ERROR_SHARING_VIOLATION, true, PortError::Busy},
        // An open handle whose adapter was pulled out.
        {ERROR_ACCESS_DENIED, false, PortError::Gone},
        {ERROR_BAD_COMMAND, false, PortError::Gone},
        {ERROR_DEVICE_REMOVED, false, PortError::Gone},
        {ERROR_GEN_FAILURE, false, PortError::Gone},
        {ERROR_SEM_TIMEOUT, false, PortError::TimedOut},
        {ERROR_INVALID_PARAMETER, false, PortError::Io},
    };
    for (const Case& c : cases) {
        serial::PortStatus status = serial::win::StatusFromError(c.code, c.opening);
        EXPECT_EQ(status.error, c.expected) << c.code << (c.opening ? " opening" : " open");
        EXPECT_EQ(status.code, std::error_code(static_cast<int>(c.code), std::system_category())) << c.code;
        EXPECT_FALSE(status.text.empty()) << c.code;
    }
}

// The operator may switch ports at any time: each call takes the handle published then, and
// the port object never closes it. A handle that fails is no lost port (the next may be
// another device), so it reads as Io where a port that owns its device reads Gone.
TEST(Win32SerialPort, APublishedPortFollowsTheHandleAndNeverReportsItGone) {
    const std::string first = TempFile("varnex-published-1.bin");
    const std::string second = TempFile("varnex-published-2.bin");
    UniqueFileHandle one(OpenOverlapped(first, GENERIC_WRITE, CREATE_ALWAYS));
    UniqueFileHandle two(OpenOverlapped(second, GENERIC_WRITE, CREATE_ALWAYS));
    ASSERT_TRUE(one && two);
    std::atomic<HANDLE> published{nullptr};
    serial::win::Win32SerialPort port("CommPortHandle", published, nullptr);
    const uint8_t bytes[] = {'a', 'b', 'c'};
    size_t written = 0;

    serial::PortStatus none = port.Write(bytes, sizeof bytes, 1000, &written);
    EXPECT_EQ(none.error, PortError::Io);
    EXPECT_EQ(none.text, "no port is open");
    published.store(one.Get());
    EXPECT_TRUE(port.Write(bytes, 2, 1000, &written).Ok());
    EXPECT_EQ(written, 2u);
    published.store(two.Get());
    EXPECT_TRUE(port.Write(bytes, sizeof bytes, 1000, &written).Ok());
    size_t count = 0;
    uint8_t buffer[4];
    EXPECT_EQ(port.Read(buffer, sizeof buffer, 0, &count).error, PortError::Io) << "reads belong to the link";
    port.Close();
    published.store(nullptr);
    one.Reset();
    two.Reset();
    EXPECT_EQ(Contents(first), "ab");
    EXPECT_EQ(Contents(second), "abc");

    // A handle that refuses writes: the system says access denied.
    UniqueFileHandle readOnly(OpenOverlapped(first, GENERIC_READ, OPEN_EXISTING));
    ASSERT_TRUE(readOnly);
    published.store(readOnly.Get());
    serial::win::Win32SerialPort dialogs("CommPortHandle", published, nullptr);
    serial::PortStatus refused = dialogs.Write(bytes, sizeof bytes, 1000, &written);
    EXPECT_EQ(refused.error, PortError::Io);
    EXPECT_EQ(refused.code.value(), static_cast<int>(ERROR_ACCESS_DENIED));
    serial::win::Win32SerialPort owning("COM9", readOnly.Release());
    EXPECT_EQ(owning.Write(bytes, sizeof bytes, 1000, &written).error, PortError::Gone);
    owning.Close();
    DeleteFileA(first.c_str());
    DeleteFileA(second.c_str());
}

// The packet link's write on the published port with WriteOverlapped, waited for: the bytes
// arrive whole, one write after the other.
TEST(Win32SerialPort, ThePacketLinksWaitedWritesGoOutOnThePublishedPort) {
    const std::string path = TempFile("varnex-packet-writes.bin");
    UniqueFileHandle file(OpenOverlapped(path, GENERIC_WRITE, CREATE_ALWAYS));
    ASSERT_TRUE(file);
    serial::win::CreateLinkOverlappedEvents();
    serial::win::CommPortHandle.store(file.Get());
    const char header[] = "HEAD";
    serial::win::WriteCommBytes(header, sizeof header - 1);
    serial::win::CommPortHandle.store(nullptr);
    serial::win::WriteCommBytes(header, sizeof header - 1);  // no port open: nothing, no hang
    file.Reset();
    EXPECT_EQ(Contents(path), "HEAD");
    DeleteFileA(path.c_str());
}

namespace {

// Bytes another reader drained, handed over in the portions asked for.
class QueuedBytes final : public serial::win::ReceivedBytesSource {
public:
    explicit QueuedBytes(std::string bytes) : bytes_(std::move(bytes)) {}
    size_t Take(uint8_t* buffer, size_t size, uint32_t) override {
        const size_t count = size < bytes_.size() ? size : bytes_.size();
        bytes_.copy(reinterpret_cast<char*>(buffer), count);
        bytes_.erase(0, count);
        return count;
    }

private:
    std::string bytes_;
};

}  // namespace

// The erase reads the unit's reply through the published port from what the comm-event thread
// drained: every byte once, in order, and nothing (no failure) once all are taken.
TEST(Win32SerialPort, APublishedPortReadsWhatTheCommEventThreadDrained) {
    const std::string path = TempFile("varnex-published-read.bin");
    UniqueFileHandle file(OpenOverlapped(path, GENERIC_WRITE, CREATE_ALWAYS));
    ASSERT_TRUE(file);
    std::atomic<HANDLE> published{file.Get()};
    QueuedBytes drained("\x07\x06\x07");
    serial::win::Win32SerialPort port("CommPortHandle", published, &drained);
    uint8_t buffer[2] = {};
    size_t count = 0;
    ASSERT_TRUE(port.Read(buffer, sizeof buffer, 100, &count).Ok());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), "\x07\x06");
    ASSERT_TRUE(port.Read(buffer, sizeof buffer, 100, &count).Ok());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), "\x07");
    ASSERT_TRUE(port.Read(buffer, sizeof buffer, 0, &count).Ok());
    EXPECT_EQ(count, 0u);
    published.store(nullptr);
    file.Reset();
    DeleteFileA(path.c_str());
}

// The transfer's file messages kept the C library's words when they moved to one place.
TEST(SystemWords, AnErrnoValueReadsAsTheCLibrarySaysIt) {
    for (const int error : {ENOENT, EACCES, ENOSPC, EEXIST}) {
        EXPECT_EQ(common::ErrnoText(error), std::strerror(error)) << error;
    }
}
