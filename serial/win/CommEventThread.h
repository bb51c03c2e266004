// The serial input path: the comm-event thread that drains received bytes into the packet
// receiver, and the overlapped read and write helpers of the packet link.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

extern std::atomic<int> RawDataLogging;  // toggled by command 1005
extern std::atomic<int> CommThreadStop;  // raised at WM_DESTROY
extern unsigned char ReceiveChunk[512];  // up to 511 received bytes and a terminating zero

// While set, every drained chunk is also handed to this function (before the packet
// receiver sees it); the flash erase uses it to see the unit's reply.
using ReceivedBytesTap = void (*)(const uint8_t* bytes, int count);
extern std::atomic<ReceivedBytesTap> ReceivedBytesHook;

DWORD WINAPI CommEventThread(LPVOID dialog);
void DrainCommInput(HWND dialog);
int ReadCommBytes(unsigned char* buffer, int maximum);
void WaitCommWrite(OVERLAPPED* record);
