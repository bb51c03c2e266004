// Win32 serial operations behind every port object. Reads and writes are overlapped with an
// auto-reset event; a pending write is looked at in slices so that its bound holds.
#include "serial/win/PortIo.h"

#include <algorithm>

#include "common/win/SystemText.h"
#include "serial/PortNumber.h"

namespace serial::win {

namespace {

using common::win::MakeAutoResetEvent;
using common::win::SystemText;
using common::win::UniqueNullHandle;

constexpr char kXonChar = 17;   // DC1
constexpr char kXoffChar = 19;  // DC3
constexpr WORD kXonLimBytes = 100;
constexpr WORD kXoffLimBytes = 100;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kWriteWaitSliceMs = 250;  // how often a pending write is looked at
constexpr DWORD kCancelWaitMs = 2000;     // for a cancelled write to come back
constexpr DWORD kDrainPollMs = 5;         // how often a draining queue is looked at
constexpr DWORD kInputPollMs = 10;        // how often input is looked for without comm events
DWORD ControlValue(LineControl control, DWORD enable, DWORD handshake) {
    return control == LineControl::Handshake ? handshake : enable;
}

// The three calls that start overlapped work, each issued here only.
bool StartWrite(HANDLE port, OVERLAPPED* record, const void* data, DWORD size, DWORD* count) {
    return WriteFile(port, data, size, count, record) != FALSE;
}

bool StartRead(HANDLE port, OVERLAPPED* record, uint8_t* buffer, DWORD size, DWORD* count) {
    return ReadFile(port, buffer, size, count, record) != FALSE;
}

bool StartCommEventWait(HANDLE port, OVERLAPPED* record, DWORD* mask) {
    *mask = 0;
    return WaitCommEvent(port, mask, record) != FALSE;
}

}  // namespace

void ResetCommMask(HANDLE port) { SetCommMask(port, EV_RXCHAR); }

bool ClearPortErrors(HANDLE port, COMSTAT* status) {
    DWORD errors = 0;
    return ClearCommError(port, &errors, status) != FALSE;
}

std::string DevicePath(const std::string& name) {
    const int number = ComPortNumber(name);
    return number != 0 ? CommDeviceName(number) : name;
}

HANDLE OpenDevice(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

bool ConfigureDevice(HANDLE port, uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits,
                     uint32_t flowFlags) {
    ResetCommMask(port);
    PurgeComm(port, kPurgeAll);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool readable = GetCommState(port, &dcb) != FALSE;
    dcb.BaudRate = baudRate;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    const FlowSettings flow = FlowSettingsFor(flowFlags);
    dcb.fOutxDsrFlow = flow.outxDsrFlow;
    dcb.fDtrControl = ControlValue(flow.dtr, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE);
    dcb.fOutxCtsFlow = flow.outxCtsFlow;
    dcb.fRtsControl = ControlValue(flow.rts, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE);
    dcb.fOutX = flow.outX;
    dcb.fInX = flow.inX;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
    dcb.XonLim = kXonLimBytes;
    dcb.XoffLim = kXoffLimBytes;
    SetCommState(port, &dcb);
    EscapeCommFunction(port, SETDTR);
    return readable;
}

PortStatus StatusFromError(DWORD errorCode, bool opening) {
    PortError kind = PortError::Io;
    switch (errorCode) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME: kind = opening ? PortError::NoSuchPort : PortError::Gone; break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            // An open that is refused means another program holds the port; an open
            // handle that is refused means its device went away.
            kind = opening ? PortError::Busy : PortError::Gone;
            break;
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_GEN_FAILURE:
        case ERROR_NOT_READY: kind = PortError::Gone; break;
        case ERROR_SEM_TIMEOUT: kind = PortError::TimedOut; break;
        default: break;
    }
    return {kind, SystemText(errorCode), std::error_code(static_cast<int>(errorCode), std::system_category())};
}

bool AwaitOverlapped(HANDLE port, OVERLAPPED* record, DWORD* count) {
    for (;;) {
        if (GetOverlappedResult(port, record, count, TRUE)) return true;
        if (GetLastError() != ERROR_IO_INCOMPLETE) return false;
    }
}

void IssueWrite(HANDLE port, OVERLAPPED* record, const void* data, DWORD size) {
    DWORD written = 0;
    StartWrite(port, record, data, size, &written);
}

void AwaitWrite(HANDLE port, OVERLAPPED* record) {
    DWORD written = 0;
    if (GetLastError() == ERROR_IO_PENDING && AwaitOverlapped(port, record, &written)) return;
    ClearPortErrors(port);
}

bool WaitForCommEvent(HANDLE port, OVERLAPPED* record, DWORD* mask) {
    if (StartCommEventWait(port, record, mask)) return true;
    if (GetLastError() != ERROR_IO_PENDING) return false;
    DWORD transferred = 0;
    return AwaitOverlapped(port, record, &transferred);
}

size_t ReadQueuedBytes(HANDLE port, OVERLAPPED* record, uint8_t* buffer, size_t maximum) {
    COMSTAT status{};
    ClearPortErrors(port, &status);
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(status.cbInQue, maximum));
    if (wanted == 0) return 0;
    DWORD read = 0;
    if (StartRead(port, record, buffer, wanted, &read)) return read;
    if (GetLastError() != ERROR_IO_PENDING) {
        ClearPortErrors(port);
        return 0;
    }
    if (!AwaitOverlapped(port, record, &read)) ClearPortErrors(port);
    return read;
}

PortStatus BoundedWriter::Write(HANDLE port, const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) {
    *written = 0;
    if (!record_) record_ = std::make_unique<Record>();
    if (!record_->event) return StatusFromError(GetLastError(), false);
    OVERLAPPED* record = &record_->overlapped;
    record->hEvent = record_->event.Get();
    record->Offset = 0;
    record->OffsetHigh = 0;
    DWORD count = 0;
    if (StartWrite(port, record, data, static_cast<DWORD>(size), &count)) {
        *written = count;
        return {};
    }
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        ClearPortErrors(port);
        return StatusFromError(error, false);
    }
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        const DWORD left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        WaitForSingleObject(record->hEvent, std::min(kWriteWaitSliceMs, left));
        count = 0;
        if (GetOverlappedResult(port, record, &count, FALSE)) {
            *written = count;
            return {};
        }
        error = GetLastError();
        if (error != ERROR_IO_INCOMPLETE) {
            *written = count;
            ClearPortErrors(port);
            return StatusFromError(error, false);
        }
        if (GetTickCount() - start < timeoutMs) continue;
        CancelIo(port);
        // The cancel itself is waited for only so long: a port whose device has gone may
        // never complete it, and the caller must still go on.
        if (WaitForSingleObject(record->hEvent, kCancelWaitMs) != WAIT_OBJECT_0 && !HasOverlappedIoCompleted(record)) {
            static_cast<void>(record_->event.Release());  // kept alive on purpose: see the class comment
            static_cast<void>(record_.release());
            return {PortError::TimedOut, "the write was still pending at its time limit"};
        }
        count = 0;
        if (!GetOverlappedResult(port, record, &count, FALSE)) ClearPortErrors(port);
        *written = count;
        // A write that completed just before the cancel shows the line is taking data.
        if (count >= size) return {};
        return {PortError::TimedOut, "the write was still pending at its time limit"};
    }
}

namespace {

// Takes what has arrived and returns at once: the driver's "no wait" read timeouts, which
// every driver honours. The waiting is done apart, with a bound on this side's clock.
PortStatus ReadArrived(HANDLE port, uint8_t* buffer, size_t size, size_t* count) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(port, &timeouts)) return StatusFromError(GetLastError(), false);
    UniqueNullHandle event = MakeAutoResetEvent();
    if (!event) return StatusFromError(GetLastError(), false);
    OVERLAPPED record{};
    record.hEvent = event.Get();
    DWORD got = 0;
    if (!StartRead(port, &record, buffer, static_cast<DWORD>(size), &got)) {
        DWORD error = GetLastError();
        // A read that takes no more than has arrived ends at once even when queued.
        if (error == ERROR_IO_PENDING) error = AwaitOverlapped(port, &record, &got) ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SUCCESS) {
            ClearPortErrors(port);
            return StatusFromError(error, false);
        }
    }
    *count = got;
    return {};
}

}  // namespace

PortStatus InputWaiter::Wait(HANDLE port, uint32_t timeoutMs) {
    if (!record_) record_ = std::make_unique<Record>();
    if (!record_->event) return StatusFromError(GetLastError(), false);
    OVERLAPPED* record = &record_->overlapped;
    *record = OVERLAPPED{};
    record->hEvent = record_->event.Get();
    // The mask (EV_RXCHAR, set at open) stays: setting it again would forget bytes that came
    // since the last look. A wait that ends at once on bytes already read just looks again.
    if (StartCommEventWait(port, record, &record_->mask)) return {};
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        // A driver that cannot wait for comm events is looked at again after a short pause.
        Sleep(std::min<DWORD>(timeoutMs, kInputPollMs));
        return {};
    }
    if (WaitForSingleObject(record->hEvent, timeoutMs) == WAIT_OBJECT_0) {
        DWORD ignored = 0;
        GetOverlappedResult(port, record, &ignored, FALSE);
        return {};
    }
    // Nothing came in time: a new mask ends the pending wait, and it must be over before its
    // record may be used again.
    ResetCommMask(port);
    CancelIo(port);
    if (WaitForSingleObject(record->hEvent, kCancelWaitMs) != WAIT_OBJECT_0 && !HasOverlappedIoCompleted(record)) {
        static_cast<void>(record_->event.Release());  // kept alive on purpose: see the class comment
        static_cast<void>(record_.release());
    }
    return {};
}

PortStatus ReadWithDeadline(HANDLE port, InputWaiter& waiter, uint8_t* buffer, size_t size, uint32_t timeoutMs,
                            size_t* count) {
    *count = 0;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        PortStatus status = ReadArrived(port, buffer, size, count);
        if (!status.Ok() || *count > 0) return status;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return {};  // nothing came: Ok with no bytes
        status = waiter.Wait(port, static_cast<uint32_t>(deadline - now));
        if (!status.Ok()) return status;
    }
}

PortStatus ReadCtsLine(HANDLE port, bool* on) {
    *on = false;
    DWORD modem = 0;
    if (!GetCommModemStatus(port, &modem)) return StatusFromError(GetLastError(), false);
    *on = (modem & MS_CTS_ON) != 0;
    return {};
}

PortStatus DrainOutput(HANDLE port, uint32_t timeoutMs) {
    // The queue is watched with a bound first: FlushFileBuffers alone has none.
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        COMSTAT state{};
        if (!ClearPortErrors(port, &state)) return StatusFromError(GetLastError(), false);
        if (state.cbOutQue == 0) break;
        if (GetTickCount64() >= deadline) {
            return {PortError::TimedOut, std::to_string(state.cbOutQue) + " bytes still waiting for the line"};
        }
        Sleep(kDrainPollMs);
    }
    // The driver's queue is empty; this waits only for the bytes in the transmitter.
    if (!FlushFileBuffers(port)) return StatusFromError(GetLastError(), false);
    return {};
}

PortStatus SetDeviceBaudRate(HANDLE port, uint32_t baudRate) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return StatusFromError(GetLastError(), false);
    dcb.BaudRate = baudRate;
    // The framing is written with the speed rather than read back: a pseudo-terminal under
    // Wine reports odd parity in a form Wine does not decode, which leaves the parity it
    // hands back undefined, and writing that back could drop the parity or refuse the change.
    dcb.ByteSize = kLinkByteSize;
    dcb.Parity = kLinkParity;
    dcb.StopBits = kLinkStopBits;
    if (SetCommState(port, &dcb)) return {};
    // Some drivers refuse one of the other settings they re-apply and still change the
    // speed: what counts is the speed the port reports afterwards.
    const PortStatus refused = StatusFromError(GetLastError(), false);
    DCB now{};
    now.DCBlength = sizeof now;
    if (GetCommState(port, &now) && now.BaudRate == baudRate) return {};
    return refused;
}

PortStatus SetDeviceLine(HANDLE port, const LineFraming& line) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return StatusFromError(GetLastError(), false);
    dcb.BaudRate = line.baud;
    dcb.ByteSize = line.dataBits;
    dcb.Parity = line.parity == Parity::Odd ? ODDPARITY : line.parity == Parity::Even ? EVENPARITY : NOPARITY;
    dcb.fParity = line.parity == Parity::None ? FALSE : TRUE;
    dcb.StopBits = line.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    if (SetCommState(port, &dcb)) return {};
    return StatusFromError(GetLastError(), false);
}

}  // namespace serial::win
