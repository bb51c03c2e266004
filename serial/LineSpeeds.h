// The speeds the unit's serial line runs at. The packet link always runs at one speed; the
// bootloader takes an image at the fast or the slow speed the technician chose on the unit,
// and erases its flash at the fast one.
#pragma once

#include <cstdint>

namespace serial {

inline constexpr uint32_t kLinkBaudRate = 38400;  // every port opens at the packet link's speed
inline constexpr uint32_t kFastDownloadBaud = 115200;
inline constexpr uint32_t kSlowDownloadBaud = 57600;
// The speeds a download may be asked to run at, the fast one first.
inline constexpr uint32_t kDownloadBauds[] = {kFastDownloadBaud, kSlowDownloadBaud};

}  // namespace serial
