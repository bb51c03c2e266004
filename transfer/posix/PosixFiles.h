// The POSIX file steps that the receive's temporary file rests on, apart so that they can be
// tried on their own in a scratch folder.
#pragma once
#include <string>

namespace transfer {
namespace posix_files {

// Creates path as a new, empty file open for writing. Any existing name is refused (EEXIST),
// a symbolic link planted there included, so nothing another process prepared is ever written
// through. An open descriptor (close-on-exec), or -1 with errno set.
int CreateNewFile(const std::string& path);

// Makes a rename in folder survive a power cut: 0, or the errno of the step that failed. A
// file system that cannot sync a folder (EINVAL) counts as done.
int SyncFolder(const std::string& folder);

}  // namespace posix_files
}  // namespace transfer
