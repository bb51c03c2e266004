// The file holder of the NLEC and file transfers (see FileHolder.h).
#include "transfer/FileHolder.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace transfer {

namespace {
constexpr char kReadBinary[] = "rb";
constexpr char kWriteBinary[] = "wb";
}  // namespace

bool FileHolder::OpenToRead(const std::string& path) {
    Close();
    name_ = path;
    file_ = std::fopen(path.c_str(), kReadBinary);
    return file_ != nullptr;
}

bool FileHolder::OpenForReceive(const std::string& path, std::error_code* error) {
    Close();
    name_ = path;
    file_ = files_.CreatePending(path, kWriteBinary, &pendingPath_, error);
    if (file_ == nullptr) pendingPath_.clear();
    return file_ != nullptr;
}

void FileHolder::OpenImage(const std::string& name, std::vector<uint8_t> bytes) {
    Close();
    name_ = name;
    image_ = std::move(bytes);
    imageRead_ = 0;
    imageOpen_ = true;
}

StreamSum FileHolder::SumBytes() {
    if (file_ != nullptr) return SumFileBytes(file_);
    imageRead_ = 0;
    return StreamSum{true, AddToSum(0, image_.data(), image_.size()), static_cast<int32_t>(image_.size())};
}

StreamSum FileHolder::SumLines() { return SumNlecLines(file_); }

size_t FileHolder::Read(uint8_t* into, size_t wanted) {
    if (file_ != nullptr) return std::fread(into, 1, wanted, file_);
    const size_t got = imageOpen_ ? std::min(wanted, image_.size() - imageRead_) : 0;
    if (got > 0) std::memcpy(into, image_.data() + imageRead_, got);
    imageRead_ += got;
    return got;
}

int FileHolder::ReadLine(char (&line)[kNlecLineBuffer]) { return ReadNlecLine(file_, line); }

bool FileHolder::Failed() const { return file_ != nullptr && std::ferror(file_) != 0; }

bool FileHolder::WriteLine(const std::string& text) { return WriteNlecLine(file_, text); }

bool FileHolder::Write(const uint8_t* bytes, size_t count) { return std::fwrite(bytes, 1, count, file_) == count; }

std::error_code FileHolder::Commit() {
    // Callers commit only an open receive.
    if (file_ == nullptr || pendingPath_.empty()) return std::make_error_code(std::errc::bad_file_descriptor);
    const std::error_code error = files_.Commit(file_, pendingPath_, name_);
    file_ = nullptr;
    pendingPath_.clear();
    return error;
}

void FileHolder::Close() {
    if (!IsOpen()) return;
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (!pendingPath_.empty()) {
        files_.Remove(pendingPath_);  // the chosen file stays as it was
        pendingPath_.clear();
    }
    std::vector<uint8_t>().swap(image_);
    imageRead_ = 0;
    imageOpen_ = false;
}

}  // namespace transfer
