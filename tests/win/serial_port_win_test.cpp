// The Win32 port's failures as a technician reads them: a name that does not exist, a port
// another program holds and a device that vanished stay three different things.
#include <gtest/gtest.h>
#include <windows.h>

#include "serial/SerialPort.h"
#include "serial/win/PortIo.h"

using serial::PortError;

TEST(Win32SerialPort, MissingPortIsNoSuchPortWithTheSystemsWords) {
    serial::PortStatus status;
    EXPECT_EQ(serial::OpenSerialPort("COM231", &status), nullptr);
    EXPECT_EQ(status.error, PortError::NoSuchPort);
    EXPECT_FALSE(status.text.empty());
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
        EXPECT_FALSE(status.text.empty()) << c.code;
    }
}
