// The embedded images on POSIX: the command-line program's build assembles each image into
// the program with .incbin (see cli/CMakeLists.txt), bracketed by a start and an end symbol.
// Only a program that links those symbols may look an image up.
#include <cstring>

#include "download/EmbeddedImages.h"

extern "C" {
extern const uint8_t varnex_image_BOOTLOADER_start[], varnex_image_BOOTLOADER_end[];
extern const uint8_t varnex_image_V410_2_AXIS_SOFTWARE_start[], varnex_image_V410_2_AXIS_SOFTWARE_end[];
extern const uint8_t varnex_image_V410_3_AXIS_SOFTWARE_start[], varnex_image_V410_3_AXIS_SOFTWARE_end[];
}

namespace download {

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

ImageLookup FindEmbeddedImage(const char* name, ImageBytes* image) {
    for (const Embedded& entry : kEmbedded) {
        if (std::strcmp(entry.name, name) == 0) {
            image->size = static_cast<uint32_t>(entry.end - entry.start);
            if (image->size == 0) return ImageLookup::Empty;
            image->data = entry.start;
            return ImageLookup::Found;
        }
    }
    return ImageLookup::NotFound;
}

}  // namespace download
