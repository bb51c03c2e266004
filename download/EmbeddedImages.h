// The firmware images every program carries: their names as embedded resources, the sizes
// the unit expects, and the one lookup of an image in the running program. The lookup is
// defined once per platform: the program's own EMBEDDED_FILE resources on Windows (win/),
// the images the build assembles into the program on POSIX (posix/).
#pragma once

#include <cstdint>

namespace download {

struct ImageSpec {
    const char* name;
    uint32_t size;
};
inline constexpr ImageSpec kBootloaderImage{"BOOTLOADER", 249008};
inline constexpr ImageSpec kSoftwareImage{"V410_2_AXIS_SOFTWARE", 4402584};
inline constexpr ImageSpec kThreeAxisImage{"V410_3_AXIS_SOFTWARE", 4403368};

struct ImageBytes {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

// The step at which a lookup stopped, so that a front-end can say which one failed.
enum class ImageLookup {
    Found,
    NotFound,   // the program carries no image of that name
    Empty,      // it does, with no bytes
    NotLoaded,  // the system would not load it
    NotLocked,  // nor hand out its bytes
};

// Finds the embedded image of that name, in place; nothing is copied. image->size is set
// as soon as it is known, also when a later step fails.
ImageLookup FindEmbeddedImage(const char* name, ImageBytes* image);

// True when size is that of one of the three images.
bool IsImageSize(uint64_t size);

}  // namespace download
