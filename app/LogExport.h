// Portable rules of the log export: how the line buffer grows and how the temporary file
// is named. The file system is asked through callbacks so tests can stage any layout.
#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

inline constexpr std::size_t kExportBufferStartBytes = 256;
inline constexpr std::size_t kExportBufferGranuleBytes = 256;
// Room for the line's terminator and the appended line end, with a little to spare.
inline constexpr std::size_t kExportLineExtraBytes = 5;

// The capacity the buffer needs for `needed` bytes: unchanged when it fits, otherwise the
// next multiple of the granule strictly greater than `needed` (the buffer only grows).
std::size_t GrowExportCapacity(std::size_t capacity, std::size_t needed);

inline constexpr const char kTempNamePrefix[] = "jvk";
// Longest full path the system accepts, terminator excluded.
inline constexpr std::size_t kMaxTempPathChars = 259;
// How many sequence numbers are tried before giving up on a free name.
inline constexpr unsigned kMaxTempNameAttempts = 32767;

struct TempNameFileSystem {
    std::function<bool(const std::string&)> directoryExists;
    std::function<bool(const std::string&)> fileExists;
};

// The temporary directory: TMP if that directory exists, else "\tmp", else "\", else the
// current directory (given as currentDirectory).
std::string ChooseTempDirectory(const char* tmpVariable, const std::string& currentDirectory,
                                const TempNameFileSystem& fs);

// Names "jvk<n>" in one directory; the sequence number carries on across calls for the
// life of the object (the program keeps one for the whole process).
class TempNameSequence {
public:
    // A name that does not exist yet, or nothing when the path would be too long or no
    // free number is found.
    std::optional<std::string> Next(const std::string& directory, const TempNameFileSystem& fs);
    unsigned long counter() const { return counter_; }

private:
    unsigned long counter_ = 0;
};
