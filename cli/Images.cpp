// Choosing and loading the image a download sends (see Images.h).
#include "cli/Images.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>

namespace cli {

using download::IsImageSize;
using download::kBootloaderImage;
using download::kSoftwareImage;
using download::kThreeAxisImage;

bool ImageSource::Load(const DownloadOptions& options, std::string* error) {
    if (options.image == ImageChoice::File) return LoadFile(options.imageFile, options.anySize, error);
    const download::ImageSpec& spec = options.image == ImageChoice::Bootloader ? kBootloaderImage : kSoftwareImage;
    if (download::FindEmbeddedImage(spec.name, &bytes_) != download::ImageLookup::Found) {
        *error = std::string("this program carries no ") + spec.name + " image";
        return false;
    }
    return true;
}

bool ImageSource::LoadFile(const std::string& path, bool anySize, std::string* error) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::streamoff size = in.tellg();
    if (size <= 0) {
        *error = path + ": the file is empty";
        return false;
    }
    if (static_cast<uint64_t>(size) > std::numeric_limits<uint32_t>::max()) {
        *error = path + ": the file is too large for an image";
        return false;
    }
    if (!anySize && !IsImageSize(static_cast<uint64_t>(size))) {
        *error = path + ": " + std::to_string(size) + " bytes is not the size of a bootloader (" +
                 std::to_string(kBootloaderImage.size) + "), 2-axis (" + std::to_string(kSoftwareImage.size) +
                 ") or 3-axis (" + std::to_string(kThreeAxisImage.size) + ") image; give --any-size to send it anyway";
        return false;
    }
    fileData_.resize(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(fileData_.data()), size)) {
        *error = path + ": the file could not be read whole";
        return false;
    }
    bytes_ = {fileData_.data(), static_cast<uint32_t>(fileData_.size())};
    return true;
}

}  // namespace cli
