// The turnaround probe: the shortest answer path a Windows program can have on this serial
// line. It sends a settings file to the unit the way the program does (WaitCommEvent,
// ClearCommError and an overlapped ReadFile, then WriteFile), but answers each of the unit's
// chunk requests at once on the same thread, with no window, no message queue and no file.
// Timed by the simulated unit, it shows how much of the program's turnaround the platform's
// serial path takes before the program does anything at all.
//
// Usage: varnex_turnaround_probe.exe [chunks] [COMn] [armed]. It prints nothing (the driver that
// starts it owns the console); the exit code tells the outcome (kExit* below).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/win/Handles.h"
#include "link/Frame.h"

using namespace packetlink;

namespace {

constexpr int kExitDone = 0;
constexpr int kExitNoPort = 1;
constexpr int kExitTimedOut = 2;
constexpr int kExitRefused = 3;

constexpr DWORD kLineBaud = 38400;
constexpr DWORD kQuietLimitMs = 5000;  // no byte from the unit for this long ends the probe
constexpr int kDefaultChunks = 2100;
constexpr size_t kChunkBytes = 128;
constexpr size_t kReadBytes = 511;
constexpr int kKindSettings = 25;
constexpr uint16_t kCmdFileSend = 10;
constexpr uint16_t kCmdFileSendData = 11;
constexpr uint16_t kCmdFileSendEnd = 12;
constexpr uint16_t kCmdFileError = 13;
// Third argument: wait for the next bytes before answering, in the order the program's two
// threads do it, instead of after.
constexpr char kArmEarlyOption[] = "armed";

// One overlapped operation, waited for; false when it failed.
bool Finish(HANDLE port, OVERLAPPED* overlapped, BOOL started, DWORD* count) {
    if (started) return true;
    if (GetLastError() != ERROR_IO_PENDING) return false;
    return GetOverlappedResult(port, overlapped, count, TRUE) != FALSE;
}

class Probe {
public:
    Probe(HANDLE port, int chunks, bool armEarly) : port_(port), chunks_(chunks), armEarly_(armEarly) {
        for (size_t i = 0; i < kChunkBytes; ++i) chunk_[i] = uint8_t(i * 7 + 1);
        write_.hEvent = writeEvent_.Get();
        read_.hEvent = readEvent_.Get();
        wait_.hEvent = waitEvent_.Get();
    }

    int Run() {
        unsigned sum = 0;
        for (uint8_t b : chunk_) sum += b;
        char opening[64];
        std::snprintf(opening, sizeof opening, "%d,%u,%d,", kKindSettings, (sum * unsigned(chunks_)) & 0xFFFFu,
                      chunks_ * int(kChunkBytes));
        Send(kCmdFileSend, reinterpret_cast<const uint8_t*>(opening), uint16_t(std::strlen(opening)));
        for (;;) {
            if (!WaitForBytes()) return kExitTimedOut;
            uint16_t command = 0;
            while (TakeFrame(&command)) {
                if (command == kCmdFileError) return kExitRefused;
                if (command == kCmdFileSendEnd) return kExitDone;
                if (command != kCmdFileSend && command != kCmdFileSendData) continue;
                // The program's comm-event thread waits again before its dialog answers.
                if (armEarly_) Arm();
                if (sent_ < chunks_) {
                    ++sent_;
                    Send(kCmdFileSendData, chunk_, uint16_t(kChunkBytes));
                } else {
                    static const uint8_t kOne = '1';
                    Send(kCmdFileSendEnd, &kOne, 1);
                }
            }
        }
    }

private:
    void Send(uint16_t command, const uint8_t* payload, uint16_t length) {
        std::vector<uint8_t> frame = EncodeFrame(command, ++id_, payload, length);
        DWORD written = 0;
        BOOL started = WriteFile(port_, frame.data(), DWORD(frame.size()), &written, &write_);
        if (!Finish(port_, &write_, started, &written)) ClearCommError(port_, nullptr, nullptr);
    }

    // Starts waiting for received characters, unless a wait is already under way.
    void Arm() {
        if (armed_) return;
        mask_ = 0;
        BOOL started = WaitCommEvent(port_, &mask_, &wait_);
        pending_ = !started && GetLastError() == ERROR_IO_PENDING;
        armed_ = true;
    }

    // Waits for received characters and appends what is there to the buffer.
    bool WaitForBytes() {
        Arm();
        armed_ = false;
        DWORD ignored = 0;
        if (pending_) {
            if (WaitForSingleObject(wait_.hEvent, kQuietLimitMs) != WAIT_OBJECT_0) return false;
            GetOverlappedResult(port_, &wait_, &ignored, FALSE);
        }
        DWORD errors = 0;
        COMSTAT status{};
        ClearCommError(port_, &errors, &status);
        DWORD wanted = status.cbInQue < kReadBytes ? status.cbInQue : DWORD(kReadBytes);
        if (wanted == 0) return true;
        uint8_t bytes[kReadBytes];
        DWORD got = 0;
        BOOL read = ReadFile(port_, bytes, wanted, &got, &read_);
        if (!Finish(port_, &read_, read, &got)) return true;
        buffer_.insert(buffer_.end(), bytes, bytes + got);
        return true;
    }

    // Takes one whole frame off the front of the buffer (after any stray bytes).
    bool TakeFrame(uint16_t* command) {
        while (buffer_.size() >= 2 && !(buffer_[0] == kFrameMark && buffer_[1] == kFrameMark))
            buffer_.erase(buffer_.begin());
        if (buffer_.size() < kHeaderSize) return false;
        size_t length = size_t(buffer_[4]) | size_t(buffer_[5]) << 8;
        if (length > kMaxPayload) {
            buffer_.erase(buffer_.begin());
            return TakeFrame(command);
        }
        if (buffer_.size() < kHeaderSize + length) return false;
        *command = uint16_t(buffer_[6] | buffer_[7] << 8);
        buffer_.erase(buffer_.begin(), buffer_.begin() + long(kHeaderSize + length));
        return true;
    }

    HANDLE port_;
    int chunks_;
    bool armEarly_;
    bool armed_ = false;
    bool pending_ = false;
    DWORD mask_ = 0;
    int sent_ = 0;
    uint16_t id_ = 0;
    uint8_t chunk_[kChunkBytes];
    std::vector<uint8_t> buffer_;
    UniqueNullHandle writeEvent_ = MakeAutoResetEvent();
    UniqueNullHandle readEvent_ = MakeAutoResetEvent();
    UniqueNullHandle waitEvent_ = MakeAutoResetEvent();
    OVERLAPPED write_{}, read_{}, wait_{};
};

}  // namespace

int main(int argc, char** argv) {
    int chunks = argc > 1 ? std::atoi(argv[1]) : kDefaultChunks;
    std::string name = std::string("\\\\.\\") + (argc > 2 ? argv[2] : "COM1");
    UniqueFileHandle port(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr));
    if (!port) return kExitNoPort;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port.Get(), &dcb);
    dcb.BaudRate = kLineBaud;
    dcb.ByteSize = 8;
    dcb.Parity = ODDPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fParity = TRUE;
    SetCommState(port.Get(), &dcb);
    SetCommMask(port.Get(), EV_RXCHAR);
    PurgeComm(port.Get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
    bool armEarly = argc > 3 && std::strcmp(argv[3], kArmEarlyOption) == 0;
    Probe probe(port.Get(), chunks > 0 ? chunks : kDefaultChunks, armEarly);
    return probe.Run();
}
