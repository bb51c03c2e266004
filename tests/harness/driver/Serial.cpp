// The driver's own serial client: opens \\.\COMn overlapped at 8 data bits, odd parity,
// one stop bit, and reads through WaitCommEvent and overlapped reads, as the program does.
#include "tests/harness/driver/Serial.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "common/win/Handles.h"

using common::win::MakeAutoResetEvent;
using common::win::UniqueFileHandle;
using common::win::UniqueNullHandle;

namespace {

constexpr DWORD kPollSliceMs = 50;
constexpr DWORD kCancelWaitMs = 2000;
constexpr DWORD kWriteTimeoutMs = 10000;
constexpr char kXonChar = 0x11;
constexpr char kXoffChar = 0x13;
constexpr WORD kFlowLimitBytes = 100;
constexpr size_t kMaxReadBytes = 65536;

UniqueFileHandle g_Port;

JsonObject Failure(const char* what) {
    JsonObject reply;
    reply.Add("ok", false).Add("error", what).Add("win32_error", static_cast<long long>(GetLastError()));
    return reply;
}

// Runs one overlapped operation to its end or until the deadline. On timeout the operation
// is ended: a comm-event wait by clearing the event mask (Wine's CancelIo does not reach it),
// a read or write by CancelIo; the wait for that end is bounded too.
bool Finish(BOOL started, OVERLAPPED& overlapped, DWORD waitMs, DWORD& transferred, bool commEventWait = false) {
    transferred = 0;
    if (started) return GetOverlappedResult(g_Port.Get(), &overlapped, &transferred, FALSE) != 0;
    if (GetLastError() != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(overlapped.hEvent, waitMs) == WAIT_OBJECT_0)
        return GetOverlappedResult(g_Port.Get(), &overlapped, &transferred, FALSE) != 0;
    if (commEventWait) SetCommMask(g_Port.Get(), 0);
    else CancelIo(g_Port.Get());
    if (WaitForSingleObject(overlapped.hEvent, kCancelWaitMs) == WAIT_OBJECT_0)
        GetOverlappedResult(g_Port.Get(), &overlapped, &transferred, FALSE);
    return false;
}

enum class EventWait { Signalled, TimedOut, Failed };

// One WaitCommEvent for the events in mask, bounded by waitMs; a wait that times out is
// ended and the mask set again for the next one.
EventWait WaitForCommEvent(HANDLE event, DWORD mask, DWORD waitMs, DWORD& occurred) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    occurred = 0;
    DWORD ignored = 0;
    BOOL started = WaitCommEvent(g_Port.Get(), &occurred, &overlapped);
    if (!started && GetLastError() != ERROR_IO_PENDING) return EventWait::Failed;
    if (Finish(started, overlapped, waitMs, ignored, true)) return EventWait::Signalled;
    SetCommMask(g_Port.Get(), mask);
    return EventWait::TimedOut;
}

std::string Hex(const std::vector<unsigned char>& bytes) {
    std::string text;
    char pair[3];
    for (unsigned char b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

bool ParseHex(const std::string& text, std::vector<unsigned char>& bytes) {
    if (text.size() % 2) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(text.c_str() + i, "%2x", &value) != 1) return false;
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

}  // namespace

JsonObject SerialOpen(int portNumber, unsigned long baudRate) {
    g_Port.Reset();
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", portNumber);
    g_Port.Reset(
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!g_Port) return Failure("open");
    SetCommMask(g_Port.Get(), EV_RXCHAR);
    PurgeComm(g_Port.Get(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(g_Port.Get(), &dcb)) return Failure("GetCommState");
    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = ODDPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    // Binary frames carry 0x11 and 0x13: no XON/XOFF in either direction, no handshake.
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    // Wine refuses a state whose two flow characters are equal or whose limits are unset.
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
    dcb.XonLim = kFlowLimitBytes;
    dcb.XoffLim = kFlowLimitBytes;
    // Wine sets speed, framing and flow control before the special characters, and its
    // last step fails with EINVAL on a pseudo-terminal; the far end checks what took effect.
    BOOL stateSet = SetCommState(g_Port.Get(), &dcb);
    DWORD stateError = stateSet ? 0 : GetLastError();
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};  // reads return what is there at once
    SetCommTimeouts(g_Port.Get(), &timeouts);
    JsonObject reply;
    return reply.Add("ok", true)
        .Add("state_set", stateSet != FALSE)
        .Add("state_error", static_cast<long long>(stateError));
}

JsonObject SerialModemStatus() {
    DWORD status = 0;
    if (!GetCommModemStatus(g_Port.Get(), &status)) return Failure("GetCommModemStatus");
    JsonObject reply;
    return reply.Add("ok", true)
        .Add("status", static_cast<long long>(status))
        .Add("cts", (status & MS_CTS_ON) != 0)
        .Add("dsr", (status & MS_DSR_ON) != 0);
}

JsonObject SerialWrite(const std::string& hexBytes) {
    std::vector<unsigned char> bytes;
    if (!ParseHex(hexBytes, bytes)) {
        JsonObject reply;
        return reply.Add("ok", false).Add("error", "bad hex");
    }
    UniqueNullHandle event = MakeAutoResetEvent();
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Get();
    DWORD written = 0;
    BOOL started = WriteFile(g_Port.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped);
    if (!Finish(started, overlapped, kWriteTimeoutMs, written)) return Failure("WriteFile");
    JsonObject reply;
    return reply.Add("ok", written == bytes.size()).Add("written", static_cast<long long>(written));
}

JsonObject SerialRead(unsigned long minBytes, unsigned long timeoutMs) {
    if (!SetCommMask(g_Port.Get(), EV_RXCHAR)) return Failure("SetCommMask");
    UniqueNullHandle event = MakeAutoResetEvent();
    std::vector<unsigned char> received;
    DWORD start = GetTickCount();
    int events = 0;
    while (received.size() < minBytes && received.size() < kMaxReadBytes) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) break;
        COMSTAT stat{};
        DWORD errors = 0;
        ClearCommError(g_Port.Get(), &errors, &stat);
        if (stat.cbInQue == 0) {
            DWORD occurred = 0;
            EventWait result = WaitForCommEvent(event.Get(), EV_RXCHAR, timeoutMs - elapsed, occurred);
            if (result == EventWait::Failed) return Failure("WaitCommEvent");
            if (result == EventWait::Signalled && (occurred & EV_RXCHAR)) ++events;
            continue;
        }
        std::vector<unsigned char> chunk(stat.cbInQue);
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.Get();
        DWORD got = 0;
        BOOL started = ReadFile(g_Port.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), nullptr, &overlapped);
        if (!Finish(started, overlapped, kPollSliceMs, got)) return Failure("ReadFile");
        received.insert(received.end(), chunk.begin(), chunk.begin() + got);
    }
    JsonObject reply;
    return reply.Add("ok", true)
        .Add("hex", Hex(received))
        .Add("count", static_cast<long long>(received.size()))
        .Add("rx_events", events);
}

JsonObject SerialWaitCts(bool high, unsigned long timeoutMs) {
    if (!SetCommMask(g_Port.Get(), EV_CTS)) return Failure("SetCommMask");
    UniqueNullHandle event = MakeAutoResetEvent();
    DWORD start = GetTickCount();
    int events = 0;
    for (;;) {
        DWORD status = 0;
        if (!GetCommModemStatus(g_Port.Get(), &status)) return Failure("GetCommModemStatus");
        bool isHigh = (status & MS_CTS_ON) != 0;
        DWORD elapsed = GetTickCount() - start;
        if (isHigh == high || elapsed >= timeoutMs) {
            JsonObject reply;
            return reply.Add("ok", isHigh == high).Add("cts", isHigh).Add("cts_events", events);
        }
        DWORD occurred = 0;
        EventWait result = WaitForCommEvent(event.Get(), EV_CTS, timeoutMs - elapsed, occurred);
        if (result == EventWait::Failed) return Failure("WaitCommEvent");
        if (result == EventWait::Signalled && (occurred & EV_CTS)) ++events;
    }
}

JsonObject SerialClose() {
    JsonObject reply;
    return reply.Add("ok", g_Port.Reset() != FALSE);
}
