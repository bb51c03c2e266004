// Log export rules: capacity growth in 256-byte steps and the free temporary name search.
// The directory and name choice mirror the C runtime's temporary names, with our prefix.
#include "app/LogExport.h"

std::size_t GrowExportCapacity(std::size_t capacity, std::size_t needed) {
    if (needed <= capacity) return capacity;
    return (needed / kExportBufferGranuleBytes + 1) * kExportBufferGranuleBytes;
}

std::string ChooseTempDirectory(const char* tmpVariable, const std::string& currentDirectory,
                                const TempNameFileSystem& fs) {
    if (tmpVariable != nullptr && *tmpVariable != '\0' && fs.directoryExists(tmpVariable)) return tmpVariable;
    for (const char* fallback : {"\\tmp", "\\"}) {
        if (fs.directoryExists(fallback)) return fallback;
    }
    return currentDirectory;
}

std::optional<std::string> TempNameSequence::Next(const std::string& directory, const TempNameFileSystem& fs) {
    std::string stem = directory;
    const bool hasSeparator = !stem.empty() && (stem.back() == '\\' || stem.back() == '/');
    if (!hasSeparator) stem += '\\';
    stem += kTempNamePrefix;

    for (unsigned attempt = 0; attempt < kMaxTempNameAttempts; ++attempt) {
        ++counter_;
        std::string name = stem + std::to_string(counter_);
        // Numbers only get longer, so once a name is too long every later one is too.
        if (name.size() > kMaxTempPathChars) return std::nullopt;
        if (!fs.fileExists(name)) return name;
    }
    return std::nullopt;
}
