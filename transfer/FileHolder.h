// The file a transfer reads or writes, owned while it is open. A receive never writes the
// chosen file itself: it writes a temporary file in the same folder, which replaces the chosen
// file only when the whole transfer has been written (Commit); every other close deletes it,
// so a failed, stopped or abandoned receive leaves the operator's file as it was. A bitmap
// send reads its image from memory, so no file of it exists that another run could overwrite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "transfer/TransferEngine.h"
#include "transfer/TransferText.h"

namespace transfer {

class FileHolder {
public:
    explicit FileHolder(TransferFiles& files) : files_(files) {}
    ~FileHolder() { Close(); }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    // Opens path for reading in binary mode: false when it cannot (errno tells why).
    bool OpenToRead(const std::string& path);
    // Opens a receive for path: a new temporary file beside it. False when it cannot be
    // created (*error tells why).
    bool OpenForReceive(const std::string& path, std::error_code* error);
    // Holds bytes as the send's source, read from the start; name is what the log calls it.
    void OpenImage(const std::string& name, std::vector<uint8_t> bytes);

    // A file or an image is held.
    bool IsOpen() const { return file_ != nullptr || imageOpen_; }
    // A file (not an image) is open.
    bool HasFile() const { return file_ != nullptr; }
    // The chosen file's name, as the log names it; kept after a close.
    const std::string& Name() const { return name_; }

    // Sums and counts a send's source byte by byte, or an NLEC file line by line as its lines
    // will be sent; the source is then read from its start.
    StreamSum SumBytes();
    StreamSum SumLines();
    // Up to wanted bytes of a send's source, from the file or the image; 0 at its end.
    size_t Read(uint8_t* into, size_t wanted);
    // The next NLEC line of the open file (see ReadNlecLine); -1 at its end or on an error.
    int ReadLine(char (&line)[kNlecLineBuffer]);
    // True after a read or write error on the open file.
    bool Failed() const;
    // Writes one received NLEC line, or count received bytes; false on a write error.
    bool WriteLine(const std::string& text);
    bool Write(const uint8_t* bytes, size_t count);

    // Flushes and closes the receive and puts it in the chosen file's place: no error, or the
    // error of the step that failed; on failure the temporary file is deleted and the chosen
    // file is untouched.
    std::error_code Commit();
    // Closes what is held; a receive's temporary file is deleted, the chosen file stays.
    void Close();

private:
    TransferFiles& files_;
    FILE* file_ = nullptr;
    std::string name_;
    std::string pendingPath_;     // the temporary file of a receive; empty for any other file
    std::vector<uint8_t> image_;  // a send built in memory (the bitmap's image)
    size_t imageRead_ = 0;
    bool imageOpen_ = false;
};

}  // namespace transfer
