// The embedded images on POSIX: the build assembles each image into the program with
// .incbin (see cli/CMakeLists.txt), bracketed by a start and an end symbol.
#include <cstring>

#include "cli/Images.h"

extern "C" {
extern const uint8_t varnex_image_BOOTLOADER_start[], varnex_image_BOOTLOADER_end[];
extern const uint8_t varnex_image_V410_2_AXIS_SOFTWARE_start[], varnex_image_V410_2_AXIS_SOFTWARE_end[];
extern const uint8_t varnex_image_V410_3_AXIS_SOFTWARE_start[], varnex_image_V410_3_AXIS_SOFTWARE_end[];
}

namespace cli {

namespace {

struct Embedded {
    const char* name;
    const uint8_t* start;
    const uint8_t* end;
};

const Embedded kEmbedded[] = {
    {kBootloaderImage.name, varnex_image_BOOTLOADER_start, varnex_image_BOOTLOADER_end},
    {kSoftwareImage.name, varnex_image_V410_2_AXIS_SOFTWARE_start, varnex_image_V410_2_AXIS_SOFTWARE_end},
    {kThreeAxisImage.name, varnex_image_V410_3_AXIS_SOFTWARE_start, varnex_image_V410_3_AXIS_SOFTWARE_end},
};

}  // namespace

bool EmbeddedImage(const char* name, ImageBytes* image) {
    for (const Embedded& entry : kEmbedded) {
        if (std::strcmp(entry.name, name) == 0) {
            *image = {entry.start, static_cast<uint32_t>(entry.end - entry.start)};
            return true;
        }
    }
    return false;
}

}  // namespace cli
