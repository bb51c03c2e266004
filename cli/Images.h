// The image a download sends: one of the three embedded firmware images, or a file whose
// size must be one of theirs unless the caller accepts any size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace cli {

struct ImageSpec {
    const char* name;
    uint32_t size;
};
// The embedded images under their resource names, with the sizes the unit expects.
inline constexpr ImageSpec kBootloaderImage{"BOOTLOADER", 249008};
inline constexpr ImageSpec kSoftwareImage{"V410_2_AXIS_SOFTWARE", 4402584};
inline constexpr ImageSpec kThreeAxisImage{"V410_3_AXIS_SOFTWARE", 4403368};

struct ImageBytes {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

// The embedded image of that name, in place; false when the program carries no such image.
// Defined once per platform (posix/, win/).
bool EmbeddedImage(const char* name, ImageBytes* image);

// Holds the image the options chose: embedded images stay where they are, a file is read
// into memory. False with *error set when it cannot be had.
class ImageSource {
public:
    bool Load(const Options& options, std::string* error);
    const ImageBytes& Bytes() const { return bytes_; }

private:
    bool LoadFile(const std::string& path, bool anySize, std::string* error);
    std::vector<uint8_t> fileData_;
    ImageBytes bytes_;
};

}  // namespace cli
