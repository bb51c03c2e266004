// The program's fixed names: the device name that fills every %s naming the unit, and the
// window title that is also the caption of every message box.
#pragma once

#include "common/Version.h"

inline constexpr const char kDeviceName[] = "Varnex 410";
inline constexpr const char kWindowTitle[] = "Varnex 410 (v" VARNEX_VERSION ") 2 Axis Software Download Utility";
