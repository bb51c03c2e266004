// The one place where the product calls the Win32 serial functions: opening a device
// exclusively with its line settings, the speed change, the overlapped writes and their waits,
// comm-event waits and overlapped reads, CTS, draining, and the mapping of system errors onto
// serial::PortError with the system's code and words. varnex's port object and the dialog's
// comm-event thread and packet writes are built on it.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/win/Handles.h"
#include "serial/SerialPort.h"

namespace serial::win {

// The packet link's framing: 8 data bits, odd parity, 1 stop bit, no flow control.
inline constexpr uint8_t kLinkByteSize = 8;
inline constexpr uint8_t kLinkParity = ODDPARITY;
inline constexpr uint8_t kLinkStopBits = ONESTOPBIT;
inline constexpr uint32_t kLinkFlowFlags = 0;

// "COM7", "7" and "\\.\COM12" all name the device "\\.\COM<n>"; anything else is used as given.
std::string DevicePath(const std::string& name);
// Opens the device for overlapped I/O, shared with nobody. INVALID_HANDLE_VALUE on failure
// (GetLastError tells why).
HANDLE OpenDevice(const std::string& path);
// Gives an open device the line settings: speed, framing, flow-flag bits (see
// FlowSettingsFor), binary mode, DTR raised. Only the reading of the old settings is
// checked: a device that cannot report them is no serial port; a setting the driver
// refuses leaves the port usable, as the wizard has always treated it.
bool ConfigureDevice(HANDLE port, uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits,
                     uint32_t flowFlags);

// Ends a comm-event wait in progress on the port (it completes with an empty mask) and goes
// on watching for received characters.
void ResetCommMask(HANDLE port);

// Clears the port's error state (so that its I/O goes on) and, when status is given, fills it
// with the queues' counts; false when the port would not answer.
bool ClearPortErrors(HANDLE port, COMSTAT* status = nullptr);

// A failure as the engines see it: the kind and the system's words for the code.
PortStatus StatusFromError(DWORD errorCode, bool opening);

// Waits, with no bound, for an overlapped operation on port that reported ERROR_IO_PENDING,
// again while the wait reports ERROR_IO_INCOMPLETE. True with *count on success; false
// (GetLastError tells why, *count what was reported) on any other failure.
bool AwaitOverlapped(HANDLE port, OVERLAPPED* record, DWORD* count);

// The dialog's overlapped I/O on its own records: a write whose wait is left to AwaitWrite
// (the last error is ERROR_IO_PENDING while it runs)...
void IssueWrite(HANDLE port, OVERLAPPED* record, const void* data, DWORD size);
// ...and that wait: when the thread's last error is ERROR_IO_PENDING, waits for the write to
// end; a write that failed, at once or later, clears the port's error state.
void AwaitWrite(HANDLE port, OVERLAPPED* record);
// Waits with no bound for one comm event; false when the wait failed. *mask 0 on success
// means the mask was reset while it waited (ResetCommMask).
bool WaitForCommEvent(HANDLE port, OVERLAPPED* record, DWORD* mask);
// Reads up to maximum of the bytes already queued (none requested when none are queued, so
// the read ends at once whatever the port's timeouts); 0 on failure, after clearing the
// port's error state.
size_t ReadQueuedBytes(HANDLE port, OVERLAPPED* record, uint8_t* buffer, size_t maximum);

// One overlapped write at a time with its own record. A write still pending at its bound is
// cancelled; a record whose cancel never comes back is kept alive for the life of the
// process (the system may still write into it) and a fresh one is made.
class BoundedWriter {
public:
    BoundedWriter() = default;
    BoundedWriter(const BoundedWriter&) = delete;
    BoundedWriter& operator=(const BoundedWriter&) = delete;

    PortStatus Write(HANDLE port, const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written);

private:
    struct Record {
        OVERLAPPED overlapped{};
        common::win::UniqueNullHandle event = common::win::MakeAutoResetEvent();
    };
    std::unique_ptr<Record> record_;
};

// Waits, at most timeoutMs, for input to arrive (a comm event), bounded by this side's clock
// rather than the driver's read timeouts, which not every driver keeps. Like the writer, it
// keeps alive a record whose cancelled wait never comes back.
class InputWaiter {
public:
    InputWaiter() = default;
    InputWaiter(const InputWaiter&) = delete;
    InputWaiter& operator=(const InputWaiter&) = delete;

    PortStatus Wait(HANDLE port, uint32_t timeoutMs);

private:
    struct Record {
        OVERLAPPED overlapped{};
        DWORD mask = 0;
        common::win::UniqueNullHandle event = common::win::MakeAutoResetEvent();
    };
    std::unique_ptr<Record> record_;
};

// Reads what has arrived, or waits up to timeoutMs for the first byte (Ok with *count 0 when
// none came).
PortStatus ReadWithDeadline(HANDLE port, InputWaiter& waiter, uint8_t* buffer, size_t size, uint32_t timeoutMs,
                            size_t* count);
PortStatus ReadCtsLine(HANDLE port, bool* on);
// Changes the speed of a port on the link's framing, which it writes again with the speed.
PortStatus SetDeviceBaudRate(HANDLE port, uint32_t baudRate);
// Speed and framing at once, for a device that is not the unit (a barcode scanner).
PortStatus SetDeviceLine(HANDLE port, const LineFraming& line);
// Waits, at most timeoutMs, until the output queue is empty and the last bytes have left.
PortStatus DrainOutput(HANDLE port, uint32_t timeoutMs);

}  // namespace serial::win
