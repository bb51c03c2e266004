// The name of a receive's temporary file, the same on every platform: vrx<process id>-<n>.tmp
// beside the chosen file. The process id keeps two runs apart; n keeps one run's workers apart.
#pragma once
#include <string>

namespace transfer {

// Names left by an earlier process of the same id are passed over; past this many the folder
// is taken to be unusable.
inline constexpr unsigned kMaxPendingNameTries = 100;

// stem: the folder with its separator; the file name follows.
inline std::string PendingName(const std::string& stem, unsigned long processId, unsigned number) {
    return stem + "vrx" + std::to_string(processId) + "-" + std::to_string(number) + ".tmp";
}

}  // namespace transfer
