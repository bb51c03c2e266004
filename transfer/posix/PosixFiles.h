// The POSIX file steps that the receive's temporary file rests on, apart so that they can be
// tried on their own in a scratch folder, and the system calls of a commit behind one small
// seam so that a test can watch their order or make one of them fail.
#pragma once
#include <cstdio>
#include <memory>
#include <string>

#include "transfer/TransferEngine.h"

namespace transfer {
namespace posix_files {

// Creates path as a new, empty file open for writing. Any existing name is refused (EEXIST),
// a symbolic link planted there included, so nothing another process prepared is ever written
// through. An open descriptor (close-on-exec), or -1 with errno set.
int CreateNewFile(const std::string& path);

// The calls that make a receive durable, in the order a commit makes them: flush, sync the
// file, close it, rename it over the chosen file, sync the folder. Each returns 0 or -1 with
// errno set, as the system's own do; the defaults are the system's.
class CommitCalls {
public:
    virtual ~CommitCalls() = default;
    virtual int Flush(FILE* file);
    virtual int Sync(int fd);  // the file's descriptor, then the folder's
    virtual int Close(FILE* file);
    virtual int Rename(const std::string& from, const std::string& to);
};

// Makes a rename in folder survive a power cut: 0, or the errno of the step that failed. A
// file system that cannot sync a folder (EINVAL) counts as done.
int SyncFolder(const std::string& folder, CommitCalls& calls);

// The POSIX TransferFiles, committing through calls (which must outlive it). SystemFiles()
// is one of these over the system's calls.
std::unique_ptr<TransferFiles> MakeTransferFiles(CommitCalls& calls);

}  // namespace posix_files
}  // namespace transfer
