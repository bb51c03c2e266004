// A minimal overlapped serial client in the driver, to check the port, the pseudo-terminal
// and the modem-line library together without the program.
#pragma once
#include <string>

#include "tests/harness/driver/Json.h"

JsonObject SerialOpen(int portNumber, unsigned long baudRate);
JsonObject SerialModemStatus();
JsonObject SerialWrite(const std::string& hexBytes);
// Waits for EV_RXCHAR, then reads what has arrived until minBytes or the timeout.
JsonObject SerialRead(unsigned long minBytes, unsigned long timeoutMs);
// Waits for the CTS line to reach a state through WaitCommEvent(EV_CTS).
JsonObject SerialWaitCts(bool high, unsigned long timeoutMs);
JsonObject SerialClose();
