// The host's name from gethostname (see HostName.h).
#include "cli/terminal/HostName.h"

#include <unistd.h>

namespace cli {

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "station";
    return name;
}

}  // namespace cli
