// The image a download sends: one of the three embedded firmware images, or a file whose
// size must be one of theirs unless the caller accepts any size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "download/EmbeddedImages.h"
#include "records/RecordStore.h"

namespace cli {

using download::ImageBytes;

// Holds the image the options chose: embedded images stay where they are, a file is read
// into memory. False with *error set when it cannot be had.
class ImageSource {
public:
    bool Load(const DownloadOptions& options, std::string* error);
    const ImageBytes& Bytes() const { return bytes_; }

private:
    bool LoadFile(const std::string& path, bool anySize, std::string* error);
    std::vector<uint8_t> fileData_;
    ImageBytes bytes_;
};

// What the records say the image was: the choice, the image's own name, size and digest.
void DescribeImage(const DownloadOptions& options, const ImageBytes& bytes, records::Row* row);

}  // namespace cli
