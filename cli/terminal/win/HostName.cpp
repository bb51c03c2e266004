// The computer's name from GetComputerNameA (see HostName.h).
#include <windows.h>

#include "cli/terminal/HostName.h"

namespace cli {

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size) || size == 0) return "station";
    return std::string(name, size);
}

}  // namespace cli
