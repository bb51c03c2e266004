// What every platform shares of the embedded images (see EmbeddedImages.h).
#include "download/EmbeddedImages.h"

#include <initializer_list>

namespace download {

bool IsImageSize(uint64_t size) {
    for (const ImageSpec& spec : {kBootloaderImage, kSoftwareImage, kThreeAxisImage}) {
        if (spec.size == size) return true;
    }
    return false;
}

}  // namespace download
