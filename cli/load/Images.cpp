// Choosing and loading the image a download sends (see Images.h).
#include "cli/load/Images.h"

#include <cerrno>
#include <fstream>
#include <limits>
#include <system_error>

#include "cli/output/FailureTexts.h"
#include "common/Sha256.h"

namespace cli {

using download::IsImageSize;
using download::kBootloaderImage;
using download::kSoftwareImage;

bool ImageSource::Load(const DownloadOptions& options, std::string* error) {
    if (options.image == ImageChoice::File) return LoadFile(options.imageFile, options.anySize, error);
    const download::ImageSpec& spec = options.image == ImageChoice::Bootloader ? kBootloaderImage : kSoftwareImage;
    if (download::FindEmbeddedImage(spec.name, &bytes_) != download::ImageLookup::Found) {
        FailureDetails details;
        details.name = spec.name;
        *error = FailureText(Failure::ImageNotCarried, details);
        return false;
    }
    return true;
}

bool ImageSource::LoadFile(const std::string& path, bool anySize, std::string* error) {
    FailureDetails details;
    details.name = path;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        details.system = std::error_code(errno, std::generic_category());
        *error = FailureText(Failure::ImageNotOpened, details);
        return false;
    }
    std::streamoff size = in.tellg();
    if (size <= 0) {
        *error = FailureText(Failure::ImageEmpty, details);
        return false;
    }
    if (static_cast<uint64_t>(size) > std::numeric_limits<uint32_t>::max()) {
        *error = FailureText(Failure::ImageTooLarge, details);
        return false;
    }
    if (!anySize && !IsImageSize(static_cast<uint64_t>(size))) {
        details.size = static_cast<uint64_t>(size);
        *error = FailureText(Failure::ImageWrongSize, details);
        return false;
    }
    fileData_.resize(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(fileData_.data()), size)) {
        *error = FailureText(Failure::ImageNotRead, details);
        return false;
    }
    bytes_ = {fileData_.data(), static_cast<uint32_t>(fileData_.size())};
    return true;
}

void DescribeImage(const DownloadOptions& options, const ImageBytes& bytes, records::Row* row) {
    row->imageSize = bytes.size;
    row->imageSha256 = common::Sha256Hex(bytes.data, bytes.size);
    switch (options.image) {
        case ImageChoice::Bootloader:
            row->operation = "bootloader";
            row->image = download::kBootloaderImage.name;
            break;
        case ImageChoice::Software:
            row->operation = "software";
            row->image = download::kSoftwareImage.name;
            break;
        case ImageChoice::File:
            row->operation = "image";
            row->image = options.imageFile;
            break;
    }
}

}  // namespace cli
