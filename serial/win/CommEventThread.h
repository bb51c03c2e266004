// The dialog's serial input path: the comm-event thread that drains received bytes into a
// sink (and, when asked, the raw-data log), and the wait for the packet link's writes.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/win/ActivityView.h"
#include "serial/ReceivedBytesSink.h"

extern std::atomic<int> RawDataLogging;  // toggled by command 1005
extern std::atomic<int> CommThreadStop;  // raised at WM_DESTROY

// While set, every drained chunk is also handed to this function (before the sink sees it);
// the flash erase uses it to see the unit's reply.
using ReceivedBytesTap = void (*)(const uint8_t* bytes, int count);
extern std::atomic<ReceivedBytesTap> ReceivedBytesHook;

// Starts the thread that watches the open port (CommPortHandle) until CommThreadStop: every
// chunk of up to 511 received bytes goes to bytes, and, while RawDataLogging is set, its
// "RAW_DATA: " line to view. Both must outlive the thread. False (GetLastError tells why)
// when the thread cannot be made.
bool StartCommEventThread(ReceivedBytesSink& bytes, ActivityView& view);
// Waits for an overlapped write on the open port to end; a failure clears the port's errors.
void WaitCommWrite(OVERLAPPED* record);
